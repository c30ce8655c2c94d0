// The floor of a run with nothing to do: downloads the file list into memory
// and checksums every listed file under the local folder with the client's
// own checksum code. Prints its time and how many files differ.
//   check_peer <host> <port> <list-url-path> <local-dir>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/PeerHttp.h"
#include "update/Checksum.h"

namespace {

class MemorySink : public bench::BodySink {
public:
    bool Write(const char* p, DWORD n) override {
        m_strData.append(p, n);
        return true;
    }
    std::string m_strData;
};

// "folder:name:number" lines; names without a dot are folders.
int CheckListed(const std::string& strList, const std::string& strBase, int& nFiles) {
    int nDiffer = 0;
    size_t nPos = 0;
    while (nPos < strList.size()) {
        size_t nEnd = strList.find('\n', nPos);
        if (nEnd == std::string::npos) nEnd = strList.size();
        std::string strLine = strList.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        size_t c1 = strLine.find(':'), c2 = strLine.find(':', c1 + 1);
        if (c1 == std::string::npos || c2 == std::string::npos) continue;
        std::string strDir = strLine.substr(0, c1), strName = strLine.substr(c1 + 1, c2 - c1 - 1);
        if (strName.find('.') == std::string::npos) continue;
        bool bRoot = strDir == "/" || strDir == "\\";
        std::string strPath = strBase + (bRoot ? strName : strDir + "\\" + strName);
        uint32_t nCrc = static_cast<uint32_t>(strtoul(strLine.c_str() + c2 + 1, nullptr, 10));
        if (FileChecksum(strPath.c_str(), -1) != nCrc) ++nDiffer;
        ++nFiles;
    }
    return nDiffer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: check_peer <host> <port> <list-url-path> <local-dir>\n");
        return 2;
    }
    std::unique_ptr<char[]> buffer(new char[bench::kPeerBufferSize]);
    double t0 = bench::NowMs();
    bench::PeerConnection connection;
    MemorySink list;
    bench::ReadCounts counts;
    if (!connection.Open(argv[1], static_cast<unsigned short>(atoi(argv[2]))) ||
        !connection.Get(argv[3], list, buffer.get(), counts))
        return 1;
    int nFiles = 0;
    int nDiffer = CheckListed(list.m_strData, std::string(argv[4]) + "\\", nFiles);
    printf("checked %d files in %.1f ms, %d differ\n", nFiles, bench::NowMs() - t0, nDiffer);
    return 0;
}
