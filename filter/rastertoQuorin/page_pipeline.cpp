#include "page_pipeline.h"

#include <atomic>
#include <cstdlib>

#include "border_quality.h"
#include "core_share.h"
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

namespace {
// The page the screen is on. Only the thread that runs the screen touches it.
struct SlotScreen {
    JobInfo* slot; // NULL between pages
    LineScreen lines;
    BOOL running; // the screen took the page
    BOOL edges, negative, mirror;
    DWORD tick;
};
SlotScreen gScreen;

// Turns final screened lines into printed ones: the screen leaves 1 for
// light and the printer prints 1 as black, so a line is inverted, or left as
// it is for a negative, whose area is only the raster's own: the sheet's
// unprintable margins and the padding stay white. Mirroring comes last.
void FinishPrintedLines(const SlotScreen& s, DWORD from, DWORD to)
{
    const JobInfo* slot = s.slot;
    const cups_page_header2_t* h = &slot->inheader;
    const DWORD top = slot->rasterTop;
    for (DWORD y = from; y < to; ++y) {
        const PageView line{SlotBuffer(slot) + (size_t)y * slot->linebyte, slot->page_width, 1, slot->linebyte};
        if (!s.negative)
            InvertPage(&line, FALSE);
        else
            ClearOutsideArea(&line, slot->rasterLeft, y >= top && y - top < h->cupsHeight ? 0 : 1, h->cupsWidth, 1);
        if (s.mirror)
            MirrorPage(&line);
    }
}

void BeginSlotScreen(JobInfo* slot)
{
    SlotScreen& s = gScreen;
    const cups_page_header2_t* h = &slot->inheader;
    s.slot = slot;
    s.tick = GetTickCount();
    s.edges = PageNeedsBorderQuality(h) ? TRUE : FALSE;
    s.negative = h->cupsInteger[1] != 0 ? TRUE : FALSE;
    s.mirror = h->cupsInteger[2] != 0 ? TRUE : FALSE;
    if (s.edges)
        DbgMsg("DoBorderQuality In, imgWidth = %d, imgHeight = %d", (int)slot->page_width, (int)slot->page_height);
    // The gray page is never there whole: its lines come band by band.
    const PageView gray{SlotBuffer(slot), slot->page_width, slot->page_height, slot->page_width};
    // The header's density was settled when main read it (NormalizeJobHeader).
    s.running = LineScreenBegin(&s.lines, &gray, (LONG)h->cupsCompression, h->cupsInteger[0] != 0, s.edges,
                                SlotBuffer(slot)) == LINE_SCREEN_OK;
    if (!s.negative)
        DbgMsg("DoNegative In, len = %d", (int)(slot->linebyte * slot->page_height));
    if (s.mirror)
        DbgMsg("DoMirror In");
}

void EndSlotScreen(int state)
{
    SlotScreen& s = gScreen;
    JobInfo* slot = s.slot;
    if (s.running && state != SCREEN_DONE)
        LineScreenEnd(&s.lines, nullptr, FALSE);
    if (!s.running && state == SCREEN_DONE)
        state = SCREEN_FAILED;
    if (s.edges)
        DbgMsg("DoBorderQuality Out, using %f sec, rc = %d", (double)TickSeconds(s.tick), state == SCREEN_DONE);
    if (!s.negative)
        DbgMsg("DoNegative Out, using %f sec, rc = %d", (double)TickSeconds(s.tick), 1);
    if (s.mirror)
        DbgMsg("DoMirror Out, using %f sec, rc = %d", (double)TickSeconds(s.tick), 1);
    slot->linesScreened.store(s.lines.finished, std::memory_order_release);
    slot->screenState.store(state, std::memory_order_release);
    s.slot = nullptr;
    RingBell(BELL_SCREENED);
}
} // namespace

