// Owners for CNG (bcrypt) handles, released in one place, and the debug text
// of a failed CNG call.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "framework/SupportLog.h"

namespace fw {

// A CNG handle released by Release(handle) when its owner goes.
template <typename T, void (*Release)(T)>
class CngHandle {
public:
    CngHandle() = default;
    ~CngHandle() { if (m_h) Release(m_h); }
    CngHandle(const CngHandle&) = delete;
    CngHandle& operator=(const CngHandle&) = delete;

    T* Out() { return &m_h; }
    T Get() const { return m_h; }
    bool IsValid() const { return m_h != nullptr; }

private:
    T m_h = nullptr;
};

inline void CloseCngAlgorithm(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
inline void DestroyCngKey(BCRYPT_KEY_HANDLE h) { BCryptDestroyKey(h); }

using CngAlgorithm = CngHandle<BCRYPT_ALG_HANDLE, CloseCngAlgorithm>;
using CngKey = CngHandle<BCRYPT_KEY_HANDLE, DestroyCngKey>;

// "<who>: <call> failed, status 0x..." to the debugger.
inline void DebugCngStatus(const char* pszWho, const char* pszCall, LONG nStatus) {
    char szText[128];
    wsprintfA(szText, "%s: %s failed, status 0x%08lX", pszWho, pszCall, static_cast<unsigned long>(nStatus));
    LogFailure(szText);
}

}  // namespace fw
