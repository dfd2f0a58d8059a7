// Reads one page of CUPS raster into a slot's eight-bit gray bitmap.
#ifndef QUORIN_RASTER_READER_H
#define QUORIN_RASTER_READER_H

#include "job_info.h"
#include "printer_stream.h"

// NULL when the header describes a page this filter can read, otherwise a
// sentence saying what is wrong with it.
const char* CheckRasterHeader(const cups_page_header2_t* h);

// Why a page could not be read.
enum PageReadFailure {
    PAGE_READ_OK = 0,
    PAGE_READ_REFUSED,   // a header this filter cannot print; nothing consumed
    PAGE_READ_NO_MEMORY, // no buffer for the page; nothing consumed, may retry
    PAGE_READ_CUT,       // the stream ended or failed inside the pixels
    PAGE_READ_STOPPED,   // the job was cancelled or failed meanwhile
};
struct PageReadError {
    PageReadFailure kind;
    const char* reason; // a phrase for the user's message
};

// Checks the slot's header and sets its page geometry: the sheet-sized
// gray page (page_width, page_height, linebyte, pagesize) and where the
// raster lies on it. FALSE (PAGE_READ_REFUSED) for a header it cannot take.
BOOL SetPageGeometry(JobInfo* lpJob, PageReadError* error);

// The lines of a slot's sheet as gray, top to bottom, read from its raster
// stream as they are asked for: no whole gray page is ever held.
struct PageLineReader {
    cups_raster_t* ras;
    const cups_page_header2_t* header;
    DWORD width, height; // the sheet's page_width and page_height
    DWORD left, top;     // where the raster lies on it
    DWORD next;          // the next sheet line
    BYTE* line;          // one raster line
};

// After SetPageGeometry: FALSE (PAGE_READ_NO_MEMORY) without a line buffer.
BOOL OpenPageLines(const JobInfo* lpJob, PageLineReader* r, PageReadError* error);
// The next `lines` sheet lines (fewer at the page's end) into lines of
// page_width bytes, `stride` apart. FALSE when the stream ended or the job
// stopped; *error says which.
BOOL ReadPageLines(PageLineReader* r, BYTE* out, DWORD stride, DWORD lines, PageReadError* error);
void ClosePageLines(PageLineReader* r);

// Fills the slot from its raster stream; consumes exactly cupsHeight lines of
// cupsBytesPerLine bytes. On FALSE, *error (when given) says why.
BOOL GetCUPSPageData(JobInfo* lpJob, PageReadError* error = nullptr);

// 24-bit RGB lines to gray, 30/53/17 with the sum rounded as (sum + 1) /
// 100; each reads exactly 3 x width bytes. The vector one, on x86-64 with
// SSSE3 only, is what the reader runs where it can.
void ConvertRgbLine3Plain(const BYTE* src, BYTE* dst, DWORD width);
void ConvertRgbLine3Vector(const BYTE* src, BYTE* dst, DWORD width);
bool VectorRgbLineAvailable(void);

// Page bitmaps are larger than malloc's largest mmap threshold, so each one
// would be mapped fresh and page-faulted in again; keep them in the heap.
void KeepPageBuffersInHeap(void);

// Dumps the job-relevant fields of a page header into the debug log.
void DisplayPageInfo(cups_page_header2_t* inheader);

// The job's print mode decides, not the raster's depth: text and graphics
// come as 24-bit RGB and get their edges reinforced; photographs come as RGB
// with cupsInteger[3] set (the printer description's Photo mode), or as
// 8-bit gray from older queues and other clients, and are only screened.
inline bool PageNeedsBorderQuality(const cups_page_header2_t* h)
{
    return h->cupsBitsPerPixel == 24 && h->cupsInteger[3] == 0;
}

#endif
