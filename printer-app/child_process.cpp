#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

extern char** environ;

namespace {
// The program's path: as given when it has a slash, else from PATH; empty
// when there is none to run.
std::string ProgramPath(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}
} // namespace

pid_t SpawnChild(const std::string& program, const std::vector<std::string>& argv, int in, int out, int err,
                 unsigned cpuSeconds)
{
    const std::string path = ProgramPath(program);
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Past the soft limit the child gets SIGXCPU, a little later SIGKILL.
    const rlimit cpu = {cpuSeconds, cpuSeconds + 5};

    // No handler of the app's may run in the child before it execs.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, which the watchdog ends with one kill; and it
        // ends with the thread that started it, even when the app is killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        // Another job's pipe left open in a child would keep that job's
        // filter from ever seeing the end of its input.
        closefrom(3);
        if (cpuSeconds > 0)
            setrlimit(RLIMIT_CPU, &cpu);
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGTERM, &dfl, nullptr);
        sigaction(SIGINT, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(path.c_str(), args.data(), environ);
        _exit(127);
    }
    int forkErrno = errno;
    if (pid > 0)
        setpgid(pid, pid); // so that the group exists before the watchdog may signal it
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = forkErrno;
    return pid;
}
