// The page slot record that carries one page from the raster reader through
// image processing to compression, and the job-wide flags the threads share.
#ifndef QUORIN_JOB_INFO_H
#define QUORIN_JOB_INFO_H

#include <atomic>
#include <pthread.h>
#include <cups/raster.h>

#include "velorin.h"

#define MAX_JOB_SLOTS 30
#define JOB_ID_SIZE 260

// Values of JobInfo::finish.
enum {
    SLOT_FREE = 0,      // no page, lpbuf is NULL
    SLOT_TAKEN = 1,     // main fills it, then the worker processes it
    SLOT_PROCESSED = 2, // bitmap final, waits for compression
};

struct JobInfo {
    DWORD PageIndex;
    char jobID[JOB_ID_SIZE];
    cups_raster_t* inras;
    cups_page_header2_t inheader;
    // Polled by other threads: release stores, acquire loads.
    std::atomic<BYTE*> lpbuf;
    DWORD page_width;
    DWORD page_height;
    DWORD linebyte;
    DWORD pagesize;
    DWORD linebyteLeft;
    std::atomic<DWORD> finish;
    pthread_t PageThreadId;
    // Bytes reckoned for this page against the job's memory budget: taken
    // by main with the slot, given back by the compression thread.
    unsigned long long pageBytes;
};

// Plain accessors so the image code reads the bitmap pointer without caring
// about the hand-over protocol (the slot's owner thread is the only writer).
inline BYTE* SlotBuffer(const JobInfo* job)
{
    return job->lpbuf.load(std::memory_order_acquire);
}

// Sets a slot to its initial free state at ring setup.
void InitJobSlot(JobInfo* job, DWORD index);

// Job-wide shared flags.
extern std::atomic<int> gMAX_THREAD;
extern std::atomic<BOOL> gSaveToFile;
extern std::atomic<BOOL> gJbigThreadExit;
extern int gOutputSize;
// Copies the printer makes of each side it receives (its COPIES= value);
// set by main before the first page goes out.
extern std::atomic<DWORD> gSideCopies;

#endif
