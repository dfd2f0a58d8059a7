#include "job_status.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "pipeline_bell.h"

namespace {
std::atomic<BOOL> gCanceled{FALSE};
std::atomic<int> gFailure{JOB_FAILURE_NONE};
std::atomic<BOOL> gHeaderWritten{FALSE};
std::mutex gTextLock;
char gText[512] = "";
int gStopRead = -1;
std::atomic<int> gStopWrite{-1};

// Wakes main if it waits for input. Async-signal-safe.
void WakeReader(void)
{
    int fd = gStopWrite.load(std::memory_order_acquire);
    if (fd >= 0) {
        char c = 1;
        ssize_t w = write(fd, &c, 1);
        (void)w; // a full pipe is readable already
    }
}
} // namespace

void OpenJobStopPipe(void)
{
    int fds[2];
    if (gStopRead >= 0 || pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // A closed standard input or output must not become the pipe.
    for (int& fd : fds) {
        if (fd <= STDERR_FILENO) {
            int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            close(fd);
            fd = moved;
        }
    }
    if (fds[0] < 0 || fds[1] < 0) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    gStopRead = fds[0];
    gStopWrite.store(fds[1], std::memory_order_release);
}

int JobStopFd(void)
{
    return gStopRead;
}

void NoteJobCanceled(void)
{
    gCanceled.store(TRUE, std::memory_order_release);
    WakeReader();
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
    const int first = gFailure.load(std::memory_order_acquire);
    // The pages before an input failure are still on their way. Any other
    // failure after it stopped one of them, an earlier page: that is the
    // first failure in the job, and the input's sentence ("the pages before
    // it were printed") would no longer be true.
    if (first != JOB_FAILURE_NONE && !(first == JOB_FAILURE_INPUT && kind != JOB_FAILURE_INPUT)) {
        DbgMsg("JobFail::later failure, not reported: %s", text);
        return;
    }
    DbgMsg("JobFail::%s", text);
    snprintf(gText, sizeof gText, "%s", text);
    gFailure.store(kind, std::memory_order_release);
    // Threads waiting for a word must see that the job stops.
    RingAllBells();
    if (kind != JOB_FAILURE_INPUT)
        WakeReader();
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
    char drain[64];
    while (gStopRead >= 0 && read(gStopRead, drain, sizeof drain) > 0) {
    }
}
