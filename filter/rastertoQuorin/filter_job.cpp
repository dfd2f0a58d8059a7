#include "filter_job.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <cups/cups.h>
#include <cups/ppd.h>

#include "core_share.h"
#include "gray_bands.h"
#include "header_fields.h"
#include "job_flags.h"
#include "job_memory.h"
#include "job_setup.h"
#include "job_status.h"
#include "page_pipeline.h"
#include "page_placement.h"
#include "page_record.h"
#include "pjl_job.h"
#include "printer_output.h"
#include "printer_stream.h"
#include "raster_input.h"
#include "raster_reader.h"
#include "spool_flush.h"
#include "spool_store.h"

namespace {

const char* kBanner = "Velorin's Filter 20180712";
// The image kernels keep a few lines and a DbgMsg buffer on the stack.
const size_t kWorkerStackSize = 512 * 1024;

// The state of one print job as the entry point owns it.
struct FilterJob {
    int argc;
    char** argv;
    int fd;
    RasterInput input;
    cups_raster_t* inras;
    ppd_file_t* ppd;
    int num_options;
    cups_option_t* options;
    char jobID[JOB_ID_SIZE];
    int numUP;
    BOOL bCollate;
    // A collation option was given; otherwise the first header's Collate decides.
    BOOL bCollateGiven;
    BOOL bDriverDoCollate;
    BOOL bDuplex;
    // Copies of the document the job asks for.
    DWORD nCopies;
    cups_page_header2_t inheader;
    // The header of the last page that was read whole: the blank back side
    // takes its geometry and media from it.
    cups_page_header2_t inheader_bak;
    DWORD page;
    DWORD FlushPage;
    JobInfo lpJob[MAX_JOB_SLOTS];
    pthread_t id;
    BOOL jbigStarted;
    // The screen's own thread; without it main screens each band it reads.
    pthread_t screenId;
    BOOL screenStarted;
    // Memory free for the job when its first page arrived.
    unsigned long long memory;
};

void OnCancel(int /*sig*/)
{
    int saved = errno;
    NoteJobCanceled();
    errno = saved;
}

// An abort: the JBIG coder's answer to a failed allocation, another fault
// inside the filter, or a SIGABRT from outside. Say which, and leave no spool
// file behind; only async-signal-safe calls.
void OnAbort(int sig, siginfo_t* info, void*)
{
    static const char coder[] = "ERROR: The filter was aborted, most likely because the JBIG coder ran out of "
                                "memory; give the print server more memory or print fewer pages at once.\n";
    static const char inside[] = "ERROR: The filter was aborted by an internal error.\n";
    static const char outside[] = "ERROR: The filter was stopped by a SIGABRT from another process.\n";
    const bool own = info && info->si_pid == getpid() && info->si_code != SI_USER;
    const char* msg = !own ? outside : InJbigCoder() ? coder : inside;
    ssize_t w = write(2, msg, strlen(msg));
    (void)w;
    if (const char* spool = SpoolPathForSignal())
        unlink(spool);
    signal(sig, SIG_DFL);
    raise(sig);
}

// The signals that end a job from outside: CUPS's cancel, and the abort.
sigset_t JobSignals(void)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGABRT);
    return set;
}

// CUPS cancels a job with SIGTERM. A closed backend must show as a failed
// write, not kill the filter in the middle of a page.
void InstallSignalHandlers(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = OnCancel;
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_sigaction = OnAbort;
    sa.sa_flags = SA_RESETHAND | SA_SIGINFO;
    sigaction(SIGABRT, &sa, nullptr);
    sa.sa_flags = 0;
    sa.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &sa, nullptr);
    // A file-size limit must fail the write (EFBIG) and so the job, with
    // its ERROR: line and the spool file removed, not kill the filter.
    sigaction(SIGXFSZ, &sa, nullptr);
    // A parent may start the filter with them blocked (a spawning thread's
    // mask is inherited); a cancel must still reach the job.
    sigset_t jobSignals = JobSignals();
    pthread_sigmask(SIG_UNBLOCK, &jobSignals, nullptr);
}

