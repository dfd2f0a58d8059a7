// The halftone: tone curves, screening against the matrix, line-to-row rule,
// bit packing and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "halftone.h"
#include "job_info.h"
#include "page_slots.h"
#include "threshold_matrix.h"

namespace {

// Gray value of column x on the pages of the row test: every value, scattered.
BYTE ColumnGray(DWORD x)
{
    return (BYTE)((x * 37 + 11) % 256);
}

// The screened bits of one line of a 256-pixel-wide page of ColumnGray
// columns, as row `row` of the matrix gives them.
std::vector<int> ExpectedLine(int row, int select)
{
    BYTE curve[256];
    BuildToneCurve(select, curve);
    std::vector<int> bits(2 * DX_CLUSTER);
    for (int x = 0; x < 2 * DX_CLUSTER; ++x) {
        int t = std::min(std::max((int)FINE_TAry[row][x % DX_CLUSTER], 1), 254);
        BYTE gray = ColumnGray(x);
        bits[x] = gray != 0 && (gray >= curve[t] || gray == 255);
    }
    return bits;
}

std::vector<int> LineBits(const GraySlot& s, DWORD y)
{
    std::vector<int> bits(s.job.page_width);
    for (DWORD x = 0; x < s.job.page_width; ++x)
        bits[x] = s.Bit(x, y);
    return bits;
}
} // namespace

TEST(ToneCurve, MatchesTheTableAtTheListedPoints)
{
    const int at[8] = {1, 16, 32, 64, 128, 192, 254, 255};
    const int want[7][8] = {
        {1, 16, 32, 64, 128, 192, 254, 255}, {1, 12, 26, 56, 119, 187, 254, 255},
        {0, 9, 21, 49, 112, 181, 254, 255},  {0, 6, 15, 39, 101, 174, 254, 255},
        {0, 1, 4, 16, 64, 145, 253, 255},    {0, 0, 2, 10, 50, 131, 253, 255},
        {0, 0, 0, 2, 23, 94, 252, 255},
    };
    for (int select = 0; select < GAMMA_CURVES; ++select) {
        BYTE curve[256];
        ASSERT_TRUE(BuildToneCurve(select, curve));
        EXPECT_EQ(curve[0], 0);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(curve[at[i]], want[select][i]) << "curve " << select << " at " << at[i];
        for (int i = 1; i < 256; ++i)
            ASSERT_GE(curve[i], curve[i - 1]) << select << " " << i;
    }
    BYTE curve[256];
    EXPECT_FALSE(BuildToneCurve(7, curve));
    EXPECT_FALSE(BuildToneCurve(-1, curve));
}

TEST(Halftone, WhiteStaysLightAndBlackDarkAtEveryDensity)
{
    for (int density = 1; density <= 6; ++density) {
        for (int toner : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "density " << density << " toner " << toner);
            GraySlot white(256, 160, 255, density), black(256, 160, 0, density);
            white.job.inheader.cupsInteger[0] = black.job.inheader.cupsInteger[0] = (unsigned)toner;
            ASSERT_TRUE(white.Run(ApplyHalftone));
            ASSERT_TRUE(black.Run(ApplyHalftone));
            for (size_t i = 0; i < 32 * 160; ++i) {
                ASSERT_EQ(white.buf[i], 0xFF) << i;
                ASSERT_EQ(black.buf[i], 0x00) << i;
            }
        }
    }
}

TEST(Halftone, PacksLinesAtTheFrontWithTheFirstPixelInTheTopBit)
{
    GraySlot s(4992, 64, 0, 3);
    s.Gray(0, 5) = 255;
    s.Gray(7, 6) = 255;
    s.Gray(4991, 63) = 255;
    ASSERT_TRUE(s.Run(ApplyHalftone));
    EXPECT_EQ(s.job.linebyte, 624u);
    EXPECT_EQ(s.job.page_width, 4992u);
    EXPECT_EQ(s.job.pagesize, 4992u * 64);
    EXPECT_EQ(s.buf[5 * 624], 0x80);
    EXPECT_EQ(s.buf[6 * 624], 0x01);
    EXPECT_EQ(s.buf[64 * 624 - 1], 0x01);
    size_t set = 0;
    for (size_t i = 0; i < 64 * 624; ++i)
        set += s.buf[i] != 0;
    EXPECT_EQ(set, 3u);
}

TEST(Halftone, GrayOnLineTwoUsesMatrixRowOne)
{
    // Thresholds 24 1 11 81 216 254 235 145 (g = 1.2) and 0 0 0 9 157 252 200 49 (g = 3.5).
    GraySlot g12(128, 32, 128, 2), g35(128, 32, 128, 6);
    ASSERT_TRUE(g12.Run(ApplyHalftone));
    ASSERT_TRUE(g35.Run(ApplyHalftone));
    EXPECT_EQ(g12.buf[2 * 16], 0xF0);
    EXPECT_EQ(g35.buf[2 * 16], 0xF1);
}

TEST(Halftone, LinesZeroAndOneShareTheFirstRow)
{
    GraySlot s(256, 160, 0, 1);
    for (DWORD y = 0; y < 160; ++y)
        for (DWORD x = 0; x < 256; ++x)
            s.Gray(x, y) = ColumnGray(x);
    ASSERT_TRUE(s.Run(ApplyHalftone));
    const struct {
        DWORD line;
        int row;
    } rule[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {128, 127}, {129, 0}, {130, 1}, {159, 30}};
    for (auto r : rule)
        EXPECT_EQ(LineBits(s, r.line), ExpectedLine(r.row, 1)) << "line " << r.line;
    // Neighbouring rows must differ for the rule to show.
    for (int row = 0; row < 127; ++row)
        ASSERT_NE(ExpectedLine(row, 1), ExpectedLine(row + 1, 1)) << row;
    ASSERT_NE(ExpectedLine(127, 1), ExpectedLine(0, 1));
}

