#include "printer_output.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
std::atomic<bool> gOutputBroken{false};
std::atomic<DWORD> gSidesSent{0};

void NoteFailure(const char* what)
{
    if (!gOutputBroken.exchange(true, std::memory_order_acq_rel))
        DbgMsg("%s to standard output failed: %s", what, strerror(errno));
}
} // namespace

BOOL WritePrinterData(const void* data, size_t len)
{
    if (gOutputBroken.load(std::memory_order_acquire))
        return FALSE;
    if (len == 0)
        return TRUE;
    if (fwrite(data, 1, len, stdout) != len) {
        NoteFailure("Write");
        return FALSE;
    }
    return TRUE;
}

BOOL FlushPrinterData(void)
{
    if (fflush(stdout) != 0) {
        NoteFailure("Flush");
        return FALSE;
    }
    return gOutputBroken.load(std::memory_order_acquire) ? FALSE : TRUE;
}

BOOL PrinterOutputFailed(void)
{
    return gOutputBroken.load(std::memory_order_acquire) ? TRUE : FALSE;
}

BOOL WritePageRecord(const void* record, size_t len)
{
    DWORD side = gSidesSent.load(std::memory_order_relaxed) + 1;
    fprintf(stderr, "INFO: Printing page %u\n", (unsigned)side);
    if (!WritePrinterData(record, len))
        return FALSE;
    // The record must be on its way before the scheduler counts it.
    if (fflush(stdout) != 0) {
        NoteFailure("Flush");
        return FALSE;
    }
    gSidesSent.store(side, std::memory_order_relaxed);
    fprintf(stderr, "PAGE: %u 1\n", (unsigned)side);
    return TRUE;
}

DWORD PageRecordsSent(void)
{
    return gSidesSent.load(std::memory_order_relaxed);
}