void OpenRaster(FilterJob* job)
{
    RasterInputFromFd(&job->input, job->fd);
    RasterOpenResult result;
    job->inras = OpenRasterInput(&job->input, &result);
    if (result == RASTER_OPEN_EMPTY)
        DbgMsg("main::the input is empty: no pages");
    else if (result == RASTER_OPEN_NOT_RASTER)
        JobFail(JOB_FAILURE_INPUT, "The input is not a CUPS raster stream; check that the queue uses this "
                "driver's printer description.");
    else if (result == RASTER_OPEN_READ_ERROR)
        JobFail(JOB_FAILURE_INPUT, "The print data could not be read (%s).", strerror(job->input.readErrno));
}

BOOL OpenJob(FilterJob* job, int argc, char** argv)
{
    memset(job->jobID, 0, sizeof job->jobID);
    DbgMsg("%s", kBanner);
    if (argc != 6 && argc != 7) {
        fputs("Usage: FILTER JOD_ID USERNAME DOC_TITLE COPIES OPTIONS [FILENAME]\n", stdout);
        return FALSE;
    }
    job->argc = argc;
    job->argv = argv;
    job->fd = 0;
    if (argc == 7) {
        // Opening a FIFO waits for its writer; a cancel meanwhile is a cancel.
        do
            job->fd = open(argv[6], O_RDONLY | O_CLOEXEC);
        while (job->fd < 0 && errno == EINTR && !JobCanceled());
        if (job->fd < 0) {
            if (!JobCanceled())
                perror("ERROR: Unable to open print file");
            return FALSE;
        }
    }
    DbgMsg("argc = %d", argc);
    for (int i = 0; i < argc; ++i)
        DbgMsg("argv[%d] = %s", i, argv[i]);
    // Longer ids are cut: the id only labels trace lines.
    strncpy(job->jobID, argv[1], JOB_ID_SIZE - 1);

    OpenRaster(job);

    const char* ppdPath = getenv("PPD");
    job->ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
    if (!job->ppd)
        DbgMsg("main::no PPD (%s): the job goes on without a JCL prefix", ppdPath ? ppdPath : "PPD unset");

    job->options = nullptr;
    job->num_options = cupsParseOptions(argv[5], 0, &job->options);
    DbgMsg("num_options = %d", job->num_options);
    for (int i = 0; i < job->num_options; ++i)
        DbgMsg("option(%d): %s = %s", i, job->options[i].name, job->options[i].value);
    job->numUP = 1;
    job->bCollate = FALSE;
    ScanJobOptions(job->num_options, job->options, &job->numUP, &job->bCollate, &job->bCollateGiven);

    ppdMarkDefaults(job->ppd);
    cupsMarkOptions(job->ppd, job->num_options, job->options);

    job->FlushPage = 0;
    gSaveToFile.store(FALSE, std::memory_order_release);
    gOutputSize = 0;
    gJbigThreadExit.store(FALSE, std::memory_order_release);
    gMAX_THREAD.store(1, std::memory_order_release);
    for (DWORD i = 0; i < MAX_JOB_SLOTS; ++i)
        InitJobSlot(&job->lpJob[i], i);

    job->page = 0;
    job->bDriverDoCollate = FALSE;
    job->bDuplex = FALSE;
    job->nCopies = 0;
    job->jbigStarted = FALSE;
    job->screenStarted = FALSE;
    return TRUE;
}

// Signals from outside (CUPS's cancel, a kill) are left to main, which
// outlives every other thread. abort() unblocks SIGABRT itself, so the JBIG
// coder's abort still reaches the handler on the thread that aborts.
int StartThreadWithoutJobSignals(pthread_t* tid, const pthread_attr_t* attr, void* (*run)(void*), void* arg)
{
    sigset_t block = JobSignals(), old;
    pthread_sigmask(SIG_BLOCK, &block, &old);
    int rc = pthread_create(tid, attr, run, arg);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return rc;
}

