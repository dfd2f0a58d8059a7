#include "filter_process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <ftw.h>
#include <sstream>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string BuildDir()
{
    return QUORIN_BUILD_DIR;
}

std::string MakeTempDir(const std::string& tag)
{
    std::string base = BuildDir() + "/test-tmp";
    mkdir(base.c_str(), 0755);
    std::string templ = base + "/" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return base;
    return buf.data();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
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

ProcessResult RunFilterOnFile(const std::string& rasterPath, const std::string& options,
                              const std::vector<std::string>& env, const std::string& title)
{
    return RunProgram(FilterPath(), {"testqueue", "42", "tester", title, "1", options, rasterPath}, env);
}

Spawned StartProgram(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env, const std::string& dir, bool stdinPipe,
                     bool brokenStdout)
{
    Spawned s;
    static int serial = 0;
    ++serial;
    s.outPath = dir + "/out" + std::to_string(serial) + ".prn";
    s.errPath = dir + "/err" + std::to_string(serial) + ".log";
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (stdinPipe && pipe2(in, O_CLOEXEC) != 0)
        return s;
    if (brokenStdout && pipe2(out, O_CLOEXEC) != 0)
        return s;
    pid_t parent = getpid();
    s.pid = fork();
    if (s.pid == 0) {
        // Ends with the test process, even when that is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(126);
        int i = stdinPipe ? in[0] : open("/dev/null", O_RDONLY);
        int o = brokenStdout ? out[1] : open(s.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    if (brokenStdout) {
        close(out[0]);
        close(out[1]);
    }
    return s;
}

ProcessResult WaitProgram(Spawned& s)
{
    if (s.stdinWrite >= 0) {
        close(s.stdinWrite);
        s.stdinWrite = -1;
    }
    ProcessResult r;
    int st = 0;
    waitpid(s.pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.out = ReadFile(s.outPath);
    r.err = ReadFile(s.errPath);
    return r;
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

void RemoveTree(const std::string& dir)
{
    nftw(
        dir.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void RemoveTreeUnlessFailed(const std::string& dir, const std::string& what)
{
    if (dir.empty())
        return;
    if (testing::Test::HasFailure())
        fprintf(stderr, "%s kept in %s\n", what.c_str(), dir.c_str());
    else
        RemoveTree(dir);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::vector<std::string> ErrorLines(const std::string& err)
{
    std::vector<std::string> out;
    for (const std::string& line : SplitLines(err))
        if (line.rfind("ERROR:", 0) == 0)
            out.push_back(line);
    return out;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
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
