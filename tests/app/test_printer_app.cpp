// The printer application over IPP: a private app server on 127.0.0.1 with
// a file: device, documents sent with CUPS's ipptool, the printer stream
// read back with the stream decoder.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app_documents.h"
#include "app_server.h"
#include "decoded_job.h"
#include "ipp_client.h"
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
    std::string RasterDocument(const std::string& name, unsigned pages, cups_mode_t mode = CUPS_RASTER_WRITE_PWG,
                               unsigned dpi = 600)
    {
        std::string path = Path(name);
        EXPECT_TRUE(WriteRasterFile(path, NumberedPages(GrayPageHeader(kA6, dpi), pages), mode));
        return path;
    }
};
} // namespace

TEST_F(PrinterApp, PassesTheIppEverywhereAttributeTests)
{
    // The conformance files' print tests want sample documents CUPS does
    // not ship, and ipptool stops a file at the first it cannot read, even
    // a skipped one: ipp-everywhere.test's come last and are cut off,
    // ipp-1.1.test's (the tests that skip on NOPRINT) are left out.
    std::string everywhere = ReadFile(QUORIN_IPPTOOL_DIR "/ipp-everywhere.test");
    size_t cut = everywhere.find("# Test printing all sample documents");
    ASSERT_NE(cut, std::string::npos);
    std::ofstream(Path("ipp-everywhere.test")) << everywhere.substr(0, cut);
    std::ofstream(Path("ipp-2.0.test")) << ReadFile(QUORIN_IPPTOOL_DIR "/ipp-2.0.test");
    std::string kept;
    for (const std::string& block : TestBlocks(ReadFile(QUORIN_IPPTOOL_DIR "/ipp-1.1.test")))
        if (block.find("SKIP-IF-DEFINED NOPRINT") == std::string::npos)
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

    // The printer's settings are on the web interface's defaults page, in
    // words, and every choice list there and on the media page shows what
    // is set (a list with none would set its first choice when saved).
    std::string page = WebPage(app, "/Quorin/printing");
    for (const char* name : {"toner-save", "negative-print", "mirror-print", "print-darkness"})
        EXPECT_NE(page.find(std::string("name=\"") + name + "\""), std::string::npos) << name << "\n" << page;
    for (const char* words : {">Toner saving:<", ">Negative printing:<", ">Mirror printing:<"})
        EXPECT_NE(page.find(words), std::string::npos) << words;
    for (const char* path : {"/Quorin/printing", "/Quorin/media"}) {
        std::string html = WebPage(app, path);
        for (size_t at = html.find("<select"); at != std::string::npos; at = html.find("<select", at + 1)) {
            std::string list = html.substr(at, html.find("</select>", at) - at);
            size_t selected = 0;
            for (size_t p = list.find(" selected"); p != std::string::npos; p = list.find(" selected", p + 1))
                ++selected;
            EXPECT_EQ(selected, 1u) << path << ": " << list.substr(0, 60);
        }
    }
}

