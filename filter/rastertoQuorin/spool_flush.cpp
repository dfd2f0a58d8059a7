#include "spool_flush.h"

#include <cstdlib>
#include <cstring>

#include "job_info.h"
#include "job_status.h"
#include "page_placement.h"
#include "page_record.h"
#include "printer_output.h"
#include "spool_store.h"

namespace {
// Sends spooled record index to standard output as one page record. FALSE
// when the spool or the output failed; the job cannot go on then.
BOOL SendSpooledRecord(DWORD index, const SpoolSheets* sheets, DWORD copies, const char* who)
{
    DWORD size = GetPageDataSize(index);
    DbgMsg("%s::Page[%d] pageSize = %d", who, (int)index, (int)size);
    if (size == 0) {
        NoteSpoolFailure("a spooled page record was not found");
        return FALSE;
    }
    char* buf = static_cast<char*>(malloc(size));
    if (!buf) {
        JobFail(JOB_FAILURE_PAGE, "Page %u could not be sent: not enough memory to read it back from the spool "
                "file.", (unsigned)index + 1);
        return FALSE;
    }
    DWORD sideCopies = index < sheets->documentPages ? copies : 0;
    BOOL ok = GetPageData(index, size, buf) && WritePageRecord(buf, size, index + 1, sideCopies);
    free(buf);
    return ok;
}

// One sheet: a duplex pair from its front page `first` (back side first), or
// the single page `first`.
BOOL SendSheet(DWORD first, const SpoolSheets* sheets, DWORD copies, const char* who)
{
    if (sheets->bPairs && !SendSpooledRecord(first + 1, sheets, copies, who))
        return FALSE;
    return SendSpooledRecord(first, sheets, copies, who);
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
    // The same sheet as the printed sides around it.
    const PagePlacement sheet = PlacePageOnSheet(&inheader);
    blank.page_width = PadToPageAlign(sheet.width);
    blank.page_height = PadToPageAlign(sheet.height);
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

BOOL PJL_FlushPage(DWORD* finishpage, const SpoolSheets* sheets, DWORD copies)
{
    DWORD startpage = *finishpage;
    DWORD PagesInFile = SpoolPageCount();
    DWORD step = sheets->bPairs ? 2 : 1;
    if (sheets->bPairs)
        PagesInFile &= ~(DWORD)1;
    DbgMsg("PJL_FlushPage::Total pages %d", (int)PagesInFile);
    DbgMsg("PJL_FlushPage::startpage %d", (int)startpage);
    BOOL ok = TRUE;
    for (DWORD i = startpage; ok && i + step <= PagesInFile && !JobAbandoned(); i += step) {
        ok = SendSheet(i, sheets, copies, "PJL_FlushPage");
        if (ok)
            *finishpage += step;
    }
    DbgMsg("PJL_FlushPage::out");
    return ok;
}

BOOL ReplaySpooledCopies(DWORD nCopies, BOOL bDriverDoCollate, const SpoolSheets* sheets)
{
    DWORD pages = SpoolPageCount();
    DWORD nPageOffset = sheets->bPairs ? 2 : 1;
    DbgMsg("main::Print Out Spool Data, Total Pages = %d", (int)pages);
    DbgMsg("main::bDriverDoCollate = %d", (int)bDriverDoCollate);
    DbgMsg("main::bDuplex = %d", (int)sheets->bPairs);
    DbgMsg("main::nPageOffset = %d", (int)nPageOffset);
    DbgMsg("main::nCopies = %d", (int)nCopies);
    // The flushes sent the first copy; each further one is printed once.
    for (DWORD i = 1; i < nCopies; ++i) {
        for (DWORD index = 0; index < pages; index += nPageOffset) {
            if (JobAbandoned())
                return JobFailure() == JOB_FAILURE_NONE ? TRUE : FALSE;
            DbgMsg("main::Print Out Spool Data, Pages = %d", (int)index);
            if (!SendSheet(index, sheets, 1, "main"))
                return FALSE;
        }
    }
    return TRUE;
}
