// Threads that move pages through the slot ring: one worker per page screens
// and codes it, so that pages are coded on every core at once; one
// compression thread per job writes the coded pages strictly in page order.
#ifndef QUORIN_PAGE_PIPELINE_H
#define QUORIN_PAGE_PIPELINE_H

#include "job_info.h"
#include "pipeline_bell.h"

// Thread entry of a page worker; param is the page's slot.
void* ImageProcThread(void* param);
// What a worker does, on the calling thread: used when no thread can start.
void RunPageWorker(JobInfo* lpJob);

// The ring as the compression thread starts on it. Logged by main before the
// thread starts: main fills slots while the thread runs.
void LogRing(const JobInfo* jobMem);

// Thread entry of the compression thread; param is the first slot of the ring.
void* JbigThread(void* param);

// The image processing a worker runs on its slot (also usable inline).
void ProcessPageImage(JobInfo* lpJob);

// The screened page keeps only its one-bit bytes; the gray page's tail goes
// back to the heap for the pages still to be read.
void KeepOnlyOneBitPage(JobInfo* lpJob);


#endif
