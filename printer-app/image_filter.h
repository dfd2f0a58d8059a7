// JPEG and PNG documents, decoded here with libjpeg and libpng within fixed
// bounds and placed on the page by PAPPL. A damaged image ends the job with
// the decoder's reason; nothing of it is printed.
#ifndef QUORIN_APP_IMAGE_FILTER_H
#define QUORIN_APP_IMAGE_FILTER_H

#include <pappl/pappl.h>

// The largest image taken: a side, and all its pixels (a 600 dpi A3 scan).
const unsigned kMaxImageSide = 16384;
const unsigned long kMaxImagePixels = 70UL * 1000 * 1000;

bool PrintJpeg(pappl_job_t* job, pappl_device_t* device);
bool PrintPng(pappl_job_t* job, pappl_device_t* device);

#endif
