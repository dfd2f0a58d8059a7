// The one door to standard output, which carries the printer stream. A write
// that fails (the backend went away) is remembered so the job can end with an
// error instead of reporting success.
#ifndef QUORIN_PRINTER_OUTPUT_H
#define QUORIN_PRINTER_OUTPUT_H

#include <cstddef>

#include "velorin.h"

BOOL WritePrinterData(const void* data, size_t len);
BOOL FlushPrinterData(void);
BOOL PrinterOutputFailed(void);

#endif
