// rastertoQuorin run as a child process for one job: CUPS raster in on its
// standard input, the printer stream out of its standard output, its
// messages out of standard error. The job's thread writes the raster; an
// output thread of its own delivers the stream and the messages as they
// come, so the printer never waits for the next page to be rendered.
#ifndef QUORIN_APP_FILTER_CHILD_H
#define QUORIN_APP_FILTER_CHILD_H

#include <atomic>
#include <cups/raster.h>
#include <pappl/pappl.h>
#include <pthread.h>
#include <string>
#include <sys/types.h>
#include <vector>

// Called on the output thread.
struct FilterIo {
    void* ctx = nullptr;
    // Takes printer stream bytes; false when they cannot be delivered.
    bool (*sendOutput)(void* ctx, const void* data, size_t len) = nullptr;
    // One standard-error line, without its newline.
    void (*onLine)(void* ctx, const std::string& line) = nullptr;
};

struct FilterChild {
    pappl_job_t* job = nullptr; // whose watchdog ends the filter
    pid_t pid = -1;
    int input = -1, output = -1, messages = -1;
    cups_raster_t* raster = nullptr;
    FilterIo io;
    pthread_t outputThread;
    bool outputThreadStarted = false;
    std::string partialLine;          // output thread only
    bool inputFailed = false;         // job thread only: the filter stopped taking raster
    // Set by the output thread, read by the job thread.
    std::atomic<bool> outputFailed{false}; // the printer stream could not be delivered
    std::atomic<bool> termSent{false};
};

// The filter beside this program (a build tree), else in CUPS's ServerBin;
// empty when neither has it. *looked lists the places tried.
std::string FindFilter(std::string* looked);

// Starts the filter for the job with the CUPS filter arguments (printer,
// job id, user, title, copies, options), under the job's watchdog, and its
// output thread.
bool StartFilter(FilterChild* child, pappl_job_t* job, const std::string& path, const std::vector<std::string>& argv,
                 const FilterIo& io);

bool FilterWriteHeader(FilterChild* child, cups_page_header2_t* header);
bool FilterWritePixels(FilterChild* child, const unsigned char* data, unsigned len);

// Asks the filter to stop (SIGTERM, once); it still ends its stream properly.
void CancelFilter(FilterChild* child);

// Ends the raster, waits until the output thread has delivered the rest and
// the filter has ended: its exit status, 128 + signal, or -1 when it never ran.
int FinishFilter(FilterChild* child);

#endif
