// How the program acts on other processes: ending an older working copy,
// starting the working copy, and handing back to the game hall.
#pragma once

#include <string>

// The message that tells the game hall a game's update has finished.
const unsigned int WM_GAME_UPDATED = 0x7E8;
const unsigned int GAME_UPDATED_WPARAM = 20;
extern const char kGameHallClass[];
extern const char kGameHallCommand[];

// Ends the first running process whose image is the working copy.
// False means stop: the launcher then copies and starts nothing.
bool StopRunningCopy(const std::string& strWorkingCopyPath);

// Copies the program over the working copy and starts it with the parameter.
void StartWorkingCopy(const std::string& strModulePath, const std::string& strWorkingCopyPath,
                      const std::string& strStartParam);

// After the update window closed with OK: restart, start or notify the hall.
void HandBackAfterUpdate(const std::string& strWorkingCopyPath, const std::string& strStartParam,
                         int nGameId, int nPassValue);

// "<path>" <parameter>: the program path quoted so that a path with blanks
// can't start another program, the parameter as it was.
std::string WorkingCopyCommandLine(const std::string& strWorkingCopyPath, const std::string& strStartParam);
