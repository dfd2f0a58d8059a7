#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "files.h"
#include "raster_job.h"
#include "raster_reader.h"

namespace {
// Reads the pages of a raster file one by one into a slot, as the page loop does.
class RasterFile {
public:
    explicit RasterFile(const std::vector<TestPage>& pages)
    {
        fd_ = open(WriteRasterJob(MakeTempDir("reader"), pages).c_str(), O_RDONLY);
        ras_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
        InitJobSlot(&slot_, 0);
    }
    ~RasterFile()
    {
        free(slot_.lpbuf.load());
        cupsRasterClose(ras_);
        close(fd_);
    }
    // Reads the next header and the page; the slot holds the result.
    BOOL Next(PageReadError* error = nullptr)
    {
        free(slot_.lpbuf.exchange(nullptr));
        if (!cupsRasterReadHeader2(ras_, &slot_.inheader))
            return FALSE;
        slot_.inras = ras_;
        testing::internal::CaptureStderr();
        BOOL ok = GetCUPSPageData(&slot_, error);
        log_ = testing::internal::GetCapturedStderr();
        return ok;
    }
    BYTE Pixel(unsigned x, unsigned y) const { return slot_.lpbuf.load()[y * slot_.linebyte + x]; }
    JobInfo slot_;
    std::string log_;

private:
    int fd_ = -1;
    cups_raster_t* ras_ = nullptr;
};

TestPage RgbPixelsPage(const std::vector<std::array<uint8_t, 3>>& colours)
{
    TestPage p = MakeWhitePage(MakePageHeader((unsigned)colours.size(), 1));
    for (size_t i = 0; i < colours.size(); ++i)
        for (int c = 0; c < 3; ++c)
            p.pixels[i * 3 + c] = colours[i][c];
    return p;
}
} // namespace

TEST(RasterReader, WeightsRgbWithThirtyFiftyThreeSeventeen)
{
    RasterFile f({RgbPixelsPage({{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                  {200, 100, 50}, {128, 128, 128}})});
    ASSERT_TRUE(f.Next());
    const BYTE want[] = {255, 0, 76, 135, 43, 121, 128};
    for (unsigned x = 0; x < 7; ++x)
        EXPECT_EQ(f.Pixel(x, 0), want[x]) << x;
    EXPECT_EQ(f.Pixel(7, 0), 255); // padding
}

// Long lines take the eight-pixel path: every pixel of a line of pseudo-random
// colours, its tail included, still gets the exact weighted sum.
TEST(RasterReader, EveryPixelOfALongLineGetsTheExactSum)
{
    const unsigned width = 4099;
    TestPage p = MakeWhitePage(MakePageHeader(width, 2));
    uint32_t seed = 12345;
    for (uint8_t& b : p.pixels) {
        seed = seed * 1103515245u + 12345u;
        b = (uint8_t)(seed >> 16);
    }
    RasterFile f({p});
    ASSERT_TRUE(f.Next());
    unsigned wrong = 0;
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < width; ++x) {
            const uint8_t* px = &p.pixels[(size_t)y * width * 3 + x * 3];
            wrong += f.Pixel(x, y) != (30 * px[0] + 53 * px[1] + 17 * px[2] + 1) / 100;
        }
    EXPECT_EQ(wrong, 0u);
}

// The plain conversion (what a machine without SSSE3 runs) and the vector
// one give the formula's gray on random lines of every length, white runs
// included, and neither reads past its line: each line is an allocation of
// its own, so AddressSanitizer sees a byte read beyond it.
TEST(RasterReader, PlainAndVectorConversionsAgreeWithinTheLine)
{
    uint32_t seed = 99;
    for (DWORD width = 1; width <= 70; ++width) {
        for (int white = 0; white < 2; ++white) {
            std::vector<BYTE> src(width * 3);
            for (size_t i = 0; i < src.size(); ++i) {
                seed = seed * 1103515245u + 12345u;
                // Every other run of eight pixels white.
                src[i] = white && i / 24 % 2 == 0 ? 255 : (BYTE)(seed >> 16);
            }
            std::vector<BYTE> plain(width), vector(width);
            ConvertRgbLine3Plain(src.data(), plain.data(), width);
            ConvertRgbLine3Vector(src.data(), vector.data(), width);
            for (DWORD x = 0; x < width; ++x) {
                const BYTE* px = &src[x * 3];
                ASSERT_EQ(plain[x], (30 * px[0] + 53 * px[1] + 17 * px[2] + 1) / 100) << width << ": " << x;
                ASSERT_EQ(vector[x], plain[x]) << width << ": " << x;
            }
        }
    }
}

