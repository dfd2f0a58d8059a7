// Writes CUPS raster streams with libcups's own writer, so tests and samples
// can make pages with chosen header fields and pixels.
#ifndef QUORIN_TEST_PAGES_H
#define QUORIN_TEST_PAGES_H

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

struct TestPage {
    cups_page_header2_t header;
    std::vector<uint8_t> pixels; // cupsHeight lines of cupsBytesPerLine bytes
};

// A page header as this printer's PPD produces it: chunked RGB, 8 bits a
// colour, density 3, plain paper, automatic tray, one copy.
cups_page_header2_t MakePageHeader(unsigned width, unsigned height, unsigned bitsPerPixel = 24,
                                   cups_cspace_t colorSpace = CUPS_CSPACE_RGB, unsigned dpi = 600);

// A white page (or 0 for K pages, where 0 is white) for the header.
TestPage MakeWhitePage(const cups_page_header2_t& header);

// Paints a rectangle in gray value `gray` (255 white) on any supported layout.
void FillRect(TestPage* page, unsigned x, unsigned y, unsigned w, unsigned h, uint8_t gray);

// Page k of a job carries k black bars across its top, so the order of pages
// can be read back from the printed bitmap; plus text-like strokes below.
TestPage MakeNumberedPage(const cups_page_header2_t& header, unsigned pageNumber);

// A photo-like page: smooth gray ramps and a dark disc, no two lines alike.
TestPage MakePhotoPage(const cups_page_header2_t& header);

// Writes the pages as one raster stream, compressed CUPS raster unless mode
// asks for PWG or Apple raster. Returns false on failure.
bool WriteRasterFile(const std::string& path, const std::vector<TestPage>& pages,
                     cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED);
bool WriteRasterFd(int fd, const std::vector<TestPage>& pages, cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED);

// Writes an uncompressed stream byte by byte, without libcups's checks, so
// tests can hand the filter headers that lie about their geometry.
bool WriteUncheckedRasterFile(const std::string& path, const std::vector<TestPage>& pages);

#endif
