// PDF and PostScript documents: Ghostscript renders the pages to 8-bit gray
// raster at the printer's resolution on the job's paper, and the raster
// bridge prints them. Ghostscript runs under the job's watchdog.
#ifndef QUORIN_APP_GHOSTSCRIPT_FILTER_H
#define QUORIN_APP_GHOSTSCRIPT_FILTER_H

#include <pappl/pappl.h>

bool PrintPdf(pappl_job_t* job, pappl_device_t* device);
bool PrintPostScript(pappl_job_t* job, pappl_device_t* device);

#endif
