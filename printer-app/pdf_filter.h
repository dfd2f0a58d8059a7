// PDF documents: Ghostscript renders the pages to 8-bit gray raster at the
// printer's resolution on the job's paper, and the raster bridge prints them.
#ifndef QUORIN_APP_PDF_FILTER_H
#define QUORIN_APP_PDF_FILTER_H

#include <pappl/pappl.h>

// A PAPPL MIME filter for application/pdf.
bool PrintPdf(pappl_job_t* job, pappl_device_t* device, void* data);

#endif