TEST(RasterReader, PadsToMultiplesOfThirtyTwoWithWhite)
{
    cups_page_header2_t h = MakePageHeader(4961, 40);
    TestPage p = MakeWhitePage(h);
    FillRect(&p, 0, 0, 4961, 40, 0);
    TestPage second = MakeWhitePage(MakePageHeader(64, 33));
    FillRect(&second, 0, 0, 64, 33, 0);
    RasterFile f({p, second});
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.slot_.page_width, 4992u);
    EXPECT_EQ(f.slot_.page_height, 64u);
    EXPECT_EQ(f.slot_.linebyteLeft, 31u);
    EXPECT_EQ(f.slot_.linebyte, 4992u);
    EXPECT_EQ(f.slot_.pagesize, 4992u * 64u);
    EXPECT_EQ(f.Pixel(4960, 39), 0);
    EXPECT_EQ(f.Pixel(4961, 39), 255);
    EXPECT_EQ(f.Pixel(4991, 0), 255);
    EXPECT_EQ(f.Pixel(0, 40), 255);
    EXPECT_EQ(f.Pixel(100, 63), 255);
    EXPECT_NE(f.log_.find("GetCUPSPageData::page_width = 4992"), std::string::npos);
    // Exactly the page's bytes were consumed: the next page reads cleanly.
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.slot_.page_width, 64u);
    EXPECT_EQ(f.slot_.linebyteLeft, 0u);
    EXPECT_EQ(f.slot_.page_height, 64u);
    EXPECT_EQ(f.Pixel(63, 32), 0);
    EXPECT_EQ(f.Pixel(63, 33), 255);
    EXPECT_FALSE(f.Next());
}

TEST(RasterReader, GrayAndBitLayoutsKeepWhiteWhite)
{
    std::vector<TestPage> pages;
    for (cups_cspace_t cs : {CUPS_CSPACE_W, CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
        for (unsigned bits : {8u, 1u}) {
            TestPage p = MakeWhitePage(MakePageHeader(40, 2, bits, cs));
            FillRect(&p, 8, 0, 8, 2, 0);
            FillRect(&p, 19, 0, 1, 2, 0); // inside a byte: the bit order counts
            if (bits == 8)
                FillRect(&p, 16, 0, 1, 2, 100);
            pages.push_back(p);
        }
    }
    RasterFile f(pages);
    for (size_t i = 0; i < pages.size(); ++i) {
        ASSERT_TRUE(f.Next()) << i;
        EXPECT_EQ(f.Pixel(0, 0), 255) << i;
        EXPECT_EQ(f.Pixel(8, 1), 0) << i;
        EXPECT_EQ(f.Pixel(15, 0), 0) << i;
        EXPECT_EQ(f.Pixel(19, 1), 0) << i;
        EXPECT_EQ(f.Pixel(20, 1), 255) << i;
        EXPECT_EQ(f.Pixel(39, 0), 255) << i;
        if (pages[i].header.cupsBitsPerPixel == 8) {
            EXPECT_EQ(f.Pixel(16, 0), 100) << i;
        }
    }
}

TEST(RasterReader, ThirtyTwoBitPixelsUseTheirFirstThreeBytes)
{
    TestPage p = MakeWhitePage(MakePageHeader(3, 1, 32, CUPS_CSPACE_RGBW));
    const uint8_t px[] = {255, 0, 0, 9, 0, 255, 0, 9, 0, 0, 255, 9};
    std::copy(px, px + 12, p.pixels.begin());
    RasterFile f({p});
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.Pixel(0, 0), 76);
    EXPECT_EQ(f.Pixel(1, 0), 135);
    EXPECT_EQ(f.Pixel(2, 0), 43);
}

TEST(RasterReader, RefusesHeadersItCannotRead)
{
    struct Case {
        const char* what;
        void (*mangle)(cups_page_header2_t*);
        const char* expect;
    } cases[] = {
        {"CMYK", [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_CMYK; h->cupsBitsPerPixel = 32; h->cupsBytesPerLine = h->cupsWidth * 4; }, "unsupported raster layout"},
        {"planar", [](cups_page_header2_t* h) { h->cupsColorOrder = CUPS_ORDER_PLANAR; }, "unsupported raster layout"},
        {"16-bit", [](cups_page_header2_t* h) { h->cupsBitsPerColor = 16; h->cupsBitsPerPixel = 48; h->cupsBytesPerLine = h->cupsWidth * 6; }, "unsupported raster layout"},
        {"short lines", [](cups_page_header2_t* h) { h->cupsBytesPerLine -= 3; }, "inconsistent raster header"},
        {"long lines", [](cups_page_header2_t* h) { h->cupsBytesPerLine += 1; }, "inconsistent raster header"},
        {"wide", [](cups_page_header2_t* h) { h->cupsWidth = 32737; h->cupsBytesPerLine = 3 * 32737; }, "page too large"},
        {"tall", [](cups_page_header2_t* h) { h->cupsHeight = 65505; }, "page too large"},
        {"empty", [](cups_page_header2_t* h) { h->cupsWidth = 0; h->cupsBytesPerLine = 0; }, "empty page"},
    };
    for (const Case& c : cases) {
        cups_page_header2_t h = MakePageHeader(100, 10);
        c.mangle(&h);
        const char* why = CheckRasterHeader(&h);
        ASSERT_NE(why, nullptr) << c.what;
        EXPECT_NE(std::string(why).find(c.expect), std::string::npos) << c.what << ": " << why;
    }
    cups_page_header2_t edge = MakePageHeader(32736, 65504);
    EXPECT_EQ(CheckRasterHeader(&edge), nullptr);
}

