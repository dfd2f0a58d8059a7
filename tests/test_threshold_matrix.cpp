// Checks on the threshold matrix table itself: cell ranks, bands, value
// distribution, the reference values and the repeat every 32 pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "files.h"
#include "filter_process.h"

#include "threshold_matrix.h"

namespace {
const int kOrder[4][4] = {{8, 6, 7, 14}, {4, 0, 2, 12}, {5, 1, 3, 13}, {11, 9, 10, 15}};

// Rank of each position in an 8 x 8 cell, from the 4 x 4 growth order.
std::vector<std::vector<int>> RanksFromOrder()
{
    std::vector<std::vector<int>> rank(8, std::vector<int>(8));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            int q = kOrder[y % 4][x % 4];
            if (y < 4 && x < 4)
                rank[y][x] = 2 * q;
            else if (y >= 4 && x >= 4)
                rank[y][x] = 2 * q + 1;
            else if (y < 4)
                rank[y][x] = 63 - 2 * q;
            else
                rank[y][x] = 62 - 2 * q;
        }
    }
    return rank;
}

int At(int x, int y)
{
    return FINE_TAry[y][x];
}

struct Band {
    int lo = 255, hi = -1;
};

std::vector<Band> Bands()
{
    auto rank = RanksFromOrder();
    std::vector<Band> bands(64);
    for (int y = 0; y < DX_CLUSTER; ++y) {
        for (int x = 0; x < DX_CLUSTER; ++x) {
            Band& b = bands[rank[y % 8][x % 8]];
            b.lo = std::min(b.lo, At(x, y));
            b.hi = std::max(b.hi, At(x, y));
        }
    }
    return bands;
}

std::vector<int> Histogram()
{
    std::vector<int> count(256, 0);
    for (int y = 0; y < DX_CLUSTER; ++y)
        for (int x = 0; x < DX_CLUSTER; ++x)
            ++count[At(x, y)];
    return count;
}
} // namespace

TEST(ThresholdMatrix, RankOrderHoldsInEveryCell)
{
    const int printed[8][8] = {
        {16, 12, 14, 28, 47, 51, 49, 35}, {8, 0, 4, 24, 55, 63, 59, 39},
        {10, 2, 6, 26, 53, 61, 57, 37},   {22, 18, 20, 30, 41, 45, 43, 33},
        {46, 50, 48, 34, 17, 13, 15, 29}, {54, 62, 58, 38, 9, 1, 5, 25},
        {52, 60, 56, 36, 11, 3, 7, 27},   {40, 44, 42, 32, 23, 19, 21, 31},
    };
    auto rank = RanksFromOrder();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(rank[y][x], printed[y][x]) << x << "," << y;

    for (int cy = 0; cy < 16; ++cy) {
        for (int cx = 0; cx < 16; ++cx) {
            int byRank[64];
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    byRank[rank[y][x]] = At(cx * 8 + x, cy * 8 + y);
            for (int r = 1; r < 64; ++r)
                ASSERT_LE(byRank[r - 1], byRank[r]) << "cell " << cx << "," << cy << " rank " << r;
        }
    }
}

TEST(ThresholdMatrix, EachRankLiesInANarrowRisingBand)
{
    auto bands = Bands();
    for (int r = 0; r < 64; ++r) {
        SCOPED_TRACE(r);
        EXPECT_LE(bands[r].hi - bands[r].lo, 5);
        double centre = 254.0 * (r + 0.5) / 64;
        EXPECT_NEAR((bands[r].lo + bands[r].hi) / 2.0, centre, 1.0);
        if (r > 0) {
            EXPECT_GE(bands[r].lo, bands[r - 1].hi);
        }
    }
    const struct {
        int rank, lo, hi;
    } fixed[] = {{0, 0, 4}, {1, 4, 8}, {31, 124, 127}, {32, 128, 131}, {63, 250, 254}};
    for (auto f : fixed) {
        SCOPED_TRACE(f.rank);
        EXPECT_GE(bands[f.rank].lo, f.lo);
        EXPECT_LE(bands[f.rank].hi, f.hi);
    }
}

