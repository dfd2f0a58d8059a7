// The bundled PDFs through cupsfilter's whole chain (pdftopdf, the raster
// step, rastertoQuorin) with the built PPD, as the scheduler would run it,
// and the printer stream read back with the decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cups/raster.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cups_sandbox.h"
#include "decoded_stream.h"
#include "files.h"
#include "pjl_frame.h"
#include "text_lines.h"

namespace {
const unsigned kPaperA4 = 2, kPaperLetter = 15;
const unsigned kMediaPlain = 8, kMediaEnvelope = 3, kMediaThick = 17;

std::string Describe(const ProcessResult& r)
{
    std::string errors;
    for (const std::string& line : SplitLines(r.err))
        if (line.compare(0, 6, "DEBUG:") != 0)
            errors += line + "\n";
    return "status " + std::to_string(r.status) + ", " + std::to_string(r.out.size()) + " bytes out\n" + errors;
}

size_t PageLines(const ProcessResult& r)
{
    return LinesStartingWith(r.err, "PAGE: ").size();
}

// Where the decoded pages of a sample are left as PNGs, to be looked at.
std::string PreviewDir(const std::string& name)
{
    std::string dir = BuildDir() + "/e2e-previews";
    mkdir(dir.c_str(), 0755);
    return dir + "/" + name;
}

// Which page of `reference` each decoded page is, told by its ink: 1-based,
// 0 for a blank page, -1 for a page not in the reference.
std::vector<int> PageNumbers(const DecodedStream& d, const DecodedStream& reference)
{
    std::vector<int> numbers;
    for (const SummaryPage& p : d.pages) {
        int n = p.blackDots == 0 ? 0 : -1;
        for (size_t i = 0; i < reference.pages.size(); ++i)
            if (p.blackDots == reference.pages[i].blackDots)
                n = (int)i + 1;
        numbers.push_back(n);
    }
    return numbers;
}

DecodedStream Decoded(const ProcessResult& r, bool withBits = false)
{
    DecodedStream d = DecodeStream(r.out, withBits);
    EXPECT_EQ(d.status, 0) << d.problems;
    return d;
}

struct Box {
    double left = 0, top = 0, right = 0, bottom = 0; // printer pixels from the sheet's top left; right, bottom excluded
};

// Where the raster step puts a document's first page on the sheet, by the
// imaging box of its raster header.
Box RasterOnSheet(const std::string& document, const std::vector<std::string>& options = {})
{
    Box at;
    ProcessResult r = RunCupsfilter(document, options, 1, {}, "application/vnd.cups-raster");
    EXPECT_EQ(r.status, 0) << Describe(r);
    std::string path = MakeSandboxDir("raster") + "/page.ras";
    WriteFile(path, r.out);
    int fd = open(path.c_str(), O_RDONLY);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    if (ras && cupsRasterReadHeader2(ras, &h)) {
        const double x = h.HWResolution[0] / 72.0, y = h.HWResolution[1] / 72.0;
        at.left = h.cupsImagingBBox[0] * x;
        at.top = (h.PageSize[1] - h.cupsImagingBBox[3]) * y;
        at.right = at.left + h.cupsWidth;
        at.bottom = at.top + h.cupsHeight;
        // Only a raster short of the sheet has to be placed at all.
        EXPECT_LT(h.cupsHeight + 50, h.PageSize[1] * y) << document;
    } else {
        ADD_FAILURE() << "no raster page from " << document << ": " << Describe(r);
    }
    cupsRasterClose(ras);
    close(fd);
    return at;
}

// The smallest box round every black dot of the page.
Box InkBox(const SummaryPage& p)
{
    Box ink{(double)p.width, (double)p.height, 0, 0};
    for (size_t y = 0; y < p.height; ++y)
        for (size_t x = 0; x < p.width; ++x)
            if (p.Black(x, y)) {
                ink.left = std::min(ink.left, (double)x);
                ink.top = std::min(ink.top, (double)y);
                ink.right = std::max(ink.right, (double)x + 1);
                ink.bottom = std::max(ink.bottom, (double)y + 1);
            }
    return ink;
}

// Share of black dots in a rectangle of the page.
double BlackShare(const SummaryPage& p, unsigned x0, unsigned y0, unsigned x1, unsigned y1)
{
    size_t black = 0;
    for (size_t y = y0; y < y1; ++y)
        for (size_t x = x0; x < x1; ++x)
            black += p.Black(x, y);
    return (double)black / ((double)(x1 - x0) * (y1 - y0));
}
} // namespace

