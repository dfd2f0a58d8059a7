#include "core_share.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {
struct CoreShare {
    std::mutex lock;
    std::condition_variable freed;
    int cores = 2;
    int busy = 0;
    std::vector<DWORD> waiting; // pages of the threads waiting for a core
};
// Never destroyed: a detached worker may give its core back at exit.
CoreShare& gShare = *new CoreShare;
} // namespace

void SetJobCores(int cores)
{
    std::lock_guard<std::mutex> hold(gShare.lock);
    gShare.cores = std::max(cores, 2);
}

int JobCores(void)
{
    std::lock_guard<std::mutex> hold(gShare.lock);
    return gShare.cores;
}

void TakeCore(DWORD page)
{
    std::unique_lock<std::mutex> hold(gShare.lock);
    std::vector<DWORD>& w = gShare.waiting;
    w.push_back(page);
    gShare.freed.wait(hold, [&] { return gShare.busy < gShare.cores && page <= *std::min_element(w.begin(), w.end()); });
    w.erase(std::find(w.begin(), w.end(), page));
    ++gShare.busy;
}

void GiveCore(void)
{
    {
        std::lock_guard<std::mutex> hold(gShare.lock);
        --gShare.busy;
    }
    gShare.freed.notify_all();
}

int CoreWaiters(void)
{
    std::lock_guard<std::mutex> hold(gShare.lock);
    return (int)gShare.waiting.size();
}
