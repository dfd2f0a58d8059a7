// The page slot record that carries one page from the raster reader through
// image processing to compression. It lives here, below the filter, because
// the image functions take it as well as the filter's threads.
#ifndef QUORIN_JOB_INFO_H
#define QUORIN_JOB_INFO_H

#include <atomic>
#include <pthread.h>
#include <cups/raster.h>

#include "page_view.h"
#include "velorin.h"

#define MAX_JOB_SLOTS 30
#define JOB_ID_SIZE 260

// Values of JobInfo::finish.
enum {
    SLOT_FREE = 0,      // no page, lpbuf is NULL
    SLOT_TAKEN = 1,     // main fills it, then the worker processes it
    SLOT_PROCESSED = 2, // coded (or failed), waits for the writer
    SLOT_DROPPED = 3,   // a page that will not be printed, let go by its worker: main frees it
};

// How far the screen of a slot's page has come (JobInfo::screenState).
enum {
    SCREEN_RUNNING = 0, // lines up to linesScreened are final
    SCREEN_DONE = 1,    // every line is final
    SCREEN_FAILED = 2,  // the page could not be screened
    SCREEN_DROPPED = 3, // the page's lines stopped coming: it will not be printed
};

struct JobInfo {
    DWORD PageIndex;              // zero-based page number (the slot's position until its first page)
    char jobID[JOB_ID_SIZE];      // the job id argument, NUL-terminated
    cups_raster_t* inras;         // the job's raster stream, source of this page's lines
    cups_page_header2_t inheader; // private copy of this page's raster header, settings included
    std::atomic<BYTE*> lpbuf;     // the page bitmap; NULL while the slot holds none
    DWORD page_width;             // pixels a line: the sheet's width raised to a multiple of 32
    DWORD page_height;            // lines: the sheet's height raised to a multiple of 32
    DWORD linebyte;               // bytes a line: page_width while gray, the one-bit line once screened
    DWORD pagesize;               // bytes allocated for lpbuf: gray linebyte x page_height
    DWORD linebyteLeft;           // white padding pixels at the right end of a line: page_width - cupsWidth
    DWORD rasterLeft, rasterTop;  // where the raster's cupsWidth x cupsHeight pixels lie on the bitmap
    std::atomic<DWORD> finish;    // SLOT_FREE, SLOT_TAKEN or SLOT_PROCESSED
    pthread_t PageThreadId;       // the page's worker thread; 0 before one is started
    BYTE* lpRecord;               // the page record its worker coded; NULL before, or when it could not be
    DWORD recordLen;              // bytes of lpRecord: lead-in, page header and JBIG data
    unsigned long long pageBytes; // bytes reckoned against the job's memory budget, from taking to freeing
    std::atomic<DWORD> linesScreened; // one-bit lines of lpbuf final, in order: what the coder may take
    std::atomic<int> screenState;     // SCREEN_RUNNING, SCREEN_DONE, SCREEN_FAILED or SCREEN_DROPPED
};
// Other threads poll lpbuf and finish: release stores, acquire loads.

// The bitmap pointer for the thread that owns the slot at the moment.
inline BYTE* SlotBuffer(const JobInfo* job)
{
    return job->lpbuf.load(std::memory_order_acquire);
}

// The slot's bitmap as the image kernels take it.
inline PageView SlotPage(const JobInfo* job)
{
    return PageView{SlotBuffer(job), job->page_width, job->page_height, job->linebyte};
}

// A screen turns a gray page view into one bit a pixel in place and leaves
// the one-bit line size in the view's stride (HalftonePage, BorderQualityPage).
typedef BOOL (*PageScreen)(PageView* page, LONG nDensity, BOOL tonerSave);

// Runs a screen on the slot's page with the page's density and toner saving,
// and keeps the line size it leaves in linebyte: the one place where a slot's
// page turns one-bit.
BOOL ScreenSlotPage(JobInfo* job, PageScreen screen);

// TRUE once the screen has made the slot's page one bit a pixel, in lines of
// page_width / 8 bytes as the printer takes them. A page that is still gray
// must never be compressed.
inline BOOL PageIsOneBit(const JobInfo* job)
{
    const DWORD w = job->page_width;
    return w != 0 && w % 8 == 0 && job->linebyte == w / 8 ? TRUE : FALSE;
}

// Sets a slot to its initial free state at ring setup.
void InitJobSlot(JobInfo* job, DWORD index);

#endif
