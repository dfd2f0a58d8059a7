#include "page_pipeline.h"

#include <atomic>
#include <cstdlib>

#include "job_flags.h"
#include "job_memory.h"
#include "job_status.h"
#include "negative_mirror.h"
#include "page_record.h"
#include "printer_output.h"
#include "raster_reader.h"
#include "spool_store.h"
#include "test_seams.h"
#include "velorin.h"

void ProcessPageImage(JobInfo* lpJob)
{
    // The header's density was settled when main read it (NormalizeJobHeader).
    const cups_page_header2_t* h = &lpJob->inheader;
    if (PageNeedsBorderQuality(h))
        DoBorderQuality(lpJob);
    else
        ApplyHalftone(lpJob);
    // The screen leaves 1 for light and the printer prints 1 as black: a
    // screened page is inverted once, or left as it is for a negative.
    const BOOL negative = h->cupsInteger[1] != 0 ? TRUE : FALSE;
    if (PageIsOneBit(lpJob) != negative)
        DoNegative(lpJob, 0);
    // A negative is the raster's own area: the sheet's unprintable margins
    // and the padding around it stay white.
    if (negative && PageIsOneBit(lpJob)) {
        const PageView page = SlotPage(lpJob);
        ClearOutsideArea(&page, lpJob->rasterLeft, lpJob->rasterTop, h->cupsWidth, h->cupsHeight);
    }
    if (h->cupsInteger[2] != 0)
        DoMirror(lpJob);
}

void KeepOnlyOneBitPage(JobInfo* lpJob)
{
    if (!PageIsOneBit(lpJob))
        return;
    DWORD bytes = lpJob->linebyte * lpJob->page_height;
    BYTE* kept = static_cast<BYTE*>(realloc(SlotBuffer(lpJob), bytes));
    if (!kept)
        return; // the gray buffer stays whole, which only costs memory
    lpJob->lpbuf.store(kept, std::memory_order_release);
    lpJob->pagesize = bytes;
}

void* ImageProcThread(void* param)
{
    RunPageWorker(static_cast<JobInfo*>(param));
    pthread_exit(reinterpret_cast<void*>(1));
}

void RunPageWorker(JobInfo* lpJob)
{
    DbgMsg("ImageProcThread::image process thread page %d start", (int)lpJob->PageIndex);
    DisplayPageInfo(&lpJob->inheader);
    DbgMsg("ImageProcThread::cupsBitsPerPixel %d", (int)lpJob->inheader.cupsBitsPerPixel);
    ProcessPageImage(lpJob);
    KeepOnlyOneBitPage(lpJob);
    // A page that cannot be coded is reported by the compression thread when
    // its turn comes, so that the pages before it still go out.
    if (PageIsOneBit(lpJob) && !JobAbandoned())
        lpJob->lpRecord = BuildPageRecord(lpJob, &lpJob->recordLen);
    TestHoldPage(lpJob->PageIndex + 1);
    // Logged first: once the slot is handed over, the job may end before
    // this thread runs again.
    DbgMsg("ImageProcThread::exit image process thread page %d", (int)lpJob->PageIndex);
    // Last touch of the slot: the compression thread owns it from here.
    lpJob->finish.store(SLOT_PROCESSED, std::memory_order_release);
    RingPipelineBell();
}

void LogRing(const JobInfo* jobMem)
{
    for (int i = 0; i < MAX_JOB_SLOTS; ++i) {
        DbgMsg("JbigThread::[%d]finish = %d", i, (int)jobMem[i].finish.load(std::memory_order_acquire));
        DbgMsg("JbigThread::[%d]PageIndex = %d", i, (int)jobMem[i].PageIndex);
    }
}

namespace {
// Sends the slot's coded page on: to standard output, or to the spool file.
void WriteSlotRecord(JobInfo* slot)
{
    DWORD pageNumber = slot->PageIndex + 1;
    if (!PageIsOneBit(slot))
        JobFail(JOB_FAILURE_PAGE, "Page %u could not be screened, so the job stopped there.", (unsigned)pageNumber);
    else if (!slot->lpRecord)
        JobFail(JOB_FAILURE_PAGE, "Page %u could not be coded for the printer: not enough memory.",
                (unsigned)pageNumber);
    else if (gSaveToFile.load(std::memory_order_acquire))
        SpoolPageRecord(slot->lpRecord, slot->recordLen);
    else
        WritePageRecord(slot->lpRecord, slot->recordLen, pageNumber, gSideCopies.load(std::memory_order_acquire));
}
} // namespace

void* JbigThread(void* param)
{
    JobInfo* jobMem = static_cast<JobInfo*>(param);
    DWORD jobtick = GetTickCount();
    DWORD CurrentPage = 0;
    // After a failure or a cancel nothing more may go out: pages still in
    // the ring are dropped.
    while (!gJbigThreadExit.load(std::memory_order_acquire) && !JobAbandoned()) {
        uint64_t rings = BellRings();
        DWORD index = CurrentPage % (DWORD)gMAX_THREAD.load(std::memory_order_acquire);
        JobInfo* slot = &jobMem[index];
        DWORD state = slot->finish.load(std::memory_order_acquire);
        DbgMsg("JbigThread::gJbigThreadExit = %d", 0);
        DbgMsg("JbigThread::check buffer index = %d, CurrentPage = %d", (int)index, (int)CurrentPage);
        DbgMsg("JbigThread::finish = %d", (int)state);
        BYTE* bitmap = slot->lpbuf.load(std::memory_order_acquire);
        if (!bitmap || state != SLOT_PROCESSED) {
            WaitForBell(rings);
            continue;
        }
        WriteSlotRecord(slot);
        DbgMsg("JbigThread::free index %d memory", (int)index);
        free(slot->lpRecord);
        slot->lpRecord = nullptr;
        free(bitmap);
        ReleasePageBytes(slot->pageBytes);
        slot->lpbuf.store(nullptr, std::memory_order_release);
        slot->finish.store(SLOT_FREE, std::memory_order_release);
        RingPipelineBell();
        ++CurrentPage;
    }
    DbgMsg("JbigThread::job using %f sec", TickSeconds(jobtick));
    DbgMsg("JbigThread::exit print out %d pages", (int)CurrentPage);
    return nullptr;
}
