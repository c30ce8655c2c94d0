// The transfer's meter; see TransferEvents.h.
#include "net/TransferEvents.h"

#include <mmsystem.h>

#include "net/TransferMath.h"

namespace net {

TransferMeter::TransferMeter(TransferEvents* pEvents) : m_pEvents(pEvents), m_dwProgressTick(timeGetTime()) {}

void TransferMeter::Begin(const std::string& strLocal) {
    if (m_pEvents) m_pEvents->OnBegin(strLocal);
}

void TransferMeter::End(const std::string& strLocal) {
    if (m_pEvents) m_pEvents->OnEnd(strLocal);
}

void TransferMeter::Size(uint64_t nBytes) {
    if (m_pEvents) m_pEvents->OnSize(nBytes);
}

// The step base moves by whole steps, so after a stall the reports catch up one per block.
void TransferMeter::Moved(DWORD nBytes, uint64_t nDone, uint64_t nTotal) {
    m_nReceived += nBytes;
    if (!m_pEvents) return;
    m_pEvents->OnMoved(nBytes);
    if (StepDue(timeGetTime(), m_dwProgressTick, kProgressStepMs)) {
        m_pEvents->OnProgress(ProgressShare(nDone, nTotal));
        m_dwProgressTick += kProgressStepMs;
    }
}

void TransferMeter::Progress(uint64_t nDone, uint64_t nTotal) {
    if (m_pEvents) m_pEvents->OnProgress(ProgressShare(nDone, nTotal));
}

}  // namespace net
