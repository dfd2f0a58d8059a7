// What a job asks for, turned into what the filter reads: the printer
// application's settings, page header, paper table and the filter's lines.
#include <cstring>
#include <gtest/gtest.h>

#include "filter_messages.h"
#include "job_settings.h"
#include "media_tables.h"
#include "sheet_placement.h"
#include "page_record.h"
#include "raster_scaling.h"

namespace {
pappl_pr_options_t Options(const char* size = "iso_a4_210x297mm")
{
    pappl_pr_options_t o;
    memset(&o, 0, sizeof o);
    o.copies = 1;
    o.sides = PAPPL_SIDES_ONE_SIDED;
    o.print_content_optimize = PAPPL_CONTENT_AUTO;
    o.darkness_configured = kDarknessConfigured;
    o.printer_resolution[0] = o.printer_resolution[1] = 600;
    strcpy(o.media.size_name, size);
    strcpy(o.media.type, "stationery");
    strcpy(o.media.source, "auto");
    return o;
}
} // namespace

TEST(AppSettings, DarknessStepsOntoTheSixDensities)
{
    // configured 0-100 plus the job's -100..100; 50 is the default density 3.
    const struct {
        int configured, requested;
        unsigned density;
    } cases[] = {{50, 0, 3},  {0, 0, 6},   {9, 0, 6},   {10, 0, 5},    {29, 0, 5},    {30, 0, 4},
                 {49, 0, 4},  {69, 0, 3},  {70, 0, 2},  {89, 0, 2},    {90, 0, 1},    {100, 0, 1},
                 {50, 50, 1}, {50, -50, 6}, {50, 20, 2}, {50, 300, 1}, {50, -300, 6}};
    for (const auto& c : cases)
        EXPECT_EQ(DensityForDarkness(c.configured, c.requested), c.density)
            << "configured " << c.configured << ", requested " << c.requested;
    // And back: each density has one step, which the web pages offer.
    for (int step = 0; step <= 100; step += 20)
        EXPECT_EQ(DarknessOnStep(step), step);
    EXPECT_EQ(DensityForDarkness(kDarknessConfigured, 0), 3u);
    EXPECT_EQ(DarknessOnStep(50), 60);
    EXPECT_EQ(DarknessOnStep(9), 0);
}

TEST(AppSettings, PagesArePlacedByPrintScaling)
{
    const unsigned a4[2] = {595, 842};
    const struct {
        double w, h;
        pappl_scaling_t scaling;
        SheetPlacement want;
    } cases[] = {
        {595, 842, PAPPL_SCALING_AUTO, {571, 808.1, 12, 12, 571, 818}},
        {595, 842, PAPPL_SCALING_NONE, {595, 842, 0, 0, 595, 842}},
        {842, 595, PAPPL_SCALING_FIT, {571, 808.1, 12, 12, 571, 818}}, // turned
        {298, 421, PAPPL_SCALING_AUTO_FIT, {298, 421, 0, 0, 595, 842}},
        {298, 421, PAPPL_SCALING_FILL, {596, 842, 0, 0, 595, 842}},
        {298, 421, PAPPL_SCALING_FIT, {571, 806.7, 12, 12, 571, 818}},
    };
    for (const auto& c : cases) {
        SheetPlacement p = PlacePage(c.w, c.h, a4, 12, c.scaling);
        const double got[] = {p.width, p.height, p.boxX, p.boxY, p.boxWidth, p.boxHeight};
        const double want[] = {c.want.width, c.want.height, c.want.boxX, c.want.boxY, c.want.boxWidth, c.want.boxHeight};
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(got[i], want[i], 0.1) << c.w << " x " << c.h << " " << c.scaling << " [" << i << "]";
    }
}

TEST(AppSettings, RasterScalingKeepsThePageAndItsMeans)
{
    // 2 x 2 input pixels become 4 x 4 at twice the resolution and one at half.
    const unsigned char in[2][2] = {{0, 255}, {100, 200}};
    const struct {
        unsigned dpi, width, height;
        std::vector<std::vector<unsigned char>> rows;
    } cases[] = {
        {300, 4, 4, {{0, 0, 255, 255}, {0, 0, 255, 255}, {100, 100, 200, 200}, {100, 100, 200, 200}}},
        {1200, 1, 1, {{139}}},
    };
    for (const auto& c : cases) {
        GrayScaler s;
        StartScaling(&s, 2, 2, c.dpi, c.dpi, 600);
        ASSERT_EQ(s.outWidth, c.width);
        ASSERT_EQ(s.outHeight, c.height);
        std::vector<std::vector<unsigned char>> rows;
        for (const auto& row : in)
            for (unsigned n = TakeRow(&s, row); n > 0; --n) {
                const unsigned char* out = EmitRow(&s);
                rows.emplace_back(out, out + s.outWidth);
            }
        EXPECT_EQ(rows, c.rows) << c.dpi;
    }
    EXPECT_EQ(ScaledSize(2480, 300, 600), 4960u);
}

