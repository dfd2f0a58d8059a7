#include <gtest/gtest.h>

#include <cstdlib>

#include "decoded_job.h"
#include "files.h"
#include "jbig_adapter.h"
#include "page_bits.h"
#include "printer_stream.h"
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
    ProcessResult r = RunFilterOnPages("oneslot", NumberedPages(MakePageHeader(256, 320), 5),
                                       {"QUORIN_TEST_FREE_MEMORY=1"});
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

TEST(PrintJobs, NegativeAndMirrorPrinting)
{
    cups_page_header2_t h = MakePageHeader(200, 64);
    TestPage plain = MakeWhitePage(h);
    FillRect(&plain, 8, 8, 16, 8, 0);
    TestPage negative = plain, mirror = plain, both = plain;
    negative.header.cupsInteger[1] = 1;
    mirror.header.cupsInteger[2] = 1;
    both.header.cupsInteger[1] = both.header.cupsInteger[2] = 1;
    ProcessResult r = RunFilterOnPages("negmirror", {plain, negative, mirror, both});
    ASSERT_EQ(r.status, 0);
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), 4u);
    const unsigned W = job.pages[0].info.width, H = job.pages[0].info.height; // 224 x 64
    ExpectOnlyRectangle(job.pages[0], 8, 8, 16, 8, "plain");
    // The whole padded line is mirrored: pixel x lands on W - 1 - x.
    ExpectOnlyRectangle(job.pages[2], W - 24, 8, 16, 8, "mirror");
    for (unsigned y = 0; y < H; ++y) {
        for (unsigned x = 0; x < W; ++x) {
            ASSERT_NE(job.pages[1].Black(x, y), job.pages[0].Black(x, y)) << x << "," << y;
            ASSERT_NE(job.pages[3].Black(x, y), job.pages[2].Black(x, y)) << x << "," << y;
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
    // A small image on A4 at 150 dpi: its page bitmap is the whole sheet.
    cups_page_header2_t h = MakePageHeader(300, 300, 24, CUPS_CSPACE_RGB, 150);
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    const unsigned box[4] = {100, 500, 244, 644};
    std::copy(box, box + 4, h.ImagingBoundingBox);
    // 10 MB for slots: room for two sheets of 1240 x 1754, for thirty of the raster.
    ProcessResult r = RunFilterOnPages("placedslots", {MakeNumberedPage(h, 1)}, {"QUORIN_TEST_FREE_MEMORY=20000000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("DEBUG: gMAX_THREAD = 2 ---------->"), std::string::npos);
    DecodedJob job = DecodeJob(r.out);
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_EQ(job.pages[0].info.width, 1248u);
    EXPECT_EQ(job.pages[0].info.height, 1760u);
}
