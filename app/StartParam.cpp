// Start parameter forms, instance titles and the role decision.
#include "app/StartParam.h"

#include <cstdio>

#include "res/Texts.h"
#include "update/PathRules.h"

const char kHallParam[] = "Hollo";
const char kWorkingCopyName[] = "Selfrenew.kro";

std::string ChooseStartParam(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!arg || !*arg || *arg == '-' || *arg == '/') continue;
        return arg;
    }
    return kHallParam;
}

InstanceTitle BuildInstanceTitle(const std::string& strParam) {
    InstanceTitle result;
    result.strTitle = TEXT_TITLE_PREFIX;
    if (strParam == kHallParam) {
        result.strTitle += TEXT_TITLE_HALL;
        result.strTitle += strParam;
        return result;
    }
    // A number that can't be read stays 0.
    std::sscanf(strParam.c_str(), "%d,%d", &result.nGameId, &result.nPassValue);
    char suffix[100] = {};
    std::snprintf(suffix, sizeof(suffix), TEXT_TITLE_GAME_FMT, result.nGameId);
    result.strTitle += suffix;
    return result;
}

std::string FileNamePart(const std::string& strPath) {
    size_t pos = strPath.rfind('\\');
    if (pos == std::string::npos) pos = strPath.rfind('/');
    return pos == std::string::npos ? strPath : strPath.substr(pos + 1);
}

bool IsWorkingRole(const std::string& strModulePath) {
    return EqualsNoCaseAZ(FileNamePart(strModulePath), kWorkingCopyName);
}

std::string WorkingCopyPath(const std::string& strModulePath) {
    std::string path = strModulePath;
    if (path.size() > 1023) path.resize(1023);
    size_t keep = path.size() >= 3 ? path.size() - 3 : 0;
    return path.substr(0, keep) + "kro";
}

unsigned long GameUpdatedLParam(int nGameId, int nPassValue) {
    unsigned long low = static_cast<unsigned long>(nGameId) & 0xFFFFu;
    unsigned long high = static_cast<unsigned long>(nPassValue) & 0xFFFFu;
    return low | (high << 16);
}
