// The rules a published name and path must follow for the client to take it.
#include "tools/NameRules.h"

#include "tools/GbkNames.h"
#include "update/PathRules.h"

namespace {

// Characters Windows file names can't hold, or that end or escape a URL path.
// Of these only "|" can be the second byte of a GBK character; that one is fine.
const char* const NAME_BAD_CHARS = "<>\"|?*#%";

bool IsRootDir(const std::string& strDir) { return strDir == "/" || strDir == "\\"; }

}  // namespace

const char* NameProblem(const std::string& strName, bool bFolder) {
    if (strName.empty()) return "has an empty name";
    if (!GbkIsWhole(strName)) return "is not whole GBK characters";
    if (GbkHasChar(strName, ':')) return "contains \":\", which separates the fields of the list";
    for (char c : strName)
        if (static_cast<unsigned char>(c) < 0x20) return "contains a control character";
    if (GbkHasChar(strName, '\\')) return "contains a backslash, which the client takes for a folder separator";
    // The client turns every 0x5C byte of a download path into "/", even the
    // second byte of a character, so such a file would be asked for elsewhere.
    if (GbkHasTrailByte(strName, '\\'))
        return "has a GBK character whose second byte is 0x5C (\"\\\"), which the client's download path turns into \"/\"";
    for (const char* p = NAME_BAD_CHARS; *p; ++p)
        if (GbkHasChar(strName, *p))
            return "contains one of < > \" | ? * # %, which Windows names or download paths can't carry";
    if (strName.front() == ' ') return "starts with a blank, which the client drops when it reads the list";
    if (strName.back() == '.' || strName.back() == ' ') return "ends in a dot or a blank, which Windows drops";
    if (!IsSafeListName(strName)) return "is not a plain name inside its folder (\"..\" or a device name such as CON)";
    if (!bFolder && !NameHasDot(strName)) return "is a file without \".\" in its name; the client would create a folder of that name";
    if (bFolder && NameHasDot(strName)) return "is a folder with \".\" in its name; the client would try to fetch it as a file";
    return nullptr;
}

const char* ProductProblem(const std::string& strProduct) {
    if (strProduct.empty()) return "the product name is empty";
    if (strProduct.find('/') != std::string::npos) return "the product name contains \"/\"";
    for (char c : strProduct)
        if (static_cast<unsigned char>(c) >= 0x80) return "the product name must be ASCII";
    return NameProblem(strProduct, !NameHasDot(strProduct));
}

std::string ClientLocalPath(const std::string& strDir, const std::string& strName) {
    return IsRootDir(strDir) ? strName : strDir + "\\" + strName;
}

std::string ClientRequestPath(const std::string& strProduct, const std::string& strDir, const std::string& strName) {
    std::string strPath = "/kroupdate/" + strProduct + "/release/" + ClientLocalPath(strDir, strName);
    // The client turns backslash bytes into "/" before it asks.
    for (char& c : strPath)
        if (c == '\\') c = '/';
    return strPath;
}

const char* PathFitProblem(const std::string& strProduct, const std::string& strDir, const std::string& strName,
                           bool bFolder) {
    std::string strLocal = ClientLocalPath(strDir, strName);
    if (bFolder) {
        if (strLocal.size() >= CLIENT_PATH_CAP) return "is too long: the client's folder path must stay under 260 bytes";
        return nullptr;
    }
    if (strLocal.size() + CLIENT_PART_SUFFIX >= CLIENT_PATH_CAP)
        return "is too long: the client's local path plus \".part\" must stay under 260 bytes";
    if (ClientRequestPath(strProduct, strDir, strName).size() >= CLIENT_PATH_CAP)
        return "is too long: the client's download path /kroupdate/<product>/release/... must stay under 260 bytes";
    return nullptr;
}

const char* SkippedByClient(const std::string& strDir, const std::string& strName) {
    bool bRoot = IsRootDir(strDir);
    if (bRoot && EqualsNoCaseAZ(strName, "UpdateINI")) return "the client keeps its own files in UpdateINI and fetches nothing below it";
    // The client's own rule decides; the text says which part of it applies.
    if (!IsSkippedEntry(strDir, strName)) return nullptr;
    if (EqualsNoCaseAZ(strName, "winmm.dll")) return "the client never fetches files named winmm.dll";
    if (bRoot) return "the client runs as selfrenew.kro and never replaces it";
    return "the client fetches nothing below UpdateINI";
}
