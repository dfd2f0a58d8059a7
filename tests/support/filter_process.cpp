#include "filter_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files.h"
#include "text_lines.h"

extern char** environ;

namespace {
// In the child: the environment changes, then the program. Never returns.
[[noreturn]] void ExecProgram(const std::string& program, const std::vector<std::string>& argv,
                              const std::vector<std::string>& env)
{
    for (const std::string& e : env) {
        if (!e.empty() && e.back() == '=')
            unsetenv(e.substr(0, e.size() - 1).c_str());
        else
            putenv(const_cast<char*>(e.c_str()));
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execve(program.c_str(), args.data(), environ);
    _exit(127);
}
} // namespace

std::string FilterPath()
{
    return QUORIN_FILTER_PATH;
}

std::string SeamFilterPath()
{
    return QUORIN_SEAM_FILTER_PATH;
}

std::string FilterFor(const std::vector<std::string>& env)
{
    for (const std::string& e : env)
        if (e.rfind("QUORIN_TEST_", 0) == 0)
            return SeamFilterPath();
    return FilterPath();
}

std::string DecoderPath()
{
    return QUORIN_DECODER_PATH;
}

bool HaveProgram(const std::string& name)
{
    return system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env, const std::string& stdinPath)
{
    ProcessResult r;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY);
        if (in < 0)
            _exit(126);
        dup2(in, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        ExecProgram(program, argv, env);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, (size_t)n);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

std::vector<std::string> FilterArgs(const std::string& copies, const std::string& options,
                                    const std::string& raster, const std::string& title)
{
    return {"testqueue", "42", "tester", title, copies, options, raster};
}

ProcessResult RunFilterOnFile(const std::string& rasterPath, const std::string& options,
                              const std::vector<std::string>& env, const std::string& title)
{
    return RunProgram(FilterFor(env), FilterArgs("1", options, rasterPath, title), env);
}

Spawned StartProgram(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env, const std::string& dir, bool stdinPipe,
                     bool brokenStdout, bool heldStdout)
{
    Spawned s;
    static int serial = 0;
    ++serial;
    s.outPath = dir + "/out" + std::to_string(serial) + ".prn";
    s.errPath = dir + "/err" + std::to_string(serial) + ".log";
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (stdinPipe && pipe2(in, O_CLOEXEC) != 0)
        return s;
    if ((brokenStdout || heldStdout) && pipe2(out, O_CLOEXEC) != 0)
        return s;
    pid_t parent = getpid();
    s.pid = fork();
    if (s.pid == 0) {
        // Ends with the test process, even when that is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(126);
        int i = stdinPipe ? in[0] : open("/dev/null", O_RDONLY);
        int o = brokenStdout || heldStdout ? out[1] : open(s.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(s.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0 || o < 0 || e < 0)
            _exit(126);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        ExecProgram(program, argv, env);
    }
    if (stdinPipe) {
        close(in[0]);
        s.stdinWrite = in[1];
    }
    if (brokenStdout)
        close(out[0]);
    if (brokenStdout || heldStdout)
        close(out[1]);
    if (heldStdout)
        s.stdoutRead = out[0];
    return s;
}

ProcessResult WaitProgram(Spawned& s)
{
    if (s.stdinWrite >= 0) {
        close(s.stdinWrite);
        s.stdinWrite = -1;
    }
    ProcessResult r;
    if (s.stdoutRead >= 0) {
        char buf[65536];
        ssize_t n;
        while ((n = read(s.stdoutRead, buf, sizeof buf)) > 0)
            r.out.append(buf, (size_t)n);
        close(s.stdoutRead);
        s.stdoutRead = -1;
    }
    int st = s.waitStatus;
    if (st < 0)
        waitpid(s.pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (r.out.empty())
        r.out = ReadFile(s.outPath);
    r.err = ReadFile(s.errPath);
    return r;
}

bool EndsWithin(Spawned& s, int seconds)
{
    for (int i = 0; i < seconds * 20; ++i) {
        int st = 0;
        if (waitpid(s.pid, &st, WNOHANG) == s.pid) {
            s.waitStatus = st;
            return true;
        }
        usleep(50 * 1000);
    }
    return false;
}

bool WaitForSyscall(pid_t pid, long nr, long fd, int seconds)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/syscall";
    int seen = 0; // two looks in a row: blocked, not passing through
    for (int i = 0; i < seconds * 20; ++i) {
        long callNr = -2;
        unsigned long arg = 0;
        FILE* f = fopen(path.c_str(), "re");
        if (f) {
            if (fscanf(f, "%ld %lx", &callNr, &arg) < 1)
                callNr = -2;
            fclose(f);
        }
        seen = callNr == nr && (fd < 0 || (long)arg == fd) ? seen + 1 : 0;
        if (seen == 2)
            return true;
        usleep(50 * 1000);
    }
    return false;
}

void StopProgram(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) { // up to 5 s, then no more patience
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(50 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::vector<std::string> ErrorLines(const std::string& err)
{
    return LinesStartingWith(err, "ERROR:");
}

bool Traced(const std::string& log, const std::string& message)
{
    return log.find("DEBUG: " + message + " ---------->\n") != std::string::npos;
}

unsigned PageCopiesTotal(const std::string& err)
{
    unsigned total = 0;
    for (const std::string& line : SplitLines(err)) {
        unsigned page = 0, copies = 0;
        if (sscanf(line.c_str(), "PAGE: %u %u", &page, &copies) == 2)
            total += copies;
    }
    return total;
}