BOOL StartCompressionThread(FilterJob* job)
{
    LogRing(job->lpJob);
    int rc = StartThreadWithoutJobSignals(&job->id, nullptr, JbigThread, job->lpJob);
    if (rc != 0) {
        DbgMsg("main::pthread_create JbigThread failed: %s", strerror(rc));
        return FALSE;
    }
    job->jbigStarted = TRUE;
    return TRUE;
}

// The gray band ring and the screen's thread; without the thread, main
// screens the bands itself.
void StartScreen(FilterJob* job)
{
    OpenGrayBands();
    int rc = StartThreadWithoutJobSignals(&job->screenId, nullptr, ScreenThread, nullptr);
    if (rc != 0)
        DbgMsg("main::pthread_create ScreenThread failed: %s; main screens the bands", strerror(rc));
    job->screenStarted = rc == 0;
}

// Hands a filled band to the screen, or screens it here.
void PassGrayBand(FilterJob* job, GrayBand* band)
{
    PassBand(band);
    if (job->screenStarted)
        return;
    GrayBand* next = NextFilledBand();
    if (next) {
        ScreenBand(next);
        ReturnBand(next);
    }
}

// No page follows: the screen's thread ends.
void EndScreen(FilterJob* job)
{
    if (!job->screenStarted)
        return;
    // An abandoned job's screen stops at its next band by itself.
    BOOL noMemory;
    if (GrayBand* band = NextEmptyBand(0, &noMemory)) {
        band->kind = BAND_INPUT_END;
        band->slot = nullptr;
        PassBand(band);
    }
    pthread_join(job->screenId, nullptr);
    job->screenStarted = FALSE;
}

// Steps taken once, when the first page header has arrived. FALSE when the
// job cannot be printed at all; nothing has reached the printer then.
BOOL FirstPageDecisions(FilterJob* job)
{
    cups_page_header2_t* h = &job->inheader;
    job->nCopies = JobCopies(h->NumCopies, job->argv[4]);
    DbgMsg("main::copies = %u", (unsigned)job->nCopies);
    if (job->nCopies > MAX_JOB_COPIES) {
        JobFail(JOB_FAILURE_INPUT, "The job asks for more than %u copies, which this printer does not accept; "
                "print fewer copies.", (unsigned)MAX_JOB_COPIES);
        return FALSE;
    }
    // The job header tells the printer the resolution of every page.
    if (!PrinterResolution(h)) {
        JobFail(JOB_FAILURE_INPUT, "The job's resolution, %u x %u dpi, is not one this printer prints (600 or "
                "1200 dpi); nothing was printed.", h->HWResolution[0], h->HWResolution[1]);
        return FALSE;
    }
    BOOL collate = job->bCollateGiven ? job->bCollate : (HeaderValue(h->Collate) ? TRUE : FALSE);
    job->bDriverDoCollate = DriverDoesCollate(collate, job->nCopies);
    job->bDuplex = HeaderValue(h->Duplex) ? TRUE : FALSE;
    // Pages go through the spool when their order or number changes here;
    // without it the job cannot be printed as asked, so it must exist before
    // anything reaches the printer.
    if ((job->bDuplex || job->bDriverDoCollate) && !CreateSpoolFile())
        return FALSE;
    gSideCopies.store(PrinterCopies(h, job->argv[4], job->bDriverDoCollate), std::memory_order_release);
    PJL_WriteStartJobCmd_Quorin(&job->inheader, job->numUP, job->argv[0], job->argv[2], job->argv[3],
                                job->argv[4], job->bDriverDoCollate);
    if (job->ppd && job->ppd->jcl_begin) {
        size_t len = strlen(job->ppd->jcl_begin);
        DbgMsg("jcl_begin = %s, len = %d", job->ppd->jcl_begin, (int)len);
        const char esc = 0x1B;
        WritePrinterData(&esc, 1);
        WritePrinterData(job->ppd->jcl_begin, len);
    }
    // Page bitmaps are sheet-sized even when the raster is not.
    const PagePlacement sheet = PlacePageOnSheet(h);
    unsigned long long available = AvailableJobMemory();
    job->memory = available;
    int slots = std::min(ComputeMaxThread(sheet.width, sheet.height, available), PagesInFlight());
    DbgMsg("gMAX_THREAD = %d", slots);
    gMAX_THREAD.store(slots, std::memory_order_release);
    SetPageBudget(available);
    return TRUE;
}

