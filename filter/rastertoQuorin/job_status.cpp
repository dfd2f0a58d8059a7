#include "job_status.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "pipeline_bell.h"

namespace {
std::atomic<BOOL> gCanceled{FALSE};
std::atomic<int> gFailure{JOB_FAILURE_NONE};
std::atomic<BOOL> gHeaderWritten{FALSE};
std::mutex gTextLock;
char gText[512] = "";
} // namespace

void NoteJobCanceled(void)
{
    gCanceled.store(TRUE, std::memory_order_release);
}

BOOL JobCanceled(void)
{
    return gCanceled.load(std::memory_order_acquire);
}

void JobFail(JobFailureKind kind, const char* fmt, ...)
{
    char text[sizeof gText];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    // The sentence becomes one line of the scheduler's protocol.
    BlankControlBytes(text);
    std::lock_guard<std::mutex> hold(gTextLock);
    if (gFailure.load(std::memory_order_acquire) != JOB_FAILURE_NONE) {
        DbgMsg("JobFail::later failure, not reported: %s", text);
        return;
    }
    DbgMsg("JobFail::%s", text);
    snprintf(gText, sizeof gText, "%s", text);
    gFailure.store(kind, std::memory_order_release);
    // Threads waiting for a slot word must see that the job stops.
    RingPipelineBell();
}

JobFailureKind JobFailure(void)
{
    return static_cast<JobFailureKind>(gFailure.load(std::memory_order_acquire));
}

const char* JobFailureText(void)
{
    std::lock_guard<std::mutex> hold(gTextLock);
    return gText;
}

BOOL JobAbandoned(void)
{
    int f = gFailure.load(std::memory_order_acquire);
    return (JobCanceled() || (f != JOB_FAILURE_NONE && f != JOB_FAILURE_INPUT)) ? TRUE : FALSE;
}

BOOL JobStopsReading(void)
{
    return (JobCanceled() || gFailure.load(std::memory_order_acquire) != JOB_FAILURE_NONE) ? TRUE : FALSE;
}

void NoteJobHeaderWritten(void)
{
    gHeaderWritten.store(TRUE, std::memory_order_release);
}

BOOL JobHeaderWritten(void)
{
    return gHeaderWritten.load(std::memory_order_acquire);
}

void ResetJobStatus(void)
{
    std::lock_guard<std::mutex> hold(gTextLock);
    gCanceled.store(FALSE, std::memory_order_release);
    gFailure.store(JOB_FAILURE_NONE, std::memory_order_release);
    gHeaderWritten.store(FALSE, std::memory_order_release);
    gText[0] = '\0';
}
