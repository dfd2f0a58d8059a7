// Sending spooled page records to standard output: the blank page that
// completes an odd duplex job, the flushes of the first copy, and the replay
// of further collated copies.
#ifndef QUORIN_SPOOL_FLUSH_H
#define QUORIN_SPOOL_FLUSH_H

#include <cups/raster.h>

#include "velorin.h"

#define BLANK_RECORD_SIZE 36

// How spooled records leave as sheets.
struct SpoolSheets {
    // Duplex: whole pairs only, second page first, so the printer gets the
    // back of a sheet before its front. Otherwise one page a sheet.
    BOOL bPairs;
    // Pages of the document read so far: records from here on are blank
    // back sides, which the scheduler is not told of.
    DWORD documentPages;
};

// Appends a blank page record (the geometry and media of inheader, the last
// printed page's header) as page page_index, so that the last duplex pair is
// whole. Main thread only, after the compression thread has stopped. FALSE
// when the spool file could not take it.
BOOL PJL_SaveBlankPage(BYTE* jobID, DWORD page_index, cups_page_header2_t inheader);

// Sends the spooled sheets from *finishpage on that are ready, each side
// counted with `copies` (the copies the printer makes of it), and advances
// *finishpage. Stops at a cancel or a failure; FALSE for a failure.
BOOL PJL_FlushPage(DWORD* finishpage, const SpoolSheets* sheets, DWORD copies);

// Sends further copies of everything spooled, in the order of the first
// copy, until nCopies copies have been made. FALSE for a failure.
BOOL ReplaySpooledCopies(DWORD nCopies, BOOL bDriverDoCollate, const SpoolSheets* sheets);

#endif
