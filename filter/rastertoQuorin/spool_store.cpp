#include "spool_store.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "job_flags.h"
#include "job_status.h"
#include "little_endian.h"

char gSpolFileName[PATH_MAX] = "";
namespace {
// Published with a release store once the name is whole.
std::atomic<const char*> gSpoolPathPublished{nullptr};
} // namespace
FILE* gSpoolFileHandle = nullptr;
SpoolRecHeader gSpoolFileHeader = {0, 0};

namespace {
// Held for each whole append and each whole lookup: both move the stream's
// one file position, and a lookup must never see a half-written record.
std::mutex gSpoolLock;

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

// Offsets of the records appended so far, so a lookup seeks straight to its
// record instead of walking the file (a long duplex replay would otherwise
// read the file quadratically). Records past the cap, or past a failed
// growth, are found by walking on from the last one indexed.
struct RecordIndex {
    long* offsets;
    DWORD count;
    DWORD capacity;
};
RecordIndex gIndex = {nullptr, 0, 0};
// 8 bytes a page: 8 MiB covers a million pages.
const DWORD kIndexCap = 1u << 20;

// Lock held.
void ResetIndex(void)
{
    free(gIndex.offsets);
    gIndex = {nullptr, 0, 0};
}

// Lock held. The record about to be counted starts at offset at.
void IndexRecord(long at)
{
    // Only a gap-free index is usable: once a record is missed, later ones
    // are walked to.
    if (gIndex.count != gSpoolFileHeader.pages)
        return;
    if (gIndex.count == gIndex.capacity) {
        if (gIndex.capacity >= kIndexCap)
            return;
        DWORD grown = gIndex.capacity ? gIndex.capacity * 2 : 256;
        if (grown > kIndexCap)
            grown = kIndexCap;
        long* more = static_cast<long*>(realloc(gIndex.offsets, grown * sizeof(long)));
        if (!more)
            return;
        gIndex.offsets = more;
        gIndex.capacity = grown;
    }
    gIndex.offsets[gIndex.count++] = at;
}

// Lock held. Puts the stream at the body of record index and reads its
// length. The record header is local to the lookup.
BOOL WalkToRecord(DWORD index, DWORD* dataLen)
{
    FILE* f = gSpoolFileHandle;
    DWORD count = 0;
    long start = (long)gSpoolFileHeader.bfOffBits;
    if (gIndex.count > 0) {
        count = index < gIndex.count ? index : gIndex.count - 1;
        start = gIndex.offsets[count];
    }
    if (fseek(f, start, SEEK_SET) != 0) {
        NoteStreamFailure("spool seek", f);
        return FALSE;
    }
    for (;; ++count) {
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
    JobFail(JOB_FAILURE_SPOOL, "The job's spool file failed (%s), so the job stopped before all pages were "
            "printed.", what);
}

BOOL SpoolFailed(void)
{
    return JobFailure() == JOB_FAILURE_SPOOL ? TRUE : FALSE;
}

namespace {
// A fresh file under a name nobody chose before in dir, never through an
// existing file or link. FALSE with errno set when it cannot be made.
FILE* CreateIn(const char* dir, char name[PATH_MAX])
{
    size_t dirLen = strlen(dir);
    const char* sep = dirLen && dir[dirLen - 1] == '/' ? "" : "/";
    int n = snprintf(name, PATH_MAX, "%s%s%s", dir, sep, kNameTemplate);
    if (n < 0 || n >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int fd = mkostemps(name, kNameSuffixLen, O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, "w+b");
    if (!f) {
        int err = errno;
        close(fd);
        unlink(name);
        errno = err;
    }
    return f;
}
} // namespace

BOOL CreateSpoolFile(void)
{
    DbgMsg("Create Spool File");
    // CUPS gives every filter a private TMPDIR; /tmp is the fallback.
    const char* tmpdir = getenv("TMPDIR");
    const char* dirs[2] = {tmpdir && *tmpdir ? tmpdir : "/tmp", "/tmp"};
    int tries = strcmp(dirs[0], dirs[1]) == 0 ? 1 : 2;
    char why[2][128] = {"", ""};
    char name[PATH_MAX];
    FILE* f = nullptr;
    for (int i = 0; i < tries && !f; ++i) {
        f = CreateIn(dirs[i], name);
        if (!f) {
            snprintf(why[i], sizeof why[i], "%s", strerror(errno));
            DbgMsg("Create Spool File::%s: %s", dirs[i], why[i]);
        }
    }
    if (!f) {
        if (tries == 2)
            JobFail(JOB_FAILURE_SPOOL, "No spool file could be created in %s (%s) or in /tmp (%s), and duplex "
                    "or collated copies need one.", dirs[0], why[0], why[1]);
        else
            JobFail(JOB_FAILURE_SPOOL, "No spool file could be created in %s (%s), and duplex or collated "
                    "copies need one.", dirs[0], why[0]);
        return FALSE;
    }

    std::lock_guard<std::mutex> hold(gSpoolLock);
    gSpoolFileHandle = f;
    memcpy(gSpolFileName, name, sizeof name);
    gSpoolPathPublished.store(gSpolFileName, std::memory_order_release);
    gSpoolFileHeader.pages = 0;
    gSpoolFileHeader.bfOffBits = SPOOL_FILE_HEADER_SIZE;
    ResetIndex();
    if (!WriteFileHeader(f))
        return FALSE;
    gSaveToFile.store(TRUE, std::memory_order_release);
    DbgMsg("gSpoolFileHeader size = %d", (int)gSpoolFileHeader.bfOffBits);
    return TRUE;
}

const char* SpoolPathForSignal(void)
{
    return gSpoolPathPublished.load(std::memory_order_acquire);
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
    long at = -1;
    if (fseek(f, 0, SEEK_END) != 0 || (at = ftell(f)) < 0 || fwrite(raw, 1, sizeof raw, f) != sizeof raw ||
        fwrite(record, 1, len, f) != len) {
        NoteStreamFailure("spool write", f);
        return FALSE;
    }
    IndexRecord(at);
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
    gSpoolPathPublished.store(nullptr, std::memory_order_release);
    if (gSpolFileName[0]) {
        if (!DeleteFile(gSpolFileName))
            DbgMsg("main::spool file %s not removed: %s", gSpolFileName, strerror(errno));
        gSpolFileName[0] = '\0';
    }
    gSpoolFileHeader.pages = 0;
    gSpoolFileHeader.bfOffBits = 0;
    ResetIndex();
    gSaveToFile.store(FALSE, std::memory_order_release);
}
