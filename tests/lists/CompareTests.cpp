// Comparing the remote list with the local scan into the work list.
#include <gtest/gtest.h>

#include <string>

#include "lists/ListTestFiles.h"
#include "update/FileList.h"
#include "update/PathRules.h"

using namespace listtest;

namespace {

std::vector<FileEntry> Build(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local) {
    return BuildUpdateList(remote, local);
}

FileEntry Kind(FileEntry e, int nKind) {
    e.m_nKind = nKind;
    return e;
}

// The comparison written the slow, obvious way: every local entry against
// the whole remote list and the list of entries not yet found.
std::vector<FileEntry> Reference(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local) {
    std::vector<FileEntry> out, missing;
    if (remote.size() != local.size()) missing = remote;
    auto same = [](const FileEntry& a, const FileEntry& b) {
        return EqualsNoCaseAZ(a.m_strDir, b.m_strDir) && EqualsNoCaseAZ(a.m_strName, b.m_strName);
    };
    for (const FileEntry& l : local) {
        for (size_t i = missing.size(); i-- > 0;)
            if (same(missing[i], l)) missing.erase(missing.begin() + static_cast<long>(i));
        for (const FileEntry& r : remote)
            if (same(r, l) && (r.m_nCrc != l.m_nCrc || l.m_bNotAsSigned) && NameHasDot(r.m_strName)) out.push_back(r);
    }
    out.insert(out.end(), missing.begin(), missing.end());
    for (FileEntry& e : out) e.m_nKind = NameHasDot(e.m_strName) ? ENTRY_FILE : ENTRY_DIR;
    return out;
}

}  // namespace

TEST(Compare, ChangedFilesFirstThenMissingInListOrder) {
    std::vector<FileEntry> remote = {Entry("/", "a.dll", 10), Entry("/", "b.dll", 20), Entry("/", "c.dll", 30)};
    std::vector<FileEntry> local = {Entry("/", "a.dll", 11), Entry("/", "c.dll", 31)};
    EXPECT_EQ(Describe({Kind(remote[0], ENTRY_FILE), Kind(remote[2], ENTRY_FILE), Kind(remote[1], ENTRY_FILE)}),
              Describe(Build(remote, local)));
}

TEST(Compare, DecisionPerEntry) {
    struct Case { const char* what; FileEntry listed; bool present; uint32_t localCrc; int kind; bool notAsSigned = false; };
    const Case cases[] = {
        {"missing file", Entry("/", "a.dll", 5), false, 0, ENTRY_FILE},
        {"missing dot-less name", Entry("/", "readme", 5), false, 0, ENTRY_DIR},
        {"current file", Entry("/", "a.dll", 5), true, 5, -1},
        {"changed file", Entry("/", "a.dll", 5), true, 6, ENTRY_FILE},
        {"unreadable file", Entry("/", "a.dll", 5), true, 0xFFFFFFFFu, ENTRY_FILE},
        {"empty file listed -1", Entry("/", "e.dat", 0xFFFFFFFFu), true, 0xFFFFFFFFu, -1},
        {"empty file listed 0", Entry("/", "e.dat", 0), true, 0xFFFFFFFFu, ENTRY_FILE},
        {"present dot-less file", Entry("/", "readme", 5), true, 0, -1},
        {"present folder", Entry("/", "skin", 0), true, 0, -1},
        {"signed mode, not the signed copy", Entry("/", "a.dll", 5), true, 5, ENTRY_FILE, true},
    };
    for (const Case& c : cases) {
        // One entry more in the list, present and current, so lengths differ.
        std::vector<FileEntry> remote = {Entry("/", "x.dll", 1), c.listed};
        std::vector<FileEntry> local = {Entry("/", "x.dll", 1)};
        if (c.present) local.push_back(Entry(c.listed.m_strDir, c.listed.m_strName, c.localCrc));
        if (c.present) local.back().m_bNotAsSigned = c.notAsSigned;
        std::vector<FileEntry> expected;
        if (c.kind >= 0) expected.push_back(Kind(c.listed, c.kind));
        EXPECT_EQ(Describe(expected), Describe(Build(remote, local))) << c.what;
    }
}

TEST(Compare, CaseDuplicatesMatchEachOther) {
    std::vector<FileEntry> remote = {Entry("Skin", "A.dll", 1), Entry("skin", "a.DLL", 2)};
    std::vector<FileEntry> local = {Entry("Skin", "A.dll", 3), Entry("skin", "a.DLL", 3)};
    EXPECT_EQ(Describe({remote[0], remote[1], remote[0], remote[1]}), Describe(Build(remote, local)));
    local = {Entry("Skin", "A.dll", 1), Entry("skin", "a.DLL", 1)};
    EXPECT_EQ(Describe({remote[1], remote[1]}), Describe(Build(remote, local)));
    // Letters outside A-Z are never folded.
    remote = {Entry("/", "\xC1\xC1.dll", 1), Entry("/", "b.dll", 2)};
    local = {Entry("/", "\xE1\xE1.dll", 7)};
    EXPECT_EQ(Describe(remote), Describe(Build(remote, local)));
}

TEST(Compare, EachComparisonGivesAWorkListOfItsOwn) {
    Build({Entry("/", "old.dll", 1)}, {});
    EXPECT_EQ(Describe({Kind(Entry("/", "new.dll", 2), ENTRY_FILE)}), Describe(Build({Entry("/", "new.dll", 2)}, {})));
}

TEST(Compare, SameResultAsTheObviousComparison) {
    // Lists drawn from a few names in varying case, with repeats and gaps.
    const char* const dirs[] = {"/", "\\", "skin", "SKIN", "data\\x"};
    const char* const names[] = {"a.dll", "A.DLL", "b.dat", "readme", "Skin", "c.Bmp"};
    unsigned seed = 12345;
    auto rnd = [&seed](unsigned n) { seed = seed * 1103515245u + 12345u; return (seed >> 16) % n; };
    for (int round = 0; round < 300; ++round) {
        std::vector<FileEntry> remote, local;
        unsigned nRemote = rnd(12);
        for (unsigned i = 0; i < nRemote; ++i) remote.push_back(Entry(dirs[rnd(5)], names[rnd(6)], rnd(3)));
        for (const FileEntry& r : remote)
            if (rnd(4) != 0) local.push_back(Entry(r.m_strDir, r.m_strName, rnd(2) ? r.m_nCrc : rnd(3)));
        EXPECT_EQ(Describe(Reference(remote, local)), Describe(Build(remote, local)))
            << "round " << round << "\nremote:\n" << Describe(remote) << "local:\n" << Describe(local);
    }
}
