#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "decoded_job.h"
#include "files.h"
#include "jbig_adapter.h"
#include "page_bits.h"
#include "printer_stream.h"
#include "raster_reader.h"
#include "raster_job.h"
#include "text_lines.h"

namespace {
// Exactly the pixels inside the rectangle are black.
void ExpectOnlyRectangle(const DecodedPage& p, unsigned x0, unsigned y0, unsigned w, unsigned h,
                         const std::string& what)
{
    uint64_t wrong = 0;
    for (unsigned y = 0; y < p.info.height; ++y)
        for (unsigned x = 0; x < p.info.width; ++x)
            wrong += p.Black(x, y) != (x >= x0 && x < x0 + w && y >= y0 && y < y0 + h);
    EXPECT_EQ(wrong, 0u) << what;
    EXPECT_EQ(p.info.blackDots, (uint64_t)w * h) << what;
}

std::vector<int> BarsOfEachPage(const DecodedJob& job, unsigned w)
{
    std::vector<int> bars;
    for (const DecodedPage& p : job.pages)
        bars.push_back(CountBars(p, w));
    return bars;
}
} // namespace

TEST(PrintJobs, PagesArriveCompleteAndInOrder)
{
    for (unsigned count : {1u, 3u, 20u}) {
        ProcessResult r = RunFilterOnPages("order", NumberedPages(MakePageHeader(320, 400), count));
        ASSERT_EQ(r.status, 0) << r.err;
        DecodedJob job = DecodeJob(r.out);
        EXPECT_TRUE(job.ok) << (job.report.problems.empty() ? "" : job.report.problems[0]);
        std::vector<int> want;
        for (unsigned k = 1; k <= count; ++k)
            want.push_back((int)k);
        EXPECT_EQ(BarsOfEachPage(job, 320), want) << count << " pages";
        EXPECT_TRUE(job.report.hasTrailer);
    }
}

TEST(PrintJobs, SlowFirstPageStillComesFirst)
{
    // Page 1 takes far longer to process than the small pages behind it.
    cups_page_header2_t big = MakePageHeader(4960, 3000);
    cups_page_header2_t small = MakePageHeader(256, 256);
    ProcessResult r = RunFilterOnPages("slowfirst", {MakePhotoPage(big), MakeNumberedPage(small, 2),
                                           MakeNumberedPage(small, 3)});
    ASSERT_EQ(r.status, 0);
    DecodedJob job = DecodeJob(r.out);
    ASSERT_TRUE(job.ok);
    ASSERT_EQ(job.pages.size(), 3u);
    EXPECT_EQ(job.pages[0].info.width, 4960u);
    EXPECT_EQ(CountBars(job.pages[1], 256), 2);
    EXPECT_EQ(CountBars(job.pages[2], 256), 3);
}