TEST(RasterReader, StreamEndingInsideAPageFails)
{
    TestPage p = MakeWhitePage(MakePageHeader(64, 100));
    p.pixels.resize(p.header.cupsBytesPerLine * 40);
    RasterFile f({p});
    PageReadError error = {PAGE_READ_OK, nullptr};
    EXPECT_FALSE(f.Next(&error));
    EXPECT_EQ(error.kind, PAGE_READ_CUT);
    EXPECT_EQ(f.slot_.lpbuf.load(), nullptr);
}

TEST(RasterReader, PlacesRastersShorterThanTheirSheetAtTheirImagingBox)
{
    // A4 at 150 dpi: 1239.6 x 1754.2 pixels, a point is 2.08 pixels.
    struct Case {
        const char* what;
        unsigned w, h;
        unsigned box[4];
        float exact[4]; // cupsImagingBBox, all 0 when not sent
        unsigned left, top, pageW, pageH;
    } cases[] = {
        {"whole sheet", 1240, 1754, {0, 0, 595, 842}, {0, 0, 595, 842}, 0, 0, 1248, 1760},
        {"a pixel short", 1239, 1753, {0, 0, 595, 842}, {}, 0, 0, 1248, 1760},
        {"larger than the sheet", 1250, 1760, {0, 0, 595, 842}, {}, 0, 0, 1280, 1760},
        {"imageable area", 1190, 1704, {12, 12, 583, 830}, {12, 12, 583, 830}, 25, 25, 1248, 1760},
        {"image box, fractional", 1190, 1586, {12, 40, 583, 801}, {12, 40.3333f, 583, 801.667f}, 25, 84, 1248, 1760},
        {"image box, integer only", 1190, 1586, {12, 40, 583, 801}, {}, 25, 85, 1248, 1760},
        {"box off the sheet", 1190, 1586, {500, 0, 1100, 900}, {}, 50, 0, 1248, 1760},
        // Nothing usable: the top left of the printable area, 12 points in.
        {"no box", 1190, 1586, {}, {}, 25, 25, 1248, 1760},
        {"inverted box", 1190, 1586, {583, 830, 12, 12}, {}, 25, 25, 1248, 1760},
        {"NaN box, integer one zero", 1190, 1586, {}, {NAN, NAN, NAN, NAN}, 25, 25, 1248, 1760},
    };
    std::vector<TestPage> pages;
    for (const Case& c : cases) {
        cups_page_header2_t h = MakePageHeader(c.w, c.h, 24, CUPS_CSPACE_RGB, 150);
        h.PageSize[0] = 595;
        h.PageSize[1] = 842;
        std::copy(c.box, c.box + 4, h.ImagingBoundingBox);
        std::copy(c.exact, c.exact + 4, h.cupsImagingBBox);
        TestPage p = MakeWhitePage(h);
        FillRect(&p, 0, 0, c.w, c.h, 0);
        pages.push_back(p);
    }
    RasterFile f(pages);
    for (const Case& c : cases) {
        ASSERT_TRUE(f.Next()) << c.what;
        EXPECT_EQ(f.slot_.page_width, c.pageW) << c.what;
        ASSERT_EQ(f.slot_.page_height, c.pageH) << c.what;
        // Black exactly where the raster went, white around it.
        uint64_t black = 0;
        for (unsigned y = 0; y < c.pageH; ++y)
            for (unsigned x = 0; x < c.pageW; ++x)
                black += f.Pixel(x, y) == 0;
        EXPECT_EQ(black, (uint64_t)c.w * c.h) << c.what;
        EXPECT_EQ(f.Pixel(c.left, c.top), 0) << c.what;
        EXPECT_EQ(f.Pixel(c.left + c.w - 1, c.top + c.h - 1), 0) << c.what;
    }
}
