// The one door to standard output, which carries the printer stream. A write
// that fails (the backend went away, the disk is full) fails the job at once:
// nothing after it could reach the printer in order.
#ifndef QUORIN_PRINTER_OUTPUT_H
#define QUORIN_PRINTER_OUTPUT_H

#include <cstddef>

#include "velorin.h"

BOOL WritePrinterData(const void* data, size_t len);

// Writes one page record (one printed side) and tells the scheduler, which
// counts "PAGE:" lines for accounting: "INFO: Printing page n" before,
// "PAGE: n copies" once the side is on its way, where n is the page's number
// in the document and copies the number of times the printer prints it.
// A blank back side (copies 0) is sent without either line.
BOOL WritePageRecord(const void* record, size_t len, DWORD pageNumber, DWORD copies);

#endif
