// The job watchdog: a thread of its own ends a job's child processes (each
// in a process group of its own) when the job is cancelled, when it runs
// past its time, and when the app stops, whatever the job's thread is
// waiting for at that moment.
#ifndef QUORIN_APP_JOB_WATCHDOG_H
#define QUORIN_APP_JOB_WATCHDOG_H

#include <pappl/pappl.h>
#include <sys/types.h>

// Seconds of wall time a job may print for.
void SetJobTimeLimit(unsigned seconds);
unsigned JobTimeLimit();

// The CPU-time limit of a child using `threads` threads: a backstop for
// the watchdog, which ends the child first.
unsigned ChildCpuLimit(unsigned threads);

// Watches the job from now on, for as long as the guard lives.
struct JobWatch {
    explicit JobWatch(pappl_job_t* job);
    ~JobWatch();
    JobWatch(const JobWatch&) = delete;
    JobWatch& operator=(const JobWatch&) = delete;
    pappl_job_t* job;
};

// A child the job started: its group is ended with the job.
void WatchChild(pappl_job_t* job, pid_t group);

// Waits for a watched child to end, ends whatever is left of its group and
// forgets it: its exit status, or 128 + the signal that ended it.
int FinishChild(pappl_job_t* job, pid_t pid);

// True once the job has run past its time.
bool JobOutOfTime(pappl_job_t* job);

// The app is stopping: every job's children end now, and so does any child
// started later.
void StopAllChildren();

#endif
