// Decisions taken once per job: options, collation and the number of pages
// that may be in flight.
#ifndef QUORIN_JOB_SETUP_H
#define QUORIN_JOB_SETUP_H

#include <cups/cups.h>

#include "velorin.h"

// Value of the leading decimal digits of a text; 0 when it starts otherwise.
int str2Int(const char* string);

// Free physical memory in bytes. The environment variable
// QUORIN_TEST_FREE_MEMORY, when set, replaces the measured figure (tests use
// it to force a small ring).
unsigned long long getTotalSystemMemory(void);

// Slots in use for a first page of width x height pixels: half the free
// memory over two bytes a pixel, limited to 1..MAX_JOB_SLOTS.
int ComputeMaxThread(DWORD cupsWidth, DWORD cupsHeight, unsigned long long freeMemory);

// "number-up" and "Collate" from the job options.
void ScanJobOptions(int num_options, cups_option_t* options, int* numUP, BOOL* bCollate);

// The filter makes collated copies itself when asked to collate more than one.
BOOL DriverDoesCollate(BOOL bCollate, unsigned numCopies);

#endif
