// The support log: one line per event, local time first, in the system's
// code page, in a file that support asks the player for. Every diagnostic
// goes to the debugger output as well. Writing never fails or holds up its
// caller for long: a log that can't be written is skipped.
#pragma once

#include <cstdint>

namespace fw {

// At this size the log becomes "<path>.1" (one kept) and a new one begins.
constexpr uint64_t kSupportLogMaxBytes = 1024 * 1024;
// Longer lines are cut: a line is formatted on the stack.
constexpr int kSupportLineMax = 1024;

// Lines from now on also go to the file at pszPath (until CloseSupportLog).
void OpenSupportLog(const char* pszPath);
void CloseSupportLog();

// An event: to the debugger and the log. Takes only the log's own lock, so
// callers must not hold theirs (writing is file I/O).
void LogLine(const char* pszText);
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void LogFormat(const char* pszFormat, ...);

// A failure's diagnostic: logged as LogLine does, and kept as the calling
// thread's last reason, which the run reads when it writes a file's outcome.
void LogFailure(const char* pszText);
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void LogFailureFormat(const char* pszFormat, ...);
// The calling thread's last reason since ClearLastFailure ("" for none).
const char* LastFailure();
void ClearLastFailure();

}  // namespace fw
