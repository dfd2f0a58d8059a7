// PWG and Apple raster documents, read from the spool file page by page
// (PAPPL would read them from the client's connection while holding the
// printer, and refuse every other raster job meanwhile).
#ifndef QUORIN_APP_RASTER_DOCUMENT_H
#define QUORIN_APP_RASTER_DOCUMENT_H

#include <pappl/pappl.h>

// The largest page side taken, in pixels (34 inches at 600 dpi).
const unsigned kMaxRasterSide = 20400;

bool PrintRasterDocument(pappl_job_t* job, pappl_device_t* device);

#endif
