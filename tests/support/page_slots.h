// Hand-filled page slots for the image-processing and page-record tests: an
// eight-bit gray page as the raster reader leaves it, or a one-bit page as the
// screen leaves it. The slot owns its bitmap, exactly as long as the bytes it
// was given, so that AddressSanitizer sees a read past the page.
#ifndef QUORIN_PAGE_SLOTS_H
#define QUORIN_PAGE_SLOTS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_info.h"
#include "page_bits.h"

struct PageSlot {
    JobInfo job;
    std::vector<BYTE> buf;
    std::string log;
    PageSlot(DWORD width, DWORD height, DWORD linebyte, const std::vector<BYTE>& bytes)
        : buf(bytes.begin(), bytes.end())
    {
        InitJobSlot(&job, 0);
        job.page_width = width;
        job.page_height = height;
        job.linebyte = linebyte;
        job.pagesize = linebyte * height;
        job.lpbuf.store(buf.data());
    }
    // Pixel x of line y once the page is one bit per pixel.
    int Bit(size_t x, size_t y) const { return OneBitPixel(buf.data(), job.linebyte, x, y); }
    // Runs one step on the slot, keeping what it logged.
    template <class Step>
    auto Run(Step step) -> decltype(step(&job))
    {
        testing::internal::CaptureStderr();
        struct KeepLog {
            std::string& log;
            ~KeepLog() { log = testing::internal::GetCapturedStderr(); }
        } keep{log};
        return step(&job);
    }
    bool Logged(const std::string& text) const { return log.find(text) != std::string::npos; }
};

struct GraySlot : PageSlot {
    GraySlot(DWORD width, DWORD height, BYTE gray, int density, unsigned bitsPerPixel = 24)
        : PageSlot(width, height, width, std::vector<BYTE>((size_t)width * height, gray))
    {
        job.inheader.cupsCompression = (unsigned)density;
        job.inheader.cupsBitsPerPixel = bitsPerPixel;
    }
    BYTE& Gray(DWORD x, DWORD y) { return buf[(size_t)y * job.page_width + x]; }
    void Fill(DWORD x0, DWORD y0, DWORD w, DWORD h, BYTE v)
    {
        for (DWORD y = y0; y < y0 + h; ++y)
            for (DWORD x = x0; x < x0 + w; ++x)
                Gray(x, y) = v;
    }
};

// An A4 page from the automatic tray; no bytes: a white page.
struct OneBitSlot : PageSlot {
    OneBitSlot(DWORD width, DWORD height, const std::vector<BYTE>& bytes = {})
        : PageSlot(width, height, width / 8,
                   bytes.empty() ? std::vector<BYTE>((size_t)width / 8 * height, 0) : bytes)
    {
        job.inheader.PageSize[0] = 595;
        job.inheader.PageSize[1] = 842;
        job.inheader.MediaPosition = 250;
    }
};

#endif
