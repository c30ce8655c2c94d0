// Shared by the fetcher tests: a fetcher that records its events, a scripted
// server per test, the WinINet handles a run would own, and file helpers.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "framework/CancelToken.h"
#include "net/HttpFetcher.h"
#include "support/ScriptedServer.h"

namespace fetchertest {

using testsupport::Reply;

// The kinds the recorder files its events under.
const int FETCH_PROGRESS = 10;
const int FETCH_BEGIN = 11;
const int FETCH_END = 12;

// A fetcher whose transfers report to itself, with its own cancel token.
class RecordingFetcher : public net::TransferEvents, public HttpFetcher {
public:
    RecordingFetcher() : HttpFetcher(this) {}

    void OnBegin(const std::string& strLocal) override { Record(FETCH_BEGIN, strLocal); }
    void OnEnd(const std::string& strLocal) override { Record(FETCH_END, strLocal); }
    void OnSize(uint64_t nBytes) override {
        nFileSize = nBytes;
        if (pAlso) pAlso->OnSize(nBytes);
    }
    void OnMoved(DWORD nBytes) override {
        nReceived += nBytes;
        if (pAlso) pAlso->OnMoved(nBytes);
    }
    void OnProgress(int nShare) override {
        progress.push_back({FETCH_PROGRESS, nShare});
        if (pAlso) pAlso->OnProgress(nShare);
    }

    bool Saw(int nKind) const {
        for (const auto& s : status) {
            if (s.first == nKind) return true;
        }
        return false;
    }
    void Forget() {
        progress.clear();
        status.clear();
    }
    // As the closing window calls the run off.
    void CancelTransfer() { cancel.Cancel(); }

    // Written by the worker; read by the test after Fetch has returned.
    std::vector<std::pair<int, int>> progress;
    std::vector<std::pair<int, std::string>> status;
    uint64_t nFileSize = 0;
    uint64_t nReceived = 0;
    net::TransferEvents* pAlso = nullptr;  // told everything too (a progress model)
    fw::CancelToken cancel;

private:
    void Record(int nKind, const std::string& strLocal) {
        status.push_back({nKind, strLocal});
        if (!pAlso) return;
        if (nKind == FETCH_BEGIN) pAlso->OnBegin(strLocal);
        if (nKind == FETCH_END) pAlso->OnEnd(strLocal);
    }
};

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Bytes that no shift or truncation of the body reproduces by accident.
inline std::string PatternBody(size_t n) {
    std::string body(n, '\0');
    unsigned x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        body[i] = static_cast<char>(x >> 16);
    }
    return body;
}

class FetcherTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        internet.Reset(InternetOpenA("fetcher_tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        ASSERT_TRUE(internet.IsValid());
        connect.Reset(InternetConnectA(internet.Get(), "127.0.0.1", server.Port(), nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0));
        ASSERT_TRUE(connect.IsValid());
        folder = std::string("f_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder.c_str(), nullptr);
        EmptyFolder();
    }
    void TearDown() override { server.Stop(); }

    std::string Local(const char* pszName) const { return folder + "\\" + pszName; }

    // One download on the test's connection, as a run's transfer slot makes it.
    bool Fetch(RecordingFetcher& f, const std::string& path, const std::string& local) {
        net::TransferContext context;
        context.hRoot = internet.Get();
        context.pCancel = &f.cancel;
        FileRequest request;
        request.hConnect = connect.Get();
        request.strPath = path;
        request.strLocal = local;
        return f.Fetch(context, request) == FETCH_DONE;
    }
    bool Fetch(const std::string& path, const std::string& local) { return Fetch(fetcher, path, local); }

    // Names of the files in the test's folder, to catch leftovers.
    std::vector<std::string> FolderFiles() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
        return names;
    }
    void EmptyFolder() {
        for (const std::string& name : FolderFiles()) {
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }

    testsupport::ScriptedServer server;
    fw::InternetHandle internet;
    fw::InternetHandle connect;
    RecordingFetcher fetcher;
    std::string folder;
};

}  // namespace fetchertest