TEST(Cupsfilter, EverySamplePrintsThroughTheWholeChain)
{
    const struct {
        const char* name;
        size_t pages;
    } samples[] = {{"text", 1}, {"photo", 1}, {"multipage", 5}};
    for (const auto& s : samples) {
        ProcessResult r = RunCupsfilter(SamplePath(std::string(s.name) + ".pdf"));
        ASSERT_EQ(r.status, 0) << s.name << ": " << Describe(r);
        EXPECT_EQ(FiltersStarted(r.err), (std::vector<std::string>{"pdftopdf", "gstoraster", "rastertoQuorin"}))
            << s.name;
        EXPECT_TRUE(LinesStartingWith(r.err, "ERROR:").empty()) << s.name << ": " << Describe(r);
        // The PPD's defaults, as the filter sees them.
        EXPECT_TRUE(Traced(r.err, "cupsBitsPerPixel = 24")) << s.name;
        EXPECT_TRUE(Traced(r.err, "HWResolution = [ 600 600 ]")) << s.name;
        EXPECT_TRUE(Traced(r.err, "cupsCompression = 3 (Density)")) << s.name;

        EXPECT_TRUE(StartsWithCancelPrefix(r.out)) << s.name;
        EXPECT_TRUE(EntersVlgdi(r.out)) << s.name;
        EXPECT_TRUE(EndsWithTrailer(r.out)) << s.name;
        EXPECT_EQ(PjlSetting(r.out, "DENSITY"), "4") << s.name;
        EXPECT_EQ(PjlSetting(r.out, "RESOLUTION"), "600") << s.name;
        EXPECT_EQ(PjlSetting(r.out, "DUPLEX"), "OFF") << s.name;
        EXPECT_EQ(PjlSetting(r.out, "AUTOSELECT"), "ON") << s.name;
        EXPECT_EQ(PageLines(r), s.pages) << s.name;

        DecodedStream d = DecodeStream(r.out, false, PreviewDir(s.name));
        EXPECT_EQ(d.status, 0) << s.name << ": " << d.problems;
        ASSERT_EQ(d.pages.size(), s.pages) << s.name;
        for (const SummaryPage& p : d.pages) {
            // The whole A4 sheet at 600 dpi, widened to whole 32-pixel words.
            EXPECT_EQ(p.width, 4960u) << s.name;
            EXPECT_EQ(p.height, 7040u) << s.name;
            EXPECT_EQ(p.paper, kPaperA4) << s.name;
            EXPECT_EQ(p.media, kMediaPlain) << s.name;
            EXPECT_EQ(p.tray, 0u) << s.name;
            EXPECT_GT(p.black, 0.005) << s.name << " page " << p.number;
        }
        // Page k carries k bars: the ink rises page by page when the order is right.
        for (size_t i = 1; i < d.pages.size(); ++i)
            EXPECT_GT(d.pages[i].blackDots, d.pages[i - 1].blackDots) << s.name << " page " << i + 1;
    }
}

TEST(Cupsfilter, JobSettingsReachTheFilterAndThePrinter)
{
    ProcessResult r = RunCupsfilter(SamplePath("text.pdf"),
                                    {"PageSize=Letter", "Duplex=DuplexTumble", "Density=5", "TonerSave=True",
                                     "MediaType=Envelope", "InputSlot=Tray1"});
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_TRUE(Traced(r.err, "PageSize = [ 612 792 ]"));
    EXPECT_TRUE(Traced(r.err, "cupsCompression = 5 (Density)"));
    EXPECT_TRUE(Traced(r.err, "cupsInteger[0] = 1 (TonerSave)"));
    EXPECT_TRUE(Traced(r.err, "cupsMediaType = 7 (MediaType)"));
    EXPECT_TRUE(Traced(r.err, "MediaPosition = 1 (Tray)"));
    EXPECT_TRUE(Traced(r.err, "Duplex = 1 (Duplex)"));
    EXPECT_TRUE(Traced(r.err, "Tumble = 1 (Duplex)"));

    EXPECT_EQ(PjlSetting(r.out, "DENSITY"), "6");
    EXPECT_EQ(PjlSetting(r.out, "ECONOMODE"), "ON");
    EXPECT_EQ(PjlSetting(r.out, "DUPLEX"), "ON");
    EXPECT_EQ(PjlSetting(r.out, "DUPLEXTYPE"), "CALENDAR");
    EXPECT_EQ(PjlSetting(r.out, "AUTOSELECT"), "OFF");

    // One page printed duplex: a blank back side completes the sheet, and
    // is no page of the document.
    DecodedStream d = Decoded(r);
    ASSERT_EQ(d.pages.size(), 2u);
    EXPECT_EQ(PageLines(r), 1u);
    for (const SummaryPage& p : d.pages) {
        EXPECT_EQ(p.width, 5120u); // 5100 pixels of Letter, rounded up to 32
        EXPECT_EQ(p.height, 6624u);
        EXPECT_EQ(p.paper, kPaperLetter);
        EXPECT_EQ(p.media, kMediaEnvelope);
        EXPECT_EQ(p.tray, 1u);
    }
    EXPECT_EQ(d.pages[0].blackDots, 0u);
    EXPECT_GT(d.pages[1].blackDots, 0u);

    ProcessResult longEdge = RunCupsfilter(SamplePath("text.pdf"), {"Duplex=DuplexNoTumble"});
    ASSERT_EQ(longEdge.status, 0) << Describe(longEdge);
    EXPECT_EQ(PjlSetting(longEdge.out, "DUPLEX"), "ON");
    EXPECT_EQ(PjlSetting(longEdge.out, "DUPLEXTYPE"), "BOOKLET");
}

