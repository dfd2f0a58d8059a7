// Sending spooled page records to standard output: the blank page that
// completes an odd duplex job, the flushes of the first copy, and the replay
// of further collated copies.
#ifndef QUORIN_SPOOL_FLUSH_H
#define QUORIN_SPOOL_FLUSH_H

#include <cups/raster.h>

#include "velorin.h"

#define BLANK_RECORD_SIZE 36

// Appends a blank page record (the geometry and media of inheader, the last
// page's header) as page page_index, so that the last duplex pair is whole.
// Main thread only, after the compression thread has stopped. FALSE when
// the spool file could not take it.
BOOL PJL_SaveBlankPage(BYTE* jobID, DWORD page_index, cups_page_header2_t inheader);

// Sends the spooled pages from *finishpage on that are ready and advances
// *finishpage. bPairs (duplex): whole pairs only, second page first, so the
// printer gets the back of a sheet before its front; otherwise every page in
// page order. Stops at a cancel, a failed spool read or a failed write;
// FALSE for a failure.
BOOL PJL_FlushPage(DWORD* finishpage, BOOL bPairs);

// Sends nCopies - 1 further copies of everything spooled: in duplex pair
// order or in page order, like the first copy. FALSE for a failure.
BOOL ReplaySpooledCopies(DWORD nCopies, BOOL bDriverDoCollate, BOOL bDuplex);

#endif
