// Threads that move pages through the slot ring, a band at a time: main
// reads the gray lines of a page into the band ring; the screen thread
// screens them into the page's one-bit bitmap; the page's worker codes the
// one-bit lines as they become final and leaves the page record in the slot;
// the compression thread writes the records strictly in page order. Every
// step takes a core for each piece of work, earliest page first
// (core_share.h), so no page slows the ones before it.
#ifndef QUORIN_PAGE_PIPELINE_H
#define QUORIN_PAGE_PIPELINE_H

#include "gray_bands.h"
#include "job_info.h"
#include "pipeline_bell.h"

// Thread entry of a page worker; param is the page's slot.
void* ImageProcThread(void* param);
// What a worker does, on the calling thread: used when no thread can start.
// It returns once its page's screen has ended.
void RunPageWorker(JobInfo* lpJob);

// Thread entry of the screen: takes the bands until BAND_INPUT_END or until
// the job is abandoned; param is unused.
void* ScreenThread(void* param);
// Screens one band (the screen thread's step, or main's where that thread
// could not start). FALSE for BAND_INPUT_END.
BOOL ScreenBand(const GrayBand* band);

// The ring as the compression thread starts on it. Logged by main before the
// thread starts: main fills slots while the thread runs.
void LogRing(const JobInfo* jobMem);

// Thread entry of the compression thread; param is the first slot of the ring.
void* JbigThread(void* param);

#endif
