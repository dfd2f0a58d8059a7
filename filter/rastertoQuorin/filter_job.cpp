#include "filter_job.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "job_flags.h"
#include "job_setup.h"
#include "page_pipeline.h"
#include "pjl_job.h"
#include "printer_output.h"
#include "raster_reader.h"
#include "spool_flush.h"
#include "spool_store.h"

namespace {

const char* kBanner = "Velorin's Filter 20180712";

// One line a person reads in the job's state message; the scheduler shows it.
void ReportError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void ReportError(const char* fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    for (char* p = text; *p; ++p)
        if ((unsigned char)*p < 0x20)
            *p = ' ';
    fprintf(stderr, "ERROR: %s\n", text);
}

void OnCancel(int /*sig*/)
{
    // Only a lock-free store is safe here; the loops look at the flag.
    gJobCanceled.store(TRUE, std::memory_order_release);
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
    sa.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &sa, nullptr);
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
        job->fd = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (job->fd < 0) {
            perror("ERROR: Unable to open print file");
            return FALSE;
        }
    }
    DbgMsg("argc = %d", argc);
    for (int i = 0; i < argc; ++i)
        DbgMsg("argv[%d] = %s", i, argv[i]);
    // Longer ids are cut: the id only labels trace lines.
    strncpy(job->jobID, argv[1], JOB_ID_SIZE - 1);

    job->inras = cupsRasterOpen(job->fd, CUPS_RASTER_READ);

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
    ScanJobOptions(job->num_options, job->options, &job->numUP, &job->bCollate);

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
    job->failed = FALSE;
    job->jbigStarted = FALSE;
    return TRUE;
}

BOOL StartCompressionThread(FilterJob* job)
{
    LogRing(job->lpJob);
    int rc = pthread_create(&job->id, nullptr, JbigThread, job->lpJob);
    if (rc != 0) {
        DbgMsg("main::pthread_create JbigThread failed: %s", strerror(rc));
        return FALSE;
    }
    job->jbigStarted = TRUE;
    return TRUE;
}

// Steps taken once, when the first page header has arrived.
void FirstPageDecisions(FilterJob* job)
{
    cups_page_header2_t* h = &job->inheader;
    job->bDriverDoCollate = DriverDoesCollate(job->bCollate, h->NumCopies);
    job->nCopies = h->NumCopies;
    PJL_WriteStartJobCmd_Quorin(&job->inheader, job->numUP, job->argv[0], job->argv[2], job->argv[3],
                                job->argv[4], job->bDriverDoCollate);
    job->bDuplex = h->Duplex ? TRUE : FALSE;
    // Pages go through the spool when their order or number changes here.
    if (job->bDuplex || job->bDriverDoCollate)
        CreateSpoolFile();
    if (job->ppd && job->ppd->jcl_begin) {
        size_t len = strlen(job->ppd->jcl_begin);
        DbgMsg("jcl_begin = %s, len = %d", job->ppd->jcl_begin, (int)len);
        const char esc = 0x1B;
        WritePrinterData(&esc, 1);
        WritePrinterData(job->ppd->jcl_begin, len);
    }
    job->referSize = h->cupsWidth * h->cupsHeight * 2u;
    gMAX_THREAD.store(ComputeMaxThread(h->cupsWidth, h->cupsHeight, getTotalSystemMemory()),
                      std::memory_order_release);
}

// Waits until the slot of the next page is free and fills it. Returns it.
JobInfo* TakeSlot(FilterJob* job)
{
    DWORD CurrentPage = job->page % (DWORD)gMAX_THREAD.load(std::memory_order_acquire);
    DbgMsg("main::start page %d / index %d!", (int)job->page, (int)CurrentPage);
    JobInfo* slot = &job->lpJob[CurrentPage];
    for (;;) {
        DWORD state = slot->finish.load(std::memory_order_acquire);
        if (state != SLOT_TAKEN && state != SLOT_PROCESSED)
            break;
        if (gJobCanceled.load(std::memory_order_acquire))
            return nullptr;
        DbgMsg("main::wait buffer index %d!", (int)CurrentPage);
        DbgMsg("main::lpbuf = %d!", slot->lpbuf.load(std::memory_order_acquire) ? 1 : 0);
        DbgMsg("main::finish = %d!", (int)state);
        Sleep(POLL_MSEC);
    }
    DbgMsg("main::using buffer index %d!", (int)CurrentPage);
    slot->PageThreadId = 0;
    DbgMsg("main::end search buffer index %d!", (int)CurrentPage);
    memcpy(slot->jobID, job->jobID, sizeof slot->jobID);
    slot->PageIndex = job->page;
    slot->finish.store(SLOT_TAKEN, std::memory_order_release);
    slot->inras = job->inras;
    slot->inheader = job->inheader;
    return slot;
}

