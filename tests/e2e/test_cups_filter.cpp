// The bundled PDFs through cupsfilter's whole chain (pdftopdf, the raster
// step, rastertoQuorin) with the built PPD, as the scheduler would run it.
#include <gtest/gtest.h>

#include "cups_sandbox.h"
#include "pjl_frame.h"

namespace {
// The filter's trace line for a page-header field, as DisplayPageInfo logs it.
bool Traced(const ProcessResult& r, const std::string& field)
{
    return r.err.find("DEBUG: " + field + " ---------->") != std::string::npos;
}

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
} // namespace

TEST(Cupsfilter, EverySamplePrintsThroughTheWholeChain)
{
    const struct {
        const char* pdf;
        size_t pages;
    } samples[] = {{"text.pdf", 1}, {"photo.pdf", 1}, {"multipage.pdf", 5}};
    for (const auto& s : samples) {
        ProcessResult r = RunCupsfilter(SamplePath(s.pdf));
        ASSERT_EQ(r.status, 0) << s.pdf << ": " << Describe(r);
        EXPECT_EQ(FiltersStarted(r.err), (std::vector<std::string>{"pdftopdf", "gstoraster", "rastertoQuorin"}))
            << s.pdf;
        EXPECT_NE(r.err.find("INFO: rastertoQuorin (PID"), std::string::npos);
        EXPECT_TRUE(LinesStartingWith(r.err, "ERROR:").empty()) << s.pdf << ": " << Describe(r);
        // The PPD's defaults, as the filter sees them.
        EXPECT_TRUE(Traced(r, "cupsBitsPerPixel = 24")) << s.pdf;
        EXPECT_TRUE(Traced(r, "HWResolution = [ 600 600 ]")) << s.pdf;
        EXPECT_TRUE(Traced(r, "cupsCompression = 3 (Density)")) << s.pdf;

        EXPECT_TRUE(StartsWithCancelPrefix(r.out)) << s.pdf;
        EXPECT_TRUE(EntersVlgdi(r.out)) << s.pdf;
        EXPECT_TRUE(EndsWithTrailer(r.out)) << s.pdf;
        EXPECT_EQ(PjlSetting(r.out, "DENSITY"), "4") << s.pdf;
        EXPECT_EQ(PjlSetting(r.out, "RESOLUTION"), "600") << s.pdf;
        EXPECT_EQ(PjlSetting(r.out, "DUPLEX"), "OFF") << s.pdf;
        EXPECT_EQ(PjlSetting(r.out, "AUTOSELECT"), "ON") << s.pdf;
        EXPECT_EQ(PageLines(r), s.pages) << s.pdf;
    }
}

TEST(Cupsfilter, JobSettingsReachTheFilterAndThePrinter)
{
    ProcessResult r = RunCupsfilter(SamplePath("text.pdf"),
                                    {"PageSize=Letter", "Duplex=DuplexTumble", "Density=5", "TonerSave=True",
                                     "Negative=True", "MirrorImage=True", "MediaType=Envelope", "InputSlot=Tray1"});
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_TRUE(Traced(r, "PageSize = [ 612 792 ]"));
    EXPECT_TRUE(Traced(r, "cupsCompression = 5 (Density)"));
    EXPECT_TRUE(Traced(r, "cupsInteger[0] = 1 (TonerSave)"));
    EXPECT_TRUE(Traced(r, "cupsInteger[1] = 1 (Invert)"));
    EXPECT_TRUE(Traced(r, "cupsInteger[2] = 1 (Mirror)"));
    EXPECT_TRUE(Traced(r, "cupsMediaType = 7 (MediaType)"));
    EXPECT_TRUE(Traced(r, "MediaPosition = 1 (Tray)"));
    EXPECT_TRUE(Traced(r, "Duplex = 1 (Duplex)"));
    EXPECT_TRUE(Traced(r, "Tumble = 1 (Duplex)"));
    // The raster step must not act on them as well (a mirrored page mirrored again).
    EXPECT_TRUE(Traced(r, "MirrorPrint = 0"));
    EXPECT_TRUE(Traced(r, "NegativePrint = 0"));

    EXPECT_EQ(PjlSetting(r.out, "DENSITY"), "6");
    EXPECT_EQ(PjlSetting(r.out, "ECONOMODE"), "ON");
    EXPECT_EQ(PjlSetting(r.out, "DUPLEX"), "ON");
    EXPECT_EQ(PjlSetting(r.out, "DUPLEXTYPE"), "CALENDAR");
    EXPECT_EQ(PjlSetting(r.out, "AUTOSELECT"), "OFF");

    ProcessResult longEdge = RunCupsfilter(SamplePath("text.pdf"), {"Duplex=DuplexNoTumble"});
    ASSERT_EQ(longEdge.status, 0) << Describe(longEdge);
    EXPECT_EQ(PjlSetting(longEdge.out, "DUPLEX"), "ON");
    EXPECT_EQ(PjlSetting(longEdge.out, "DUPLEXTYPE"), "BOOKLET");
}

TEST(Cupsfilter, CopiesReachTheFilterOnce)
{
    // Uncollated copies are the printer's: one set of pages, COPIES=3.
    ProcessResult uncollated = RunCupsfilter(SamplePath("multipage.pdf"), {}, 3);
    ASSERT_EQ(uncollated.status, 0) << Describe(uncollated);
    EXPECT_TRUE(Traced(uncollated, "NumCopies = 3"));
    EXPECT_TRUE(Traced(uncollated, "bDriverDoCollate = 0"));
    EXPECT_EQ(PjlSetting(uncollated.out, "COPIES"), "3");
    EXPECT_EQ(PageLines(uncollated), 5u);

    // Collated copies are the filter's: the PDF step hands over one copy.
    ProcessResult collated = RunCupsfilter(SamplePath("multipage.pdf"), {"Collate=True"}, 3);
    ASSERT_EQ(collated.status, 0) << Describe(collated);
    EXPECT_TRUE(Traced(collated, "NumCopies = 3"));
    EXPECT_TRUE(Traced(collated, "bDriverDoCollate = 1"));
    EXPECT_EQ(LinesStartingWith(collated.err, "DEBUG: Start Page = ").size(), 5u);
    EXPECT_EQ(PjlSetting(collated.out, "COPIES"), "1");
}

TEST(Cupsfilter, PopplerRasterStepServesTheSamePpd)
{
    // Where Ghostscript is not the cheapest raster step, pdftoraster runs.
    ProcessResult r = RunCupsfilter(SamplePath("photo.pdf"), {"Density=2", "MediaType=Thick"}, 1, {"gstoraster"});
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_EQ(FiltersStarted(r.err), (std::vector<std::string>{"pdftopdf", "pdftoraster", "rastertoQuorin"}));
    EXPECT_TRUE(Traced(r, "cupsBitsPerPixel = 24"));
    EXPECT_TRUE(Traced(r, "cupsColorSpace = 1"));
    EXPECT_TRUE(Traced(r, "HWResolution = [ 600 600 ]"));
    EXPECT_TRUE(Traced(r, "cupsCompression = 2 (Density)"));
    EXPECT_TRUE(Traced(r, "cupsMediaType = 2 (MediaType)"));
    EXPECT_TRUE(Traced(r, "MediaPosition = 250 (Tray)"));
    EXPECT_EQ(PjlSetting(r.out, "DENSITY"), "3");
    EXPECT_EQ(PageLines(r), 1u);
}