BOOL ScreenBand(const GrayBand* band)
{
    if (band->kind == BAND_INPUT_END)
        return FALSE;
    JobInfo* slot = band->slot;
    if (gScreen.slot != slot)
        BeginSlotScreen(slot);
    if (band->kind == BAND_PAGE_DROPPED) {
        EndSlotScreen(SCREEN_DROPPED);
        return TRUE;
    }
    const bool last = band->first + band->lines >= slot->page_height;
    if (gScreen.running) {
        LineScreen* ls = &gScreen.lines;
        const DWORD width = slot->page_width, from = ls->finished;
        TakeCore(slot->PageIndex);
        for (DWORD i = 0; i < band->lines; ++i)
            LineScreenPush(ls, band->gray + (size_t)i * width, width);
        if (last)
            LineScreenEnd(ls, nullptr, TRUE);
        FinishPrintedLines(gScreen, from, ls->finished);
        GiveCore();
    }
    if (last) {
        EndSlotScreen(SCREEN_DONE);
    } else if (gScreen.running) {
        slot->linesScreened.store(gScreen.lines.finished, std::memory_order_release);
        RingBell(BELL_SCREENED);
    }
    return TRUE;
}

void* ScreenThread(void*)
{
    for (;;) {
        GrayBand* band = NextFilledBand();
        if (!band)
            break;
        BOOL more = ScreenBand(band);
        ReturnBand(band);
        if (!more)
            break;
    }
    return nullptr;
}

void* ImageProcThread(void* param)
{
    RunPageWorker(static_cast<JobInfo*>(param));
    pthread_exit(reinterpret_cast<void*>(1));
}

void RunPageWorker(JobInfo* lpJob)
{
    const DWORD page = lpJob->PageIndex;
    DbgMsg("ImageProcThread::image process thread page %d start", (int)page);
    DisplayPageInfo(&lpJob->inheader);
    DbgMsg("ImageProcThread::cupsBitsPerPixel %d", (int)lpJob->inheader.cupsBitsPerPixel);
    PageRecordCoder coder;
    StartPageRecord(lpJob, &coder);
    // Lines are coded as the screen makes them final.
    int state;
    for (;;) {
        uint64_t rings = BellRings(BELL_SCREENED);
        state = lpJob->screenState.load(std::memory_order_acquire);
        DWORD ready = lpJob->linesScreened.load(std::memory_order_acquire);
        if (coder.lineByLine && ready > coder.coded && !JobAbandoned()) {
            TakeCore(page);
            CodeRecordLines(&coder, ready);
            GiveCore();
            continue;
        }
        if (state != SCREEN_RUNNING || JobAbandoned())
            break;
        WaitForBell(rings, BELL_SCREENED);
    }
    if (state == SCREEN_RUNNING) {
        // The job was abandoned while the page was being screened. The screen
        // may still write its lines: the slot stays taken until the process
        // ends, and nobody frees the page under it.
        DropPageRecord(&coder);
        DbgMsg("ImageProcThread::exit image process thread page %d", (int)page);
        return;
    }
    // A page that cannot be coded is reported by the compression thread when
    // its turn comes, so that the pages before it still go out.
    if (state == SCREEN_DONE && !JobAbandoned()) {
        TakeCore(page);
        lpJob->lpRecord = FinishPageRecord(&coder, &lpJob->recordLen);
        GiveCore();
        // The record holds the page now.
        free(lpJob->lpbuf.exchange(nullptr, std::memory_order_acq_rel));
    } else {
        DropPageRecord(&coder);
    }
    TestHoldPage(page + 1);
    // Logged first: once the slot is handed over, the job may end before
    // this thread runs again.
    DbgMsg("ImageProcThread::exit image process thread page %d", (int)page);
    // Last touch of the slot: the compression thread (or main, for a page
    // that will not be printed) owns it from here.
    lpJob->finish.store(state == SCREEN_DROPPED ? SLOT_DROPPED : SLOT_PROCESSED, std::memory_order_release);
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
    if (slot->screenState.load(std::memory_order_acquire) == SCREEN_FAILED)
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
        if (state != SLOT_PROCESSED) {
            WaitForBell(rings);
            continue;
        }
        WriteSlotRecord(slot);
        DbgMsg("JbigThread::free index %d memory", (int)index);
        free(slot->lpRecord);
        slot->lpRecord = nullptr;
        free(slot->lpbuf.exchange(nullptr, std::memory_order_acq_rel));
        ReleasePageBytes(slot->pageBytes);
        slot->finish.store(SLOT_FREE, std::memory_order_release);
        RingPipelineBell();
        ++CurrentPage;
    }
    DbgMsg("JbigThread::job using %f sec", TickSeconds(jobtick));
    DbgMsg("JbigThread::exit print out %d pages", (int)CurrentPage);
    return nullptr;
}