TEST(PrintJobs, OneSlotRingStillPrintsEveryPage)
{
    // Room for one page of 348,160 bytes reckoned, not for two.
    ProcessResult r = RunFilterOnPages("oneslot", NumberedPages(MakePageHeader(256, 320), 5),
                                       {"QUORIN_TEST_FREE_MEMORY=700000"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("DEBUG: gMAX_THREAD = 1 ---------->"), std::string::npos);
    EXPECT_EQ(BarsOfEachPage(DecodeJob(r.out), 256), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(PrintJobs, EveryDepthPrintsTheRectangleRightWayUp)
{
    struct Layout {
        unsigned bits;
        cups_cspace_t space;
    } layouts[] = {{24, CUPS_CSPACE_RGB}, {32, CUPS_CSPACE_RGBW}, {8, CUPS_CSPACE_W},
                   {8, CUPS_CSPACE_SW},   {8, CUPS_CSPACE_K},     {1, CUPS_CSPACE_W},
                   {1, CUPS_CSPACE_K}};
    std::vector<TestPage> pages;
    for (const Layout& l : layouts) {
        TestPage p = MakeWhitePage(MakePageHeader(200, 90, l.bits, l.space));
        FillRect(&p, 40, 20, 72, 30, 0);
        pages.push_back(p);
    }
    // A white page has no black dot at all.
    pages.push_back(MakeWhitePage(MakePageHeader(200, 90)));
    ProcessResult r = RunFilterOnPages("depths", pages);
    ASSERT_EQ(r.status, 0) << r.err;
    DecodedJob job = DecodeJob(r.out);
    ASSERT_TRUE(job.ok);
    ASSERT_EQ(job.pages.size(), pages.size());
    for (size_t i = 0; i < std::size(layouts); ++i)
        ExpectOnlyRectangle(job.pages[i], 40, 20, 72, 30,
                            "bits " + std::to_string(layouts[i].bits) + " space " +
                                std::to_string(layouts[i].space));
    EXPECT_EQ(job.pages.back().info.blackDots, 0u);
}

// The job's print mode decides whether edges are reinforced, not the depth:
// RGB text pages are, RGB pages flagged as photos (cupsInteger[3]) and 8-bit
// gray pages are only screened, alike.
TEST(PrintJobs, PhotoFlagAndGrayPagesAreScreenedWithoutEdges)
{
    struct Mode {
        unsigned bits;
        cups_cspace_t space;
        unsigned photo;
        bool edged;
    } modes[] = {{24, CUPS_CSPACE_RGB, 0, true}, {24, CUPS_CSPACE_RGB, 1, false}, {8, CUPS_CSPACE_SW, 0, false}};
    std::vector<TestPage> pages;
    for (const Mode& m : modes) {
        TestPage p = MakeWhitePage(MakePageHeader(200, 90, m.bits, m.space));
        p.header.cupsInteger[3] = m.photo;
        FillRect(&p, 40, 20, 72, 30, 200); // light gray: its edge is the dark side
        pages.push_back(p);
    }
    ProcessResult r = RunFilterOnPages("photoflag", pages);
    ASSERT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), 3u);
    for (size_t i = 0; i < std::size(modes); ++i) {
        unsigned edge = 0;
        for (unsigned y = 21; y < 49; ++y)
            edge += job.pages[i].Black(40, y);
        EXPECT_EQ(edge == 28, modes[i].edged) << i << ": " << edge << " of 28 black";
    }
    EXPECT_TRUE(job.pages[1].bits == job.pages[2].bits) << "the flagged RGB page is screened as gray";
}

// Pages many bands high come out bit for bit as the page steps make them
// from the whole gray page: the edge filter and the screen meet no seam
// where one band ends and the next begins.
TEST(PrintJobs, PagesReadInBandsPrintAsTheWholePageSteps)
{
    // 4096 pixels wide: 64 lines a band, so 300 lines are five bands.
    std::mt19937 random(7);
    std::vector<TestPage> pages;
    for (unsigned photo : {0u, 1u}) {
        TestPage p = MakeNumberedPage(MakePageHeader(4096, 300), 3);
        p.header.cupsInteger[3] = photo;
        FillRect(&p, 1000, 50, 2000, 200, 170);
        for (unsigned i = 0; i < 20000; ++i)
            p.pixels[random() % p.pixels.size()] = (uint8_t)random();
        pages.push_back(p);
    }
    std::string raster = WriteRasterJob(MakeTempDir("bands"), pages);
    ProcessResult r = RunFilterOnFile(raster);
    ASSERT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), pages.size());
    int fd = open(raster.c_str(), O_RDONLY);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    static JobInfo slot;
    for (size_t i = 0; i < pages.size(); ++i) {
        InitJobSlot(&slot, (DWORD)i);
        ASSERT_TRUE(cupsRasterReadHeader2(ras, &slot.inheader));
        slot.inras = ras;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(GetCUPSPageData(&slot));
        BOOL screened = PageNeedsBorderQuality(&slot.inheader) ? DoBorderQuality(&slot) : ApplyHalftone(&slot);
        DoNegative(&slot, 0);
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(screened);
        BYTE* bits = slot.lpbuf.exchange(nullptr);
        EXPECT_TRUE(job.pages[i].bits == std::vector<uint8_t>(bits, bits + slot.linebyte * slot.page_height)) << i;
        free(bits);
    }
    cupsRasterClose(ras);
    close(fd);
}

