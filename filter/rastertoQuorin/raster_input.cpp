#include "raster_input.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "job_status.h"

namespace {
// Waits for input or for the job to stop, whichever comes first: neither a
// cancel nor a failure on another thread may wait for a stalled upstream
// filter. A stop reads as an interrupted read.
ssize_t ReadUnlessStopped(int fd, BOOL regular, unsigned char* buffer, size_t length)
{
    // A file never stalls: a look at the job's state does, without a
    // system call for every line.
    if (regular) {
        if (JobAbandoned()) {
            errno = EINTR;
            return -1;
        }
        ssize_t n;
        do
            n = read(fd, buffer, length);
        while (n < 0 && errno == EINTR && !JobCanceled());
        return n;
    }
    struct pollfd p[2] = {{fd, POLLIN, 0}, {JobStopFd(), POLLIN, 0}};
    for (;;) {
        int ready = poll(p, p[1].fd >= 0 ? 2 : 1, -1);
        if ((ready > 0 && (p[1].revents & POLLIN)) || (ready < 0 && errno == EINTR && JobCanceled())) {
            errno = EINTR;
            return -1;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        ssize_t n = read(fd, buffer, length);
        if (n < 0 && errno == EINTR && !JobCanceled())
            continue;
        return n;
    }
}

ssize_t ReadInput(void* ctx, unsigned char* buffer, size_t length)
{
    RasterInput* in = static_cast<RasterInput*>(ctx);
    ssize_t n;
    if (in->fd < 0) {
        size_t left = in->size - in->pos;
        n = (ssize_t)(length < left ? length : left);
        memcpy(buffer, in->data + in->pos, (size_t)n);
        in->pos += (size_t)n;
    } else {
        n = ReadUnlessStopped(in->fd, in->regular, buffer, length);
    }
    if (in->watching && in->calls++ == 0) {
        in->firstAsked = length;
        in->firstGot = n;
    }
    if (n < 0) {
        if (!in->readErrno)
            in->readErrno = errno;
        return -1;
    }
    if (n == 0)
        in->sawEof = TRUE;
    for (ssize_t i = 0; i < n && in->delivered + (unsigned long long)i < sizeof in->sync; ++i)
        in->sync[in->delivered + (unsigned long long)i] = buffer[i];
    in->delivered += (unsigned long long)n;
    return n;
}

DWORD HeaderSizeFor(const BYTE raw[4])
{
    unsigned sync;
    memcpy(&sync, raw, sizeof sync);
    if (sync == CUPS_RASTER_SYNCv1 || sync == CUPS_RASTER_REVSYNCv1)
        return sizeof(cups_page_header_t);
    if (sync == CUPS_RASTER_SYNCapple || sync == CUPS_RASTER_REVSYNCapple)
        return 32;
    return sizeof(cups_page_header2_t);
}
} // namespace

void RasterInputFromFd(RasterInput* in, int fd)
{
    memset(in, 0, sizeof *in);
    in->fd = fd;
    struct stat st;
    in->regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

void RasterInputFromMemory(RasterInput* in, const void* data, size_t size)
{
    memset(in, 0, sizeof *in);
    in->fd = -1;
    in->data = static_cast<const BYTE*>(data);
    in->size = size;
}

cups_raster_t* OpenRasterInput(RasterInput* in, RasterOpenResult* result)
{
    cups_raster_t* ras = cupsRasterOpenIO(ReadInput, in, CUPS_RASTER_READ);
    if (ras) {
        in->headerSize = HeaderSizeFor(in->sync);
        *result = RASTER_OPEN_OK;
    } else if (in->readErrno) {
        *result = RASTER_OPEN_READ_ERROR;
    } else {
        *result = in->delivered == 0 ? RASTER_OPEN_EMPTY : RASTER_OPEN_NOT_RASTER;
    }
    return ras;
}

RasterHeaderResult ReadRasterHeader(RasterInput* in, cups_raster_t* ras, cups_page_header2_t* h)
{
    in->watching = TRUE;
    in->calls = 0;
    unsigned ok = cupsRasterReadHeader2(ras, h);
    in->watching = FALSE;
    if (ok)
        return RASTER_HEADER_OK;
    if (in->readErrno)
        return RASTER_HEADER_READ_ERROR;
    // libcups asks for a whole header at once when nothing of it is buffered
    // yet; an end found right there is the end of the job. Anything else at
    // the end means part of a header was there.
    if (in->calls > 0 && in->firstAsked == in->headerSize && in->firstGot == 0)
        return RASTER_HEADER_END;
    return in->sawEof ? RASTER_HEADER_CUT : RASTER_HEADER_DAMAGED;
}
