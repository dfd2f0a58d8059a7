// Border quality: the 3 x 3 edge filter, the line-art threshold and the merge
// of the edge mask into the screened page.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "job_info.h"
#include "page_slots.h"

namespace {
int kEdgeFilter[9] = {2, 1, 2, 1, -12, 1, 2, 1, 2};


// The filter as a plain reading of its definition: padded copy, 64-bit sums,
// truncating division, limits 0..255.
std::vector<BYTE> ReferenceFilter(const std::vector<BYTE>& page, int w, int h, const int* k)
{
    long long count = 0;
    for (int i = 0; i < 9; ++i)
        count += k[i];
    if (count < 1)
        count = 1;
    auto px = [&](int x, int y) {
        x = std::min(std::max(x, 0), w - 1);
        y = std::min(std::max(y, 0), h - 1);
        return (long long)page[(size_t)y * w + x];
    };
    std::vector<BYTE> out(page.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            long long sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += k[(dy + 1) * 3 + dx + 1] * px(x + dx, y + dy);
            out[(size_t)y * w + x] = (BYTE)std::min(std::max(sum / count, 0LL), 255LL);
        }
    }
    return out;
}

// Filtered value of every pixel of the slot's page, through ApplyFilter3x3.
std::vector<BYTE> Filtered(GraySlot& s, int* kernel = kEdgeFilter)
{
    std::vector<BYTE> copy = s.buf;
    testing::internal::CaptureStderr();
    WORD lines = ApplyFilter3x3(&s.job, copy.data(), 8, kernel, 3);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines, s.job.page_height);
    return copy;
}

// The step as its parts compose it: plain halftone of the page, with the
// bits of GrayToLineart(ApplyFilter3x3(copy), 220) cleared.
std::vector<BYTE> ComposedResult(const GraySlot& s)
{
    GraySlot screened(s.job.page_width, s.job.page_height, 0, (int)s.job.inheader.cupsCompression);
    screened.buf = s.buf;
    screened.job.lpbuf.store(screened.buf.data());
    std::vector<BYTE> mask = s.buf;
    testing::internal::CaptureStderr();
    ApplyFilter3x3(&screened.job, mask.data(), 8, kEdgeFilter, 3);
    GrayToLineart(&screened.job, mask.data(), 220);
    EXPECT_TRUE(ApplyHalftone(&screened.job));
    testing::internal::GetCapturedStderr();
    size_t bytes = (size_t)s.job.page_width / 8 * s.job.page_height;
    for (size_t i = 0; i < bytes; ++i)
        screened.buf[i] &= (BYTE)~mask[i];
    screened.buf.resize(bytes);
    return screened.buf;
}

std::vector<BYTE> FrontBytes(const GraySlot& s)
{
    return std::vector<BYTE>(s.buf.begin(), s.buf.begin() + (size_t)s.job.linebyte * s.job.page_height);
}
} // namespace

TEST(EdgeFilter, MatchesItsDefinitionForAnyKernel)
{
    std::mt19937 rng(7);
    int kernels[][9] = {
        {2, 1, 2, 1, -12, 1, 2, 1, 2},          // the edge filter (symmetric, 16-bit sums)
        {1, 2, 1, 2, 4, 2, 1, 2, 1},            // blur: divisor 16
        {0, -1, 0, -1, 5, -1, 0, -1, 0},        // sharpen
        {-3, 0, 7, 1, -9, 2, 5, -4, 1},         // no symmetry
        {1, 2, 3, 4, 5, 6, 7, 8, 9},            // divisor 45
        {300, -1, 300, 0, -2000, 0, 300, -1, 300}, // sums beyond 16 bits
        {9000000, 0, 0, 0, -9000000, 0, 0, 0, 1}, // sums beyond 32 bits
    };
    for (auto& k : kernels) {
        for (DWORD w : {1u, 2u, 3u, 37u, 96u}) {
            for (DWORD h : {1u, 2u, 5u}) {
                SCOPED_TRACE(testing::Message() << "kernel " << k[0] << "," << k[4] << " size " << w << "x" << h);
                GraySlot s(w, h, 0, 3);
                for (BYTE& b : s.buf)
                    b = (BYTE)(rng() % 4 == 0 ? (rng() % 2) * 255 : rng() % 256);
                EXPECT_EQ(Filtered(s, k), ReferenceFilter(s.buf, (int)w, (int)h, k));
            }
        }
    }
}

