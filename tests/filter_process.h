// Runs the built filter as the scheduler would: arguments, environment,
// standard input, and both output streams captured.
#ifndef QUORIN_FILTER_PROCESS_H
#define QUORIN_FILTER_PROCESS_H

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    int status = -1;       // exit status, or 128 + signal
    std::string out;       // standard output (the printer stream)
    std::string err;       // standard error (trace and ERROR: lines)
};

// argv[0] is what the filter sees as the printer name. stdinPath empty: no
// standard input (/dev/null). env entries are "NAME=value" added to a copy of
// the test's environment.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {}, const std::string& stdinPath = "");

// The filter with the usual six arguments and the raster file as the seventh.
ProcessResult RunFilterOnFile(const std::string& rasterPath, const std::string& options = "",
                              const std::vector<std::string>& env = {}, const std::string& title = "Test");

std::string FilterPath();
std::string BuildDir();

// A fresh private directory under the build tree's temp area.
std::string MakeTempDir(const std::string& tag);

// Lines of a text (without line ends).
std::vector<std::string> SplitLines(const std::string& text);

#endif
