#include "pipeline_bell.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
// Never destroyed: a detached worker may ring it while the process exits.
std::mutex& gBellLock = *new std::mutex;
std::condition_variable& gBell = *new std::condition_variable;
uint64_t gRings = 0;
} // namespace

uint64_t BellRings(void)
{
    std::lock_guard<std::mutex> hold(gBellLock);
    return gRings;
}

void WaitForBell(uint64_t seen)
{
    std::unique_lock<std::mutex> hold(gBellLock);
    gBell.wait_for(hold, std::chrono::milliseconds(POLL_MSEC), [seen] { return gRings != seen; });
}

void RingPipelineBell(void)
{
    {
        std::lock_guard<std::mutex> hold(gBellLock);
        ++gRings;
    }
    gBell.notify_all();
}