TEST(EdgeFilter, RespondsOnTheDarkSideOfEdges)
{
    // Black left of column 10, white from column 10 on.
    GraySlot s(32, 4, 255, 3);
    s.Fill(0, 0, 10, 4, 0);
    std::vector<BYTE> f = Filtered(s);
    for (DWORD y = 0; y < 4; ++y) {
        EXPECT_EQ(f[y * 32 + 8], 0) << y;
        EXPECT_EQ(f[y * 32 + 9], 255) << y; // 1275, limited
        EXPECT_EQ(f[y * 32 + 10], 0) << y;  // -1275, limited
    }
    // A lone black pixel: 3060 at itself, negative around it.
    GraySlot dot(32, 32, 255, 3);
    dot.Gray(5, 7) = 0;
    std::vector<BYTE> g = Filtered(dot);
    for (DWORD i = 0; i < g.size(); ++i)
        EXPECT_EQ(g[i], i == 7 * 32 + 5 ? 255 : 0) << i;
}

TEST(EdgeFilter, RefusesWhatItCannotFilterAndLeavesThePage)
{
    std::vector<BYTE> page(40 * 4, 9);
    GraySlot s(40, 4, 0, 3);
    std::vector<BYTE> before = page;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ApplyFilter3x3(&s.job, page.data(), 24, kEdgeFilter, 3), 0);
    EXPECT_EQ(ApplyFilter3x3(&s.job, page.data(), 8, kEdgeFilter, 5), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(page, before);

    // Beyond the 16-bit sizes: untouched, no access outside the page.
    for (auto [w, h] : {std::pair<DWORD, DWORD>{32800, 2}, {32, 65535}}) {
        GraySlot big(w, h, 0, 3);
        big.Fill(0, 0, w, 1, 255);
        std::vector<BYTE> original = big.buf;
        testing::internal::CaptureStderr();
        EXPECT_EQ(ApplyFilter3x3(&big.job, big.buf.data(), 8, kEdgeFilter, 3), 0);
        GrayToLineart(&big.job, big.buf.data(), 220);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(big.buf, original);
    }
}

TEST(Lineart, MarksValuesStrictlyAboveTheThresholdPackedInPlace)
{
    GraySlot s(32, 3, 0, 3);
    s.Gray(0, 0) = 221;
    s.Gray(1, 0) = 220;
    s.Gray(7, 1) = 255;
    s.Gray(31, 2) = 221;
    testing::internal::CaptureStderr();
    GrayToLineart(&s.job, s.buf.data(), 220);
    std::string log = testing::internal::GetCapturedStderr();
    const BYTE want[12] = {0x80, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0x01};
    EXPECT_EQ(std::vector<BYTE>(s.buf.begin(), s.buf.begin() + 12), std::vector<BYTE>(want, want + 12));
    EXPECT_NE(log.find("GrayToLineart In, threshold = 220"), std::string::npos);

    GraySlot all(16, 1, 0, 3);
    GrayToLineart(&all.job, all.buf.data(), -1);
    EXPECT_EQ(all.buf[0], 0xFF);
    EXPECT_EQ(all.buf[1], 0xFF);
}

TEST(BorderQuality, UniformPagesComeOutAsThePlainHalftone)
{
    for (BYTE gray : {0, 60, 128, 200, 255}) {
        GraySlot s(256, 160, gray, 4), plain(256, 160, gray, 4);
        ASSERT_TRUE(s.Run(DoBorderQuality)) << (int)gray;
        ASSERT_TRUE(plain.Run(ApplyHalftone));
        EXPECT_EQ(s.job.linebyte, 32u);
        EXPECT_EQ(FrontBytes(s), FrontBytes(plain)) << (int)gray;
    }
}

