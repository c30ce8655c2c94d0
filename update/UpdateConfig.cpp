// Reading "update.ini" into server rows, and the random choice of one row.
// The reader keeps the behaviour of the line format "%[^\n]\r" and the row
// format "%d;%d;%[^;];%[^;];%d" that older releases read the file with, but
// scans by hand so that no buffer can be overrun.
#include "update/UpdateConfig.h"

#include <climits>
#include <cstring>

namespace {

const std::size_t kLineSize = 1300;  // lines of up to 1299 characters

// The white space of the C locale, as the scan formats skip it.
bool IsScanSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Notepad starts UTF-8 files with a byte-order mark; without this the first
// row would fail to parse and be lost. The file then reads as if it had none.
void DropByteOrderMark(char* pszLine)
{
    static const char kMark[] = "\xEF\xBB\xBF";
    const std::size_t nMark = sizeof kMark - 1;
    if (std::strncmp(pszLine, kMark, nMark) == 0)
        std::memmove(pszLine, pszLine + nMark, std::strlen(pszLine + nMark) + 1);
}

// One "%[^\n]\r" step: the characters up to the next line feed, then every
// white-space character after them (empty lines, the next line's indent).
// A longer line is cut at the buffer and its rest discarded, so the rest
// never turns up as a line of its own. Returns false at the end of input.
bool ReadLine(std::FILE* pFile, char* pszLine, std::size_t nSize)
{
    std::size_t n = 0;
    int c = std::fgetc(pFile);
    if (c == '\n') {
        // The line format matches nothing on an empty line.
        pszLine[0] = '\0';
        return true;
    }
    while (c != EOF && c != '\n') {
        if (n + 1 < nSize)
            pszLine[n++] = static_cast<char>(c);
        c = std::fgetc(pFile);
    }
    pszLine[n] = '\0';
    while (c != EOF && IsScanSpace(c))
        c = std::fgetc(pFile);
    if (c == EOF)
        return false;
    std::ungetc(c, pFile);
    return true;
}

// "%d": optional white space, an optional sign, at least one digit. Values
// beyond the 32-bit range are held at its ends instead of overflowing.
bool ScanNumber(const char*& p, int& nValue)
{
    while (IsScanSpace(static_cast<unsigned char>(*p)))
        ++p;
    bool bNegative = (*p == '-');
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    long long nAcc = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (nAcc <= static_cast<long long>(INT_MAX) + 1)
            nAcc = nAcc * 10 + (*p - '0');
    }
    if (bNegative)
        nAcc = -nAcc;
    if (nAcc > INT_MAX)
        nAcc = INT_MAX;
    if (nAcc < INT_MIN)
        nAcc = INT_MIN;
    nValue = static_cast<int>(nAcc);
    return true;
}

// "%[^;]": at least one character up to the next ";" or the end. Returns the
// length of the whole field; at most nSize - 1 bytes of it are stored.
std::size_t ScanText(const char*& p, char* pszOut, std::size_t nSize)
{
    std::size_t n = 0;
    for (; p[n] != '\0' && p[n] != ';'; ++n) {
        if (n + 1 < nSize)
            pszOut[n] = p[n];
    }
    pszOut[n < nSize ? n : nSize - 1] = '\0';
    p += n;
    return n;
}

bool ScanSeparator(const char*& p)
{
    if (*p != ';')
        return false;
    ++p;
    return true;
}

// Fills the fields in order and stops at the first that doesn't match; the
// row must come in cleared. A name too long for its field is cut (nothing
// uses it); a host too long refuses the row, as a cut host names some other
// server. Returns false when the row is refused.
bool ParseRow(const char* p, UpdateServerRow& row)
{
    if (!ScanNumber(p, row.nId) || !ScanSeparator(p))
        return true;
    if (!ScanNumber(p, row.nLineKey) || !ScanSeparator(p))
        return true;
    if (ScanText(p, row.szName, sizeof row.szName) == 0 || !ScanSeparator(p))
        return true;
    std::size_t nHost = ScanText(p, row.szHost, sizeof row.szHost);
    if (nHost >= sizeof row.szHost)
        return false;
    if (nHost == 0 || !ScanSeparator(p))
        return true;
    // Older clients stop after the port, so a sixth field costs them nothing.
    if (ScanNumber(p, row.nPort) && ScanSeparator(p))
        ScanNumber(p, row.nConnections);
    return true;
}

}  // namespace

long ParseLimitLine(const char* pszLine)
{
    if (std::strncmp(pszLine, "limit=", 6) != 0 || pszLine[6] == '\0')
        return -1;
    long nValue = 0;
    for (const char* p = pszLine + 6; *p; ++p) {
        if (*p < '0' || *p > '9' || nValue > 4194303 / 10)
            return -1;
        nValue = nValue * 10 + (*p - '0');
    }
    return nValue <= 4194303 ? nValue : -1;
}

void ReadUpdateServers(std::FILE* pFile, std::vector<UpdateServerRow>& rows, unsigned* pnLimitKiB)
{
    if (pnLimitKiB)
        *pnLimitKiB = 0;
    if (!pFile)
        return;
    // Room for a byte-order mark in front of the first line.
    char szLine[kLineSize + 3];
    bool bMore = true;
    for (bool bFirst = true; bMore; bFirst = false) {
        bMore = ReadLine(pFile, szLine, bFirst ? sizeof szLine : kLineSize);
        if (bFirst) {
            DropByteOrderMark(szLine);
            szLine[kLineSize - 1] = '\0';
        }
        if (szLine[0] == '\0')
            break;
        if (szLine[0] == '#')
            continue;
        long nLimit = ParseLimitLine(szLine);
        if (nLimit >= 0 && pnLimitKiB)
            *pnLimitKiB = static_cast<unsigned>(nLimit);
        UpdateServerRow row{};
        if (ParseRow(szLine, row) && row.nId != 0)
            rows.push_back(row);
    }
}

int ChooseServerRow(const std::vector<UpdateServerRow>& rows, int nKey, int r)
{
    const long long n = static_cast<long long>(rows.size());
    if (n == 0)
        return -1;
    long long t = (static_cast<long long>(r) + n) % (2 * n);
    if (t < 0)
        t += 2 * n;
    // The walk is bounded, so a rare key among many rows may find no server
    // even though a matching row exists.
    const int kMaxVisits = 1001;
    long long c = -1;
    long long i = 0;
    for (int nVisits = 0; nVisits < kMaxVisits; ++nVisits) {
        if (rows[static_cast<std::size_t>(i)].nLineKey == nKey) {
            if (c == t)
                return static_cast<int>(i);
            ++c;
        }
        i = (i + 1) % n;
    }
    return -1;
}

int ConnectionsOf(const UpdateServerRow& row)
{
    return row.nConnections >= 1 && row.nConnections <= MAX_CONNECTIONS ? row.nConnections : DEFAULT_CONNECTIONS;
}

std::vector<int> ServerOrder(const std::vector<UpdateServerRow>& rows, int nKey, int nChosen)
{
    std::vector<int> order;
    if (nChosen >= 0)
        order.push_back(nChosen);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].nLineKey == nKey && static_cast<int>(i) != nChosen)
            order.push_back(static_cast<int>(i));
    }
    return order;
}
