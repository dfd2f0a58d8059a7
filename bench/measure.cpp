// measure -o FILE PROGRAM [ARGS...]: runs the program and writes one line to
// FILE: "wall_s cpu_s peak_kib", wall-clock seconds, user + system seconds
// (its waited-for children included) and peak resident memory in KiB.
// Exits with the program's status. GNU time rounds to 10 ms, too coarse for
// a one-page job.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
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
} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || strcmp(argv[1], "-o") != 0) {
        fputs("usage: measure -o FILE PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    FILE* out = fopen(argv[2], "w");
    if (!out) {
        fprintf(stderr, "measure: cannot write %s: %s\n", argv[2], strerror(errno));
        return 2;
    }
    double start = Now();
    pid_t pid = fork();
    if (pid < 0) {
        perror("measure: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[3], argv + 3);
        fprintf(stderr, "measure: cannot run %s: %s\n", argv[3], strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage ru;
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR) {
            perror("measure: wait4");
            return 2;
        }
    }
    double wall = Now() - start;
    fprintf(out, "%.4f %.4f %ld\n", wall, Seconds(ru.ru_utime) + Seconds(ru.ru_stime), ru.ru_maxrss);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