// A negative inverts the raster's own pixels only: the padding of a raster
// as wide as its sheet, and the margins around one placed on a larger
// sheet, stay white. Mirroring flips the whole line.
TEST(PrintJobs, NegativeAndMirrorPrinting)
{
    cups_page_header2_t sheet = MakePageHeader(200, 64);
    cups_page_header2_t placed = sheet;
    placed.PageSize[0] = 48; // 400 x 200 pixels; the raster at 100, 67
    placed.PageSize[1] = 24;
    const unsigned box[4] = {12, 8, 36, 16};
    std::copy(box, box + 4, placed.ImagingBoundingBox);
    std::copy(box, box + 4, placed.cupsImagingBBox);
    struct Layout {
        cups_page_header2_t header;
        unsigned left, top;
    } layouts[] = {{sheet, 0, 0}, {placed, 100, 67}};
    std::vector<TestPage> pages;
    for (const Layout& l : layouts) {
        TestPage plain = MakeWhitePage(l.header);
        FillRect(&plain, 8, 8, 16, 8, 0);
        TestPage negative = plain, mirror = plain, both = plain;
        negative.header.cupsInteger[1] = 1;
        mirror.header.cupsInteger[2] = 1;
        both.header.cupsInteger[1] = both.header.cupsInteger[2] = 1;
        pages.insert(pages.end(), {plain, negative, mirror, both});
    }
    ProcessResult r = RunFilterOnPages("negmirror", pages);
    ASSERT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), 8u);
    for (size_t k = 0; k < 2; ++k) {
        const DecodedPage* p = &job.pages[4 * k];
        const unsigned W = p[0].info.width, H = p[0].info.height, L = layouts[k].left, T = layouts[k].top;
        ExpectOnlyRectangle(p[0], L + 8, T + 8, 16, 8, "plain");
        ExpectOnlyRectangle(p[2], W - 1 - (L + 23), T + 8, 16, 8, "mirror");
        EXPECT_EQ(p[1].info.blackDots, 200u * 64 - 16 * 8) << k;
        for (unsigned y = 0; y < H; ++y) {
            for (unsigned x = 0; x < W; ++x) {
                const bool inside = x >= L && x < L + 200 && y >= T && y < T + 64;
                ASSERT_EQ(p[1].Black(x, y), inside && !p[0].Black(x, y)) << k << ": " << x << "," << y;
                ASSERT_EQ(p[3].Black(x, y), p[1].Black(W - 1 - x, y)) << k << ": " << x << "," << y;
            }
        }
    }
}

TEST(PrintJobs, UnsetDensityIsScreenedNotSentAsGray)
{
    cups_page_header2_t h = MakePageHeader(256, 256);
    h.cupsCompression = 0;
    TestPage p = MakeWhitePage(h);
    FillRect(&p, 0, 0, 256, 256, 128);
    ProcessResult r = RunFilterOnPages("density0", {p});
    ASSERT_EQ(r.status, 0) << r.err;
    // The printer is told the density the screen used.
    EXPECT_NE(r.out.find("@PJL SET DENSITY=4\r\n"), std::string::npos);
    DecodedJob job = DecodeJob(r.out);
    ASSERT_TRUE(job.ok);
    ASSERT_EQ(job.pages.size(), 1u);
    double share = job.pages[0].info.blackDots / (256.0 * 256.0);
    // Mid gray at the default curve lights about 60 % of the screen.
    EXPECT_GT(share, 0.3);
    EXPECT_LT(share, 0.5);
}

// The enum-typed header fields can carry any value; 2 and up mean "on" and
// must not stop the filter (the sanitizer build traps on loading them).
TEST(PrintJobs, OutOfRangeHeaderValuesAreReadAsIntegers)
{
    cups_page_header2_t h = MakePageHeader(256, 256);
    h.NumCopies = 2;
    unsigned* fields[] = {reinterpret_cast<unsigned*>(&h.Duplex),       reinterpret_cast<unsigned*>(&h.Tumble),
                          reinterpret_cast<unsigned*>(&h.Collate),      reinterpret_cast<unsigned*>(&h.Orientation),
                          reinterpret_cast<unsigned*>(&h.CutMedia),     reinterpret_cast<unsigned*>(&h.Jog),
                          reinterpret_cast<unsigned*>(&h.LeadingEdge),  reinterpret_cast<unsigned*>(&h.AdvanceMedia),
                          reinterpret_cast<unsigned*>(&h.ManualFeed),   reinterpret_cast<unsigned*>(&h.MirrorPrint),
                          reinterpret_cast<unsigned*>(&h.NegativePrint), reinterpret_cast<unsigned*>(&h.OutputFaceUp),
                          reinterpret_cast<unsigned*>(&h.Separations),  reinterpret_cast<unsigned*>(&h.TraySwitch),
                          reinterpret_cast<unsigned*>(&h.InsertSheet)};
    for (unsigned* f : fields)
        *f = 2;
    TestPage p = MakeNumberedPage(h, 1);
    std::string path = MakeTempDir("enums") + "/job.ras";
    ASSERT_TRUE(WriteUncheckedRasterFile(path, {p}));
    ProcessResult r = RunFilterOnFile(path);
    ASSERT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    for (const char* line : {"DUPLEX=ON", "DUPLEXTYPE=CALENDAR", "ORIENTATION=LANDSCAPE", "COPIES=1"})
        EXPECT_NE(r.out.find(std::string("@PJL SET ") + line + "\r\n"), std::string::npos) << line;
    // Collated by the filter, duplex: the page and its blank back, twice.
    EXPECT_EQ(PageOrder(r.out, 256), (std::vector<int>{0, 1, 0, 1}));
}