TEST(AppSettings, JobOptionsBecomeTheFiltersSettings)
{
    pappl_pr_options_t defaults = Options();
    JobSettings plain = SettingsForJob(&defaults, nullptr, nullptr);
    EXPECT_EQ(plain.density, 3u);
    EXPECT_EQ(plain.copies, 1u);
    EXPECT_FALSE(plain.collate); // one copy: nothing to collate
    EXPECT_FALSE(plain.duplex || plain.photo || plain.tonerSave || plain.negative || plain.mirror);
    EXPECT_EQ(plain.mediaType, 0u);
    EXPECT_EQ(plain.mediaPosition, 250u);
    EXPECT_EQ(plain.pageSize[0], 595u);
    EXPECT_EQ(plain.pageSize[1], 842u);

    pappl_pr_options_t o = Options("jpn_hagaki_100x148mm");
    o.copies = 3;
    o.sides = PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    o.print_content_optimize = PAPPL_CONTENT_PHOTO;
    o.print_darkness = -60;
    strcpy(o.media.type, "cardstock");
    strcpy(o.media.source, "tray-1");
    o.num_vendor = cupsAddOption(kTonerSaveAttr, "true", o.num_vendor, &o.vendor);
    o.num_vendor = cupsAddOption(kNegativeAttr, "false", o.num_vendor, &o.vendor);
    o.num_vendor = cupsAddOption(kMirrorAttr, "true", o.num_vendor, &o.vendor);
    JobSettings s = SettingsForJob(&o, "separate-documents-collated-copies", nullptr);
    EXPECT_EQ(s.copies, 3u);
    EXPECT_TRUE(s.collate);
    EXPECT_TRUE(s.duplex);
    EXPECT_TRUE(s.tumble);
    EXPECT_TRUE(s.photo);
    EXPECT_EQ(s.density, 6u);
    EXPECT_TRUE(s.tonerSave);
    EXPECT_FALSE(s.negative);
    EXPECT_TRUE(s.mirror);
    EXPECT_EQ(MediaType[s.mediaType], ENG_MEDIA_CARDSTOCK);
    EXPECT_EQ(s.mediaPosition, 1u);
    EXPECT_EQ(s.pageSize[0], 284u); // the paper table's postcard, not 283 x 420
    EXPECT_EQ(s.pageSize[1], 419u);

    // Uncollated copies are the printer's.
    EXPECT_FALSE(SettingsForJob(&o, "separate-documents-uncollated-copies", nullptr).collate);
    o.sides = PAPPL_SIDES_TWO_SIDED_LONG_EDGE;
    EXPECT_FALSE(SettingsForJob(&o, nullptr, nullptr).tumble);
    cupsFreeOptions(o.num_vendor, o.vendor);
}

TEST(AppSettings, PrinterDefaultsFillWhatTheJobDoesNotSay)
{
    ipp_t* printer = ippNew();
    ippAddBoolean(printer, IPP_TAG_PRINTER, "toner-save-default", 1);
    ippAddBoolean(printer, IPP_TAG_PRINTER, "negative-print-default", 1);
    ippAddBoolean(printer, IPP_TAG_PRINTER, "mirror-print-default", 0);
    pappl_pr_options_t o = Options();
    o.num_vendor = cupsAddOption(kNegativeAttr, "false", o.num_vendor, &o.vendor);
    JobSettings s = SettingsForJob(&o, nullptr, printer);
    EXPECT_TRUE(s.tonerSave);
    EXPECT_FALSE(s.negative); // the job's word wins
    EXPECT_FALSE(s.mirror);
    cupsFreeOptions(o.num_vendor, o.vendor);
    ippDelete(printer);
}

TEST(AppSettings, EveryOfferedSizeIsOneTheFilterKnows)
{
    for (size_t i = 0; i < kPaperSizeCount; ++i) {
        const AppPaperSize& size = kPaperSizes[i];
        unsigned pt[2] = {0, 0}, found[2] = {0, 0};
        ASSERT_TRUE(PaperPoints(size.pwgName, pt)) << size.pwgName;
        EXPECT_EQ(PaperTypeFor(pt[0], pt[1]), (BYTE)size.paperCode) << size.pwgName;
        EXPECT_NE(size.paperCode, ENG_PAPER_CUSTOMER);
        // PAPPL takes the dimensions from the name: they must be the paper's.
        pwg_media_t* pwg = pwgMediaForPWG(size.pwgName);
        ASSERT_NE(pwg, nullptr) << size.pwgName;
        EXPECT_NEAR(pwg->width * 72.0 / 2540.0, pt[0], 1.0) << size.pwgName;
        EXPECT_NEAR(pwg->length * 72.0 / 2540.0, pt[1], 1.0) << size.pwgName;
        // A page rendered for the size at 600 dpi is known as that size.
        unsigned w = (unsigned)(pwg->width * 600 / 2540), h = (unsigned)(pwg->length * 600 / 2540);
        ASSERT_TRUE(PaperForPixels(w, h, 600, found)) << size.pwgName;
        EXPECT_EQ(found[0], pt[0]) << size.pwgName;
        EXPECT_EQ(found[1], pt[1]) << size.pwgName;
    }
    unsigned pt[2];
    EXPECT_FALSE(PaperForPixels(2400, 3600, 600, pt)); // 4 x 6 in
    EXPECT_FALSE(PaperForPixels(3496, 2480, 600, pt)); // A6 turned
    ASSERT_TRUE(PaperPoints("na_index-4x6_4x6in", pt));
    EXPECT_EQ(pt[0], 288u);
    EXPECT_EQ(pt[1], 432u);
    EXPECT_FALSE(PaperPoints("no-such-size", pt));
}

