// The driver's raster callbacks: every page of every document (PWG and
// Apple raster, JPEG and PNG placed by PAPPL, PDF and PostScript through
// Ghostscript) goes to rastertoQuorin as CUPS raster, and the filter's
// printer stream goes to the device.
#ifndef QUORIN_APP_RASTER_BRIDGE_H
#define QUORIN_APP_RASTER_BRIDGE_H

#include <pappl/pappl.h>

// Starts the filter for the job; true at once when it already runs.
bool BridgeStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool BridgeStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool BridgeWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                     const unsigned char* line);
bool BridgeEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool BridgeEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// Marks the job failed with a message for its user; the pages already sent
// are still finished.
void BridgeFail(pappl_job_t* job, const char* message);

#endif
