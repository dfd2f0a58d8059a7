#include "spool_flush.h"

#include <cstdlib>
#include <cstring>

#include "job_flags.h"
#include "job_info.h"
#include "page_pipeline.h"
#include "page_record.h"
#include "printer_output.h"
#include "spool_store.h"

namespace {
BOOL CancelRequested(void)
{
    return gJobCanceled.load(std::memory_order_acquire);
}

// Sends spooled record index to standard output as one page record. FALSE
// when the spool or the output failed; the job cannot go on then.
BOOL SendSpooledRecord(DWORD index, const char* who)
{
    DWORD size = GetPageDataSize(index);
    DbgMsg("%s::Page[%d] pageSize = %d", who, (int)index, (int)size);
    if (size == 0) {
        if (!SpoolFailed())
            NoteSpoolFailure("spooled page record not found");
        return FALSE;
    }
    char* buf = static_cast<char*>(malloc(size));
    if (!buf) {
        // Leaving the page out keeps the rest of the job going, but the job
        // is then incomplete and must not end as a success.
        NotePipelineFailure("no memory to send a spooled page", index);
        return TRUE;
    }
    BOOL ok = GetPageData(index, size, buf) && WritePageRecord(buf, size);
    free(buf);
    return ok;
}
} // namespace

BOOL PJL_SaveBlankPage(BYTE* jobID, DWORD page_index, cups_page_header2_t inheader)
{
    DbgMsg("PJL_SaveBlankPage::In");
    // A slot of its own with no bitmap: the header writer counts 0 black dots.
    JobInfo blank;
    InitJobSlot(&blank, page_index);
    strncpy(blank.jobID, reinterpret_cast<const char*>(jobID), JOB_ID_SIZE - 1);
    blank.inheader = inheader;
    blank.finish.store(SLOT_TAKEN, std::memory_order_relaxed);
    blank.page_width = PadToPageAlign(inheader.cupsWidth);
    blank.page_height = PadToPageAlign(inheader.cupsHeight);
    DbgMsg("PJL_SaveBlankPage::page_width = %d", (int)blank.page_width);
    DbgMsg("PJL_SaveBlankPage::page_height = %d", (int)blank.page_height);
    blank.linebyte = GetBMPBytesPerLine(1, (LONG)blank.page_width);
    DbgMsg("PJL_SaveBlankPage::linebyte = %d", (int)blank.linebyte);
    blank.pagesize = blank.linebyte * blank.page_height;
    DbgMsg("PJL_SaveBlankPage::pagesize = %d bytes", (int)blank.pagesize);

    // ESC E, the page header, and SDNORM alone: a stripe with no coded data.
    char record[BLANK_RECORD_SIZE];
    memcpy(record, PAGE_LEAD_IN, PAGE_LEAD_IN_SIZE);
    PJL_WritePageHeader(&blank, record + PAGE_LEAD_IN_SIZE, 2);
    DbgMsg("PJL_SaveBlankPage::PJL_WritePageHeader");
    memcpy(record + PAGE_RECORD_PREFIX, JBIG_DATA_END, 2);
    DbgMsg("PJL_SaveBlankPage::Total pages %d", (int)SpoolPageCount());
    BOOL ok = SpoolAppend(record, BLANK_RECORD_SIZE);
    DbgMsg("PJL_SaveBlankPage::Out");
    return ok;
}

BOOL PJL_FlushPage(DWORD* finishpage, BOOL bPairs)
{
    DWORD startpage = *finishpage;
    DWORD PagesInFile = SpoolPageCount();
    if (bPairs)
        PagesInFile &= ~(DWORD)1;
    DbgMsg("PJL_FlushPage::Total pages %d", (int)PagesInFile);
    DbgMsg("PJL_FlushPage::startpage %d", (int)startpage);
    BOOL ok = TRUE;
    if (bPairs) {
        for (DWORD i = startpage; ok && i + 1 < PagesInFile && !CancelRequested(); i += 2) {
            ok = SendSpooledRecord(i + 1, "PJL_FlushPage") && SendSpooledRecord(i, "PJL_FlushPage");
            if (ok)
                *finishpage += 2;
        }
    } else {
        // A job spooled only for collated copies prints in page order.
        for (DWORD i = startpage; ok && i < PagesInFile && !CancelRequested(); ++i) {
            ok = SendSpooledRecord(i, "PJL_FlushPage");
            if (ok)
                *finishpage += 1;
        }
    }
    DbgMsg("PJL_FlushPage::out");
    return ok;
}

BOOL ReplaySpooledCopies(DWORD numCopies, BOOL bDriverDoCollate, BOOL bDuplex)
{
    DWORD pages = SpoolPageCount();
    DbgMsg("main::Print Out Spool Data, Total Pages = %d", (int)pages);
    DbgMsg("main::bDriverDoCollate = %d", (int)bDriverDoCollate);
    DbgMsg("main::bDuplex = %d", (int)bDuplex);
    DWORD nPageOffset = bDuplex ? 2 : 1;
    DbgMsg("main::nPageOffset = %d", (int)nPageOffset);
    DWORD nCopies = bDriverDoCollate ? numCopies : 1;
    DbgMsg("main::nCopies = %d", (int)nCopies);

    BOOL ok = TRUE;
    for (DWORD i = 1; ok && i < nCopies; ++i) {
        for (DWORD index = 0; ok && index < pages; index += nPageOffset) {
            if (CancelRequested())
                return TRUE;
            DbgMsg("main::Print Out Spool Data, Pages = %d", (int)index);
            if (bDuplex && index + 1 < pages)
                ok = SendSpooledRecord(index + 1, "main");
            if (ok)
                ok = SendSpooledRecord(index, "main");
        }
    }
    return ok;
}