// Waits, looking again at each ring of the bell, until `ready` holds. FALSE
// when the job stopped first.
template <class Ready>
BOOL WaitUntilReady(Ready ready)
{
    for (;;) {
        uint64_t rings = BellRings();
        if (ready())
            return TRUE;
        if (JobAbandoned())
            return FALSE;
        WaitForBell(rings);
    }
}

// Waits until the slot of the next page is free and the page fits the
// memory budget, and fills the slot. NULL when the job stopped meanwhile.
JobInfo* TakeSlot(FilterJob* job, unsigned long long bytes)
{
    DWORD CurrentPage = job->page % (DWORD)gMAX_THREAD.load(std::memory_order_acquire);
    DbgMsg("main::start page %d / index %d!", (int)job->page, (int)CurrentPage);
    JobInfo* slot = &job->lpJob[CurrentPage];
    BOOL ready = WaitUntilReady([&] {
        DWORD state = slot->finish.load(std::memory_order_acquire);
        if (state == SLOT_FREE && PageFitsBudget(bytes))
            return true;
        DbgMsg("main::wait buffer index %d!", (int)CurrentPage);
        DbgMsg("main::lpbuf = %d!", slot->lpbuf.load(std::memory_order_acquire) ? 1 : 0);
        DbgMsg("main::finish = %d!", (int)state);
        return false;
    });
    if (!ready)
        return nullptr;
    DbgMsg("main::using buffer index %d!", (int)CurrentPage);
    slot->PageThreadId = 0;
    DbgMsg("main::end search buffer index %d!", (int)CurrentPage);
    memcpy(slot->jobID, job->jobID, sizeof slot->jobID);
    slot->PageIndex = job->page;
    slot->pageBytes = bytes;
    ReservePageBytes(bytes);
    slot->finish.store(SLOT_TAKEN, std::memory_order_release);
    slot->inras = job->inras;
    slot->inheader = job->inheader;
    return slot;
}

// Frees a slot whose page will not go on (read failure).
void ReleaseSlot(JobInfo* slot)
{
    free(slot->lpbuf.exchange(nullptr, std::memory_order_acq_rel));
    ReleasePageBytes(slot->pageBytes);
    slot->finish.store(SLOT_FREE, std::memory_order_release);
}

// Waits until every page before `slot` has been written. FALSE when none
// was in flight, or the job stopped meanwhile.
BOOL WaitForEarlierPages(const JobInfo* slot)
{
    if (PageBytesInFlight() <= slot->pageBytes)
        return FALSE;
    DbgMsg("main::page %d waits for the pages in flight to free their memory", (int)slot->PageIndex + 1);
    return WaitUntilReady([slot] { return PageBytesInFlight() <= slot->pageBytes; });
}

// How an input failure's sentence ends: what reached the printer.
const char* PrintedBefore(const FilterJob* job)
{
    return job->page ? "the pages before it were printed" : "nothing was printed";
}

void ReportHeaderEnd(const FilterJob* job, RasterHeaderResult r)
{
    unsigned next = (unsigned)job->page + 1;
    if (r == RASTER_HEADER_CUT)
        JobFail(JOB_FAILURE_INPUT, "The print data ended inside the header of page %u; %s.", next,
                PrintedBefore(job));
    else if (r == RASTER_HEADER_DAMAGED)
        JobFail(JOB_FAILURE_INPUT, "The raster header of page %u is damaged; %s.", next, PrintedBefore(job));
    else if (r == RASTER_HEADER_READ_ERROR)
        JobFail(JOB_FAILURE_INPUT, "The print data could not be read at page %u (%s); %s.", next,
                strerror(job->input.readErrno), PrintedBefore(job));
}

