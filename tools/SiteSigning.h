// Signing a published site: "publish keygen", the --key and --expires-days
// options, and filelist.sig beside filelist.list (format in update/Manifest.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/Publisher.h"

struct SigningOptions {
    std::string m_strKeyPath;  // empty: publish unsigned, as before
    unsigned m_nExpiresDays = 0;
    std::string m_strKeyPem;   // read by LoadSigningKey
};

extern const char* const SIGNING_USAGE;

// The value of --expires-days: a number of days from 1 to 36500.
bool ParseExpiresDays(const std::string& strValue, unsigned& nDays);
inline bool SigningRequested(const SigningOptions& opt) { return !opt.m_strKeyPath.empty() || opt.m_nExpiresDays; }
// Reads the private key and signs a test message with it, so that a bad key
// stops the publisher before anything is written.
bool LoadSigningKey(SigningOptions& opt, std::string& strError);

// The serial of a new manifest: one more than the site's last one, and never
// below the current UTC time in seconds, so a fresh site still counts up.
uint64_t NextSerial(uint64_t nPrevious, uint64_t nNow);
// Writes <release>/filelist.sig for the filelist.list and release/ files of a
// release folder (hashed as they will be served), through a temporary file
// moved into place; its serial follows the one in strPreviousSig. nNow: UTC seconds.
bool SignReleaseFolder(const std::string& strRelease, const std::string& strPreviousSig, const std::string& strProduct,
                       const std::vector<PublishEntry>& entries, const SigningOptions& opt, uint64_t nNow,
                       std::string& strError);
// The same for the live release of <site>/kroupdate/<product>.
bool WriteSignedManifest(const std::string& strSite, const std::string& strProduct,
                         const std::vector<PublishEntry>& entries, const SigningOptions& opt, uint64_t nNow,
                         std::string& strError);

// "publish keygen <dir>": writes <dir>/private.pem (readable by its owner
// only, never overwritten) and <dir>/public.pem. The exit status.
int KeygenInto(const std::string& strDir);
