#include "printer_output.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "job_status.h"

namespace {
// The page being written, for the failure's sentence; 0 outside a page.
std::atomic<DWORD> gPageInFlight{0};

void NoteFailure(const char* what)
{
    int err = errno;
    DbgMsg("%s to standard output failed: %s", what, strerror(err));
    DWORD page = gPageInFlight.load(std::memory_order_acquire);
    const char* reason = strerror(err);
    if (err == EPIPE || err == ECONNRESET) {
        if (page)
            JobFail(JOB_FAILURE_OUTPUT, "The printer connection closed while page %u was being sent (%s).",
                    (unsigned)page, reason);
        else
            JobFail(JOB_FAILURE_OUTPUT, "The printer connection closed (%s).", reason);
    } else if (page) {
        JobFail(JOB_FAILURE_OUTPUT, "The printer stream could not be written while page %u was being sent (%s).",
                (unsigned)page, reason);
    } else {
        JobFail(JOB_FAILURE_OUTPUT, "The printer stream could not be written (%s).", reason);
    }
}
} // namespace

BOOL WritePrinterData(const void* data, size_t len)
{
    if (JobFailure() == JOB_FAILURE_OUTPUT)
        return FALSE;
    // Unbuffered, and whole even when a cancel interrupts a write into a
    // full pipe: the printer must never get half a record.
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t w = write(STDOUT_FILENO, p, len);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            NoteFailure("Write");
            return FALSE;
        }
        p += w;
        len -= (size_t)w;
    }
    return TRUE;
}

BOOL WritePageRecord(const void* record, size_t len, DWORD pageNumber, DWORD copies)
{
    if (copies)
        fprintf(stderr, "INFO: Printing page %u\n", (unsigned)pageNumber);
    gPageInFlight.store(pageNumber, std::memory_order_release);
    // The record is on its way (nothing is buffered) before the scheduler counts it.
    BOOL ok = WritePrinterData(record, len);
    gPageInFlight.store(0, std::memory_order_release);
    if (!ok)
        return FALSE;
    if (copies)
        fprintf(stderr, "PAGE: %u %u\n", (unsigned)pageNumber, (unsigned)copies);
    return TRUE;
}