// Why a page could not be read, in the user's words.
void ReportReadFailure(FilterJob* job, const PageReadError& err)
{
    unsigned pageNo = (unsigned)job->page + 1;
    if (err.kind == PAGE_READ_STOPPED)
        return;
    DbgMsg("GetCUPSPageData fail!");
    if (err.kind == PAGE_READ_CUT && job->input.readErrno)
        JobFail(JOB_FAILURE_INPUT, "The print data could not be read inside page %u (%s); %s.", pageNo,
                strerror(job->input.readErrno), PrintedBefore(job));
    else if (err.kind == PAGE_READ_CUT)
        JobFail(JOB_FAILURE_INPUT, "The print data ended inside page %u; %s.", pageNo, PrintedBefore(job));
    else
        JobFail(JOB_FAILURE_INPUT, "Page %u cannot be printed (%s); %s.", pageNo, err.reason, PrintedBefore(job));
}

// The slot's one-bit page, which the screen fills and the worker codes. A
// page that finds no memory while earlier pages hold theirs waits for them
// and tries again.
BOOL AllocOneBitPage(JobInfo* slot, PageReadError* err)
{
    const DWORD linebyte = GetBMPBytesPerLine(1, (LONG)slot->page_width);
    const size_t bytes = (size_t)linebyte * slot->page_height;
    BYTE* bits = static_cast<BYTE*>(malloc(bytes));
    if (!bits && WaitForEarlierPages(slot))
        bits = static_cast<BYTE*>(malloc(bytes));
    if (!bits) {
        DbgMsg("GetCUPSPageData::no memory for a page of %llu bytes", (unsigned long long)bytes);
        *err = PageReadError{PAGE_READ_NO_MEMORY, "not enough memory"};
        return FALSE;
    }
    slot->linebyte = linebyte;
    slot->pagesize = (DWORD)bytes;
    slot->linesScreened.store(0, std::memory_order_release);
    slot->screenState.store(SCREEN_RUNNING, std::memory_order_release);
    slot->lpbuf.store(bits, std::memory_order_release);
    return TRUE;
}

// The page's worker, on its own thread. FALSE when no thread started: the
// caller runs it once the page's lines are all passed on.
BOOL StartWorker(JobInfo* slot)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kWorkerStackSize);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t tid;
    int rc = StartThreadWithoutJobSignals(&tid, &attr, ImageProcThread, slot);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        DbgMsg("main::pthread_create failed: %s; the page is processed here", strerror(rc));
        return FALSE;
    }
    slot->PageThreadId = tid;
    DbgMsg("main::pthread_create, id = %d", (int)(long)tid);
    return TRUE;
}

// Reads the slot's page a band at a time and passes the bands to the screen;
// its worker codes the lines as they are screened. No gray page is held
// whole. FALSE when the page could not be read (reported); the slot is then
// free again, or left to the process's end when the job was abandoned.
BOOL StreamPage(FilterJob* job, JobInfo* slot)
{
    DWORD tick = GetTickCount();
    DbgMsg("main::GetCUPSPageData start");
    PageReadError err = {PAGE_READ_OK, ""};
    PageLineReader reader;
    if (!SetPageGeometry(slot, &err) || !AllocOneBitPage(slot, &err) || !OpenPageLines(slot, &reader, &err)) {
        ReportReadFailure(job, err);
        ReleaseSlot(slot);
        return FALSE;
    }
    const BOOL worker = StartWorker(slot);
    const DWORD perBand = BandLines(slot->page_width);
    BOOL ok = TRUE, passed = TRUE;
    for (DWORD y = 0; ok && y < slot->page_height; y += perBand) {
        BOOL noMemory;
        GrayBand* band = NextEmptyBand((size_t)std::min(perBand, slot->page_height) * slot->page_width, &noMemory);
        if (!band && noMemory) {
            // The screen still has to hear that the page stops.
            err = PageReadError{PAGE_READ_NO_MEMORY, "not enough memory"};
            ok = FALSE;
            band = NextEmptyBand(0, &noMemory);
        }
        if (!band) {
            err = PageReadError{PAGE_READ_STOPPED, "the job stopped"};
            ok = passed = FALSE;
            break;
        }
        band->slot = slot;
        band->first = y;
        band->lines = std::min(perBand, slot->page_height - y);
        if (ok) {
            TakeCore(slot->PageIndex);
            ok = ReadPageLines(&reader, band->gray, slot->page_width, band->lines, &err);
            GiveCore();
        }
        band->kind = ok ? BAND_LINES : BAND_PAGE_DROPPED;
        PassGrayBand(job, band);
    }
    ClosePageLines(&reader);
    if (ok)
        DbgMsg("GetCUPSPageData Out, using %f sec, rc = %d", TickSeconds(tick), 1);
    if (!worker && passed)
        RunPageWorker(slot);
    if (ok)
        return TRUE;
    ReportReadFailure(job, err);
    // The worker lets go of the page once the screen has dropped it.
    if (WaitUntilReady([slot] { return slot->finish.load(std::memory_order_acquire) == SLOT_DROPPED; }))
        ReleaseSlot(slot);
    return FALSE;
}

