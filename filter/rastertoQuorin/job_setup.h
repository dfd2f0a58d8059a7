// Decisions taken once per job: options, collation and the number of pages
// that may be in flight.
#ifndef QUORIN_JOB_SETUP_H
#define QUORIN_JOB_SETUP_H

#include <cups/cups.h>
#include <cups/raster.h>

#include "velorin.h"

// Value of the leading decimal digits of a text; 0 when it starts otherwise.
int str2Int(const char* string);

// "number-up", and collation from "Collate" (true or false, any case) or,
// when that is not given, from IPP's "multiple-document-handling".
// *bCollateGiven (when given) tells whether either option was present.
void ScanJobOptions(int num_options, cups_option_t* options, int* numUP, BOOL* bCollate,
                    BOOL* bCollateGiven = nullptr);

// The filter makes collated copies itself when asked to collate more than one.
BOOL DriverDoesCollate(BOOL bCollate, unsigned numCopies);

// CUPS's own ceiling on copies (its default MaxCopies).
#define MAX_JOB_COPIES 9999

// Copies of the document the job asks for: the header's NumCopies when above
// 1, else the copies argument when above 1, else 1 (some raster makers leave
// the count in the argument only). Saturates instead of wrapping, so a huge
// count stays above MAX_JOB_COPIES.
DWORD JobCopies(unsigned headerCopies, const char* argvCopies);

// The printer prints 600 and 1200 dpi, the same across and down. TRUE when
// the header asks for one of them.
BOOL PrinterResolution(const cups_page_header2_t* h);

// Settings a raster maker may leave unset, filled in once so that the
// screen and the job header describe the same page: an unset density is the
// printer description's default, 3.
void NormalizeJobHeader(cups_page_header2_t* h);

#endif
