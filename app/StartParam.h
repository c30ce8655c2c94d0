// The start parameter, the instance title and the role, read from the command
// line and the module path. No Windows header: pure text handling.
#pragma once

#include <string>

// The parameter when none is given, and the one that means the game hall.
extern const char kHallParam[];
// The working copy's file name; any other name is the launcher.
extern const char kWorkingCopyName[];

// First argument after the program name that is neither empty nor a switch
// ("-" or "/" first); "Hollo" when there is none.
std::string ChooseStartParam(int argc, const char* const* argv);

struct InstanceTitle {
    std::string strTitle;  // GBK caption that identifies this update
    int nGameId = 0;
    int nPassValue = 0;
};

InstanceTitle BuildInstanceTitle(const std::string& strParam);

// What follows the last "\" or, without one, the last "/"; plain byte search.
std::string FileNamePart(const std::string& strPath);
// True when the file name is "Selfrenew.kro" in any letter case.
bool IsWorkingRole(const std::string& strModulePath);
// The module path with its last three characters replaced by "kro".
std::string WorkingCopyPath(const std::string& strModulePath);

// lParam of the message that tells the game hall a game's update is done.
unsigned long GameUpdatedLParam(int nGameId, int nPassValue);