TEST(BorderQuality, ForcesOnlyEdgePixelsDark)
{
    // Light gray left of column 10 (mostly light pixels at density 6), white
    // from column 10: column 9 responds 375 and turns dark, nothing else changes.
    GraySlot s(64, 64, 255, 6), plain(64, 64, 255, 6);
    s.Fill(0, 0, 10, 64, 180);
    plain.Fill(0, 0, 10, 64, 180);
    ASSERT_TRUE(s.Run(DoBorderQuality));
    ASSERT_TRUE(plain.Run(ApplyHalftone));
    int lightInPlain = 0;
    for (DWORD y = 0; y < 64; ++y) {
        lightInPlain += plain.Bit(9, y);
        EXPECT_EQ(s.Bit(9, y), 0) << y;
        for (DWORD x = 0; x < 64; ++x) {
            if (x != 9) {
                ASSERT_EQ(s.Bit(x, y), plain.Bit(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(lightInPlain, 32);
}

TEST(BorderQuality, ThresholdIsStrictlyAbove220)
{
    // Centre 100 in a field of 118 responds 12 x 18 = 216, plus the excess of
    // one brighter side neighbour: 220 stays with the screen, 221 turns dark.
    for (int response : {220, 221}) {
        GraySlot s(64, 32, 118, 6), plain(64, 32, 118, 6);
        for (GraySlot* p : {&s, &plain}) {
            p->Gray(9, 2) = 100; // threshold 0 there: light when screened
            p->Gray(10, 2) = (BYTE)(118 + response - 216);
        }
        ASSERT_TRUE(s.Run(DoBorderQuality));
        ASSERT_TRUE(plain.Run(ApplyHalftone));
        ASSERT_EQ(plain.Bit(9, 2), 1);
        EXPECT_EQ(s.Bit(9, 2), response == 220 ? 1 : 0);
        for (DWORD y = 0; y < 32; ++y) {
            for (DWORD x = 0; x < 64; ++x) {
                if (x != 9 || y != 2) {
                    ASSERT_EQ(s.Bit(x, y), plain.Bit(x, y)) << x << "," << y;
                }
            }
        }
    }
}

TEST(BorderQuality, PageBordersSeeThemselvesInPlaceOfMissingNeighbours)
{
    // Darker first and last lines and columns on light gray. Seeing
    // themselves outside the page, the border pixels respond 250 and turn
    // dark (black outside would leave them light; a uniform page shows that
    // white outside would not be seen either).
    GraySlot s(64, 64, 200, 6);
    s.Fill(0, 0, 64, 1, 150);
    s.Fill(0, 63, 64, 1, 150);
    s.Fill(0, 0, 1, 64, 150);
    s.Fill(63, 0, 1, 64, 150);
    ASSERT_TRUE(s.Run(DoBorderQuality));
    for (DWORD i = 2; i < 62; ++i) { // next to a corner the response is lower
        EXPECT_EQ(s.Bit(i, 0), 0) << i;
        EXPECT_EQ(s.Bit(i, 63), 0) << i;
        EXPECT_EQ(s.Bit(0, i), 0) << i;
        EXPECT_EQ(s.Bit(63, i), 0) << i;
    }
}

TEST(BorderQuality, EqualsItsPartsComposedOnATextLikePage)
{
    std::mt19937 rng(11);
    for (DWORD width : {96u, 4992u}) {
        GraySlot s(width, 96, 255, 3);
        for (int i = 0; i < 60; ++i) {
            DWORD x = rng() % (width - 8), y = rng() % 90;
            s.Fill(x, y, 1 + rng() % 8, 1 + rng() % 6, (BYTE)(rng() % 3 == 0 ? rng() % 256 : 0));
        }
        s.Fill(0, 0, 5, 96, 90); // against the left border
        s.Fill(0, 95, width, 1, 30); // the last line
        std::vector<BYTE> want = ComposedResult(s);
        ASSERT_TRUE(s.Run(DoBorderQuality));
        EXPECT_EQ(FrontBytes(s), want) << width;
    }
}

TEST(BorderQuality, WidthsNotAMultipleOfThirtyTwoMergeLineByLine)
{
    // 40 pixels: five mask bytes a line against eight screened bytes.
    GraySlot s(40, 32, 200, 6), plain(40, 32, 200, 6);
    s.Fill(20, 0, 20, 32, 255);
    plain.Fill(20, 0, 20, 32, 255);
    ASSERT_TRUE(s.Run(DoBorderQuality));
    ASSERT_TRUE(plain.Run(ApplyHalftone));
    ASSERT_EQ(s.job.linebyte, 8u);
    for (DWORD y = 0; y < 32; ++y) {
        EXPECT_EQ(s.Bit(19, y), 0) << y;
        for (DWORD x = 0; x < 40; ++x) {
            if (x != 19) {
                ASSERT_EQ(s.Bit(x, y), plain.Bit(x, y)) << x << "," << y;
            }
        }
    }
}

TEST(BorderQuality, FailedHalftoneLeavesTheGrayPage)
{
    GraySlot s(64, 32, 255, 0);
    s.Fill(0, 0, 10, 32, 0);
    std::vector<BYTE> before = s.buf;
    EXPECT_TRUE(s.Run(DoBorderQuality));
    EXPECT_EQ(s.buf, before);
    EXPECT_EQ(s.job.linebyte, 64u);
    EXPECT_NE(s.log.find("ApplyHalftone::Argument Incorrect"), std::string::npos);
    EXPECT_NE(s.log.find("DoBorderQuality Out, using "), std::string::npos);
}

TEST(BorderQuality, PagesBeyondTheFilterRangeAreScreenedPlainly)
{
    GraySlot s(32800, 2, 255, 3), plain(32800, 2, 255, 3);
    s.Fill(0, 0, 100, 2, 0);
    plain.Fill(0, 0, 100, 2, 0);
    EXPECT_TRUE(s.Run(DoBorderQuality));
    ASSERT_TRUE(plain.Run(ApplyHalftone));
    EXPECT_EQ(s.buf, plain.buf);
}

TEST(BorderQuality, GrayLinesShorterThanTheWidthAreNotReadPastTheirEnd)
{
    // 40 stored bytes a line for a 64-pixel width; the buffer ends with the page.
    GraySlot s(40, 32, 128, 3);
    s.job.page_width = 64;
    EXPECT_TRUE(s.Run(DoBorderQuality));
    EXPECT_EQ(s.job.linebyte, 8u);
}
