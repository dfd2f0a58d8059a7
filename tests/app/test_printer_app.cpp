// The printer application over IPP: a private app server on 127.0.0.1 with
// a file: device, documents sent with CUPS's ipptool, the printer stream
// read back with the stream decoder.
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "app_documents.h"
#include "app_server.h"
#include "decoded_job.h"
#include "pjl_frame.h"

namespace {
const char kA6[] = "iso_a6_105x148mm";
const uint8_t kPaperA4 = 2, kPaperA5 = 3, kPaperA6 = 4;

std::string Describe(const IppJob& job)
{
    return "state " + job.state + ", message \"" + job.message + "\", " + std::to_string(job.stream.size()) +
           " bytes printed\n" + job.report.substr(job.report.size() > 3000 ? job.report.size() - 3000 : 0);
}

std::string Sample(const char* name)
{
    return std::string(QUORIN_SOURCE_DIR) + "/samples/" + name;
}

// Bars on each page of a stream of numbered pages cupsWidth wide.
std::vector<int> Bars(const DecodedJob& d, unsigned cupsWidth)
{
    std::vector<int> bars;
    for (const DecodedPage& p : d.pages)
        bars.push_back(CountBars(p, cupsWidth));
    return bars;
}

double BlackShare(const DecodedPage& p)
{
    return (double)p.info.blackDots / ((double)p.info.width * p.info.height);
}

// The filter's own count of printed sides: the sum of c over "PAGE: n c".
unsigned FilterImpressions(const std::string& err)
{
    unsigned sum = 0, side, copies;
    for (const std::string& line : SplitLines(err))
        if (sscanf(line.c_str(), "PAGE: %u %u", &side, &copies) == 2)
            sum += copies;
    return sum;
}

// An ipptool file in its parts: each test "{ ... }" with what precedes it.
std::vector<std::string> TestBlocks(const std::string& file)
{
    std::vector<std::string> blocks(1);
    for (const std::string& line : SplitLines(file)) {
        blocks.back() += line + "\n";
        if (line == "}")
            blocks.emplace_back();
    }
    return blocks;
}

class PrinterApp : public testing::Test {
protected:
    AppServer app;

    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    }

    std::string Path(const std::string& name) const { return app.dir + "/" + name; }

    // Numbered 8-bit gray pages as the raster a client sends.
    std::string RasterDocument(const std::string& name, unsigned pages, cups_mode_t mode = CUPS_RASTER_WRITE_PWG)
    {
        std::string path = Path(name);
        EXPECT_TRUE(WriteRasterFile(path, NumberedPages(GrayPageHeader(kA6), pages), mode));
        return path;
    }
};
} // namespace

TEST_F(PrinterApp, PassesTheIppEverywhereAttributeTests)
{
    // The conformance files' print tests want sample documents CUPS does
    // not ship, and ipptool stops a file at the first it cannot read, even
    // a skipped one: ipp-everywhere.test's come last and are cut off,
    // ipp-1.1.test's (the tests that skip on NOPRINT) are left out. So is
    // its held job: PAPPL 1.3 answers it without job-state-reasons.
    std::string everywhere = ReadFile(QUORIN_IPPTOOL_DIR "/ipp-everywhere.test");
    size_t cut = everywhere.find("# Test printing all sample documents");
    ASSERT_NE(cut, std::string::npos);
    std::ofstream(Path("ipp-everywhere.test")) << everywhere.substr(0, cut);
    std::ofstream(Path("ipp-2.0.test")) << ReadFile(QUORIN_IPPTOOL_DIR "/ipp-2.0.test");
    std::string kept;
    for (const std::string& block : TestBlocks(ReadFile(QUORIN_IPPTOOL_DIR "/ipp-1.1.test")))
        if (block.find("SKIP-IF-DEFINED NOPRINT") == std::string::npos &&
            block.find("job-hold-until indefinite") == std::string::npos &&
            block.find("OPERATION Release-Job") == std::string::npos)
            kept += block;
    std::ofstream(Path("ipp-1.1.test")) << kept;

    // ipp-1.1.test wants printer-up-time above 0, which PAPPL counts in
    // whole seconds from the start; it prints $filename too.
    sleep(1);
    ProcessResult r = RunIpptool(app, Path("ipp-everywhere.test"), {}, Sample("text.pdf"));
    int pass = CountResults(r.out, "[PASS]"), fail = CountResults(r.out, "[FAIL]");
    printf("IPP Everywhere attribute tests: %d [PASS], %d [FAIL]\n", pass, fail);
    EXPECT_EQ(fail, 0) << r.out;
    EXPECT_GT(pass, 0) << r.out;
    // ipptool exits 0 even when it could not read its files.
    EXPECT_EQ(r.err, "");
    bool required = false;
    for (const std::string& line : SplitLines(r.out))
        required |= line.find("PWG 5100.14 section 5.1/5.2") != std::string::npos &&
                    line.find("[PASS]") != std::string::npos;
    EXPECT_TRUE(required) << r.out;
}