TEST(Cupsfilter, NegativeAndMirrorTurnThePageOnce)
{
    ProcessResult plain = RunCupsfilter(SamplePath("text.pdf"));
    ProcessResult negative = RunCupsfilter(SamplePath("text.pdf"), {"Negative=True"});
    ProcessResult mirror = RunCupsfilter(SamplePath("text.pdf"), {"MirrorImage=True"});
    ASSERT_EQ(plain.status + negative.status + mirror.status, 0) << Describe(plain) << Describe(negative)
                                                                  << Describe(mirror);
    EXPECT_TRUE(Traced(negative.err, "cupsInteger[1] = 1 (Invert)"));
    EXPECT_TRUE(Traced(mirror.err, "cupsInteger[2] = 1 (Mirror)"));
    // The raster step must leave them to the filter, or the page is turned twice.
    EXPECT_TRUE(Traced(negative.err, "NegativePrint = 0"));
    EXPECT_TRUE(Traced(mirror.err, "MirrorPrint = 0"));
    // The printer is not asked to mirror as well.
    EXPECT_EQ(PjlSetting(mirror.out, "MIRROR"), "OFF");

    DecodedStream p = Decoded(plain, true), n = Decoded(negative, true), m = Decoded(mirror, true);
    ASSERT_EQ(p.pages.size(), 1u);
    ASSERT_EQ(n.pages.size(), 1u);
    ASSERT_EQ(m.pages.size(), 1u);
    const SummaryPage &pp = p.pages[0], &np = n.pages[0], &mp = m.pages[0];
    ASSERT_EQ(np.bits.size(), pp.bits.size());
    // The raster covers the printable area; the margins around it stay white.
    unsigned w = 0, h = 0, left = 0, top = 0;
    size_t at = negative.err.find("PlacePageOnSheet::raster ");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(sscanf(negative.err.c_str() + at, "PlacePageOnSheet::raster %u x %u placed at %u, %u", &w, &h, &left,
                     &top), 4);
    uint64_t wrong = 0;
    for (unsigned y = 0; y < pp.height; ++y)
        for (unsigned x = 0; x < pp.width; ++x)
            wrong += np.Black(x, y) != (x >= left && x < left + w && y >= top && y < top + h && !pp.Black(x, y));
    EXPECT_EQ(wrong, 0u) << "negative page is not the raster's area of the plain page inverted";
    EXPECT_EQ(np.blackDots, w * h - pp.blackDots);
    EXPECT_TRUE(mp.bits == MirroredBits(pp)) << "mirrored page is not the plain page flipped";
    EXPECT_FALSE(mp.bits == pp.bits);
}

TEST(Cupsfilter, LowerDensityPrintsDarker)
{
    double share[7] = {};
    for (int density : {1, 3, 6}) {
        ProcessResult r = RunCupsfilter(SamplePath("photo.pdf"), {"Density=" + std::to_string(density)});
        ASSERT_EQ(r.status, 0) << density << ": " << Describe(r);
        EXPECT_EQ(PjlSetting(r.out, "DENSITY"), std::to_string(density + 1));
        DecodedStream d = Decoded(r);
        ASSERT_EQ(d.pages.size(), 1u);
        share[density] = d.pages[0].black;
    }
    // The labels promise "100% (Darkest)" and "0% (Lightest)".
    EXPECT_GT(share[1], share[3]);
    EXPECT_GT(share[3], share[6]);
}

