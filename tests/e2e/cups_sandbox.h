// Private CUPS set-ups for the end-to-end tests: the built filter and PPD run
// by the real CUPS tools, without touching the machine's own CUPS set-up.
#ifndef QUORIN_CUPS_SANDBOX_H
#define QUORIN_CUPS_SANDBOX_H

#include <string>
#include <sys/types.h>
#include <vector>

#include "filter_process.h"

std::string PpdPath();
std::string SamplePath(const std::string& name);

// A fresh folder that the scheduler's unprivileged filters can enter.
std::string MakeSandboxDir(const std::string& tag);

// dir/serverbin: links to everything in the system's ServerBin, and a filter/
// folder of links to the system filters (except those named in leaveOut) and
// to the built rastertoQuorin, or a copy of it with copyFilter. The PPD names
// the filter without a path, so this is how CUPS finds the build.
bool MakeServerBin(const std::string& dir, const std::vector<std::string>& leaveOut = {}, bool copyFilter = false);

// One document through cupsfilter's whole chain, to the printer stream or
// to the given MIME type. options: name=value; leaveOut: system filters
// hidden from the chain.
ProcessResult RunCupsfilter(const std::string& document, const std::vector<std::string>& options = {},
                            int copies = 1, const std::vector<std::string>& leaveOut = {},
                            const std::string& format = "printer/quorin");

// The filters that cupsfilter reports as started, in order.
std::vector<std::string> FiltersStarted(const std::string& err);

// A scheduler of its own: configuration, spool, logs and state below root,
// listening on 127.0.0.1 only. The destructor stops it, so every way out of
// a test ends it; it also dies with the test process. Root lies in the system's
// temporary folder, where the unprivileged user that runs the filters can
// reach it, and is removed unless the test failed.
struct PrivateCupsd {
    std::string root;
    std::string host; // 127.0.0.1:port, for the -h option of the clients
    pid_t pid = -1;
    PrivateCupsd() = default;
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;
    ~PrivateCupsd();
};
bool StartCupsd(PrivateCupsd* cupsd, std::string* why);
void StopCupsd(PrivateCupsd* cupsd);

// A CUPS client (lp, lpadmin, lpstat, ...) talking to the private scheduler.
ProcessResult RunClient(const PrivateCupsd& cupsd, const std::string& program,
                        const std::vector<std::string>& args);

#endif
