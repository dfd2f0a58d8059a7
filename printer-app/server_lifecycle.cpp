#include "server_lifecycle.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "document_uploads.h"
#include "job_watchdog.h"
#include "library_workarounds.h"

namespace {
// PAPPL ends its main loop once no job is active, at the latest after 60 s;
// the app stops its jobs well before that.
const int kShutdownGraceSec = 45;
// The process ends this long after it was told to stop, whatever is left.
const int kStopDeadlineSec = 15;

pappl_system_t* gSystem = nullptr;
pthread_t gMainThread;
std::string gSocket;
int gStopPipe[2] = {-1, -1};
std::atomic<bool> gStopping{false};
time_t gShutdownSeen = 0;

void OnStopSignal(int)
{
    int saved = errno;
    char c = 1;
    if (write(gStopPipe[1], &c, 1) < 0) {
    }
    errno = saved;
}

void CancelPrinterJobs(pappl_printer_t* printer, void*)
{
    papplPrinterCancelAllJobs(printer);
}

void StopEverything(const char* why)
{
    if (gStopping.exchange(true))
        return;
    papplLog(gSystem, PAPPL_LOGLEVEL_INFO, "Stopping (%s): cancelling every job.", why);
    StopAllChildren();
    CutAllUploads();
    papplSystemIteratePrinters(gSystem, CancelPrinterJobs, nullptr);
    papplSystemShutdown(gSystem);
    // The main loop may sleep up to its next timer before it looks.
    pthread_kill(gMainThread, SIGTERM);
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(kStopDeadlineSec));
        papplLog(gSystem, PAPPL_LOGLEVEL_ERROR, "Not stopped after %d seconds: ending the process.",
                 kStopDeadlineSec);
        StopAllChildren();
        _exit(1);
    }).detach();
}

void WaitForStopSignal()
{
    char c;
    while (read(gStopPipe[0], &c, 1) < 0 && errno == EINTR) {
    }
    StopEverything("signal");
}

void StartPrinterJobs(pappl_printer_t* printer, void*)
{
    // Jobs restored from the saved state wait for a job to end or arrive.
    if (papplPrinterGetNumberOfActiveJobs(printer) > 0)
        papplPrinterResume(printer);
}

bool AtStart(pappl_system_t* system, void*)
{
    // PAPPL installs its own handlers as it starts to run, which wait up to
    // a minute for active jobs and leave their children running.
    struct sigaction act = {};
    act.sa_handler = OnStopSignal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &act, nullptr);
    sigaction(SIGINT, &act, nullptr);
    // libcups makes every local socket writable by all, and PAPPL lets any
    // local client administer the server.
    if (chmod(gSocket.c_str(), 0600) != 0 && errno != ENOENT)
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to restrict '%s': %s", gSocket.c_str(), strerror(errno));
    papplSystemIteratePrinters(system, StartPrinterJobs, nullptr);
    return false;
}

bool WatchShutdown(pappl_system_t* system, void*)
{
    if (!papplSystemIsShutdown(system))
        return true;
    if (!gShutdownSeen)
        gShutdownSeen = time(nullptr);
    else if (time(nullptr) - gShutdownSeen >= kShutdownGraceSec)
        StopEverything("shutdown");
    return true;
}
} // namespace

std::string ControlSocketPath(const char* baseName, uid_t uid)
{
    const char* snap = getenv("SNAP_COMMON");
    if (uid)
        return std::string(papplGetTempDir()) + "/" + baseName + std::to_string(uid) + ".sock";
    if (snap)
        return std::string(snap) + "/" + baseName + ".sock";
    return std::string("/run/") + baseName + ".sock";
}

void PrepareServerLifecycle(pappl_system_t* system, const char* baseName)
{
    gSystem = system;
    gMainThread = pthread_self();
    gSocket = ControlSocketPath(baseName, getuid());
    if (pipe2(gStopPipe, O_CLOEXEC) == 0)
        std::thread(WaitForStopSignal).detach();
    papplSystemAddTimerCallback(system, time(nullptr), 0, AtStart, nullptr);
    papplSystemAddTimerCallback(system, 0, 5, WatchShutdown, nullptr);
}

void FinishServerLifecycle(pappl_system_t*)
{
    // Job threads that found their job gone may still be on their way out.
    for (int i = 0; i < 100 && JobThreadsRunning() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    StopAllChildren();
}
