// The printer application as the tests run it: a private server on
// 127.0.0.1 with its own state, spool and log, one printer "Quorin" on a
// file: device, driven over IPP with CUPS's ipptool.
#ifndef QUORIN_APP_SERVER_H
#define QUORIN_APP_SERVER_H

#include <string>
#include <sys/types.h>
#include <vector>

#include "files.h"
#include "filter_process.h"
#include "text_lines.h"

struct AppServer {
    std::string dir; // state/, spool/, out/ and app.log
    int port = 0;
    pid_t pid = -1;
    std::vector<std::string> options; // more -o options of the server
    AppServer() = default;
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;
    // Stops the server; its folder stays when a test failed.
    ~AppServer();
};

// A fresh folder (unless app->dir names one already) and server, with the
// printer added.
bool StartAppServer(AppServer* app, std::string* why);

// Starts the server again on the folder it had (its saved state included).
bool RestartAppServer(AppServer* app, std::string* why);

// SIGTERM, and waits up to `seconds` for the server to end: its exit
// status, or -1 when it did not end in time (it is killed then).
int StopAppServer(AppServer* app, int seconds);

// Process ids of the server and of every process it started, those it left
// behind included (they carry its environment), once none is left or after
// `seconds`.
std::vector<int> AppProcessesLeft(const AppServer& app, int seconds = 0);

std::string PrinterUri(const AppServer& app);

// The app's own command line against the server's private state.
ProcessResult RunApp(const AppServer& app, const std::vector<std::string>& args);

// ipptool -t -v on a test file against the printer; vars are name=value
// for -d, document goes with -f.
ProcessResult RunIpptool(const AppServer& app, const std::string& testFile,
                         const std::vector<std::string>& vars = {}, const std::string& document = "");

// A page of the app's web interface; empty when it could not be had.
std::string WebPage(const AppServer& app, const std::string& path);

// Counts of ipptool's [PASS] and [FAIL] report lines.
int CountResults(const std::string& report, const char* result);

struct IppJob {
    std::string state;   // job-state keyword at the end
    std::string message; // job-state-message
    int impressions = -1; // job-impressions-completed
    int sheets = -1;      // job-media-sheets-completed
    std::string stream;  // what the printer received
    std::string report;  // ipptool's, for failure messages
};

// Prints a document with Print-Job and the given job attributes (ipptool
// ATTR lines without the ATTR), waits for the job to end and collects the
// printer stream. cancelMidway: cancels once the first side is printed.
IppJob PrintDocument(const AppServer& app, const std::string& document, const std::string& format,
                     const std::vector<std::string>& jobAttrs = {}, bool cancelMidway = false);

// Resident memory (kB) and open descriptors of the server process. The
// descriptors are the fewest seen over a second, so that a connection or job
// file the server is still closing does not count.
struct ProcessUse {
    long rssKb = -1;
    int fds = -1;
};
ProcessUse ServerUse(const AppServer& app);

// The process ids of the server's child processes, from all its threads.
std::string ServerChildren(const AppServer& app);

#endif
