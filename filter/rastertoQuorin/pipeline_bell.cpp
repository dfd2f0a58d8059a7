#include "pipeline_bell.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
struct Bell {
    std::mutex lock;
    std::condition_variable rung;
    uint64_t rings = 0;
};
// Never destroyed: a detached worker may ring one while the process exits.
Bell* const gBells = new Bell[BELL_KINDS];
} // namespace

uint64_t BellRings(BellKind bell)
{
    Bell& b = gBells[bell];
    std::lock_guard<std::mutex> hold(b.lock);
    return b.rings;
}

void WaitForBell(uint64_t seen, BellKind bell)
{
    Bell& b = gBells[bell];
    std::unique_lock<std::mutex> hold(b.lock);
    b.rung.wait_for(hold, std::chrono::milliseconds(POLL_MSEC), [&b, seen] { return b.rings != seen; });
}

void RingBell(BellKind bell)
{
    Bell& b = gBells[bell];
    {
        std::lock_guard<std::mutex> hold(b.lock);
        ++b.rings;
    }
    b.rung.notify_all();
}

void RingAllBells(void)
{
    for (int k = 0; k < BELL_KINDS; ++k)
        RingBell((BellKind)k);
}
