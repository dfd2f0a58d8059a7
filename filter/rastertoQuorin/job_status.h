// The one status of a print job: cancellation, the first failure and its
// sentence for the user, and whether the job header went out.
// The spool, the printer output, the reader and the pipeline report into it;
// the entry point asks it once at the end.
#ifndef QUORIN_JOB_STATUS_H
#define QUORIN_JOB_STATUS_H

#include "velorin.h"

// What failed decides what still reaches the printer.
enum JobFailureKind {
    JOB_FAILURE_NONE = 0,
    // The input or the job's settings: the pages before it are finished and
    // sent, then the job ends.
    JOB_FAILURE_INPUT,
    // The printer connection, the spool file or a page inside the pipeline:
    // nothing more can be sent in order, so everything stops at once.
    JOB_FAILURE_OUTPUT,
    JOB_FAILURE_SPOOL,
    JOB_FAILURE_PAGE,
};

// Called from the SIGTERM handler: a lock-free store and a write only.
void NoteJobCanceled(void);
BOOL JobCanceled(void);

// Records the first failure with the one sentence the user sees in the
// job's state message; later failures are only logged, except that a
// failure while the pages before an input failure are sent takes its place.
void JobFail(JobFailureKind kind, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
JobFailureKind JobFailure(void);
// The recorded sentence; empty while the job has not failed.
const char* JobFailureText(void);

// TRUE when no further page may go out: the job was cancelled, or the
// output, the spool or a page in flight failed.
BOOL JobAbandoned(void);
// TRUE when no further page may be read: abandoned, or the input failed.
BOOL JobStopsReading(void);

// A descriptor that turns readable once the job is cancelled or abandoned,
// so that main, waiting for input, stops at once instead of waiting for a
// stalled upstream filter. -1 until OpenJobStopPipe.
void OpenJobStopPipe(void);
int JobStopFd(void);

void NoteJobHeaderWritten(void);
BOOL JobHeaderWritten(void);

// Back to a fresh job (tests run several jobs in one process).
void ResetJobStatus(void);

#endif
