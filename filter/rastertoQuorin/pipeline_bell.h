// The wake-ups beside the slot words. The words stay the truth: whoever
// changes one rings its bell, and a thread waiting for a word looks at it
// again at every ring, and at the latest after POLL_MSEC. The pipeline's
// bell serves the slots and the job's flags; the band ring and the screened
// lines have bells of their own, which ring far more often.
#ifndef QUORIN_PIPELINE_BELL_H
#define QUORIN_PIPELINE_BELL_H

#include <cstdint>

#define POLL_MSEC 300

enum BellKind {
    BELL_PIPELINE, // slots taken, processed and freed; the job's flags
    BELL_BANDS,    // gray bands filled and given back
    BELL_SCREENED, // one-bit lines made final
    BELL_KINDS,
};

// Read before looking at the word; hand it to WaitForBell if the word is not
// as wanted yet. A ring in between is never lost.
uint64_t BellRings(BellKind bell = BELL_PIPELINE);

// Returns once the bell has rung since `seen`, or after POLL_MSEC.
void WaitForBell(uint64_t seen, BellKind bell = BELL_PIPELINE);

// After a change of a word. Not from a signal handler: a cancel is seen at
// the next ring or timeout.
void RingBell(BellKind bell);
inline void RingPipelineBell(void)
{
    RingBell(BELL_PIPELINE);
}

// Every bell: the job stopped, and every waiter must look.
void RingAllBells(void);

#endif
