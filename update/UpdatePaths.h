// Where the updater keeps its own files: the folder "UpdateINI" in the
// program's folder, and what lies in it.
#pragma once

#include <string>

// The folder's name, relative to the program folder.
const char* const kUpdateIniName = "UpdateINI";

// strProgramDir ends in "\"; the folders' names don't.
inline std::string UpdateIniFolder(const std::string& strProgramDir) { return strProgramDir + kUpdateIniName; }
// A product's own folder in it: its list, state and serial.
inline std::string ProductStateFolder(const std::string& strProgramDir, const std::string& strProduct) {
    return UpdateIniFolder(strProgramDir) + "\\" + strProduct;
}
// The support log, which support asks the player for.
inline std::string SupportLogPath(const std::string& strProgramDir) {
    return UpdateIniFolder(strProgramDir) + "\\update.log";
}