TEST(Halftone, RefusesDensityZeroAndBelowLeavingThePageAlone)
{
    for (int density : {0, -1, -100}) {
        for (int toner : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "density " << density << " toner " << toner);
            GraySlot s(64, 32, 77, density);
            s.job.inheader.cupsInteger[0] = (unsigned)toner;
            EXPECT_FALSE(s.Run(ApplyHalftone));
            EXPECT_TRUE(s.Logged("ApplyHalftone::Argument Incorrect"));
            EXPECT_TRUE(s.Logged("ApplyHalftone:: Out, Tick = "));
            EXPECT_EQ(s.job.linebyte, 64u);
            EXPECT_EQ(s.buf, std::vector<BYTE>(64 * 32, 77));
        }
    }
}

TEST(Halftone, RefusesSlotsItCannotScreenSafely)
{
    GraySlot noPage(64, 32, 77, 3);
    noPage.job.lpbuf.store(nullptr);
    EXPECT_FALSE(noPage.Run(ApplyHalftone));
    EXPECT_TRUE(noPage.Logged("ApplyHalftone::Argument Incorrect"));

    // Gray lines shorter than the one-bit lines: the result would not fit.
    GraySlot shortLines(64, 32, 77, 3);
    shortLines.job.page_width = 640;
    EXPECT_FALSE(shortLines.Run(ApplyHalftone));
    EXPECT_EQ(shortLines.buf, std::vector<BYTE>(64 * 32, 77));

    GraySlot empty(64, 0, 77, 3);
    EXPECT_FALSE(empty.Run(ApplyHalftone));
}

TEST(Halftone, TonerSavingSelectsCurveTwoAndHighDensitiesCurveSix)
{
    auto ramp = [](GraySlot& s) {
        for (DWORD y = 0; y < s.job.page_height; ++y)
            for (DWORD x = 0; x < s.job.page_width; ++x)
                s.Gray(x, y) = (BYTE)(x + 3 * y);
    };
    GraySlot saving(256, 64, 0, 5), two(256, 64, 0, 2), six(256, 64, 0, 6), many(256, 64, 0, 40);
    saving.job.inheader.cupsInteger[0] = 1;
    for (GraySlot* s : {&saving, &two, &six, &many}) {
        ramp(*s);
        ASSERT_TRUE(s->Run(ApplyHalftone));
    }
    EXPECT_TRUE(saving.Logged("ApplyHalftone::select = 2"));
    EXPECT_TRUE(saving.Logged("ApplyHalftone::Gamma = 1.200000"));
    EXPECT_EQ(saving.buf, two.buf);
    EXPECT_TRUE(many.Logged("ApplyHalftone::select = 6"));
    EXPECT_EQ(many.buf, six.buf);
    EXPECT_NE(two.buf, six.buf);
}

TEST(Halftone, TraceFollowsTheSteps)
{
    GraySlot s(64, 32, 128, 3);
    ASSERT_TRUE(s.Run(ApplyHalftone));
    const char* steps[] = {"ApplyHalftone In",
                           "ApplyHalftone::Calculate Brightness & Gamma Start",
                           "ApplyHalftone::brightness = 255",
                           "ApplyHalftone::select = 3",
                           "ApplyHalftone::Gamma = 1.350000",
                           "ApplyHalftone::Calculate Brightness & Gamma Finish",
                           "ApplyHalftone::Calculate Halftone Start",
                           "ApplyHalftone::DX_CLUSTER = 128",
                           "ApplyHalftone::Calculate Halftone Finish",
                           "ApplyHalftone::Apply Halftone Start",
                           "ApplyHalftone::lineLeft = 32",
                           "ApplyHalftone::linebyte = 64",
                           "ApplyHalftone::Apply Halftone Finish",
                           "ApplyHalftone:: Out, Tick = "};
    size_t from = 0;
    for (const char* step : steps) {
        size_t at = s.log.find(step, from);
        ASSERT_NE(at, std::string::npos) << step;
        from = at;
    }
}

// A uniform gray page lights the share of pixels that the curve promises:
// the thresholds t with curve(t) <= gray, with every threshold value 1..253
// weighted alike and 0 and 254 half as much.
TEST(Halftone, LightShareOfUniformGrayFollowsTheCurve)
{
    const double g[GAMMA_CURVES] = {1.0, 1.1, 1.2, 1.35, 2.0, 2.35, 3.5};
    for (int density = 1; density <= 6; ++density) {
        for (int gray = 4; gray < 255; gray += 9) {
            GraySlot s(256, 160, (BYTE)gray, density);
            ASSERT_TRUE(s.Run(ApplyHalftone));
            long light = 0;
            for (DWORD y = 1; y <= 128; ++y) // every matrix row once
                for (DWORD x = 0; x < 256; ++x)
                    light += s.Bit(x, y);
            double measured = light / (128.0 * 256.0);

            double promised = 0, total = 0;
            for (int t = 0; t <= 254; ++t) {
                double weight = t == 0 || t == 254 ? 0.5 : 1.0;
                double level = std::floor(255.0 * std::pow(std::max(t, 1) / 255.0, g[density]) + 0.5);
                promised += gray >= std::max(level, 1.0) ? weight : 0;
                total += weight;
            }
            promised /= total;
            EXPECT_NEAR(measured, promised, 0.005) << "density " << density << " gray " << gray;
        }
    }
}
