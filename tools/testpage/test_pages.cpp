#include "test_pages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

cups_page_header2_t MakePageHeader(unsigned width, unsigned height, unsigned bitsPerPixel,
                                   cups_cspace_t colorSpace, unsigned dpi)
{
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    strcpy(h.MediaClass, "PwgRaster");
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    h.PageSize[0] = (width * 72 + dpi / 2) / dpi;
    h.PageSize[1] = (height * 72 + dpi / 2) / dpi;
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
    h.NumCopies = 1;
    h.MediaPosition = 250;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerPixel = bitsPerPixel;
    h.cupsBitsPerColor = bitsPerPixel >= 24 ? 8 : bitsPerPixel;
    h.cupsBytesPerLine = (width * bitsPerPixel + 7) / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = colorSpace;
    h.cupsCompression = 3;
    return h;
}

namespace {
bool ZeroIsWhite(const cups_page_header2_t& h)
{
    return h.cupsColorSpace == CUPS_CSPACE_K;
}
} // namespace

TestPage MakeWhitePage(const cups_page_header2_t& header)
{
    TestPage page;
    page.header = header;
    uint8_t white = ZeroIsWhite(header) ? 0x00 : 0xFF;
    page.pixels.assign((size_t)header.cupsBytesPerLine * header.cupsHeight, white);
    return page;
}

void FillRect(TestPage* page, unsigned x0, unsigned y0, unsigned w, unsigned h, uint8_t gray)
{
    const cups_page_header2_t& hd = page->header;
    unsigned x1 = std::min(hd.cupsWidth, x0 + w), y1 = std::min(hd.cupsHeight, y0 + h);
    unsigned bpp = hd.cupsBitsPerPixel;
    bool inverted = ZeroIsWhite(hd);
    for (unsigned y = y0; y < y1; ++y) {
        uint8_t* line = page->pixels.data() + (size_t)y * hd.cupsBytesPerLine;
        for (unsigned x = x0; x < x1; ++x) {
            if (bpp >= 24) {
                uint8_t* p = line + (size_t)x * (bpp / 8);
                p[0] = p[1] = p[2] = gray;
                if (bpp == 32)
                    p[3] = 0;
            } else if (bpp == 8) {
                line[x] = inverted ? (uint8_t)(255 - gray) : gray;
            } else {
                bool dark = gray < 128;
                bool bit = inverted ? dark : !dark;
                uint8_t mask = (uint8_t)(0x80 >> (x & 7));
                if (bit)
                    line[x >> 3] |= mask;
                else
                    line[x >> 3] &= (uint8_t)~mask;
            }
        }
    }
}

TestPage MakeNumberedPage(const cups_page_header2_t& header, unsigned pageNumber)
{
    TestPage page = MakeWhitePage(header);
    unsigned W = header.cupsWidth, H = header.cupsHeight;
    unsigned unit = std::max(2u, H / 64);
    for (unsigned k = 0; k < pageNumber; ++k)
        FillRect(&page, W / 16, unit * (1 + 2 * k), W / 2, unit, 0);
    // Text-like strokes: short dark runs on a line grid.
    unsigned top = unit * (2 + 2 * pageNumber);
    for (unsigned y = top; y + unit < H; y += 3 * unit) {
        for (unsigned x = W / 16, n = 0; x + unit < W - W / 16; x += 2 * unit, ++n) {
            unsigned len = unit * (1 + (n * 7 + y) % 3);
            FillRect(&page, x, y, std::min(len, W - x), unit / 2 + 1, (n % 5) ? 0 : 96);
            x += len;
        }
    }
    return page;
}

TestPage MakePhotoPage(const cups_page_header2_t& header)
{
    TestPage page = MakeWhitePage(header);
    unsigned W = header.cupsWidth, H = header.cupsHeight;
    std::vector<float> colTerm(W);
    for (unsigned x = 0; x < W; ++x)
        colTerm[x] = (float)x * 0.013f;
    for (unsigned y = 0; y < H; ++y) {
        double dy = (double)y / H - 0.5;
        float rowTerm = (float)y * 0.007f, rowWave = 0.15f * std::cos((float)y * 0.021f);
        for (unsigned x = 0; x < W; ++x) {
            double dx = (double)x / W - 0.5;
            float v = 0.5f + 0.35f * std::sin(colTerm[x] + rowTerm) + rowWave;
            if (dx * dx + dy * dy < 0.04)
                v *= 0.3f;
            int g = (int)(v * 255.0f);
            uint8_t gray = (uint8_t)std::max(0, std::min(255, g));
            if (header.cupsBitsPerPixel == 24) {
                uint8_t* p = page.pixels.data() + (size_t)y * header.cupsBytesPerLine + (size_t)x * 3;
                p[0] = p[1] = p[2] = gray;
            } else {
                FillRect(&page, x, y, 1, 1, gray);
            }
        }
    }
    return page;
}

bool WriteRasterFd(int fd, const std::vector<TestPage>& pages, cups_mode_t mode)
{
    cups_raster_t* ras = cupsRasterOpen(fd, mode);
    if (!ras)
        return false;
    bool ok = true;
    for (const TestPage& p : pages) {
        cups_page_header2_t h = p.header;
        if (!cupsRasterWriteHeader2(ras, &h)) {
            ok = false;
            break;
        }
        // Fewer pixels than the header promises make a truncated stream.
        size_t len = std::min((size_t)h.cupsBytesPerLine * h.cupsHeight, p.pixels.size());
        if (len &&
            cupsRasterWritePixels(ras, const_cast<unsigned char*>(p.pixels.data()), (unsigned)len) != len) {
            ok = false;
            break;
        }
    }
    cupsRasterClose(ras);
    return ok;
}

bool WriteRasterFile(const std::string& path, const std::vector<TestPage>& pages, cups_mode_t mode)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = WriteRasterFd(fd, pages, mode);
    return close(fd) == 0 && ok;
}

bool WriteUncheckedRasterFile(const std::string& path, const std::vector<TestPage>& pages)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    // Native byte order v3 stream: the header as it lies in memory, then raw lines.
    const unsigned sync = CUPS_RASTER_SYNC;
    bool ok = fwrite(&sync, sizeof sync, 1, f) == 1;
    for (const TestPage& p : pages) {
        ok = ok && fwrite(&p.header, sizeof p.header, 1, f) == 1;
        ok = ok && fwrite(p.pixels.data(), 1, p.pixels.size(), f) == p.pixels.size();
    }
    return fclose(f) == 0 && ok;
}