TEST_F(PrinterApp, OffersThePrintersCapabilities)
{
    ProcessResult r = RunIpptool(app, QUORIN_APP_TEST_DIR "/capabilities.test");
    EXPECT_EQ(CountResults(r.out, "[PASS]"), 1) << r.out << r.err;

    // The printer's settings are on the web interface's defaults page.
    std::string page = WebPage(app, "/Quorin/printing");
    for (const char* name : {"toner-save", "negative-print", "mirror-print", "print-darkness"})
        EXPECT_NE(page.find(std::string("name=\"") + name + "\""), std::string::npos) << name << "\n" << page;
}

TEST_F(PrinterApp, PrintsEveryFormatThroughTheFilter)
{
    ASSERT_TRUE(WriteHalfBlackJpeg(Path("half.jpg")));
    ASSERT_TRUE(WriteHalfBlackPng(Path("half.png")));
    const unsigned a6Width = GrayPageHeader(kA6).cupsWidth;
    const struct {
        const char* what;
        std::string document, format;
        std::vector<std::string> attrs;
        uint8_t paper;
        std::vector<int> bars; // numbered raster pages; empty for the others
        size_t pages;
    } cases[] = {
        {"PWG raster", RasterDocument("three.pwg", 3), "image/pwg-raster", {}, kPaperA6, {1, 2, 3}, 3},
        {"Apple raster", RasterDocument("two.urf", 2, CUPS_RASTER_WRITE_APPLE), "image/urf", {}, kPaperA6, {1, 2}, 2},
        {"JPEG", Path("half.jpg"), "image/jpeg", {"keyword media iso_a5_148x210mm"}, kPaperA5, {}, 1},
        {"PNG", Path("half.png"), "image/png", {}, kPaperA4, {}, 1},
        {"PDF", Sample("multipage.pdf"), "application/pdf", {"keyword media iso_a6_105x148mm"}, kPaperA6, {}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IppJob job = PrintDocument(app, c.document, c.format, c.attrs);
        ASSERT_EQ(job.state, "completed") << Describe(job);
        DecodedJob d = DecodeJob(job.stream);
        ASSERT_TRUE(d.ok) << Joined(d.report.problems);
        ASSERT_EQ(d.pages.size(), c.pages);
        EXPECT_EQ(job.impressions, (int)c.pages);
        EXPECT_EQ(PjlSetting(job.stream, "RESOLUTION"), "600");
        for (const DecodedPage& p : d.pages)
            EXPECT_EQ(p.info.paper, c.paper);
        if (!c.bars.empty()) {
            EXPECT_EQ(Bars(d, a6Width), c.bars);
        }
        printf("%s: %zu page(s), paper code %u, first page %ux%u, %.1f%% black\n", c.what, d.pages.size(),
               d.pages[0].info.paper, d.pages[0].info.width, d.pages[0].info.height, 100 * BlackShare(d.pages[0]));
        if (c.bars.empty() && c.pages == 1) {
            // The image's upper half is black, scaled onto the page.
            EXPECT_GT(BlackShare(d.pages[0]), 0.30);
            EXPECT_LT(BlackShare(d.pages[0]), 0.60);
        }
    }
}

TEST_F(PrinterApp, MultiplePagesOfAPdfKeepTheirOrder)
{
    // multipage.pdf: page k carries k bars, so its ink grows page by page.
    IppJob job = PrintDocument(app, Sample("multipage.pdf"), "application/pdf",
                               {"keyword media iso_a6_105x148mm", "integer copies 2",
                                "rangeOfInteger page-ranges 2-4"});
    ASSERT_EQ(job.state, "completed") << Describe(job);
    DecodedJob d = DecodeJob(job.stream);
    ASSERT_TRUE(d.ok) << Joined(d.report.problems);
    ASSERT_EQ(d.pages.size(), 6u); // pages 2-4, collated twice
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d.pages[i].bits, d.pages[i + 3].bits) << "page " << i;
        if (i > 0) {
            EXPECT_GT(d.pages[i].info.blackDots, d.pages[i - 1].info.blackDots) << "page " << i;
        }
    }
    EXPECT_EQ(PjlSetting(job.stream, "COPIES"), "1");
}

