#include "page_pipeline.h"

#include <atomic>
#include <cstdlib>

#include "job_flags.h"
#include "page_record.h"
#include "velorin.h"
#include "printer_output.h"
#include "raster_reader.h"
#include "spool_store.h"

namespace {
std::atomic<BOOL> gPipelineFailed{FALSE};
} // namespace

BOOL PipelineFailed(void)
{
    return gPipelineFailed.load(std::memory_order_acquire);
}

void NotePipelineFailure(const char* what, DWORD pageIndex)
{
    DbgMsg("%s (page %d)", what, (int)pageIndex + 1);
    gPipelineFailed.store(TRUE, std::memory_order_release);
}

namespace {
// The density the printer description defaults to; a raster made without it
// carries none.
const unsigned kDefaultDensity = 3;
} // namespace

void ProcessPageImage(JobInfo* lpJob)
{
    cups_page_header2_t* h = &lpJob->inheader;
    // Density 0 would leave the page unscreened and send gray bytes as bits.
    if ((int)h->cupsCompression < 1) {
        DbgMsg("ImageProcThread::density %d not set, screening with %u", (int)h->cupsCompression,
               kDefaultDensity);
        h->cupsCompression = kDefaultDensity;
    }
    if (PageNeedsBorderQuality(h))
        DoBorderQuality(lpJob);
    else
        ApplyHalftone(lpJob);
    // The screen leaves 1 for light and the printer prints 1 as black: a
    // screened page is inverted once, or left as it is for a negative.
    const BOOL negative = h->cupsInteger[1] != 0 ? TRUE : FALSE;
    if (PageIsOneBit(lpJob) != negative)
        DoNegative(lpJob, 0);
    if (h->cupsInteger[2] != 0)
        DoMirror(lpJob);
}

void* ImageProcThread(void* param)
{
    JobInfo* lpJob = static_cast<JobInfo*>(param);
    DbgMsg("ImageProcThread::image process thread page %d start", (int)lpJob->PageIndex);
    DisplayPageInfo(&lpJob->inheader);
    DbgMsg("ImageProcThread::cupsBitsPerPixel %d", (int)lpJob->inheader.cupsBitsPerPixel);
    ProcessPageImage(lpJob);
    DWORD index = lpJob->PageIndex;
    // Last touch of the slot: the compression thread owns it from here.
    lpJob->finish.store(SLOT_PROCESSED, std::memory_order_release);
    DbgMsg("ImageProcThread::exit image process thread page %d", (int)index);
    pthread_exit(reinterpret_cast<void*>(1));
}

void LogRing(const JobInfo* jobMem)
{
    for (int i = 0; i < MAX_JOB_SLOTS; ++i) {
        DbgMsg("JbigThread::[%d]finish = %d", i, (int)jobMem[i].finish.load(std::memory_order_acquire));
        DbgMsg("JbigThread::[%d]PageIndex = %d", i, (int)jobMem[i].PageIndex);
    }
}

void* JbigThread(void* param)
{
    JobInfo* jobMem = static_cast<JobInfo*>(param);
    DWORD jobtick = GetTickCount();
    DWORD CurrentPage = 0;
    while (!gJbigThreadExit.load(std::memory_order_acquire)) {
        DWORD index = CurrentPage % (DWORD)gMAX_THREAD.load(std::memory_order_acquire);
        JobInfo* slot = &jobMem[index];
        DWORD state = slot->finish.load(std::memory_order_acquire);
        DbgMsg("JbigThread::gJbigThreadExit = %d", 0);
        DbgMsg("JbigThread::check buffer index = %d, CurrentPage = %d", (int)index, (int)CurrentPage);
        DbgMsg("JbigThread::finish = %d", (int)state);
        BYTE* bitmap = slot->lpbuf.load(std::memory_order_acquire);
        if (!bitmap || state != SLOT_PROCESSED) {
            Sleep(POLL_MSEC);
            continue;
        }
        DWORD len = 0;
        BYTE* record = PageIsOneBit(slot) ? BuildPageRecord(slot, &len) : nullptr;
        if (!PageIsOneBit(slot)) {
            NotePipelineFailure("JbigThread::page was not screened, not sent", slot->PageIndex);
        } else if (!record) {
            NotePipelineFailure("JbigThread::no memory for the page record", slot->PageIndex);
        } else {
            BOOL sent = gSaveToFile.load(std::memory_order_acquire) ? SpoolPageRecord(record, len)
                                                                     : WritePageRecord(record, len);
            if (!sent)
                NotePipelineFailure("JbigThread::the page record could not be written", slot->PageIndex);
            free(record);
        }
        DbgMsg("JbigThread::free index %d memory", (int)index);
        free(bitmap);
        slot->lpbuf.store(nullptr, std::memory_order_release);
        slot->finish.store(SLOT_FREE, std::memory_order_release);
        ++CurrentPage;
    }
    DbgMsg("JbigThread::job using %f sec", TickSeconds(jobtick));
    DbgMsg("JbigThread::exit print out %d pages", (int)CurrentPage);
    return nullptr;
}
