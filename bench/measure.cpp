// measure -o FILE [-b BYTES] PROGRAM [ARGS...]: runs the program and writes
// one line to FILE: "wall_s cpu_s peak_kib first_s", wall-clock seconds,
// user + system seconds (its waited-for children included), peak resident
// memory in KiB, and the seconds until the program's standard output held
// its first whole page record (0x1B 0x45, the 32-byte page header, the JBIG
// data): when the printer could start its first sheet; -1 when none came.
// Other printers' streams have no such record: with -b, first_s is when
// BYTES bytes had come (the bench gives a one-page job's length less its
// end). The output is passed on to measure's own standard output. Exits
// with the program's status. GNU time rounds to 10 ms, too coarse for a
// one-page job.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
double Seconds(const timeval& t)
{
    return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// Watches a printer stream go by and says when its first page record is whole.
struct FirstRecord {
    std::string head; // the stream until the record's header is found
    uint64_t seen = 0, end = 0;
    uint64_t byteCount = 0; // -b: the first page is whole at this length
    bool done = false;
    // True when the bytes up to and including [p, p + n) complete the record.
    bool Feed(const char* p, size_t n)
    {
        if (done)
            return false;
        seen += n;
        if (byteCount)
            return done = seen >= byteCount;
        if (!end) {
            head.append(p, n);
            // The record's lead-in and the header's idf, "GDI" and a NUL.
            size_t at = head.find(std::string("\x1b" "EGDI\0", 6));
            if (at == std::string::npos || head.size() < at + 34)
                return false;
            uint32_t comp;
            memcpy(&comp, head.data() + at + 2 + 16, 4); // little-endian, as this machine
            end = seen - head.size() + at + 34 + comp;
            head.clear();
        }
        return done = seen >= end;
    }
};
} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || strcmp(argv[1], "-o") != 0) {
        fputs("usage: measure -o FILE [-b BYTES] PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    FirstRecord record;
    int prog = 3;
    if (argc > 5 && strcmp(argv[3], "-b") == 0) {
        record.byteCount = strtoull(argv[4], nullptr, 10);
        prog = 5;
    }
    FILE* out = fopen(argv[2], "w");
    if (!out) {
        fprintf(stderr, "measure: cannot write %s: %s\n", argv[2], strerror(errno));
        return 2;
    }
    int pipefd[2];
    if (pipe(pipefd) != 0) {
        perror("measure: pipe");
        return 2;
    }
    double start = Now();
    pid_t pid = fork();
    if (pid < 0) {
        perror("measure: fork");
        return 2;
    }
    if (pid == 0) {
        dup2(pipefd[1], 1);
        close(pipefd[0]);
        close(pipefd[1]);
        execvp(argv[prog], argv + prog);
        fprintf(stderr, "measure: cannot run %s: %s\n", argv[prog], strerror(errno));
        _exit(127);
    }
    close(pipefd[1]);
    double first = -1;
    static char buf[1 << 16];
    for (;;) {
        ssize_t n = read(pipefd[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (record.Feed(buf, (size_t)n))
            first = Now() - start;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(1, buf + off, (size_t)(n - off));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            off += w;
        }
    }
    close(pipefd[0]);
    int status = 0;
    rusage ru;
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR) {
            perror("measure: wait4");
            return 2;
        }
    }
    double wall = Now() - start;
    fprintf(out, "%.4f %.4f %ld %.4f\n", wall, Seconds(ru.ru_utime) + Seconds(ru.ru_stime), ru.ru_maxrss, first);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
