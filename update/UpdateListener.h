// What the update run tells the window: which of its areas changed, and that
// the run is over. The window implements it; the engine knows nothing else
// of the window. No Windows header.
#pragma once

#include <cstdint>
#include <string>

// The parts of the window a change concerns.
enum UpdateArea {
    AREA_FILE_BAR,    // current-file bar and its percentage
    AREA_TOTAL_BAR,   // total bar
    AREA_COUNTS,      // counts-and-speed line and total percentage
    AREA_STATUS,      // status line
    AREA_DONE,        // end of a run that handled entries
    AREA_DONE_EMPTY,  // end of a run whose work list was empty
};

// What the status line says: a message of the run (a text of res/Texts.h),
// or that a file's transfer began or ended (its local path). The window
// words it.
enum StatusKind {
    STATUS_MESSAGE,
    STATUS_DOWNLOADING,
    STATUS_FINISHED,
};

struct RunStatus {
    StatusKind kind = STATUS_MESSAGE;
    std::string strText;  // the message, or the path
};

// The numbers one paint shows, taken at once so that bars and texts agree.
// Before any run both bars are full.
struct ProgressSnapshot {
    int nFileProgress = 10000;  // ten-thousandths
    int nTotalProgress = 10000;
    int nFileIndex = 0;
    int nFileCount = 0;
    // 64-bit in every build: files and lines past 4 GiB are shown as they are.
    uint64_t nSpeed = 0;     // bytes per second, the whole line
    uint64_t nFileSize = 0;  // bytes
    RunStatus status;
};

class UpdateListener {
public:
    // Called on the run's threads: must return at once (ask for a repaint, post).
    virtual void OnAreaChanged(UpdateArea area) = 0;
    // The run has ended and stored its result: the window may close with OK.
    virtual void OnRunEnded() = 0;
    // Every status event, from any transfer, whether the line shows it or not
    // (a transfer's line shows only while the file bar shows that transfer).
    virtual void OnStatusEvent(const RunStatus&) {}

protected:
    ~UpdateListener() = default;
};
