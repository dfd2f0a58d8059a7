#include "gray_bands.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "job_status.h"
#include "pipeline_bell.h"

namespace {
GrayBand gRing[GRAY_BANDS];
// Bands passed by main and returned by the screen since the job began; one
// writer each.
std::atomic<unsigned long> gPassed{0}, gReturned{0};

// Waits for `ready` on the band bell; FALSE when the job was abandoned.
template <class Ready>
BOOL WaitForBands(Ready ready)
{
    for (;;) {
        uint64_t rings = BellRings(BELL_BANDS);
        if (ready())
            return TRUE;
        if (JobAbandoned())
            return FALSE;
        WaitForBell(rings, BELL_BANDS);
    }
}
} // namespace

DWORD BandLines(DWORD pageWidth)
{
    DWORD lines = pageWidth ? GRAY_BAND_BYTES / pageWidth : 1;
    return lines ? lines : 1;
}

unsigned long long GrayRingBytes(DWORD pageWidth, DWORD pageHeight)
{
    unsigned long long lines = std::min(BandLines(pageWidth), pageHeight);
    return GRAY_BANDS * lines * pageWidth;
}

void OpenGrayBands(void)
{
    gPassed.store(0, std::memory_order_release);
    gReturned.store(0, std::memory_order_release);
}

GrayBand* NextEmptyBand(size_t bytes, BOOL* noMemory)
{
    *noMemory = FALSE;
    const unsigned long passed = gPassed.load(std::memory_order_relaxed);
    if (!WaitForBands([passed] { return passed - gReturned.load(std::memory_order_acquire) < GRAY_BANDS; }))
        return nullptr;
    GrayBand* band = &gRing[passed % GRAY_BANDS];
    // Bands grow to the pages' needs: small pages take little memory.
    if (band->room < bytes) {
        BYTE* grown = static_cast<BYTE*>(realloc(band->gray, bytes));
        if (!grown) {
            *noMemory = TRUE;
            return nullptr;
        }
        band->gray = grown;
        band->room = bytes;
    }
    return band;
}

void PassBand(GrayBand*)
{
    gPassed.fetch_add(1, std::memory_order_release);
    RingBell(BELL_BANDS);
}

GrayBand* NextFilledBand(void)
{
    const unsigned long returned = gReturned.load(std::memory_order_relaxed);
    if (!WaitForBands([returned] { return gPassed.load(std::memory_order_acquire) != returned; }))
        return nullptr;
    return &gRing[returned % GRAY_BANDS];
}

void ReturnBand(GrayBand*)
{
    gReturned.fetch_add(1, std::memory_order_release);
    RingBell(BELL_BANDS);
}

BOOL BandWaiting(void)
{
    return gPassed.load(std::memory_order_acquire) != gReturned.load(std::memory_order_acquire) ? TRUE : FALSE;
}
