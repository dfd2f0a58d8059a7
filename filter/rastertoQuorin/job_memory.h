// Memory the job may use: how many ring slots are in use, and the budget in
// bytes of the pages in flight.
#ifndef QUORIN_JOB_MEMORY_H
#define QUORIN_JOB_MEMORY_H

#include "velorin.h"

// Free physical memory in bytes (in the tests' build of the filter, the
// figure QUORIN_TEST_FREE_MEMORY forces).
unsigned long long getTotalSystemMemory(void);

// Room the process's own limits leave: RLIMIT_AS and RLIMIT_DATA less what
// is mapped now, and the memory cgroup's limit less its use. ~0 when nothing
// limits the process.
unsigned long long ProcessMemoryHeadroom(void);

// The memory cgroup's room for the process whose /proc/<pid>/cgroup text is
// at procCgroup, with the cgroup file systems mounted under cgroupRoot (v2
// at the root itself or under "unified", v1 under "memory"); the limit of
// every level up to the root counts, and page cache that can be dropped
// counts as free. ~0 when no limit is set or none can be read.
unsigned long long CgroupMemoryHeadroom(const char* procCgroup, const char* cgroupRoot);

// Free physical memory within the process's limits.
unsigned long long AvailableJobMemory(void);

// Slots in use for a first page of width x height pixels: half the available
// memory over the page's reckoning, limited to 1..MAX_JOB_SLOTS.
int ComputeMaxThread(DWORD cupsWidth, DWORD cupsHeight, unsigned long long freeMemory);

// Pages in flight: one being read and screened, one or two being coded, one
// waiting to be written. Measured: more take memory and no time off a job.
#define PAGES_IN_FLIGHT 3
int PagesInFlight(void);

// Bytes reckoned for a page in flight: its one-bit page, room for its coded
// data (which may be as large) and the gray bands it is read through. A
// page is never held whole in gray.
unsigned long long PageReckoning(DWORD pageWidth, DWORD pageHeight);

// The job may use `available` bytes: the pages in flight together take at
// most half of it, and a page that does not fit waits until earlier pages
// are written. One page alone may take all of it, and no more.
void SetPageBudget(unsigned long long available);
BOOL PageFitsAlone(unsigned long long bytes);
BOOL PageFitsBudget(unsigned long long bytes);
void ReservePageBytes(unsigned long long bytes);
void ReleasePageBytes(unsigned long long bytes);
unsigned long long PageBytesInFlight(void);

#endif
