// The generated PPD: CUPS's own checker, and the page header that CUPS builds
// from it for each setting, since that header is all the filter reads.
#include <gtest/gtest.h>

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstring>

#include "cups_sandbox.h"

namespace {
struct PaperSize {
    unsigned w, h;
};
// The sizes for which the filter has a paper code; any other gets "custom".
const PaperSize kPaperFormats[] = {{612, 792}, {612, 1008}, {792, 1224}, {842, 1191}, {595, 842},
                                   {420, 595}, {729, 1032}, {516, 729},  {363, 516},  {297, 420},
                                   {612, 936}, {284, 419},  {396, 612},  {757, 1106}, {553, 757}};

// Unprintable edge of every sheet, in points (about 4.2 mm).
const float kMargin = 12;

// Media names in the order of the filter's media code table.
const char* const kMediaTypes[] = {"Plain", "Cardstock", "Thick",    "Laser",    "Bond",
                                   "Transparency", "Thin", "Envelope", "Postcard", "Auto"};

class PpdHeader : public testing::Test {
protected:
    void SetUp() override
    {
        ppd_ = ppdOpenFile(PpdPath().c_str());
        ASSERT_NE(ppd_, nullptr) << PpdPath();
    }
    void TearDown() override { ppdClose(ppd_); }

    // The raster header a CUPS raster filter builds for these job options.
    cups_page_header2_t Header(const std::string& options)
    {
        ppdMarkDefaults(ppd_);
        cups_option_t* opts = nullptr;
        int n = cupsParseOptions(options.c_str(), 0, &opts);
        cupsMarkOptions(ppd_, n, opts);
        cupsFreeOptions(n, opts);
        cups_page_header2_t h;
        EXPECT_EQ(cupsRasterInterpretPPD(&h, ppd_, 0, nullptr, nullptr), 0) << options;
        return h;
    }
    ppd_file_t* ppd_ = nullptr;
};
} // namespace

