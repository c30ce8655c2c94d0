// The client's side of binary patches: zstd's decoder with the mapped old
// copy as its reference prefix and the mapped part file as its one output
// buffer, which it never copies (its stable-output mode keeps no window).
#include "net/PatchApply.h"

#define ZSTD_STATIC_LINKING_ONLY  // the stable-output mode is in the static API
#include <zstd.h>

#include <memory>

#include "framework/Handles.h"
#include "framework/SupportLog.h"
#include "net/PartFile.h"
#include "net/PatchName.h"

namespace net {

namespace {

// Input is read in zstd's own block size: the decoder then needs no more.
const DWORD kPatchReadBytes = 128 * 1024;
// The check reads the result in pieces, as a download feeds it.
const size_t kCheckPieceBytes = 1024 * 1024;

void DebugFailure(const char* pszWhat, DWORD dwError) {
    char sz[160];
    wsprintfA(sz, "ApplyPatch: %s failed (%lu)", pszWhat, static_cast<unsigned long>(dwError));
    fw::LogFailure(sz);
}

struct ZstdDecoder {
    ZstdDecoder() : p(ZSTD_createDCtx()) {}
    ~ZstdDecoder() { ZSTD_freeDCtx(p); }
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;
    ZSTD_DCtx* p;
};

// A whole file mapped for reading, or a part file mapped for writing.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Map(HANDLE hFile, uint64_t nSize, bool bWrite) {
        if (nSize == 0 || nSize > static_cast<uint64_t>(SIZE_MAX)) return false;
        m_mapping.Reset(CreateFileMappingA(hFile, nullptr, bWrite ? PAGE_READWRITE : PAGE_READONLY,
                                           static_cast<DWORD>(nSize >> 32), static_cast<DWORD>(nSize), nullptr));
        if (!m_mapping.IsValid()) {
            DebugFailure("CreateFileMappingA", GetLastError());
            return false;
        }
        m_pView = static_cast<unsigned char*>(
            MapViewOfFile(m_mapping.Get(), bWrite ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(nSize)));
        if (!m_pView) DebugFailure("MapViewOfFile", GetLastError());
        m_nSize = static_cast<size_t>(nSize);
        return m_pView != nullptr;
    }
    // Writes the pages out (a written view) and lets go of the view.
    bool Close() {
        bool bOk = true;
        if (m_pView) {
            bOk = FlushViewOfFile(m_pView, 0) != 0;
            UnmapViewOfFile(m_pView);
        }
        m_pView = nullptr;
        m_mapping.Reset();
        return bOk;
    }
    unsigned char* Data() const { return m_pView; }
    size_t Size() const { return m_nSize; }

private:
    fw::UniqueHandle m_mapping;
    unsigned char* m_pView = nullptr;
    size_t m_nSize = 0;
};

uint64_t SizeOf(HANDLE hFile) {
    LARGE_INTEGER n = {};
    return GetFileSizeEx(hFile, &n) ? static_cast<uint64_t>(n.QuadPart) : 0;
}

// The new size the frame announces, when it is one the client may build.
FetchResult ReadFrameSize(HANDLE hPatch, uint64_t nOld, uint64_t* pnNew) {
    unsigned char header[ZSTD_FRAMEHEADERSIZE_MAX] = {};
    DWORD nRead = 0;
    if (!ReadFile(hPatch, header, sizeof header, &nRead, nullptr)) return FETCH_FAILED;
    ZSTD_frameHeader frame = {};
    if (ZSTD_getFrameHeader(&frame, header, nRead) != 0 || frame.frameType != ZSTD_frame ||
        frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN || frame.frameContentSize == 0) {
        fw::LogFailure("ApplyPatch: not a patch frame of a known size");
        return FETCH_REJECTED;
    }
    if (!PatchWindowLog(nOld, frame.frameContentSize)) return FETCH_NOT_FOUND;
    if (frame.windowSize > (1ull << PATCH_WINDOW_LOG_MAX)) return FETCH_REJECTED;
    *pnNew = frame.frameContentSize;
    LARGE_INTEGER zero = {};
    return SetFilePointerEx(hPatch, zero, nullptr, FILE_BEGIN) ? FETCH_DONE : FETCH_FAILED;
}