TEST_F(PrinterApp, DarknessStepsAreTheSixDensities)
{
    // Each step the pages offer prints at its own density, and a value
    // between steps is kept as the step it prints as.
    std::string document = RasterDocument("one.pwg", 1);
    const struct {
        int set, kept;
        const char* density;
    } cases[] = {{0, 0, "7"},   {20, 20, "6"}, {40, 40, "5"}, {60, 60, "4"},
                 {80, 80, "3"}, {100, 100, "2"}, {50, 60, "4"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        ipp_t* r = NewRequest(app.port, IPP_OP_SET_PRINTER_ATTRIBUTES);
        ippAddInteger(r, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-darkness-configured", c.set);
        ASSERT_EQ(StatusOf(app.port, r), IPP_STATUS_OK);
        for (int i = 0; i < 100 && PrinterInteger(app.port, "printer-darkness-configured") != c.kept; ++i)
            usleep(100 * 1000);
        EXPECT_EQ(PrinterInteger(app.port, "printer-darkness-configured"), c.kept);
        IppJob job = PrintDocument(app, document, "image/pwg-raster");
        ASSERT_EQ(job.state, "completed") << Describe(job);
        EXPECT_EQ(PjlSetting(job.stream, "DENSITY"), c.density);
    }
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
        // Pages at 300 dpi keep their size (half of it, on A4, before).
        {"PWG raster at 300 dpi", RasterDocument("300.pwg", 2, CUPS_RASTER_WRITE_PWG, 300), "image/pwg-raster", {},
         kPaperA6, {}, 2},
        {"Apple raster at 300 dpi", RasterDocument("300.urf", 2, CUPS_RASTER_WRITE_APPLE, 300), "image/urf", {},
         kPaperA6, {}, 2},
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

TEST_F(PrinterApp, SheetsCountTheBlankBackSide)
{
    std::string document = RasterDocument("five.pwg", 5);
    const struct {
        std::vector<std::string> attrs;
        int sheets;
    } cases[] = {{{}, 5},
                 {{"keyword sides two-sided-long-edge"}, 3},
                 {{"keyword sides two-sided-short-edge", "integer copies 2"}, 6}};
    for (const auto& c : cases) {
        IppJob job = PrintDocument(app, document, "image/pwg-raster", c.attrs);
        ASSERT_EQ(job.state, "completed") << Describe(job);
        EXPECT_EQ(job.sheets, c.sheets) << (c.attrs.empty() ? "one-sided" : c.attrs[0]);
    }
}

TEST_F(PrinterApp, PdfPagesArePlacedByPrintScaling)
{
    // Frames 2, 6 and 10 mm inside an A4 page and an A5 page, printed on
    // A4: the first ink from the left and from the top, in millimetres.
    const char* frames = "%%!PS\n<< /PageSize [%s] >> setpagedevice 0.6 setlinewidth\n"
                         "[2 6 10] { 72 mul 25.4 div /m exch def m m currentpagedevice /PageSize get aload pop\n"
                         "m 2 mul sub exch m 2 mul sub exch rectstroke } forall showpage\n";
    for (const char* size : {"595.28 841.89", "419.53 595.28"}) {
        char ps[400];
        snprintf(ps, sizeof ps, frames, size);
        std::ofstream(Path(std::string(size, 3) + ".ps")) << ps;
        ProcessResult pdf = RunProgram(QUORIN_GHOSTSCRIPT, {"gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite",
                                                            "-o", Path(std::string(size, 3) + ".pdf"),
                                                            Path(std::string(size, 3) + ".ps")});
        ASSERT_EQ(pdf.status, 0) << pdf.err;
    }
    const struct {
        const char *pdf, *scaling;
        double left, top; // mm
    } cases[] = {
        // Into the imageable area (the engine leaves 4.2 mm), as through CUPS.
        {"595.pdf", "auto", 6.0, 8.0}, {"595.pdf", "auto-fit", 6.0, 8.0}, {"595.pdf", "fit", 6.0, 8.0},
        // The whole paper; the page as it is.
        {"595.pdf", "fill", 1.9, 1.9}, {"595.pdf", "none", 1.9, 1.9},
        // A smaller page: centred as it is, or enlarged to fit.
        {"419.pdf", "auto", 33.0, 45.5}, {"419.pdf", "fit", 6.9, 8.2}, {"419.pdf", "fill", 2.8, 2.3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pdf) + " " + c.scaling);
        IppJob job = PrintDocument(app, Path(c.pdf), "application/pdf", {std::string("keyword print-scaling ") + c.scaling});
        ASSERT_EQ(job.state, "completed") << Describe(job);
        DecodedJob d = DecodeJob(job.stream);
        ASSERT_EQ(d.pages.size(), 1u);
        const DecodedPage& p = d.pages[0];
        EXPECT_EQ(p.info.paper, kPaperA4);
        unsigned left = p.info.width, top = p.info.height;
        for (unsigned y = 0; y < p.info.height; ++y)
            for (unsigned x = 0; x < std::min(left, p.info.width); ++x)
                if (p.Black(x, y)) {
                    left = x;
                    top = std::min(top, y);
                }
        EXPECT_NEAR(left * 25.4 / 600, c.left, 0.5);
        EXPECT_NEAR(top * 25.4 / 600, c.top, 0.5);
    }
}

TEST(PrinterAppCommands, ModifyMovesAndDeleteRemovesAPrinter)
{
    AppServer app;
    app.dir = MakeTempDir("app");
    app.options = {"state-directory=" + app.dir + "/state-folder"};
    std::string why;
    ASSERT_TRUE(StartAppServer(&app, &why)) << why;
    const std::string moved = app.dir + "/out/moved";
    ASSERT_EQ(mkdir(moved.c_str(), 0755), 0);
    ProcessResult modify = RunApp(app, {"modify", "-d", "Quorin", "-v", "file://" + moved});
    ASSERT_EQ(modify.status, 0) << modify.err;
    EXPECT_NE(RunApp(app, {"modify", "-d", "Quorin", "-v", "file:///etc"}).status, 0);
    // The new device holds after a restart, from the state in its folder.
    ASSERT_EQ(StopAppServer(&app, 15), 0);
    EXPECT_NE(ReadFile(app.dir + "/state-folder/quorin-printer-app.state").find(moved), std::string::npos);
    ASSERT_TRUE(RestartAppServer(&app, &why)) << why;
    SentJob sent = SendJob(app.port, "%!PS\nshowpage\n", "application/postscript", "moved");
    EXPECT_EQ(WaitForJobEnd(app.port, sent.id, 180).state, "completed");
    EXPECT_NE(ReadFile(moved + "/moved.prn"), "");

    ProcessResult del = RunApp(app, {"delete", "-d", "Quorin"});
    EXPECT_EQ(del.status, 0) << del.err;
    EXPECT_EQ(RunApp(app, {"printers"}).out, "");
}
