#include "page_pipeline.h"

#include <atomic>
#include <cstdlib>

#include "page_record.h"
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

void ProcessPageImage(JobInfo* /*lpJob*/)
{
    // Image processing plugs in here.
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

void* JbigThread(void* param)
{
    JobInfo* jobMem = static_cast<JobInfo*>(param);
    DWORD jobtick = GetTickCount();
    for (int i = 0; i < MAX_JOB_SLOTS; ++i) {
        DbgMsg("JbigThread::[%d]finish = %d", i, (int)jobMem[i].finish.load(std::memory_order_acquire));
        DbgMsg("JbigThread::[%d]PageIndex = %d", i, (int)jobMem[i].PageIndex);
    }
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
        BYTE* record = BuildPageRecord(slot, &len);
        if (!record) {
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