SpoolSheets Sheets(const FilterJob* job)
{
    return SpoolSheets{job->bDuplex, job->page};
}

void PageLoop(FilterJob* job)
{
    if (!job->inras)
        return;
    while (!JobStopsReading()) {
        RasterHeaderResult r = ReadRasterHeader(&job->input, job->inras, &job->inheader);
        if (r != RASTER_HEADER_OK) {
            ReportHeaderEnd(job, r);
            break;
        }
        NormalizeJobHeader(&job->inheader);
        DbgMsg("Start Page = %d / Copies = %d", (int)job->page, (int)job->inheader.NumCopies);
        if (job->page == 0 && !FirstPageDecisions(job))
            break;
        if (job->page > 0 &&
            memcmp(job->inheader.HWResolution, job->inheader_bak.HWResolution, sizeof job->inheader.HWResolution)) {
            JobFail(JOB_FAILURE_INPUT, "Page %u has a resolution of %u x %u dpi, where the job started at %u dpi; "
                    "%s.", (unsigned)job->page + 1, job->inheader.HWResolution[0], job->inheader.HWResolution[1],
                    job->inheader_bak.HWResolution[0], PrintedBefore(job));
            break;
        }

        const PagePlacement sheet = PlacePageOnSheet(&job->inheader);
        const unsigned long long bytes = PageReckoning(PadToPageAlign(sheet.width), PadToPageAlign(sheet.height));
        // Taking more than the process may have would not fail cleanly: in a
        // memory cgroup the kernel kills the filter without a word.
        if (!PageFitsAlone(bytes)) {
            JobFail(JOB_FAILURE_INPUT, "Page %u needs about %llu MB of memory (its one-bit page, room for its "
                    "coded data and the gray bands), more than the %llu MB free for the filter; %s.",
                    (unsigned)job->page + 1, bytes >> 20, job->memory >> 20,
                    PrintedBefore(job));
            break;
        }
        JobInfo* slot = TakeSlot(job, bytes);
        if (!slot)
            break;
        if (!StreamPage(job, slot))
            break;
        job->inheader_bak = job->inheader;
        ++job->page;
        // The printer waits for the first page and for nothing else as long:
        // it is made alone, with every core, before the next is read. On a
        // shared machine reading ahead would slow it; later pages have the
        // time the engine takes to print it.
        if (job->page == 1 && !JobAbandoned()) {
            DbgMsg("main::page 1 goes out alone: page 2 waits until it is coded");
            WaitUntilReady([slot] { return slot->finish.load(std::memory_order_acquire) != SLOT_TAKEN; });
        }
        if (gSaveToFile.load(std::memory_order_acquire) && job->page % 2 == 0) {
            SpoolSheets sheets = Sheets(job);
            PJL_FlushPage(&job->FlushPage, &sheets, gSideCopies.load(std::memory_order_acquire));
        }
    }
}