TEST(AppSettings, MediaTypesAndTraysUseTheFiltersCodes)
{
    for (size_t i = 0; i < kMediaTypeCount; ++i)
        EXPECT_EQ(MediaType[MediaTypeIndex(kMediaTypes[i].keyword)], kMediaTypes[i].mediaCode)
            << kMediaTypes[i].keyword;
    EXPECT_EQ(MediaTypeIndex("photographic-glossy"), 0u);
    EXPECT_EQ(MediaTypeIndex(nullptr), 0u);
    EXPECT_EQ(MediaPositionFor("auto"), 250u);
    EXPECT_EQ(MediaPositionFor("tray-1"), 1u);
    EXPECT_EQ(MediaPositionFor(""), 250u);
}

TEST(AppSettings, PageHeaderCarriesTheSettingsWhereThePrinterDescriptionPutsThem)
{
    JobSettings s;
    s.density = 5;
    s.tonerSave = s.mirror = true;
    s.mediaType = 4;
    s.mediaPosition = 1;
    s.duplex = s.tumble = true;
    s.copies = 2;
    s.collate = true;
    cups_page_header2_t h;
    FilterPageHeader(s, 2480, 3496, &h); // A6 at 600 dpi, on an A4 job
    EXPECT_EQ(h.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.cupsBytesPerLine, 3u * 2480);
    EXPECT_EQ(h.cupsCompression, 5u);
    EXPECT_EQ(h.cupsInteger[0], 1u);
    EXPECT_EQ(h.cupsInteger[1], 0u);
    EXPECT_EQ(h.cupsInteger[2], 1u);
    EXPECT_EQ(h.cupsInteger[3], 0u); // not a photo: edges reinforced
    EXPECT_EQ(h.cupsMediaType, 4u);
    EXPECT_EQ(h.MediaPosition, 1u);
    EXPECT_EQ(h.Duplex, CUPS_TRUE);
    EXPECT_EQ(h.Tumble, CUPS_TRUE);
    EXPECT_EQ(h.NumCopies, 2u);
    EXPECT_EQ(h.Collate, CUPS_TRUE);
    EXPECT_EQ(h.HWResolution[0], 600u);
    EXPECT_EQ(PaperTypeFor(h.PageSize[0], h.PageSize[1]), (BYTE)ENG_ISO_A6);
    EXPECT_STREQ(FilterOptionString(s), "Collate=True");

    // Photos go as 8-bit gray; a page that fits no size keeps the job's.
    s.photo = true;
    s.collate = false;
    FilterPageHeader(s, 2400, 3600, &h);
    EXPECT_EQ(h.cupsBitsPerPixel, 8u);
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_SW);
    EXPECT_EQ(h.cupsInteger[3], 1u);
    EXPECT_EQ(h.cupsBytesPerLine, 2400u);
    EXPECT_EQ(h.PageSize[0], 595u);
    EXPECT_EQ(h.PageSize[1], 842u);
    EXPECT_STREQ(FilterOptionString(s), "");
}

TEST(AppSettings, FilterLinesAreReadAsTheSchedulerReadsThem)
{
    const struct {
        const char* line;
        FilterLineKind kind;
        unsigned impressions; // added
        const char* text;
    } cases[] = {
        {"PAGE: 1 1", FILTER_LINE_PAGE, 1, "1 1"},
        {"PAGE: 7 3", FILTER_LINE_PAGE, 3, "7 3"},
        {"PAGE: total 9", FILTER_LINE_PAGE, 0, "total 9"},
        {"PAGE: 2 2 x", FILTER_LINE_PAGE, 0, "2 2 x"},
        {"ERROR: Page 2 cannot be printed.", FILTER_LINE_ERROR, 0, "Page 2 cannot be printed."},
        {"INFO: Printing page 1", FILTER_LINE_INFO, 0, "Printing page 1"},
        {"DEBUG: main::page = 3 ---------->", FILTER_LINE_DEBUG, 0, "main::page = 3 ---------->"},
        {"Usage: FILTER JOD_ID", FILTER_LINE_OTHER, 0, "Usage: FILTER JOD_ID"},
    };
    for (const auto& c : cases) {
        FilterReport report;
        std::string text;
        EXPECT_EQ(ReadFilterLine(c.line, &report, &text), c.kind) << c.line;
        EXPECT_EQ(report.impressions, c.impressions) << c.line;
        EXPECT_EQ(text, c.text) << c.line;
    }
    // The first ERROR: line is the job's message.
    FilterReport report;
    std::string text;
    ReadFilterLine("ERROR: The first.", &report, &text);
    ReadFilterLine("ERROR: The second.", &report, &text);
    EXPECT_EQ(report.error, "The first.");
}