// Frees a slot whose page will not go on (read failure, no worker).
void ReleaseSlot(JobInfo* slot)
{
    free(slot->lpbuf.exchange(nullptr, std::memory_order_acq_rel));
    slot->finish.store(SLOT_FREE, std::memory_order_release);
}

BOOL Canceled(void)
{
    if (!gJobCanceled.load(std::memory_order_acquire))
        return FALSE;
    DbgMsg("main::job canceled");
    return TRUE;
}

// libcups reports a damaged header like the end of the stream; data left
// behind it tells the two apart.
BOOL InputHasMoreData(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        off_t pos = lseek(fd, 0, SEEK_CUR);
        return pos >= 0 && pos < st.st_size ? TRUE : FALSE;
    }
    char c;
    ssize_t n;
    do
        n = read(fd, &c, 1);
    while (n < 0 && errno == EINTR);
    return n > 0 ? TRUE : FALSE;
}

BOOL ReadNextHeader(FilterJob* job)
{
    if (Canceled())
        return FALSE;
    if (cupsRasterReadHeader2(job->inras, &job->inheader))
        return TRUE;
    if (InputHasMoreData(job->fd)) {
        DbgMsg("main::page %d header cannot be read", (int)job->page + 1);
        ReportError("Page %d cannot be printed: its raster header is damaged. The pages before it "
                    "were sent; check the document or the application that printed it.",
                    (int)job->page + 1);
        job->failed = TRUE;
    }
    return FALSE;
}

void PageLoop(FilterJob* job)
{
    while (ReadNextHeader(job)) {
        DbgMsg("Start Page = %d / Copies = %d", (int)job->page, (int)job->inheader.NumCopies);
        job->inheader_bak = job->inheader;
        if (job->page == 0)
            FirstPageDecisions(job);

        JobInfo* slot = TakeSlot(job);
        if (!slot)
            break; // canceled while waiting for a free slot
        DbgMsg("main::GetCUPSPageData start");
        const char* reason = "unknown";
        if (!GetCUPSPageData(slot, &reason)) {
            if (Canceled()) {
                ReleaseSlot(slot);
                break;
            }
            DbgMsg("GetCUPSPageData fail!");
            ReportError("Page %d cannot be printed: %s. The pages before it were sent; check the "
                        "document or the application that printed it.",
                        (int)job->page + 1, reason);
            ReleaseSlot(slot);
            job->failed = TRUE;
            break;
        }
        slot->linebyteLeft = slot->page_width - slot->inheader.cupsWidth;
        ++job->page;

        pthread_t tid;
        int rc = pthread_create(&tid, nullptr, ImageProcThread, slot);
        if (rc != 0) {
            DbgMsg("main::pthread_create failed: %s", strerror(rc));
            ReportError("Page %d cannot be processed: no thread could be started (%s).",
                        (int)job->page, strerror(rc));
            --job->page;
            ReleaseSlot(slot);
            job->failed = TRUE;
            break;
        }
        pthread_detach(tid);
        slot->PageThreadId = tid;
        DbgMsg("main::pthread_create, id = %d", (int)(long)tid);
        if (gSaveToFile.load(std::memory_order_acquire)) {
            if (job->page % 2 == 0)
                PJL_FlushPage(&job->FlushPage, job->bDuplex);
            // Without the spool or the printer stream the job cannot be completed.
            if (SpoolFailed() || PrinterOutputFailed())
                break;
        }
    }
}

