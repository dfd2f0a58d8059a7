#include "filter_child.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "child_process.h"
#include "job_watchdog.h"

namespace {
const char kFilterName[] = "rastertoQuorin";
const int kPollMsec = 250;
const size_t kMaxLine = 4096;

void CloseFd(int* fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

void DeliverLine(FilterChild* c, const std::string& line)
{
    if (c->io.onLine)
        c->io.onLine(c->io.ctx, line);
}

// What a pipe holds: 0 when nothing yet, -1 once it has ended (it is closed).
ssize_t ReadPipe(int* fd, char* buf, size_t size)
{
    ssize_t n = read(*fd, buf, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return 0;
    if (n <= 0) {
        CloseFd(fd);
        return -1;
    }
    return n;
}

void ReadMessages(FilterChild* c)
{
    char buf[4096];
    ssize_t n = ReadPipe(&c->messages, buf, sizeof buf);
    if (n < 0 && !c->partialLine.empty()) {
        DeliverLine(c, c->partialLine);
        c->partialLine.clear();
    }
    if (n <= 0)
        return;
    c->partialLine.append(buf, (size_t)n);
    size_t start = 0, end;
    while ((end = c->partialLine.find('\n', start)) != std::string::npos) {
        DeliverLine(c, c->partialLine.substr(start, end - start));
        start = end + 1;
    }
    c->partialLine.erase(0, start);
    if (c->partialLine.size() > kMaxLine) {
        DeliverLine(c, c->partialLine);
        c->partialLine.clear();
    }
}

void ReadOutput(FilterChild* c)
{
    char buf[65536];
    ssize_t n = ReadPipe(&c->output, buf, sizeof buf);
    if (n <= 0)
        return;
    // Once the printer refuses data the rest is read and dropped, so that
    // the filter can still end.
    if (!c->outputFailed.load(std::memory_order_acquire) && !c->io.sendOutput(c->io.ctx, buf, (size_t)n)) {
        c->outputFailed.store(true, std::memory_order_release);
        CancelFilter(c);
    }
}

// The output thread: until the filter has closed both streams (the job's
// watchdog ends a filter that does not).
void* DeliverOutput(void* arg)
{
    FilterChild* c = static_cast<FilterChild*>(arg);
    while (c->output >= 0 || c->messages >= 0) {
        pollfd fds[2];
        nfds_t n = 0;
        int out = -1, msg = -1;
        if (c->output >= 0)
            fds[out = (int)n++] = {c->output, POLLIN, 0};
        if (c->messages >= 0)
            fds[msg = (int)n++] = {c->messages, POLLIN, 0};
        int ready = poll(fds, n, kPollMsec);
        const short done = POLLIN | POLLHUP | POLLERR;
        if (ready > 0 && out >= 0 && (fds[out].revents & done))
            ReadOutput(c);
        if (ready > 0 && msg >= 0 && (fds[msg].revents & done))
            ReadMessages(c);
    }
    return nullptr;
}

ssize_t RasterToFilter(void* ctx, unsigned char* data, size_t len)
{
    FilterChild* c = static_cast<FilterChild*>(ctx);
    size_t left = len;
    while (left > 0 && !c->inputFailed) {
        ssize_t n = write(c->input, data, left);
        if (n > 0) {
            data += n;
            left -= (size_t)n;
        } else if (n < 0 && errno != EINTR) {
            c->inputFailed = true; // the filter has ended or closed its input
        }
    }
    return c->inputFailed ? -1 : (ssize_t)len;
}
} // namespace

std::string FindFilter(std::string* looked)
{
    std::vector<std::string> places;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, (size_t)n);
        places.push_back(dir.substr(0, dir.rfind('/') + 1) + kFilterName);
    }
    places.push_back(std::string(QUORIN_CUPS_SERVER_BIN) + "/filter/" + kFilterName);
    places.push_back(std::string("/usr/lib/cups/filter/") + kFilterName);
    looked->clear();
    for (const std::string& p : places) {
        if (access(p.c_str(), X_OK) == 0)
            return p;
        *looked += (looked->empty() ? "" : ", ") + p;
    }
    return std::string();
}

bool StartFilter(FilterChild* c, pappl_job_t* job, const std::string& path, const std::vector<std::string>& argv,
                 const FilterIo& io)
{
    // Read and write ends of standard input, output and error.
    int fds[6] = {-1, -1, -1, -1, -1, -1};
    bool piped = pipe2(fds, O_CLOEXEC) == 0 && pipe2(fds + 2, O_CLOEXEC) == 0 && pipe2(fds + 4, O_CLOEXEC) == 0;
    c->io = io;
    c->job = job;
    // The filter codes pages on every core.
    unsigned cpu = ChildCpuLimit((unsigned)std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    c->pid = piped ? SpawnChild(path, argv, fds[0], fds[3], fds[5], cpu) : -1;
    int spawnErrno = errno;
    if (c->pid > 0)
        WatchChild(job, c->pid);
    for (int i : {0, 3, 5})
        CloseFd(&fds[i]);
    c->input = fds[1];
    c->output = fds[2];
    c->messages = fds[4];
    if (c->pid >= 0) {
        int rc = pthread_create(&c->outputThread, nullptr, DeliverOutput, c);
        c->outputThreadStarted = rc == 0;
        spawnErrno = rc;
    }
    if (!c->outputThreadStarted) {
        // Without the thread nobody would take the filter's output.
        CloseFd(&c->input);
        CloseFd(&c->output);
        CloseFd(&c->messages);
        errno = spawnErrno;
        return false;
    }
    c->raster = cupsRasterOpenIO(RasterToFilter, c, CUPS_RASTER_WRITE_COMPRESSED);
    return c->raster != nullptr;
}

bool FilterWriteHeader(FilterChild* c, cups_page_header2_t* header)
{
    return c->raster && cupsRasterWriteHeader2(c->raster, header) && !c->inputFailed;
}

bool FilterWritePixels(FilterChild* c, const unsigned char* data, unsigned len)
{
    return c->raster && cupsRasterWritePixels(c->raster, const_cast<unsigned char*>(data), len) == len &&
           !c->inputFailed;
}

void CancelFilter(FilterChild* c)
{
    if (c->pid > 0 && !c->termSent.exchange(true, std::memory_order_acq_rel))
        kill(-c->pid, SIGTERM);
}

int FinishFilter(FilterChild* c)
{
    if (c->raster)
        cupsRasterClose(c->raster);
    c->raster = nullptr;
    CloseFd(&c->input);
    if (c->outputThreadStarted)
        pthread_join(c->outputThread, nullptr);
    c->outputThreadStarted = false;
    // The filter closes its streams as it exits.
    int status = c->pid >= 0 ? FinishChild(c->job, c->pid) : -1;
    c->pid = -1;
    return status;
}