TEST(Ppd, PassesCupstestppd)
{
    // The filter is not installed yet, so its absence may only warn.
    ProcessResult r = RunProgram(QUORIN_CUPSTESTPPD, {"cupstestppd", "-W", "filters", PpdPath()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(": PASS"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
    // Sizes that claim the whole sheet as printable draw this warning.
    EXPECT_EQ(r.out.find("Fullbleed"), std::string::npos) << r.out;
}

TEST_F(PpdHeader, DefaultsGiveTheRasterTheFilterReads)
{
    cups_page_header2_t h = Header("");
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.HWResolution[0], 600u);
    EXPECT_EQ(h.HWResolution[1], 600u);
    EXPECT_EQ(h.cupsCompression, 3u);
    EXPECT_EQ(h.cupsInteger[0], 0u);
    EXPECT_EQ(h.cupsInteger[1], 0u);
    EXPECT_EQ(h.cupsInteger[2], 0u);
    EXPECT_EQ(h.cupsMediaType, 0u);
    EXPECT_EQ(h.MediaPosition, 250u);
    EXPECT_EQ(h.Duplex, CUPS_FALSE);
    EXPECT_EQ(h.Collate, CUPS_FALSE);
    // A4 less the engine's margins: the filter puts it back on the whole sheet.
    EXPECT_EQ(h.PageSize[0], 595u);
    EXPECT_EQ(h.PageSize[1], 842u);
    EXPECT_EQ(h.ImagingBoundingBox[0], 12u);
    EXPECT_EQ(h.ImagingBoundingBox[1], 12u);
    EXPECT_EQ(h.ImagingBoundingBox[2], 583u);
    EXPECT_EQ(h.ImagingBoundingBox[3], 830u);
    EXPECT_EQ(h.cupsWidth, 4758u);
    EXPECT_EQ(h.cupsHeight, 6817u);
}

TEST_F(PpdHeader, EverySettingLandsInItsField)
{
    for (unsigned d = 1; d <= 6; ++d)
        EXPECT_EQ(Header("Density=" + std::to_string(d)).cupsCompression, d);

    cups_page_header2_t toner = Header("TonerSave=True");
    cups_page_header2_t negative = Header("Negative=True");
    cups_page_header2_t mirror = Header("MirrorImage=True");
    EXPECT_EQ(toner.cupsInteger[0], 1u);
    EXPECT_EQ(toner.cupsInteger[1] + toner.cupsInteger[2], 0u);
    EXPECT_EQ(negative.cupsInteger[1], 1u);
    EXPECT_EQ(negative.cupsInteger[0] + negative.cupsInteger[2], 0u);
    EXPECT_EQ(mirror.cupsInteger[2], 1u);
    EXPECT_EQ(mirror.cupsInteger[0] + mirror.cupsInteger[1], 0u);
    // The page-description step would mirror too if it saw a mirror option.
    EXPECT_EQ(mirror.MirrorPrint, CUPS_FALSE);
    EXPECT_EQ(negative.NegativePrint, CUPS_FALSE);

    for (unsigned i = 0; i < sizeof kMediaTypes / sizeof *kMediaTypes; ++i) {
        cups_page_header2_t h = Header(std::string("MediaType=") + kMediaTypes[i]);
        EXPECT_EQ(h.cupsMediaType, i) << kMediaTypes[i];
        EXPECT_STREQ(h.MediaType, kMediaTypes[i]);
    }
    EXPECT_EQ(Header("InputSlot=Auto").MediaPosition, 250u);
    EXPECT_EQ(Header("InputSlot=Tray1").MediaPosition, 1u);

    cups_page_header2_t simplex = Header("Duplex=None");
    cups_page_header2_t longEdge = Header("Duplex=DuplexNoTumble");
    cups_page_header2_t shortEdge = Header("Duplex=DuplexTumble");
    EXPECT_EQ(simplex.Duplex, CUPS_FALSE);
    EXPECT_EQ(longEdge.Duplex, CUPS_TRUE);
    EXPECT_EQ(longEdge.Tumble, CUPS_FALSE);
    EXPECT_EQ(shortEdge.Duplex, CUPS_TRUE);
    EXPECT_EQ(shortEdge.Tumble, CUPS_TRUE);

    EXPECT_EQ(Header("Collate=True").Collate, CUPS_TRUE);
    EXPECT_EQ(Header("Collate=False").Collate, CUPS_FALSE);

    // Both modes ask for 24-bit RGB, which Ghostscript writes fastest; the
    // Photo mode's flag tells the filter not to reinforce edges.
    for (const char* mode : {"TextGraphics", "Photo"}) {
        cups_page_header2_t h = Header(std::string("PrintMode=") + mode);
        EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB) << mode;
        EXPECT_EQ(h.cupsBitsPerPixel, 24u) << mode;
        EXPECT_EQ(h.cupsInteger[3], mode[0] == 'P' ? 1u : 0u) << mode;
    }
}

TEST_F(PpdHeader, PaperSizesAreExactlyTheFiltersFormats)
{
    // Every format offered, and nothing the filter would call custom paper.
    EXPECT_EQ(ppd_->num_sizes, (int)(sizeof kPaperFormats / sizeof *kPaperFormats));
    EXPECT_EQ(ppd_->variable_sizes, 0);
    for (const PaperSize& p : kPaperFormats) {
        const ppd_size_t* found = nullptr;
        for (int i = 0; i < ppd_->num_sizes; ++i)
            if (ppd_->sizes[i].width == (float)p.w && ppd_->sizes[i].length == (float)p.h)
                found = &ppd_->sizes[i];
        ASSERT_NE(found, nullptr) << p.w << " x " << p.h;
        cups_page_header2_t h = Header(std::string("PageSize=") + found->name);
        EXPECT_EQ(h.PageSize[0], p.w) << found->name;
        EXPECT_EQ(h.PageSize[1], p.h) << found->name;
        // The engine's margins, the same on every side of every size.
        EXPECT_EQ(found->left, kMargin) << found->name;
        EXPECT_EQ(found->bottom, kMargin) << found->name;
        EXPECT_EQ(found->width - found->right, kMargin) << found->name;
        EXPECT_EQ(found->length - found->top, kMargin) << found->name;
    }
}

TEST_F(PpdHeader, FilterRunsAsTheLastStepAndMakesTheCopies)
{
    // cupsFilter2 for today's CUPS, cupsFilter for older ones; the program is
    // named without a path so that CUPS looks in its own filter folder.
    ppd_attr_t* filter2 = ppdFindAttr(ppd_, "cupsFilter2", nullptr);
    ASSERT_NE(filter2, nullptr);
    EXPECT_STREQ(filter2->value, "application/vnd.cups-raster application/vnd.velorin-vlgdi 0 rastertoQuorin");
    EXPECT_EQ(ppdFindNextAttr(ppd_, "cupsFilter2", nullptr), nullptr);
    ASSERT_EQ(ppd_->num_filters, 1);
    EXPECT_STREQ(ppd_->filters[0], "application/vnd.cups-raster 0 rastertoQuorin");
    // Copies reach the filter as NumCopies, not as repeated pages.
    EXPECT_EQ(ppd_->manual_copies, 0);
    EXPECT_NE(ppdFindOption(ppd_, "Collate"), nullptr);
    // The filter writes its own PJL; a JCL prefix would land after it.
    EXPECT_EQ(ppd_->jcl_begin, nullptr);
    EXPECT_EQ(ppd_->jcl_ps, nullptr);
    EXPECT_EQ(ppd_->color_device, 0);
}