TEST_F(PrinterApp, SendsTheFilterThePagesItReceived)
{
    // What the filter prints from CUPS's own raster of the same pages, as
    // 24-bit RGB (edges reinforced) and as 8-bit gray (photo).
    std::vector<TestPage> gray = NumberedPages(GrayPageHeader(kA6), 2);
    std::vector<TestPage> direct8 = gray;
    for (TestPage& p : direct8)
        p.header = MakePageHeader(p.header.cupsWidth, p.header.cupsHeight, 8, CUPS_CSPACE_SW);
    ASSERT_TRUE(WriteRasterFile(Path("rgb.ras"), AsRgbPages(gray)));
    ASSERT_TRUE(WriteRasterFile(Path("gray.ras"), direct8));
    ProcessResult rgb = RunFilterOnFile(Path("rgb.ras")), photo = RunFilterOnFile(Path("gray.ras"));
    ASSERT_EQ(rgb.status + photo.status, 0) << Joined(ErrorLines(rgb.err + photo.err));
    DecodedJob wantRgb = DecodeJob(rgb.out), wantPhoto = DecodeJob(photo.out);
    ASSERT_EQ(wantRgb.pages.size(), 2u);
    ASSERT_EQ(wantPhoto.pages.size(), 2u);
    // Otherwise the comparison below could not tell the two apart.
    ASSERT_NE(wantRgb.pages[1].bits, wantPhoto.pages[1].bits);

    std::string document = RasterDocument("pages.pwg", 2);
    const struct {
        const char* content;
        const DecodedJob& want;
    } cases[] = {{"auto", wantRgb}, {"photo", wantPhoto}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        IppJob job = PrintDocument(app, document, "image/pwg-raster",
                                   {std::string("keyword print-content-optimize ") + c.content});
        ASSERT_EQ(job.state, "completed") << Describe(job);
        DecodedJob got = DecodeJob(job.stream);
        ASSERT_EQ(got.pages.size(), 2u);
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(got.pages[i].bits, c.want.pages[i].bits) << "page " << i + 1;
    }
}

