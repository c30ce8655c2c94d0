// What a transfer tells whoever shows it, and the meter that paces it. The
// run's progress model implements the events per transfer slot.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace net {

class TransferEvents {
public:
    // Before the first request, and after the file replaced its target.
    virtual void OnBegin(const std::string& strLocal) = 0;
    virtual void OnEnd(const std::string& strLocal) = 0;
    // The file's length, once an answer or an index announced it.
    virtual void OnSize(uint64_t nBytes) = 0;
    // nBytes more came over the line.
    virtual void OnMoved(DWORD nBytes) = 0;
    // The file bar's share, in ten-thousandths.
    virtual void OnProgress(int nShare) = 0;

protected:
    ~TransferEvents() = default;
};

// One transfer's events, with its share reported at most every progress step.
class TransferMeter {
public:
    explicit TransferMeter(TransferEvents* pEvents);

    void Begin(const std::string& strLocal);
    void End(const std::string& strLocal);
    void Size(uint64_t nBytes);
    // nBytes more came over the line; nDone of nTotal is the bar's share.
    void Moved(DWORD nBytes, uint64_t nDone, uint64_t nTotal);
    // The share now, whatever the step (the end of a body).
    void Progress(uint64_t nDone, uint64_t nTotal);
    // Bytes of this transfer that came over the line: their rate sizes the reads.
    uint64_t Received() const { return m_nReceived; }

private:
    TransferEvents* m_pEvents;
    uint64_t m_nReceived = 0;
    DWORD m_dwProgressTick;
};

}  // namespace net
