// Switches the tests use to steer a job from outside. Only the filter built
// for the tests (QUORIN_TEST_SEAMS) reads them from its environment; the
// filter that ships keeps the measured figures and never waits.
#ifndef QUORIN_TEST_SEAMS_H
#define QUORIN_TEST_SEAMS_H

#include "velorin.h"

// QUORIN_TEST_FREE_MEMORY: free memory in bytes in place of the measured
// figure, to force a small ring. FALSE when the switch is not set.
BOOL TestFreeMemory(unsigned long long* bytes);

// QUORIN_TEST_HOLD_PAGE=n holds page n's worker back for a second, so that
// tests see later pages finish first whatever the machine's load.
void TestHoldPage(DWORD pageNumber);

#endif
