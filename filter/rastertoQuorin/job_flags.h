// Job-wide flags that main, the workers and the compression thread share.
#ifndef QUORIN_JOB_FLAGS_H
#define QUORIN_JOB_FLAGS_H

#include <atomic>

#include "velorin.h"

extern std::atomic<int> gMAX_THREAD;
extern std::atomic<BOOL> gSaveToFile;
extern std::atomic<BOOL> gJbigThreadExit;
extern int gOutputSize;
// Set by the SIGTERM handler when the job is cancelled; loops that read,
// flush or replay pages stop at the next page.
extern std::atomic<BOOL> gJobCanceled;

#endif
