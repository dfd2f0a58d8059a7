#include "job_watchdog.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// After SIGTERM a child gets this long to end its output properly.
const auto kTermGrace = std::chrono::seconds(3);
const auto kPollInterval = std::chrono::milliseconds(200);

struct Group {
    pid_t id;
    Clock::time_point termSent; // epoch: not yet
};

struct Watch {
    Clock::time_point deadline;
    bool expired = false;
    std::vector<Group> groups;
};

// Never destroyed: the watchdog thread uses them until the process ends.
std::mutex& gLock = *new std::mutex;
std::condition_variable& gWake = *new std::condition_variable;
std::map<pappl_job_t*, Watch>& gJobs = *new std::map<pappl_job_t*, Watch>;
std::atomic<unsigned> gLimit{3600};
std::atomic<bool> gStopping{false};
bool gThreadStarted = false;

void EndGroups(Watch& w, Clock::time_point now)
{
    for (Group& g : w.groups) {
        if (g.termSent == Clock::time_point()) {
            kill(-g.id, SIGTERM);
            g.termSent = now;
        } else if (now - g.termSent > kTermGrace) {
            kill(-g.id, SIGKILL);
        }
    }
}

void Run()
{
    std::unique_lock<std::mutex> lock(gLock);
    for (;;) {
        gWake.wait_for(lock, kPollInterval);
        Clock::time_point now = Clock::now();
        for (auto& [job, w] : gJobs) {
            if (now > w.deadline)
                w.expired = true;
            // papplJobIsCanceled takes only the job's own lock.
            if (w.expired || gStopping.load(std::memory_order_acquire) || papplJobIsCanceled(job))
                EndGroups(w, now);
        }
    }
}

Watch* Find(pappl_job_t* job)
{
    auto it = gJobs.find(job);
    return it == gJobs.end() ? nullptr : &it->second;
}
} // namespace

void SetJobTimeLimit(unsigned seconds)
{
    gLimit.store(seconds ? seconds : 1, std::memory_order_release);
}

unsigned JobTimeLimit()
{
    return gLimit.load(std::memory_order_acquire);
}

unsigned ChildCpuLimit(unsigned threads)
{
    return 2 * JobTimeLimit() * (threads ? threads : 1);
}

JobWatch::JobWatch(pappl_job_t* j) : job(j)
{
    std::lock_guard<std::mutex> hold(gLock);
    gJobs[job].deadline = Clock::now() + std::chrono::seconds(JobTimeLimit());
    if (!gThreadStarted) {
        std::thread(Run).detach();
        gThreadStarted = true;
    }
}

JobWatch::~JobWatch()
{
    std::lock_guard<std::mutex> hold(gLock);
    gJobs.erase(job);
}

void WatchChild(pappl_job_t* job, pid_t group)
{
    std::lock_guard<std::mutex> hold(gLock);
    if (Watch* w = Find(job)) {
        w->groups.push_back({group, Clock::time_point()});
        if (gStopping.load(std::memory_order_acquire) || w->expired)
            EndGroups(*w, Clock::now());
    }
}

int FinishChild(pappl_job_t* job, pid_t pid)
{
    // Not reaped yet, so that the group id cannot be reused while the
    // watchdog may still signal it.
    siginfo_t info;
    while (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    kill(-pid, SIGKILL); // anything the child left running
    {
        std::lock_guard<std::mutex> hold(gLock);
        if (Watch* w = Find(job))
            w->groups.erase(std::remove_if(w->groups.begin(), w->groups.end(),
                                           [pid](const Group& g) { return g.id == pid; }),
                            w->groups.end());
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool JobOutOfTime(pappl_job_t* job)
{
    std::lock_guard<std::mutex> hold(gLock);
    Watch* w = Find(job);
    return w && w->expired;
}

void StopAllChildren()
{
    gStopping.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> hold(gLock);
    for (auto& [job, w] : gJobs)
        EndGroups(w, Clock::now());
    gWake.notify_all();
}