TEST(Cupsfilter, CopiesReachTheFilterOnce)
{
    // Whichever raster step runs, the PDF step hands over one copy and three
    // copies of five pages are fifteen sides on paper: the printer's
    // (uncollated: one set, COPIES=3) or the filter's (collated: the
    // document three times in page order). pdftoraster leaves NumCopies at 1,
    // so the count comes from the copies argument.
    struct Case {
        const char* step;
        std::vector<std::string> leaveOut;
        bool collate;
    };
    for (const Case& c : {Case{"gstoraster", {}, false}, Case{"gstoraster", {}, true},
                          Case{"pdftoraster", {"gstoraster"}, false}, Case{"pdftoraster", {"gstoraster"}, true}}) {
        std::string what = std::string(c.step) + (c.collate ? ", collated" : ", uncollated");
        std::vector<std::string> options;
        if (c.collate)
            options.push_back("Collate=True");
        ProcessResult r = RunCupsfilter(SamplePath("multipage.pdf"), options, 3, c.leaveOut);
        ASSERT_EQ(r.status, 0) << what << ": " << Describe(r);
        std::vector<std::string> chain = FiltersStarted(r.err);
        ASSERT_EQ(chain.size(), 3u) << what;
        EXPECT_EQ(chain[1], c.step);
        EXPECT_EQ(LinesStartingWith(r.err, "DEBUG: Start Page = ").size(), 5u) << what;
        EXPECT_EQ(PjlSetting(r.out, "COPIES"), c.collate ? "1" : "3") << what;
        EXPECT_EQ(PageCopiesTotal(r.err), 15u) << what;
        DecodedStream d = Decoded(r);
        ASSERT_GE(d.pages.size(), 5u) << what;
        DecodedStream firstCopy = d;
        firstCopy.pages.resize(5);
        std::vector<int> once = {1, 2, 3, 4, 5}, thrice = {1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5};
        EXPECT_EQ(PageNumbers(d, firstCopy), c.collate ? thrice : once) << what;
    }
}

TEST(Cupsfilter, DuplexSendsEachSheetBackSideFirst)
{
    ProcessResult simplex = RunCupsfilter(SamplePath("multipage.pdf"));
    ProcessResult duplex = RunCupsfilter(SamplePath("multipage.pdf"), {"Duplex=DuplexNoTumble"});
    ASSERT_EQ(simplex.status + duplex.status, 0) << Describe(simplex) << Describe(duplex);
    DecodedStream reference = Decoded(simplex), d = Decoded(duplex);
    ASSERT_EQ(reference.pages.size(), 5u);
    // Three sheets; the fifth page's sheet gets a blank front.
    EXPECT_EQ(PageNumbers(d, reference), (std::vector<int>{2, 1, 4, 3, 0, 5}));
    EXPECT_EQ(PageLines(duplex), 5u);
    // The blank side is the same sheet as the printed ones.
    for (const SummaryPage& p : d.pages) {
        EXPECT_EQ(p.width, 4960u) << p.number;
        EXPECT_EQ(p.height, 7040u) << p.number;
    }
}

TEST(Cupsfilter, ImagesLandWhereTheirImagingBoxSays)
{
    // imagetoraster sends only the photo's own area, fitted and centred in
    // the imageable area; the frame's outer edge is that area's edge.
    Box want = RasterOnSheet(SamplePath("frame.jpg"));
    ProcessResult r = RunCupsfilter(SamplePath("frame.jpg"));
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_EQ(FiltersStarted(r.err), (std::vector<std::string>{"imagetoraster", "rastertoQuorin"}));
    DecodedStream d = Decoded(r, true);
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_EQ(d.pages[0].width, 4960u);
    EXPECT_EQ(d.pages[0].height, 7040u);
    Box ink = InkBox(d.pages[0]);
    EXPECT_NEAR(ink.left, want.left, 2);
    EXPECT_NEAR(ink.top, want.top, 2);
    EXPECT_NEAR(ink.right, want.right, 2);
    EXPECT_NEAR(ink.bottom, want.bottom, 2);
}