TEST_F(PrinterApp, JobSettingsReachThePrinter)
{
    std::string document = RasterDocument("two.pwg", 2);
    const unsigned width = GrayPageHeader(kA6).cupsWidth;
    const struct {
        const char* what;
        std::vector<std::string> attrs;
        std::vector<std::pair<const char*, const char*>> pjl;
        std::vector<int> bars;
        uint8_t media, tray;
    } cases[] = {
        {"defaults",
         {},
         {{"COPIES", "1"}, {"DUPLEX", "OFF"}, {"DENSITY", "4"}, {"ECONOMODE", "OFF"}, {"AUTOSELECT", "ON"}},
         {1, 2},
         8,
         0},
        // Collated copies are the filter's; the printer makes one of each.
        {"collated copies", {"integer copies 2"}, {{"COPIES", "1"}}, {1, 2, 1, 2}, 8, 0},
        {"long-edge duplex", {"keyword sides two-sided-long-edge"}, {{"DUPLEX", "ON"}, {"DUPLEXTYPE", "BOOKLET"}},
         {2, 1}, 8, 0},
        {"short-edge duplex", {"keyword sides two-sided-short-edge"}, {{"DUPLEX", "ON"}, {"DUPLEXTYPE", "CALENDAR"}},
         {2, 1}, 8, 0},
        {"darkest", {"integer print-darkness 100"}, {{"DENSITY", "2"}}, {1, 2}, 8, 0},
        {"lightest", {"integer print-darkness -100"}, {{"DENSITY", "7"}}, {1, 2}, 8, 0},
        {"toner saving", {"boolean toner-save true"}, {{"ECONOMODE", "ON"}}, {1, 2}, 8, 0},
        {"thick paper from tray 1",
         {"collection media-col { MEMBER keyword media-type stationery-heavyweight "
          "MEMBER keyword media-source tray-1 MEMBER keyword media-size-name iso_a6_105x148mm }"},
         {{"AUTOSELECT", "OFF"}},
         {1, 2},
         17,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IppJob job = PrintDocument(app, document, "image/pwg-raster", c.attrs);
        ASSERT_EQ(job.state, "completed") << Describe(job);
        DecodedJob d = DecodeJob(job.stream);
        ASSERT_TRUE(d.ok) << Joined(d.report.problems);
        for (const auto& setting : c.pjl)
            EXPECT_EQ(PjlSetting(job.stream, setting.first), setting.second) << setting.first;
        EXPECT_EQ(Bars(d, width), c.bars);
        // Every side sent is one the printer prints once.
        EXPECT_EQ(job.impressions, (int)d.pages.size());
        for (const DecodedPage& p : d.pages) {
            EXPECT_EQ(p.info.paper, kPaperA6);
            EXPECT_EQ(p.info.media, c.media);
            EXPECT_EQ(p.info.tray, c.tray);
        }
    }
}

TEST_F(PrinterApp, NegativeAndMirrorPrintingAreTheFiltersOwn)
{
    std::string document = RasterDocument("one.pwg", 1);
    IppJob plain = PrintDocument(app, document, "image/pwg-raster");
    IppJob negative = PrintDocument(app, document, "image/pwg-raster", {"boolean negative-print true"});
    IppJob mirror = PrintDocument(app, document, "image/pwg-raster", {"boolean mirror-print true"});
    ASSERT_EQ(plain.state + negative.state + mirror.state, "completedcompletedcompleted")
        << Describe(plain) << Describe(negative) << Describe(mirror);
    DecodedJob p = DecodeJob(plain.stream), n = DecodeJob(negative.stream), m = DecodeJob(mirror.stream);
    ASSERT_EQ(p.pages.size() + n.pages.size() + m.pages.size(), 3u);
    EXPECT_LT(BlackShare(p.pages[0]), 0.5);
    EXPECT_GT(BlackShare(n.pages[0]), 0.5);
    // Mirroring moves the dots, it does not make new ones.
    EXPECT_NE(m.pages[0].bits, p.pages[0].bits);
    EXPECT_EQ(m.pages[0].info.blackDots, p.pages[0].info.blackDots);
}

TEST_F(PrinterApp, PrinterDefaultsApplyToJobsThatDoNotSayOtherwise)
{
    std::ofstream(Path("defaults.test"))
        << "{\nNAME \"Set toner saving as the printer's default\"\nOPERATION Set-Printer-Attributes\n"
           "GROUP operation-attributes-tag\nATTR charset attributes-charset utf-8\n"
           "ATTR language attributes-natural-language en\nATTR uri printer-uri $uri\n"
           "GROUP printer-attributes-tag\nATTR boolean toner-save-default true\nSTATUS successful-ok\n}\n";
    ProcessResult set = RunIpptool(app, Path("defaults.test"));
    ASSERT_EQ(CountResults(set.out, "[PASS]"), 1) << set.out;
    IppJob job = PrintDocument(app, RasterDocument("one.pwg", 1), "image/pwg-raster");
    ASSERT_EQ(job.state, "completed") << Describe(job);
    EXPECT_EQ(PjlSetting(job.stream, "ECONOMODE"), "ON");
}

TEST_F(PrinterApp, ImpressionsAreTheSidesTheFilterReports)
{
    // Uncollated copies are the printer's: the filter says how many it
    // makes of each side, and the job counts what it says, not the copies
    // PAPPL renders of an image.
    ASSERT_TRUE(WriteHalfBlackJpeg(Path("half.jpg")));
    const struct {
        std::string document, format;
        unsigned pages;
    } cases[] = {{RasterDocument("two.pwg", 2), "image/pwg-raster", 2}, {Path("half.jpg"), "image/jpeg", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        IppJob job = PrintDocument(app, c.document, c.format,
                                   {"integer copies 3", "keyword multiple-document-handling "
                                                        "separate-documents-uncollated-copies"});
        ASSERT_EQ(job.state, "completed") << Describe(job);
        EXPECT_EQ(PjlSetting(job.stream, "COPIES"), "3");
        EXPECT_EQ(DecodeJob(job.stream).pages.size(), c.pages);

        std::vector<TestPage> rgb = AsRgbPages(NumberedPages(GrayPageHeader(kA6), c.pages));
        for (TestPage& p : rgb)
            p.header.NumCopies = 3;
        ASSERT_TRUE(WriteRasterFile(Path("direct.ras"), rgb));
        ProcessResult direct = RunProgram(FilterPath(), {"q", "1", "u", "t", "3", "", Path("direct.ras")});
        ASSERT_EQ(direct.status, 0) << Joined(ErrorLines(direct.err));
        EXPECT_EQ(job.impressions, (int)FilterImpressions(direct.err));
    }
}

TEST_F(PrinterApp, UnreadableDocumentsAbortTheJobWithAReason)
{
    std::ofstream(Path("garbage.pdf")) << "This is not a PDF document.\n";
    IppJob pdf = PrintDocument(app, Path("garbage.pdf"), "application/pdf");
    EXPECT_EQ(pdf.state, "aborted") << Describe(pdf);
    EXPECT_NE(pdf.message.find("The PDF document could not be read"), std::string::npos) << Describe(pdf);
    EXPECT_EQ(pdf.stream, "");

    // PAPPL reads raster itself and gives only "Job aborted." for it.
    std::ofstream(Path("garbage.pwg")) << "RaS2 but nothing a raster stream would hold\n";
    IppJob raster = PrintDocument(app, Path("garbage.pwg"), "image/pwg-raster");
    EXPECT_EQ(raster.state, "aborted") << Describe(raster);
    EXPECT_EQ(raster.stream, "");
    printf("garbage PDF: %s, \"%s\"; garbage PWG raster: %s, \"%s\"\n", pdf.state.c_str(), pdf.message.c_str(),
           raster.state.c_str(), raster.message.c_str());
}

TEST_F(PrinterApp, CancellingMidwayLeavesAWellFormedStream)
{
    // Eight photo pages keep Ghostscript and the filter busy for seconds.
    ASSERT_TRUE(WriteRepeatedPdf(Path("photos.pdf"), Sample("photo.pdf"), 8));
    IppJob job = PrintDocument(app, Path("photos.pdf"), "application/pdf", {}, true);
    ASSERT_EQ(job.state, "canceled") << Describe(job);
    DecodedJob d = DecodeJob(job.stream);
    EXPECT_TRUE(d.ok) << Joined(d.report.problems);
    EXPECT_TRUE(EndsWithTrailer(job.stream));
    EXPECT_LT(d.pages.size(), 8u);
    EXPECT_EQ(job.impressions, (int)d.pages.size());
    printf("cancelled after %d impression(s): %zu page(s) in a sound stream\n", job.impressions, d.pages.size());
    // Neither the filter nor Ghostscript is left behind.
    std::string children = "?";
    for (int i = 0; i < 50 && !children.empty(); ++i) { // up to 5 s
        usleep(i ? 100 * 1000 : 0);
        children = ServerChildren(app);
    }
    EXPECT_EQ(children, "");
}

TEST_F(PrinterApp, TwentyJobsLeaveNoGrowth)
{
    std::string raster = RasterDocument("two.pwg", 2);
    ASSERT_TRUE(WriteHalfBlackJpeg(Path("half.jpg")));
    auto printSome = [&](int n) {
        for (int i = 0; i < n; ++i) {
            bool jpeg = i % 2;
            IppJob job = PrintDocument(app, jpeg ? Path("half.jpg") : raster, jpeg ? "image/jpeg" : "image/pwg-raster",
                                       {"keyword media iso_a6_105x148mm"});
            ASSERT_EQ(job.state, "completed") << Describe(job);
        }
    };
    // The first jobs set up what every later one reuses (threads, arenas).
    printSome(4);
    ProcessUse before = ServerUse(app);
    printSome(20);
    ProcessUse after = ServerUse(app);
    printf("app after 4 jobs: VmRSS %ld kB, %d fds; after 20 more: VmRSS %ld kB, %d fds\n", before.rssKb,
           before.fds, after.rssKb, after.fds);
    ASSERT_GT(before.rssKb, 0);
    EXPECT_LE(after.fds, before.fds);
    EXPECT_LT(after.rssKb - before.rssKb, 4096);
}
