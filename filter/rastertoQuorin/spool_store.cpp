#include "spool_store.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "job_flags.h"
#include "little_endian.h"

char gSpolFileName[PATH_MAX] = "";
FILE* gSpoolFileHandle = nullptr;
SpoolRecHeader gSpoolFileHeader = {0, 0};

namespace {
// Held for each whole append and each whole lookup: both move the stream's
// one file position, and a lookup must never see a half-written record.
std::mutex gSpoolLock;

std::atomic<BOOL> gSpoolBroken{FALSE};
std::mutex gReasonLock;
char gReason[256] = "";

const char kNameTemplate[] = "swspool-XXXXXX.dat";
const int kNameSuffixLen = 4; // ".dat"

// A short read at the end of the file leaves errno as it was.
void NoteStreamFailure(const char* what, FILE* f)
{
    char text[200];
    if (f && feof(f))
        snprintf(text, sizeof text, "%s: unexpected end of the spool file", what);
    else
        snprintf(text, sizeof text, "%s: %s", what, strerror(errno));
    NoteSpoolFailure(text);
}

// Lock held. Rewrites the 8-byte file header from the in-memory copy.
BOOL WriteFileHeader(FILE* f)
{
    BYTE raw[SPOOL_FILE_HEADER_SIZE];
    PutDword(raw, gSpoolFileHeader.pages);
    PutDword(raw + 4, gSpoolFileHeader.bfOffBits);
    if (fseek(f, 0, SEEK_SET) != 0 || fwrite(raw, 1, sizeof raw, f) != sizeof raw || fflush(f) != 0) {
        NoteStreamFailure("spool header write", f);
        return FALSE;
    }
    return TRUE;
}

// Lock held. Walks the records from the first one to record index; the stream
// is then at its body. The record header is local to the lookup.
BOOL WalkToRecord(DWORD index, DWORD* dataLen)
{
    FILE* f = gSpoolFileHandle;
    if (fseek(f, (long)gSpoolFileHeader.bfOffBits, SEEK_SET) != 0) {
        NoteStreamFailure("spool seek", f);
        return FALSE;
    }
    for (DWORD count = 0;; ++count) {
        BYTE raw[SPOOL_PAGE_HEADER_SIZE];
        if (fread(raw, 1, sizeof raw, f) != sizeof raw) {
            NoteStreamFailure("spool read", f);
            return FALSE;
        }
        SpoolPageHeader rec = {GetDword(raw)};
        if (count == index) {
            *dataLen = rec.dataLen;
            return TRUE;
        }
        if (fseek(f, (long)rec.dataLen, SEEK_CUR) != 0) {
            NoteStreamFailure("spool seek", f);
            return FALSE;
        }
    }
}

// Lock held.
BOOL IndexOk(DWORD index)
{
    if (gSpoolFileHandle && index < gSpoolFileHeader.pages)
        return TRUE;
    DbgMsg("Page Index %d Error, Total pages %d", (int)index, (int)gSpoolFileHeader.pages);
    return FALSE;
}
} // namespace

void NoteSpoolFailure(const char* what)
{
    DbgMsg("Spool file failure: %s", what);
    std::lock_guard<std::mutex> hold(gReasonLock);
    if (!gSpoolBroken.load(std::memory_order_acquire)) {
        snprintf(gReason, sizeof gReason, "%s", what);
        gSpoolBroken.store(TRUE, std::memory_order_release);
    }
}

BOOL SpoolFailed(void)
{
    return gSpoolBroken.load(std::memory_order_acquire);
}

const char* SpoolFailureReason(void)
{
    std::lock_guard<std::mutex> hold(gReasonLock);
    return gReason;
}

