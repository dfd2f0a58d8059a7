// The wake-up beside the slot words. The words stay the truth: whoever
// changes one rings the bell, and a thread waiting for a word looks at it
// again at every ring, and at the latest after POLL_MSEC.
#ifndef QUORIN_PIPELINE_BELL_H
#define QUORIN_PIPELINE_BELL_H

#include <cstdint>

#define POLL_MSEC 300

// Read before looking at the word; hand it to WaitForBell if the word is not
// as wanted yet. A ring in between is never lost.
uint64_t BellRings(void);

// Returns once the bell has rung since `seen`, or after POLL_MSEC.
void WaitForBell(uint64_t seen);

// After a change of a slot word or a job-wide flag. Not from a signal
// handler: a cancel is seen at the next ring or timeout.
void RingPipelineBell(void);

#endif