TEST(ThresholdMatrix, ValuesAreSpreadEvenly)
{
    auto count = Histogram();
    EXPECT_EQ(count[255], 0);
    EXPECT_EQ(count[0], 33);
    EXPECT_EQ(count[254], 33);
    int regular = 0;
    for (int v = 0; v <= 254; ++v) {
        EXPECT_GT(count[v], 0) << v;
        regular += count[v] == 64 || count[v] == 65;
    }
    EXPECT_GE(regular, 240);

    // Where neighbouring bands share no value, their edge values take up the
    // difference, but within limits.
    auto bands = Bands();
    int apart = 0;
    for (int r = 0; r + 1 < 64; ++r) {
        if (bands[r].hi < bands[r + 1].lo) {
            ++apart;
            EXPECT_GE(count[bands[r].hi], 16) << r;
            EXPECT_LE(count[bands[r].hi], 113) << r;
            EXPECT_GE(count[bands[r + 1].lo], 16) << r;
            EXPECT_LE(count[bands[r + 1].lo], 113) << r;
        }
    }
    EXPECT_GE(apart, 2); // at least ranks 31 and 32 are apart
}

TEST(ThresholdMatrix, StartsWithTheReferenceValues)
{
    const int firstCell[8][8] = {
        {67, 51, 59, 114, 190, 206, 198, 143}, {35, 3, 19, 98, 222, 254, 238, 159},
        {43, 11, 27, 106, 214, 246, 230, 151}, {91, 75, 83, 122, 166, 182, 174, 135},
        {185, 200, 192, 137, 69, 54, 62, 117}, {216, 248, 232, 153, 38, 6, 22, 101},
        {208, 240, 224, 145, 46, 14, 30, 109}, {161, 177, 169, 129, 93, 77, 85, 125},
    };
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(At(x, y), firstCell[y][x]) << x << "," << y;
    const int line0[32] = {67, 51, 59, 114, 190, 206, 198, 143, 64, 48, 56, 111, 187, 203, 195, 140,
                           67, 51, 59, 115, 190, 205, 197, 142, 64, 49, 57, 112, 187, 203, 195, 140};
    const int line1[32] = {35, 3, 19, 98, 222, 254, 238, 159, 32, 0, 16, 95, 219, 250, 235, 155,
                           35, 4, 19, 99, 221, 253, 237, 158, 33, 1, 17, 96, 219, 251, 235, 155};
    for (int x = 0; x < 32; ++x) {
        EXPECT_EQ(At(x, 0), line0[x]) << x;
        EXPECT_EQ(At(x, 1), line1[x]) << x;
    }
}

TEST(ThresholdMatrix, NearlyRepeatsEveryThirtyTwoPixels)
{
    int matches = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            std::map<int, int> seen;
            for (int by = 0; by < 4; ++by)
                for (int bx = 0; bx < 4; ++bx)
                    ++seen[At(x + 32 * bx, y + 32 * by)];
            auto mode = seen.begin();
            for (auto it = seen.begin(); it != seen.end(); ++it)
                if (it->second > mode->second)
                    mode = it;
            matches += mode->second;
            for (auto& [value, n] : seen)
                EXPECT_LE(std::abs(value - mode->first), 1) << x << "," << y;
        }
    }
    EXPECT_GE(matches, 16384 * 90 / 100);
}

TEST(ThresholdMatrix, IsWhatTheGeneratorPrints)
{
    ProcessResult r = RunProgram(BuildDir() + "/matrixgen", {"matrixgen"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(QUORIN_SOURCE_DIR "/filter/velorin/threshold_matrix.cpp");
    std::stringstream stored;
    stored << in.rdbuf();
    EXPECT_TRUE(r.out == stored.str()) << "regenerate filter/velorin/threshold_matrix.cpp";
}
