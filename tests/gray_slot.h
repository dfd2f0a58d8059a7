// A hand-filled page slot holding an eight-bit gray page, as the raster
// reader leaves it, for the image-processing tests.
#ifndef QUORIN_GRAY_SLOT_H
#define QUORIN_GRAY_SLOT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_info.h"

struct GraySlot {
    JobInfo job;
    std::vector<BYTE> buf;
    std::string log;
    GraySlot(DWORD width, DWORD height, BYTE gray, int density, unsigned bitsPerPixel = 24)
        : buf((size_t)width * height, gray)
    {
        InitJobSlot(&job, 0);
        job.page_width = width;
        job.page_height = height;
        job.linebyte = width;
        job.pagesize = width * height;
        job.inheader.cupsCompression = (unsigned)density;
        job.inheader.cupsBitsPerPixel = bitsPerPixel;
        job.lpbuf.store(buf.data());
    }
    BYTE& Gray(DWORD x, DWORD y) { return buf[(size_t)y * job.page_width + x]; }
    void Fill(DWORD x0, DWORD y0, DWORD w, DWORD h, BYTE v)
    {
        for (DWORD y = y0; y < y0 + h; ++y)
            for (DWORD x = x0; x < x0 + w; ++x)
                Gray(x, y) = v;
    }
    // Pixel x of line y once the page is one bit per pixel.
    int Bit(DWORD x, DWORD y) const { return buf[(size_t)y * job.linebyte + x / 8] >> (7 - x % 8) & 1; }
    // Runs one step on the slot, keeping what it logged.
    BOOL Run(BOOL (*step)(JobInfo*))
    {
        testing::internal::CaptureStderr();
        BOOL rc = step(&job);
        log = testing::internal::GetCapturedStderr();
        return rc;
    }
    bool Logged(const std::string& text) const { return log.find(text) != std::string::npos; }
};

#endif