TEST(PrintJobs, JbigKitDecodesThePagesToo)
{
    if (!HaveProgram("jbgtopbm"))
        GTEST_SKIP() << "jbgtopbm (jbigkit-bin) not installed";
    cups_page_header2_t h = MakePageHeader(480, 320);
    ProcessResult r = RunFilterOnPages("jbgtopbm", {MakeNumberedPage(h, 3)});
    ASSERT_EQ(r.status, 0);
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), 1u);
    const StreamPage& info = job.pages[0].info;
    std::string dir = MakeTempDir("jbgtopbm");
    unsigned char bih[JBIG_BIH_SIZE];
    MakePageBIH(info.width, info.height, bih);
    WriteFile(dir + "/page.jbg", std::string(reinterpret_cast<const char*>(bih), sizeof bih) +
                                     r.out.substr(info.offset + PAGE_RECORD_PREFIX, info.compsize));
    ASSERT_EQ(system(("jbgtopbm " + dir + "/page.jbg " + dir + "/page.pbm").c_str()), 0);
    Pbm pbm;
    EXPECT_TRUE(ReadPbm(dir + "/page.pbm", &pbm));
    EXPECT_EQ(pbm.width, info.width);
    EXPECT_EQ(pbm.height, info.height);
    EXPECT_TRUE(pbm.bits == job.pages[0].bits);
}

TEST(PrintJobs, SlotsAreCountedForTheSheetTheRasterIsPlacedOn)
{
    // A small image on A4: its page bitmap is the whole sheet.
    cups_page_header2_t h = MakePageHeader(1200, 1200);
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    const unsigned box[4] = {100, 500, 244, 644};
    std::copy(box, box + 4, h.ImagingBoundingBox);
    // Room for two sheets of 4960 x 7040 (9,778,176 bytes each), for thirty of the raster.
    ProcessResult r = RunFilterOnPages("placedslots", {MakeNumberedPage(h, 1)}, {"QUORIN_TEST_FREE_MEMORY=40000000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("DEBUG: gMAX_THREAD = 2 ---------->"), std::string::npos);
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_EQ(job.pages[0].info.width, 4960u);
    EXPECT_EQ(job.pages[0].info.height, 7040u);
}

// The job header tells the printer the resolution it prints every page at:
// only 600 and 1200 dpi, the same across and down, and the same on every page.
TEST(PrintJobs, OnlyThePrintersResolutionsArePrinted)
{
    struct Case {
        unsigned x, y, later; // later: a second page's resolution, 0 for none
        const char* error;    // nullptr: printed
    } cases[] = {
        {600, 600, 0, nullptr},  {1200, 1200, 0, nullptr},
        {0, 0, 0, "resolution, 0 x 0 dpi, is not one"}, {1, 1, 0, "resolution, 1 x 1 dpi"},
        {65535, 65535, 0, "65535 x 65535 dpi"},      {600, 1200, 0, "600 x 1200 dpi"},
        {600, 600, 1200, "Page 2 has a resolution of 1200 x 1200 dpi, where the job started at 600 dpi"},
    };
    for (const Case& c : cases) {
        cups_page_header2_t h = MakePageHeader(64, 64);
        h.HWResolution[0] = c.x;
        h.HWResolution[1] = c.y;
        std::vector<TestPage> pages = {MakeNumberedPage(h, 1)};
        if (c.later) {
            h.HWResolution[0] = h.HWResolution[1] = c.later;
            pages.push_back(MakeNumberedPage(h, 2));
        }
        std::string what = std::to_string(c.x) + "x" + std::to_string(c.y) + " then " + std::to_string(c.later);
        std::string path = MakeTempDir("dpi") + "/job.ras";
        ASSERT_TRUE(WriteUncheckedRasterFile(path, pages));
        ProcessResult r = RunFilterOnFile(path);
        std::vector<std::string> errors = ErrorLines(r.err);
        EXPECT_EQ(r.status, c.error ? 1 : 0) << what;
        ASSERT_EQ(errors.size(), c.error ? 1u : 0u) << what << Joined(errors);
        DecodedJob job = DecodeJob(r.out);
        EXPECT_EQ(job.pages.size(), c.error ? (c.later ? 1u : 0u) : 1u) << what;
        if (!c.error) {
            EXPECT_NE(r.out.find("@PJL SET RESOLUTION=" + std::to_string(c.x) + "\r\n"), std::string::npos) << what;
            continue;
        }
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
        // A refused first page sends nothing, not even the job header.
        EXPECT_EQ(r.out.empty(), !c.later) << what;
    }
}
