#include "job_info.h"

#include <cstring>

BOOL ScreenSlotPage(JobInfo* job, PageScreen screen)
{
    const cups_page_header2_t* h = &job->inheader;
    PageView page = SlotPage(job);
    BOOL rc = screen(&page, (LONG)h->cupsCompression, h->cupsInteger[0] != 0);
    job->linebyte = page.stride;
    return rc;
}

void InitJobSlot(JobInfo* job, DWORD index)
{
    job->PageIndex = index;
    memset(job->jobID, 0, sizeof job->jobID);
    job->inras = nullptr;
    memset(&job->inheader, 0, sizeof job->inheader);
    job->lpbuf.store(nullptr, std::memory_order_release);
    job->page_width = 0;
    job->page_height = 0;
    job->linebyte = 0;
    job->pagesize = 0;
    job->linebyteLeft = 0;
    job->rasterLeft = 0;
    job->rasterTop = 0;
    job->finish.store(SLOT_FREE, std::memory_order_release);
    job->PageThreadId = 0;
    job->lpRecord = nullptr;
    job->recordLen = 0;
    job->pageBytes = 0;
    job->linesScreened.store(0, std::memory_order_release);
    job->screenState.store(SCREEN_RUNNING, std::memory_order_release);
}
