// Reads one page of CUPS raster into a slot's eight-bit gray bitmap.
#ifndef QUORIN_RASTER_READER_H
#define QUORIN_RASTER_READER_H

#include "job_info.h"
#include "printer_stream.h"

// NULL when the header describes a page this filter can read, otherwise a
// sentence saying what is wrong with it.
const char* CheckRasterHeader(const cups_page_header2_t* h);

// Fills the slot from its raster stream; consumes exactly cupsHeight lines of
// cupsBytesPerLine bytes. On FALSE, *reason (when given) says why.
BOOL GetCUPSPageData(JobInfo* lpJob, const char** reason = nullptr);

// Page bitmaps are larger than malloc's largest mmap threshold, so each one
// would be mapped fresh and page-faulted in again; keep them in the heap.
void KeepPageBuffersInHeap(void);

// Dumps the job-relevant fields of a page header into the debug log.
void DisplayPageInfo(cups_page_header2_t* inheader);

// Layouts that arrive with 1 = light after the halftone and need inverting.
inline bool PageNeedsBorderQuality(const cups_page_header2_t* h)
{
    return h->cupsBitsPerPixel == 24;
}

#endif
