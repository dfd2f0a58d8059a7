// Job-wide flags that main, the workers and the compression thread share.
#ifndef QUORIN_JOB_FLAGS_H
#define QUORIN_JOB_FLAGS_H

#include <atomic>

#include "velorin.h"

extern std::atomic<int> gMAX_THREAD;
extern std::atomic<BOOL> gSaveToFile;
extern std::atomic<BOOL> gJbigThreadExit;
extern int gOutputSize;
// Copies the printer makes of each side it receives (its COPIES= value);
// set by main before the first page goes out.
extern std::atomic<DWORD> gSideCopies;

#endif
