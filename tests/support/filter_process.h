// Runs the built filter and the other programs as the scheduler would:
// arguments, environment, standard input, and both output streams captured;
// and reads what the filter told the scheduler.
#ifndef QUORIN_FILTER_PROCESS_H
#define QUORIN_FILTER_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    int status = -1;       // exit status, or 128 + signal
    std::string out;       // standard output (the printer stream)
    std::string err;       // standard error (trace and ERROR: lines)
};

std::string FilterPath();
// The tests' build of the filter, the only one that reads QUORIN_TEST_*.
std::string SeamFilterPath();
// The filter a run with these environment changes needs.
std::string FilterFor(const std::vector<std::string>& env);
std::string DecoderPath();

// True when the program is on PATH.
bool HaveProgram(const std::string& name);

// argv[0] is what the filter sees as the printer name. stdinPath empty: no
// standard input (/dev/null). env entries "NAME=value" are added to a copy of
// the test's environment, "NAME=" removes NAME.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {}, const std::string& stdinPath = "");

// The filter's seven arguments, the raster file last (none: standard input).
std::vector<std::string> FilterArgs(const std::string& copies, const std::string& options,
                                    const std::string& raster, const std::string& title = "Test");

// The filter with the usual six arguments and the raster file as the seventh.
ProcessResult RunFilterOnFile(const std::string& rasterPath, const std::string& options = "",
                              const std::vector<std::string>& env = {}, const std::string& title = "Test");

// A program run in the background, ended with the test process: standard
// output and error go to files in dir (or standard output to a pipe nobody
// reads, to play a vanished backend, or to a pipe the test reads only in
// WaitProgram, to play a slow one; standard input may come from a pipe the
// test writes).
struct Spawned {
    pid_t pid = -1;
    std::string outPath, errPath;
    int stdinWrite = -1;
    int stdoutRead = -1;
    int waitStatus = -1; // set once the program has been reaped
};
Spawned StartProgram(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env, const std::string& dir, bool stdinPipe = false,
                     bool brokenStdout = false, bool heldStdout = false);
ProcessResult WaitProgram(Spawned& s);
// Whether the program ends within the time, its stdin pipe still open.
bool EndsWithin(Spawned& s, int seconds);

// Whether the program's main thread sits in system call `nr` with `fd` as
// its first argument (-1: any) within the time: it is blocked there.
bool WaitForSyscall(pid_t pid, long nr, long fd, int seconds);

// Ends a background program: SIGTERM, and SIGKILL when it is not gone
// within five seconds. Does nothing for pid <= 0.
void StopProgram(pid_t pid);

// The "ERROR:" lines of a filter's standard error.
std::vector<std::string> ErrorLines(const std::string& err);

// The trace line "DEBUG: message ---------->", the whole message, is in the log.
bool Traced(const std::string& log, const std::string& message);

// Sides the scheduler was told were printed: the sum of the copies field of
// every "PAGE: n copies" line.
unsigned PageCopiesTotal(const std::string& err);

#endif
