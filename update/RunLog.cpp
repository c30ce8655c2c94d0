// The support log's lines of an update run; see RunLog.h.
#include "update/RunLog.h"

#include "framework/SupportLog.h"
#include "res/version.h"

namespace {

std::string RowText(const UpdateServerRow& row) {
    std::string s = std::to_string(row.nId) + ";" + std::to_string(row.nLineKey) + ";" + row.szName + ";" +
                    row.szHost + ";" + std::to_string(row.nPort);
    if (row.nConnections != 0) s += ";" + std::to_string(row.nConnections);
    return s;
}

}  // namespace

void LogRunStart(const RunStartNote& note) {
    fw::LogFormat("run: selfrenew %s, start parameter \"%.100s\", product \"%.100s\", %.200s, %s, limit %s",
                  SELFRENEW_VERSION_TEXT, note.strStartParam.c_str(), note.strProduct.c_str(), note.strRoute.c_str(),
                  note.bSigned ? "signed releases" : "unsigned releases",
                  note.nLimitKiB ? (std::to_string(note.nLimitKiB) + " KiB/s").c_str() : "none");
    if (note.pRows == nullptr || note.pRows->empty()) fw::LogLine("update.ini: no rows");
    if (note.pRows)
        for (const UpdateServerRow& row : *note.pRows) fw::LogFormat("update.ini: %.500s", RowText(row).c_str());
    std::string strServers;
    for (const std::string& s : note.servers) strServers += (strServers.empty() ? "" : ", ") + s;
    fw::LogFormat("servers: %.900s", strServers.empty() ? "none" : strServers.c_str());
}

void LogListTaken(const std::string& strServer, uint64_t nBytes, uint64_t nSerial, size_t nEntries, size_t nWork) {
    std::string strSerial = nSerial ? ", serial " + std::to_string(nSerial) : std::string();
    fw::LogFormat("list: from %.200s, %llu bytes%s, %u entries, %u to fetch or create", strServer.c_str(),
                  static_cast<unsigned long long>(nBytes), strSerial.c_str(), static_cast<unsigned>(nEntries),
                  static_cast<unsigned>(nWork));
}

void LogEntry(const EntryNote& note) {
    std::string strFailure;
    if (!note.strMessage.empty()) {
        std::string strLetter = MessageLetter(note.strMessage);
        strFailure = ": " + (note.strReason.empty() ? std::string("no reason given") : note.strReason) +
                     "; message (" + (strLetter.empty() ? "-" : strLetter) + ")";
    }
    fw::LogFormat("file: %.260s %s, %llu bytes, %.200s, %d %s%.500s", note.strPath.c_str(), note.pszHow,
                  static_cast<unsigned long long>(note.nBytes), note.strServer.empty() ? "-" : note.strServer.c_str(),
                  note.nTries, note.nTries == 1 ? "try" : "tries", strFailure.c_str());
}

void LogRunEnd(bool bResult, bool bCancelled, uint32_t nMs, uint64_t nBytes, const std::string& strMessage) {
    fw::LogFormat("end: %s, %u.%u s, %llu bytes, message \"%.300s\"",
                  bCancelled ? "called off" : (bResult ? "done" : "failed"), nMs / 1000, nMs % 1000 / 100,
                  static_cast<unsigned long long>(nBytes), strMessage.c_str());
}

std::string MessageLetter(const std::string& strMessage) {
    size_t n = strMessage.size();
    if (n >= 3 && strMessage[n - 1] == ')' && strMessage[n - 3] == '(') return strMessage.substr(n - 2, 1);
    return std::string();
}
