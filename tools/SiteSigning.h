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

// Takes "--key FILE" or "--expires-days N" at argv[i], moving i past its
// value: 0 when argv[i] is neither, 1 when taken, 2 for a missing or bad value.
int TakeSigningOption(int argc, char** argv, int& i, SigningOptions& opt);
inline bool SigningRequested(const SigningOptions& opt) { return !opt.m_strKeyPath.empty() || opt.m_nExpiresDays; }
// Reads the private key and signs a test message with it, so that a bad key
// stops the publisher before anything is written.
bool LoadSigningKey(SigningOptions& opt, std::string& strError);

// The serial of a new manifest: one more than the site's last one, and never
// below the current UTC time in seconds, so a fresh site still counts up.
uint64_t NextSerial(uint64_t nPrevious, uint64_t nNow);
// Writes <site>/kroupdate/<product>/filelist.sig for the filelist.list and
// release files WriteSite has just written (hashed as served), through a
// temporary file moved into place. nNow: UTC seconds.
bool WriteSignedManifest(const std::string& strSite, const std::string& strProduct,
                         const std::vector<PublishEntry>& entries, const SigningOptions& opt, uint64_t nNow,
                         std::string& strError);

// "publish keygen <dir>": writes <dir>/private.pem (readable by its owner
// only, never overwritten) and <dir>/public.pem. The exit status.
int KeygenMain(int argc, char** argv);