// Feeds the whole patch through the decoder into out; FETCH_DONE when exactly
// one frame filled it exactly.
FetchResult Decode(HANDLE hPatch, const MappedFile& old, MappedFile& out, const std::atomic<bool>& bCancel) {
    ZstdDecoder decoder;
    if (!decoder.p) return FETCH_NOT_FOUND;
    if (ZSTD_isError(ZSTD_DCtx_setParameter(decoder.p, ZSTD_d_windowLogMax, PATCH_WINDOW_LOG_MAX)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(decoder.p, ZSTD_d_stableOutBuffer, 1)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(decoder.p, old.Data(), old.Size())))
        return FETCH_NOT_FOUND;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kPatchReadBytes]);
    if (!buffer) return FETCH_NOT_FOUND;
    ZSTD_outBuffer output = {out.Data(), out.Size(), 0};
    size_t nLeft = 1;  // what the frame still wants; 0 once it ended
    for (;;) {
        if (bCancel.load()) return FETCH_CANCELLED;
        DWORD nRead = 0;
        if (!ReadFile(hPatch, buffer.get(), kPatchReadBytes, &nRead, nullptr)) return FETCH_FAILED;
        if (nRead == 0) break;
        // Bytes after the frame's end make it some other file than a patch.
        if (nLeft == 0) return FETCH_REJECTED;
        ZSTD_inBuffer input = {buffer.get(), nRead, 0};
        while (input.pos < input.size && nLeft != 0) {
            nLeft = ZSTD_decompressStream(decoder.p, &output, &input);
            if (ZSTD_isError(nLeft)) {
                fw::LogFailure("ApplyPatch: the patch doesn't decode");
                return FETCH_REJECTED;
            }
        }
        if (input.pos < input.size) return FETCH_REJECTED;
    }
    return nLeft == 0 && output.pos == output.size ? FETCH_DONE : FETCH_REJECTED;
}

bool Accepts(BodyCheck* pCheck, const MappedFile& out) {
    if (!pCheck) return true;
    pCheck->Begin();
    for (size_t n = 0; n < out.Size(); n += kCheckPieceBytes)
        pCheck->Update(out.Data() + n, out.Size() - n < kCheckPieceBytes ? out.Size() - n : kCheckPieceBytes);
    return pCheck->Accept();
}

FetchResult SizePart(PartFile& part, uint64_t nSize) {
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(nSize);
    if (SetFilePointerEx(part.Handle(), end, nullptr, FILE_BEGIN) && SetEndOfFile(part.Handle())) return FETCH_DONE;
    DWORD dwError = GetLastError();
    DebugFailure("SetEndOfFile", dwError);
    return dwError == ERROR_DISK_FULL || dwError == ERROR_HANDLE_DISK_FULL ? FETCH_DISK_FULL : FETCH_FAILED;
}

}  // namespace

FetchResult ApplyPatch(const char* pszOld, const char* pszPatch, const char* pszTarget, BodyCheck* pCheck,
                       const std::atomic<bool>& bCancel) {
    fw::UniqueHandle oldFile(CreateFileA(pszOld, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    fw::UniqueHandle patch(CreateFileA(pszPatch, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!oldFile.IsValid() || !patch.IsValid()) return FETCH_NOT_FOUND;
    uint64_t nOld = SizeOf(oldFile.Get()), nNew = 0;
    FetchResult result = ReadFrameSize(patch.Get(), nOld, &nNew);
    if (result != FETCH_DONE) return result;
    if (pCheck && !pCheck->AcceptsLength(nNew)) return FETCH_REJECTED;
    if (!PartFile::HasRoomFor(pszTarget, nNew)) return FETCH_DISK_FULL;
    MappedFile old, out;
    if (!old.Map(oldFile.Get(), nOld, false)) return FETCH_NOT_FOUND;
    PartFile part(pszTarget);
    if (!part.Create()) return FETCH_FAILED;
    if ((result = SizePart(part, nNew)) != FETCH_DONE) return result;
    if (!out.Map(part.Handle(), nNew, true)) return FETCH_NOT_FOUND;
    result = Decode(patch.Get(), old, out, bCancel);
    if (result == FETCH_DONE && !Accepts(pCheck, out)) {
        fw::LogFailure("ApplyPatch: the patched file is not the listed one");
        result = FETCH_REJECTED;
    }
    bool bWritten = out.Close();
    // The target is the old copy: it is let go of before the part replaces it.
    old.Close();
    oldFile.Reset();
    if (result != FETCH_DONE) return result;
    if (!bWritten || !part.Commit(bCancel)) return bCancel.load() ? FETCH_CANCELLED : FETCH_FAILED;
    return FETCH_DONE;
}

}  // namespace net
