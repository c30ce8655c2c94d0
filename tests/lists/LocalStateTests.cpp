// The quick check at the start of a run: what it catches with the rows of the
// last run, what makes it read everything again, and that a state file that
// is damaged or torn is never half believed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "lists/ListTestFiles.h"
#include "update/Checksum.h"
#include "update/LocalScan.h"

using namespace listtest;

namespace {

const uint64_t kLongAgo = 132223104000000000ull;  // 2020, as a FILETIME
const std::string kOld(4096, 'o');
const std::string kNew(4096, 'n');

uint32_t ChecksumOf(const std::string& s) { return ChecksumUpdate(ChecksumStart(), s.data(), s.size()); }

FILETIME FileTimeOf(uint64_t n) { return {static_cast<DWORD>(n), static_cast<DWORD>(n >> 32)}; }

void SetTimes(const std::string& strPath, uint64_t nWrite, uint64_t nCreate) {
    HANDLE h = CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    FILETIME ftWrite = FileTimeOf(nWrite), ftCreate = FileTimeOf(nCreate);
    EXPECT_TRUE(SetFileTime(h, &ftCreate, nullptr, &ftWrite)) << strPath;
    CloseHandle(h);
}

void GetTimes(const std::string& strPath, uint64_t& nWrite, uint64_t& nCreate) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data);
    nWrite = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    nCreate = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime;
}

// Overwrites a file's bytes where they lie: same file, same size.
void WriteInPlace(const std::string& strPath, const std::string& strBytes) {
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, strBytes.data(), static_cast<DWORD>(strBytes.size()), &n, nullptr)) << strPath;
    CloseHandle(h);
}

struct Install {
    std::string strBase;  // the program folder, with its backslash
    std::string strFile;  // the installed file the cases change
    std::string strState;
};

void ChangeInPlace(const Install& in) { WriteInPlace(in.strFile, kNew); }
void ChangeInPlaceTimesForgedBack(const Install& in) {
    uint64_t nWrite, nCreate;
    GetTimes(in.strFile, nWrite, nCreate);
    WriteInPlace(in.strFile, kNew);
    SetTimes(in.strFile, nWrite, nCreate);
}
void ReplaceWithOldTimes(const Install& in) {
    uint64_t nWrite, nCreate;
    GetTimes(in.strFile, nWrite, nCreate);
    const std::string strTemp = in.strFile + ".tmp";
    ASSERT_TRUE(WriteBytes(strTemp, kNew));
    SetTimes(strTemp, nWrite, nCreate);
    ASSERT_TRUE(MoveFileExA(strTemp.c_str(), in.strFile.c_str(), MOVEFILE_REPLACE_EXISTING));
}

void StateKept(const Install&) {}
void StateCutInHalf(const Install& in) {
    std::string s = testing_support::ReadWholeFile(in.strState);
    ASSERT_TRUE(WriteBytes(in.strState, s.substr(0, s.size() / 2)));
}
void StateGarbage(const Install& in) { ASSERT_TRUE(WriteBytes(in.strState, std::string("\x00\xFF\x13garbage", 10))); }
// Well formed and with a good checksum, but one row names a file outside.
void StateNamesOutside(const Install& in) {
    LocalRows rows;
    bool bFailed = false;
    std::string s = testing_support::ReadWholeFile(in.strState);
    ASSERT_TRUE(ParseLocalState(s.data(), s.size(), rows, bFailed));
    rows["..\\outside.dll"] = rows.begin()->second;
    ASSERT_TRUE(WriteBytes(in.strState, FormatLocalState(rows, false)));
}
// A run killed while writing: its temporary file is left, the old state stands.
void StateTempLeftOver(const Install& in) { ASSERT_TRUE(WriteBytes(in.strState + ".new", "SRLSTATE torn")); }
void StateRunFailed(const Install& in) {
    LocalRows rows;
    bool bFailed = false;
    std::string s = testing_support::ReadWholeFile(in.strState);
    ASSERT_TRUE(ParseLocalState(s.data(), s.size(), rows, bFailed));
    ASSERT_TRUE(WriteBytes(in.strState, FormatLocalState(rows, true)));
}
void NoStateFile(const Install& in) { ASSERT_TRUE(DeleteFileA(in.strState.c_str())); }

struct Case {
    const char* pszName;
    void (*change)(const Install&);
    void (*state)(const Install&);
    bool bFetched;  // whether the next run's comparison fetches the file again
};

const Case kCases[] = {
    {"changed in place, size kept: its last-write time", ChangeInPlace, StateKept, true},
    {"replaced by a file of the same size with the old times: its index", ReplaceWithOldTimes, StateKept, true},
    {"changed in place, times forged back: trusted, unseen", ChangeInPlaceTimesForgedBack, StateKept, false},
    {"no state file: full scan", ChangeInPlaceTimesForgedBack, NoStateFile, true},
    {"state cut in half: full scan", ChangeInPlaceTimesForgedBack, StateCutInHalf, true},
    {"state of binary garbage: full scan", ChangeInPlaceTimesForgedBack, StateGarbage, true},
    {"state naming a path outside the folder: full scan", ChangeInPlaceTimesForgedBack, StateNamesOutside, true},
    {"killed while writing the state: the old one stands", ChangeInPlaceTimesForgedBack, StateTempLeftOver, false},
    {"last run failed: full scan", ChangeInPlaceTimesForgedBack, StateRunFailed, true},
};

// One run's comparison with its state: load, scan, keep the rows.
std::string FetchedAfterScan(const std::string& strBase, const std::vector<FileEntry>& remote) {
    LocalState state;
    state.Load(strBase, "p");
    ScanContext context;
    context.pState = &state;
    std::vector<FileEntry> local;
    ScanFilesUnder(strBase, remote, local, context);
    std::vector<FileEntry> work = BuildUpdateList(remote, local);
    EXPECT_TRUE(state.Save(!work.empty()));
    std::string s;
    for (const FileEntry& e : work) s += e.m_strName + ";";
    return s;
}

}  // namespace

TEST(QuickCheck, CatchesChangesAndReadsAllWhenItsStateCantBeTrusted) {
    const std::string strRoot = ExeFolder() + "quick_check_" + std::to_string(GetCurrentProcessId());
    for (const Case& c : kCases) {
        ScratchFolder folder(strRoot);
        folder.File("a.dll", kOld);
        folder.File("data\\b.dat", "bbb");
        folder.Folder("UpdateINI\\p");
        Install in{folder.Path() + "\\", folder.Path() + "\\a.dll", LocalState::PathFor(folder.Path() + "\\", "p")};
        // Older than the clock's step, so the first scan keeps rows for them.
        SetTimes(in.strFile, kLongAgo, kLongAgo);
        SetTimes(in.strBase + "data\\b.dat", kLongAgo, kLongAgo);
        const std::vector<FileEntry> remote = {Entry("/", "a.dll", ChecksumOf(kOld)), Entry("/", "data", 0),
                                               Entry("data", "b.dat", ChecksumOf("bbb"))};
        ASSERT_EQ("", FetchedAfterScan(in.strBase, remote)) << c.pszName;
        c.change(in);
        c.state(in);
        EXPECT_EQ(c.bFetched ? "a.dll;" : "", FetchedAfterScan(in.strBase, remote)) << c.pszName;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((ExeFolder() + "outside.dll").c_str())) << c.pszName;
    }
}
