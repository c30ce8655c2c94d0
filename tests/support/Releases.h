// Releases published into the site the test nginx serves, and what it logged.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct PublishOptions;
namespace testsupport {
class ScriptedServer;
}

namespace testing_support {

// Bytes that don't compress and are the same for the same seed on every run.
std::string SeededBytes(size_t n, unsigned nSeed);

// Relative path ("data/b.dat") to file bytes; a path ending in "/" is a folder.
using ReleaseFiles = std::map<std::string, std::string>;

// Writes the files into a release folder and publishes it for the product;
// files of nIndexMin bytes or more get a block index (0: none).
bool PublishRelease(const std::string& strProduct, const ReleaseFiles& files, uint64_t nIndexMin = 0);
// The same, then signed as "publish --key" signs it: nNow is the publishing
// time in UTC seconds, so a test can publish a release that has expired.
bool PublishSignedRelease(const std::string& strProduct, const ReleaseFiles& files, const std::string& strPrivatePem,
                          uint64_t nNow, unsigned nExpiresDays = 0, const PublishOptions* pOptions = nullptr,
                          uint64_t nIndexMin = 0);
// Publishes with binary patches against the nPatchFrom newest kept releases
// (keeping them all), signed when a key is given.
bool PublishPatchedRelease(const std::string& strProduct, const ReleaseFiles& files, unsigned nPatchFrom,
                           const std::string& strPrivatePem = std::string());
// The served copy of a published file, to change or delete behind the list's back.
std::string SiteFilePath(const std::string& strProduct, const std::string& strRelPath);
// A served file of the product's own folder: filelist.list, filelist.sig.
std::string SiteProductFilePath(const std::string& strProduct, const std::string& strName);

// Scripts a product of one file on the scripted server whose body drips in
// at 10 kB/s, so that a test can act while it is on its way.
void ScriptSlowRelease(testsupport::ScriptedServer& server, const std::string& strProduct,
                       const std::string& strName, const std::string& strBody);

unsigned short NginxPort();

struct LoggedRequest {
    std::string strPath;  // the file served: the request target without its query, decoded
    std::string strTarget;  // the request target as sent
    int nStatus = 0;
    uint64_t nBytes = 0;  // body bytes sent
};

// Requests the nginx of the tests has logged; the log is written after each
// response, so callers read it once the run they watch has ended.
std::vector<LoggedRequest> NginxRequests();
// The requests logged after the first nSkip ones, waiting briefly for the
// last response's line.
std::vector<LoggedRequest> NginxRequestsAfter(size_t nSkip, size_t nAtLeast);

}  // namespace testing_support
