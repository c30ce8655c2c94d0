// The serial of the last signed release a product accepted, kept in
// "<program folder>UpdateINI\<product>\serial" so that an older signed
// release can't be replayed, and the clock the expiry is judged by.
#pragma once

#include <cstdint>
#include <string>

// strProgramDir ends with a backslash, or is empty for the current folder.
// 0 when nothing was stored yet (or the file is unreadable).
uint64_t ReadAcceptedSerial(const std::string& strProgramDir, const std::string& strProduct);
// Writes a temporary file beside it and moves it into place, so a crash
// leaves the old serial or the new one, never a torn one.
bool WriteAcceptedSerial(const std::string& strProgramDir, const std::string& strProduct, uint64_t nSerial);
// The path of that file.
std::string AcceptedSerialPath(const std::string& strProgramDir, const std::string& strProduct);

// The system clock as UTC seconds since 1970.
uint64_t UtcSecondsNow();