BOOL CreateSpoolFile(void)
{
    DbgMsg("Create Spool File");
    {
        std::lock_guard<std::mutex> hold(gReasonLock);
        gReason[0] = '\0';
        gSpoolBroken.store(FALSE, std::memory_order_release);
    }
    // CUPS gives every filter a private TMPDIR; a fixed name in a shared
    // directory would let jobs overwrite each other or follow a planted link.
    const char* dir = getenv("TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    char name[sizeof gSpolFileName];
    size_t dirLen = strlen(dir);
    const char* sep = dir[dirLen - 1] == '/' ? "" : "/";
    int n = snprintf(name, sizeof name, "%s%s%s", dir, sep, kNameTemplate);
    if (n < 0 || (size_t)n >= sizeof name) {
        DbgMsg("Create Spool File::directory name too long, the job goes on without spooling");
        return FALSE;
    }
    // O_EXCL: a new file under a name nobody chose before; no link is followed.
    int fd = mkostemps(name, kNameSuffixLen, O_CLOEXEC);
    if (fd < 0) {
        DbgMsg("Create Spool File::%s: %s, the job goes on without spooling", name, strerror(errno));
        return FALSE;
    }
    FILE* f = fdopen(fd, "w+b");
    if (!f) {
        DbgMsg("Create Spool File::fdopen: %s, the job goes on without spooling", strerror(errno));
        close(fd);
        unlink(name);
        return FALSE;
    }

    std::lock_guard<std::mutex> hold(gSpoolLock);
    gSpoolFileHandle = f;
    memcpy(gSpolFileName, name, sizeof name);
    gSpoolFileHeader.pages = 0;
    gSpoolFileHeader.bfOffBits = SPOOL_FILE_HEADER_SIZE;
    if (!WriteFileHeader(f)) {
        fclose(f);
        unlink(gSpolFileName);
        gSpoolFileHandle = nullptr;
        gSpolFileName[0] = '\0';
        DbgMsg("Create Spool File::the job goes on without spooling");
        return FALSE;
    }
    gSaveToFile.store(TRUE, std::memory_order_release);
    DbgMsg("gSpoolFileHeader size = %d", (int)gSpoolFileHeader.bfOffBits);
    return TRUE;
}

BOOL SpoolAppend(const void* record, DWORD len, DWORD* pagesAfter)
{
    std::lock_guard<std::mutex> hold(gSpoolLock);
    FILE* f = gSpoolFileHandle;
    // After a failure the file's tail is unknown: a further record could not
    // be found again by walking.
    if (!f || SpoolFailed())
        return FALSE;
    BYTE raw[SPOOL_PAGE_HEADER_SIZE];
    SpoolPageHeader rec = {len};
    PutDword(raw, rec.dataLen);
    if (fseek(f, 0, SEEK_END) != 0 || fwrite(raw, 1, sizeof raw, f) != sizeof raw ||
        fwrite(record, 1, len, f) != len) {
        NoteStreamFailure("spool write", f);
        return FALSE;
    }
    // Counted only once the record is in the file.
    gSpoolFileHeader.pages += 1;
    gSpoolFileHeader.bfOffBits = SPOOL_FILE_HEADER_SIZE;
    if (!WriteFileHeader(f))
        return FALSE;
    if (pagesAfter)
        *pagesAfter = gSpoolFileHeader.pages;
    return TRUE;
}

BOOL SpoolPageRecord(const void* record, DWORD len)
{
    DbgMsg("JbigThread::gSaveToFile = 1, gSpoolPageHeader.dataLen = %d", (int)len);
    DWORD pages = 0;
    if (!SpoolAppend(record, len, &pages))
        return FALSE;
    DbgMsg("JbigThread::gSaveToFile = 1, gSpoolFileHeader.pages = %d", (int)pages);
    return TRUE;
}

DWORD GetPageDataSize(DWORD index)
{
    DWORD tick = GetTickCount();
    DWORD result = 0;
    {
        std::lock_guard<std::mutex> hold(gSpoolLock);
        if (IndexOk(index) && !WalkToRecord(index, &result))
            result = 0;
    }
    DbgMsg("GetPageDataSize Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return result;
}

BOOL GetPageData(DWORD index, DWORD outBufSize, char* lpOutBuf)
{
    DWORD tick = GetTickCount();
    BOOL rc = FALSE;
    {
        std::lock_guard<std::mutex> hold(gSpoolLock);
        DWORD dataLen = 0;
        if (IndexOk(index) && WalkToRecord(index, &dataLen)) {
            if (dataLen > outBufSize) {
                DbgMsg("Page [%d] Buffer too Small %d / %d", (int)index, (int)outBufSize, (int)dataLen);
            } else {
                DbgMsg("dataLen = %d", (int)dataLen);
                if (fread(lpOutBuf, 1, dataLen, gSpoolFileHandle) == dataLen)
                    rc = TRUE;
                else
                    NoteStreamFailure("spool read", gSpoolFileHandle);
            }
        }
    }
    DbgMsg("GetPageData Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return rc;
}

DWORD SpoolPageCount(void)
{
    std::lock_guard<std::mutex> hold(gSpoolLock);
    return gSpoolFileHandle ? gSpoolFileHeader.pages : 0;
}

void RemoveSpoolFile(void)
{
    std::lock_guard<std::mutex> hold(gSpoolLock);
    if (gSpoolFileHandle) {
        fclose(gSpoolFileHandle);
        gSpoolFileHandle = nullptr;
    }
    if (gSpolFileName[0]) {
        if (!DeleteFile(gSpolFileName))
            DbgMsg("main::spool file %s not removed: %s", gSpolFileName, strerror(errno));
        gSpolFileName[0] = '\0';
    }
    gSpoolFileHeader.pages = 0;
    gSpoolFileHeader.bfOffBits = 0;
    gSaveToFile.store(FALSE, std::memory_order_release);
}
