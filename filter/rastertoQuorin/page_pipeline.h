// Threads that move pages through the slot ring: one image worker per page,
// one compression thread per job writing pages strictly in page order.
#ifndef QUORIN_PAGE_PIPELINE_H
#define QUORIN_PAGE_PIPELINE_H

#include "job_info.h"

#define POLL_MSEC 300

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


#endif
