#include "document_uploads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <utility>
#include <sys/socket.h>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

using JobKey = std::pair<int, int>; // printer id, job id

struct Upload {
    int fd;
    JobKey job;
    Clock::time_point deadline;
};

// Never destroyed: the cutting thread uses them until the process ends.
std::mutex& gLock = *new std::mutex;
std::condition_variable& gWake = *new std::condition_variable;
std::map<http_t*, Upload>& gUploads = *new std::map<http_t*, Upload>;
std::set<JobKey>& gCut = *new std::set<JobKey>;
std::atomic<unsigned> gLimit{300};
bool gThreadStarted = false;
const size_t kMaxCutRemembered = 1000;

// Writers first: a save waits only for the abandoned uploads already
// running, never for a stream of new ones.
pthread_rwlock_t gSaveLock = [] {
    pthread_rwlock_t l;
    pthread_rwlockattr_t a;
    pthread_rwlockattr_init(&a);
    pthread_rwlockattr_setkind_np(&a, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&l, &a);
    pthread_rwlockattr_destroy(&a);
    return l;
}();

void Cut(Upload& u)
{
    // Reads on the connection end at once, whatever the client sends.
    shutdown(u.fd, SHUT_RDWR);
    gCut.insert(u.job);
    while (gCut.size() > kMaxCutRemembered)
        gCut.erase(gCut.begin());
}

void Run()
{
    std::unique_lock<std::mutex> lock(gLock);
    for (;;) {
        gWake.wait_for(lock, std::chrono::milliseconds(250));
        Clock::time_point now = Clock::now();
        for (auto it = gUploads.begin(); it != gUploads.end();) {
            if (now > it->second.deadline) {
                Cut(it->second);
                it = gUploads.erase(it);
            } else {
                ++it;
            }
        }
    }
}
} // namespace

void SetDocumentTimeLimit(unsigned seconds)
{
    gLimit.store(seconds ? seconds : 1, std::memory_order_release);
}

unsigned DocumentTimeLimit()
{
    return gLimit.load(std::memory_order_acquire);
}

void BeginUpload(http_t* http, int printerId, int jobId)
{
    std::lock_guard<std::mutex> hold(gLock);
    gUploads[http] = {httpGetFd(http), {printerId, jobId}, Clock::now() + std::chrono::seconds(DocumentTimeLimit())};
    if (!gThreadStarted) {
        std::thread(Run).detach();
        gThreadStarted = true;
    }
}

void EndUpload(http_t* http)
{
    std::lock_guard<std::mutex> hold(gLock);
    gUploads.erase(http);
}

bool UploadWasCut(int printerId, int jobId)
{
    std::lock_guard<std::mutex> hold(gLock);
    return gCut.count({printerId, jobId}) != 0;
}

void CutAllUploads()
{
    std::lock_guard<std::mutex> hold(gLock);
    for (auto& [http, u] : gUploads)
        Cut(u);
    gUploads.clear();
}

void LockAbandonedUpload()
{
    pthread_rwlock_rdlock(&gSaveLock);
}

void UnlockAbandonedUpload()
{
    pthread_rwlock_unlock(&gSaveLock);
}

void LockStateSave()
{
    pthread_rwlock_wrlock(&gSaveLock);
}

void UnlockStateSave()
{
    pthread_rwlock_unlock(&gSaveLock);
}
