#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

pid_t SpawnChild(const std::string& program, const std::vector<std::string>& argv, int in, int out, int err,
                 unsigned cpuSeconds)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    // Another job's pipe left open in a child would keep that job's filter
    // from ever seeing the end of its input.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // A group of its own: the watchdog ends the child and everything it
    // started with one kill. The app's threads block the signals its signal
    // thread takes; the child must not inherit that.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, stop;
    sigemptyset(&none);
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &stop);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    if (cpuSeconds > 0) {
        // Past the soft limit the child gets SIGXCPU, a little later SIGKILL.
        rlimit cpu = {cpuSeconds, cpuSeconds + 5};
        prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
    }
    return pid;
}

int WaitChild(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