// Waits until the last page has been written, then stops the compression thread.
void WaitForPipeline(FilterJob* job)
{
    DbgMsg("main::start wait image thread");
    // A canceled job drops the pages still in flight: the compression thread
    // finishes the record it is writing and stops.
    if (job->page > 0 && !gJobCanceled.load(std::memory_order_acquire)) {
        DWORD index = (job->page - 1) % (DWORD)gMAX_THREAD.load(std::memory_order_acquire);
        JobInfo* slot = &job->lpJob[index];
        for (;;) {
            DbgMsg("main::page %d status %d", (int)index, (int)slot->finish.load(std::memory_order_acquire));
            if (!slot->lpbuf.load(std::memory_order_acquire))
                break;
            DbgMsg("main::image process page %d not yet...", (int)slot->PageIndex);
            DbgMsg("main::image process page index %d not yet...", (int)index);
            if (Canceled())
                break;
            Sleep(POLL_MSEC);
        }
    }
    DbgMsg("main::end wait thread (new)");
    DbgMsg("main::page = %d", (int)job->page);
    gJbigThreadExit.store(TRUE, std::memory_order_release);
    DbgMsg("main::end wait thread, gJbigThreadExit = %d", 1);
    if (job->jbigStarted)
        pthread_join(job->id, nullptr);
    DbgMsg("main::jbigthread stop");
}

// The rest of the first copy, then the further collated copies.
void SendSpooledPages(FilterJob* job)
{
    // A cancelled job or a broken spool or printer stream ends with the trailer.
    if (gJobCanceled.load(std::memory_order_acquire) || SpoolFailed() || PrinterOutputFailed())
        return;
    BOOL spooled = gSaveToFile.load(std::memory_order_acquire);
    // An odd duplex job: a blank back side completes the last sheet.
    if (spooled && job->bDuplex && job->page % 2 == 1 &&
        !PJL_SaveBlankPage(reinterpret_cast<BYTE*>(job->jobID), job->page, job->inheader_bak))
        return;
    if (!PJL_FlushPage(&job->FlushPage, job->bDuplex))
        return;
    // After an unreadable page only the pages before it are sent, once.
    if (spooled && !job->failed)
        ReplaySpooledCopies(job->nCopies, job->bDriverDoCollate, job->bDuplex);
}

void EndJob(FilterJob* job)
{
    SendSpooledPages(job);
    // The trailer closes every job whose header went out, also one whose
    // first page was unreadable, so the printer is not left inside the job.
    if (PJL_JobHeaderWritten())
        PJL_WriteCloseJobCmd(&job->inheader);
}

int CleanUp(FilterJob* job, int status)
{
    cupsFreeOptions(job->num_options, job->options);
    DbgMsg("main::cupsFreeOptions");
    cupsRasterClose(job->inras);
    DbgMsg("main::cupsRasterClose");
    if (job->fd != 0)
        close(job->fd);
    if (job->ppd)
        ppdClose(job->ppd);
    RemoveSpoolFile();
    if (!FlushPrinterData() && status == 0) {
        ReportError("The printer stream could not be written: %s.", strerror(errno));
        status = 1;
    }
    return status;
}

} // namespace

int RunFilter(int argc, char** argv)
{
    // The ring must outlive every worker, which is never joined.
    static FilterJob job;
    InstallSignalHandlers();
    KeepPageBuffersInHeap();
    if (!OpenJob(&job, argc, argv))
        return 1;
    if (!StartCompressionThread(&job)) {
        ReportError("The filter could not start its compression thread; try again when the "
                    "print server has more resources.");
        return CleanUp(&job, 1);
    }
    PageLoop(&job);
    WaitForPipeline(&job);
    EndJob(&job);
    int status = job.failed ? 1 : 0;
    if (SpoolFailed() && status == 0) {
        ReportError("The job's spool file failed (%s); the pages after the failure were not printed.",
                    SpoolFailureReason());
        status = 1;
    }
    if (PipelineFailed() && status == 0) {
        ReportError("Some pages could not be processed; see the debug log for details.");
        status = 1;
    }
    return CleanUp(&job, status);
}
