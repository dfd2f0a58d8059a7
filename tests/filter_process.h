// Runs the built filter as the scheduler would: arguments, environment,
// standard input, and both output streams captured.
#ifndef QUORIN_FILTER_PROCESS_H
#define QUORIN_FILTER_PROCESS_H

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct ProcessResult {
    int status = -1;       // exit status, or 128 + signal
    std::string out;       // standard output (the printer stream)
    std::string err;       // standard error (trace and ERROR: lines)
};

// argv[0] is what the filter sees as the printer name. stdinPath empty: no
// standard input (/dev/null). env entries "NAME=value" are added to a copy of
// the test's environment, "NAME=" removes NAME.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {}, const std::string& stdinPath = "");

// The filter with the usual six arguments and the raster file as the seventh.
ProcessResult RunFilterOnFile(const std::string& rasterPath, const std::string& options = "",
                              const std::vector<std::string>& env = {}, const std::string& title = "Test");

std::string FilterPath();
std::string BuildDir();

// A program run in the background, ended with the test process: standard
// output and error go to files in dir (or standard output to a pipe nobody
// reads, to play a vanished backend; or standard input from a pipe the test
// writes).
struct Spawned {
    pid_t pid = -1;
    std::string outPath, errPath;
    int stdinWrite = -1;
};
Spawned StartProgram(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env, const std::string& dir, bool stdinPipe = false,
                     bool brokenStdout = false);
ProcessResult WaitProgram(Spawned& s);

// Ends a background program: SIGTERM, and SIGKILL when it is not gone
// within five seconds. Does nothing for pid <= 0.
void StopProgram(pid_t pid);

std::string ReadFile(const std::string& path);

// Names in a directory, without "." entries.
std::vector<std::string> DirEntries(const std::string& dir);

// The "ERROR:" lines of a filter's standard error, and lines joined for messages.
std::vector<std::string> ErrorLines(const std::string& err);
std::string Joined(const std::vector<std::string>& lines);

// Sides the scheduler was told were printed: the sum of the copies field of
// every "PAGE: n copies" line.
unsigned PageCopiesTotal(const std::string& err);

// A fresh private directory under the build tree's temp area.
std::string MakeTempDir(const std::string& tag);

// Removes a folder and everything below it, without following links.
void RemoveTree(const std::string& dir);

// Removes a test's folder, or keeps it for a look when the test failed and
// says so on standard error.
void RemoveTreeUnlessFailed(const std::string& dir, const std::string& what);

// Lines of a text (without line ends).
std::vector<std::string> SplitLines(const std::string& text);

#endif
