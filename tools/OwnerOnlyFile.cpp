// The private key's file on Windows: created with an access list that grants
// its owner full control and nobody else anything, protected from the
// entries the folder would otherwise pass on to it.
#include "tools/OwnerOnlyFile.h"

#include <windows.h>

#include <vector>

#include "framework/Handles.h"

namespace {

// The SID of the user this process runs as, in a buffer that owns it.
bool CurrentUserSid(std::vector<unsigned char>& sid) {
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    fw::UniqueHandle token(hToken);
    DWORD nBytes = 0;
    GetTokenInformation(hToken, TokenUser, nullptr, 0, &nBytes);
    if (nBytes == 0) return false;
    std::vector<unsigned char> info(nBytes);
    if (!GetTokenInformation(hToken, TokenUser, info.data(), nBytes, &nBytes)) return false;
    PSID pSid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    sid.resize(GetLengthSid(pSid));
    return CopySid(static_cast<DWORD>(sid.size()), sid.data(), pSid) != 0;
}

// A security descriptor whose access list holds one entry: the user, full control.
struct OwnerOnlyDescriptor {
    std::vector<unsigned char> m_sid;
    std::vector<unsigned char> m_acl;
    SECURITY_DESCRIPTOR m_sd;

    bool Build() {
        if (!CurrentUserSid(m_sid)) return false;
        DWORD nAcl = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(m_sid.size());
        m_acl.resize((nAcl + 3) & ~3u);
        PACL pAcl = reinterpret_cast<PACL>(m_acl.data());
        return InitializeAcl(pAcl, static_cast<DWORD>(m_acl.size()), ACL_REVISION) &&
               AddAccessAllowedAce(pAcl, ACL_REVISION, FILE_ALL_ACCESS, m_sid.data()) &&
               InitializeSecurityDescriptor(&m_sd, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&m_sd, TRUE, pAcl, FALSE) &&
               SetSecurityDescriptorControl(&m_sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
};

}  // namespace

bool WriteOwnerOnlyFile(const std::string& strPath, const std::string& strText) {
    OwnerOnlyDescriptor descriptor;
    if (!descriptor.Build()) return false;
    SECURITY_ATTRIBUTES sa = {sizeof sa, &descriptor.m_sd, FALSE};
    fw::UniqueHandle file(CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    DWORD nWritten = 0;
    bool bOk = WriteFile(file.Get(), strText.data(), static_cast<DWORD>(strText.size()), &nWritten, nullptr) &&
               nWritten == strText.size() && FlushFileBuffers(file.Get());
    file.Reset();
    if (!bOk) DeleteFileA(strPath.c_str());
    return bOk;
}