// Waits until the last page has been written, then stops the compression thread.
void WaitForPipeline(FilterJob* job)
{
    DbgMsg("main::start wait image thread");
    // A stopped job drops the pages still in flight: the compression thread
    // finishes the record it is writing and stops.
    if (job->page > 0) {
        DWORD index = (job->page - 1) % (DWORD)gMAX_THREAD.load(std::memory_order_acquire);
        const JobInfo* slot = &job->lpJob[index];
        WaitUntilReady([slot, index] {
            DbgMsg("main::page %d status %d", (int)index, (int)slot->finish.load(std::memory_order_acquire));
            if (slot->finish.load(std::memory_order_acquire) == SLOT_FREE)
                return true;
            DbgMsg("main::image process page %d not yet...", (int)slot->PageIndex);
            DbgMsg("main::image process page index %d not yet...", (int)index);
            return false;
        });
    }
    DbgMsg("main::end wait thread (new)");
    DbgMsg("main::page = %d", (int)job->page);
    gJbigThreadExit.store(TRUE, std::memory_order_release);
    DbgMsg("main::end wait thread, gJbigThreadExit = %d", 1);
    RingPipelineBell();
    if (job->jbigStarted)
        pthread_join(job->id, nullptr);
    DbgMsg("main::jbigthread stop");
}

// The rest of the first copy, then the further collated copies.
void SendSpooledPages(FilterJob* job)
{
    if (JobAbandoned())
        return;
    const BOOL spooled = gSaveToFile.load(std::memory_order_acquire);
    // An odd duplex job: a blank back side completes the last sheet.
    if (spooled && job->bDuplex && job->page % 2 == 1 &&
        !PJL_SaveBlankPage(reinterpret_cast<BYTE*>(job->jobID), job->page, job->inheader_bak))
        return;
    // Without a spool file there is nothing left to send.
    SpoolSheets sheets = Sheets(job);
    if (!PJL_FlushPage(&job->FlushPage, &sheets, gSideCopies.load(std::memory_order_acquire)) || !spooled)
        return;
    // After an unreadable page only the pages before it are sent, once.
    const bool copies = JobFailure() == JOB_FAILURE_NONE && job->bDriverDoCollate;
    ReplaySpooledCopies(copies ? job->nCopies : 1, job->bDriverDoCollate, &sheets);
}

void EndJob(FilterJob* job)
{
    SendSpooledPages(job);
    // The trailer closes every job whose header went out, also one whose
    // first page was unreadable, so the printer is not left inside the job.
    if (JobHeaderWritten())
        PJL_WriteCloseJobCmd(&job->inheader);
}

void CleanUp(FilterJob* job)
{
    cupsFreeOptions(job->num_options, job->options);
    DbgMsg("main::cupsFreeOptions");
    if (job->inras)
        cupsRasterClose(job->inras);
    DbgMsg("main::cupsRasterClose");
    if (job->fd != 0)
        close(job->fd);
    if (job->ppd)
        ppdClose(job->ppd);
    RemoveSpoolFile();
}

// The job's one verdict: a cancelled job ends quietly with 0, as CUPS
// filters do; a failed one with its one ERROR: line and 1.
int ExitStatus(void)
{
    if (JobCanceled()) {
        DbgMsg("main::job canceled");
        return 0;
    }
    if (JobFailure() == JOB_FAILURE_NONE)
        return 0;
    fprintf(stderr, "ERROR: %s\n", JobFailureText());
    return 1;
}

} // namespace

int RunFilter(int argc, char** argv)
{
    // The ring must outlive every worker, which is never joined.
    static FilterJob job;
    OpenJobStopPipe();
    InstallSignalHandlers();
    KeepPageBuffersInHeap();
    SetJobCores((int)sysconf(_SC_NPROCESSORS_ONLN));
    if (!OpenJob(&job, argc, argv))
        return JobCanceled() ? ExitStatus() : 1;
    if (!StartCompressionThread(&job)) {
        JobFail(JOB_FAILURE_PAGE, "The filter could not start its compression thread; try again when the "
                "print server has more resources.");
    } else {
        StartScreen(&job);
        PageLoop(&job);
        EndScreen(&job);
        WaitForPipeline(&job);
        EndJob(&job);
    }
    CleanUp(&job);
    return ExitStatus();
}
