// The one door to standard output, which carries the printer stream. A write
// that fails (the backend went away) is remembered so the job can end with an
// error instead of reporting success.
#ifndef QUORIN_PRINTER_OUTPUT_H
#define QUORIN_PRINTER_OUTPUT_H

#include <cstddef>

#include "velorin.h"

BOOL WritePrinterData(const void* data, size_t len);

// Writes one page record (one printed side) and tells the scheduler, which
// counts "PAGE:" lines for accounting: "INFO: Printing page n" before,
// "PAGE: n 1" once the side is on its way. n counts sides sent in this job.
BOOL WritePageRecord(const void* record, size_t len);
DWORD PageRecordsSent(void);
BOOL FlushPrinterData(void);
BOOL PrinterOutputFailed(void);

#endif