TEST(Cupsfilter, PhotoModeDrawsNoLineRoundALightPhoto)
{
    const std::string photo = SamplePath("light.jpg");
    Box at = RasterOnSheet(photo);
    const unsigned x0 = (unsigned)(at.left + 0.5), y0 = (unsigned)(at.top + 0.5);
    const unsigned x1 = (unsigned)at.right, y1 = (unsigned)at.bottom;
    // Both modes send 24-bit RGB; the Photo mode's flag turns the edges off.
    const struct {
        const char* mode;
        const char* flag;
        bool lined;
    } modes[] = {{"TextGraphics", "cupsInteger[3] = 0 (Photo)", true}, {"Photo", "cupsInteger[3] = 1 (Photo)", false}};
    std::vector<double> inside;
    for (const auto& m : modes) {
        ProcessResult r = RunCupsfilter(photo, {std::string("PrintMode=") + m.mode});
        ASSERT_EQ(r.status, 0) << m.mode << ": " << Describe(r);
        EXPECT_TRUE(Traced(r.err, "cupsBitsPerPixel = 24")) << m.mode;
        EXPECT_TRUE(Traced(r.err, m.flag)) << m.mode;
        DecodedStream d = Decoded(r, true);
        ASSERT_EQ(d.pages.size(), 1u) << m.mode;
        const SummaryPage& p = d.pages[0];
        ASSERT_TRUE(p.width >= x1 && p.height >= y1) << m.mode << ": " << p.width << " x " << p.height;
        inside.push_back(BlackShare(p, x0 + 64, y0 + 64, x1 - 64, y1 - 64));
        // Its darkest column and line along the left and top edges: a line
        // drawn there is black all along, the screen alone is not.
        double left = 0, top = 0;
        for (unsigned k = 0; k < 5; ++k) {
            left = std::max(left, BlackShare(p, x0 - 2 + k, y0 + 64, x0 - 1 + k, y1 - 64));
            top = std::max(top, BlackShare(p, x0 + 64, y0 - 2 + k, x1 - 64, y0 - 1 + k));
        }
        if (m.lined) {
            EXPECT_GT(left, 0.99) << m.mode;
            EXPECT_GT(top, 0.99) << m.mode;
        } else {
            EXPECT_LT(left, 0.5) << m.mode;
            EXPECT_LT(top, 0.5) << m.mode;
        }
    }
    // Inside, the photo's light gray is screened alike in both modes.
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_GT(inside[0], 0.1);
    EXPECT_NEAR(inside[0], inside[1], 0.01);
}

// The Photo mode's flag reaches the filter through every raster step that
// serves the printer description: PDFs through Ghostscript or Poppler.
TEST(Cupsfilter, PhotoModeFlagPassesEveryRasterStep)
{
    for (const char* hidden : {"pdftoraster", "gstoraster"}) {
        ProcessResult r = RunCupsfilter(SamplePath("photo.pdf"), {"PrintMode=Photo"}, 1, {hidden});
        ASSERT_EQ(r.status, 0) << hidden << ": " << Describe(r);
        std::vector<std::string> chain = FiltersStarted(r.err);
        EXPECT_EQ(std::count(chain.begin(), chain.end(), hidden), 0) << hidden;
        EXPECT_TRUE(Traced(r.err, "cupsBitsPerPixel = 24")) << hidden;
        EXPECT_TRUE(Traced(r.err, "cupsInteger[3] = 1 (Photo)")) << hidden;
    }
}

TEST(Cupsfilter, PopplerRasterStepServesTheSamePpd)
{
    // Where Ghostscript is not the cheapest raster step, pdftoraster runs.
    ProcessResult r = RunCupsfilter(SamplePath("photo.pdf"), {"Density=2", "MediaType=Thick"}, 1, {"gstoraster"});
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_EQ(FiltersStarted(r.err), (std::vector<std::string>{"pdftopdf", "pdftoraster", "rastertoQuorin"}));
    EXPECT_TRUE(Traced(r.err, "cupsBitsPerPixel = 24"));
    EXPECT_TRUE(Traced(r.err, "cupsColorSpace = 1"));
    EXPECT_TRUE(Traced(r.err, "HWResolution = [ 600 600 ]"));
    EXPECT_TRUE(Traced(r.err, "cupsCompression = 2 (Density)"));
    EXPECT_TRUE(Traced(r.err, "cupsMediaType = 2 (MediaType)"));
    EXPECT_TRUE(Traced(r.err, "MediaPosition = 250 (Tray)"));
    EXPECT_EQ(PjlSetting(r.out, "DENSITY"), "3");
    EXPECT_EQ(PageLines(r), 1u);
    DecodedStream d = Decoded(r);
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_EQ(d.pages[0].paper, kPaperA4);
    EXPECT_EQ(d.pages[0].media, kMediaThick);
    EXPECT_GT(d.pages[0].black, 0.05);
}
