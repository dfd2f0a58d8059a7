// The cores the job's threads share. Each thread takes a core for a piece of
// work (a band of lines) and gives it back after; while it waits for input
// it holds none. So there are never more busy threads than cores, and a free
// core goes to the earliest page that wants one: the pages behind never slow
// the page the printer is waiting for.
#ifndef QUORIN_CORE_SHARE_H
#define QUORIN_CORE_SHARE_H

#include "velorin.h"

// Cores to share: at least two, so that reading can overlap the rest even
// on one core (the reader often waits for its input, holding a core).
void SetJobCores(int cores);
int JobCores(void);

// Waits until a core is free and no earlier page is waiting for one.
void TakeCore(DWORD page);
void GiveCore(void);

// Threads waiting for a core now.
int CoreWaiters(void);

#endif
