// Builds the 128 x 128 clustered-dot threshold matrix of the halftone and
// prints it as filter/velorin/threshold_matrix.cpp:
//
//   cmake --build build --target matrixgen
//   build/matrixgen > filter/velorin/threshold_matrix.cpp
//
// How the values come about:
//  - Each 8 x 8 cell holds two light dots (upper-left and lower-right quarter)
//    and two dark dots (upper-right and lower-left quarter). The 64 positions
//    of a cell are ranked from one 4 x 4 growth order q: 2q in the upper-left
//    quarter, 2q + 1 in the lower-right, 63 - 2q in the upper-right and
//    62 - 2q in the lower-left.
//  - Every entry gets a level 0..16383: 256 x rank + a sub-step 0..255 that
//    orders the 256 dots of the same kind across the matrix, so each level
//    is used once. Its value is round(level x 254 / 16383): 0 and 254 take 33
//    levels each, every other value 64 or 65.
//  - The sub-step of a dot is 16 x (its place in a 4 x 4 order of the cells
//    of a 32 x 32 block) + (the block's place in a 4 x 4 dispersed order), so
//    the texture nearly repeats every 32 pixels and the low bits spread the
//    remaining steps evenly over the sixteen blocks.
//  - The bands of ranks 30|31, 31|32 and 39|40 are kept apart: entries of the
//    upper rank that would share the lower rank's top value move up one.
//  - The printed reference values (first cell, lines 0 and 1 at pixels 0..31)
//    are kept verbatim; the construction above agrees with all of them but
//    one, which it misses by one.
#include <cstdio>
#include <cstdlib>

namespace {
const int kSide = 128;
const int kCell = 8;

const int kOrder[4][4] = {{8, 6, 7, 14}, {4, 0, 2, 12}, {5, 1, 3, 13}, {11, 9, 10, 15}};

// Dispersed order of the sixteen 32 x 32 blocks (and of their sub-steps).
const int kBlockOrder[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

enum Quarter { UL, UR, LL, LR };

// Sub-step of a dot: base + step x ((block order + phase) mod 16).
struct SubStep {
    short base;
    short step;
    short phase;
};

// Window of 16 sub-steps per cell of a 32 x 32 block (row = cell line).
// Light dots fill windows 0..3 first on one quarter lattice of the cells,
// then the next, so early steps stay spread out. PAIR marks the two cells of
// the upper-right quarter that share windows 2 and 3, interleaved, because
// the reference values put both of them between sub-steps 38 and 45.
const int PAIR = -1;
const int kWindow[4][4][4] = {
    /* UL */ {{13, 0, 14, 3}, {5, 9, 6, 10}, {15, 2, 12, 1}, {7, 11, 4, 8}},
    /* UR */ {{15, PAIR, 12, PAIR}, {5, 9, 6, 10}, {13, 0, 14, 1}, {7, 11, 4, 8}},
    /* LL */ {{8, 0, 10, 3}, {5, 13, 6, 14}, {11, 2, 9, 1}, {7, 15, 4, 12}},
    /* LR */ {{8, 5, 11, 7}, {0, 13, 2, 15}, {10, 6, 9, 4}, {3, 14, 1, 12}},
};

// Phase of the sub-step in the first block where the reference values fix it.
struct Phase {
    Quarter quarter;
    int cx, cy, phase;
};
const Phase kPhases[] = {
    {UL, 0, 0, 0}, {UL, 2, 0, 5}, {UL, 3, 0, 14}, {UR, 0, 0, 1},
    {UR, 1, 0, 4}, {UR, 2, 0, 1}, {UR, 3, 0, 4},  {LL, 0, 0, 0}, {LR, 0, 0, 1},
};

const int kApartBelow[] = {30, 31, 39}; // rank r whose band ends below rank r + 1's

const int kFirstCell[8][8] = {
    {67, 51, 59, 114, 190, 206, 198, 143}, {35, 3, 19, 98, 222, 254, 238, 159},
    {43, 11, 27, 106, 214, 246, 230, 151}, {91, 75, 83, 122, 166, 182, 174, 135},
    {185, 200, 192, 137, 69, 54, 62, 117}, {216, 248, 232, 153, 38, 6, 22, 101},
    {208, 240, 224, 145, 46, 14, 30, 109}, {161, 177, 169, 129, 93, 77, 85, 125},
};
const int kLine0[32] = {67, 51, 59, 114, 190, 206, 198, 143, 64, 48, 56, 111, 187, 203, 195, 140,
                        67, 51, 59, 115, 190, 205, 197, 142, 64, 49, 57, 112, 187, 203, 195, 140};
const int kLine1[32] = {35, 3, 19, 98, 222, 254, 238, 159, 32, 0, 16, 95, 219, 250, 235, 155,
                        35, 4, 19, 99, 221, 253, 237, 158, 33, 1, 17, 96, 219, 251, 235, 155};

int Rank(int x, int y)
{
    int q = kOrder[y % 4][x % 4];
    bool upper = y < 4, left = x < 4;
    if (upper && left)
        return 2 * q;
    if (!upper && !left)
        return 2 * q + 1;
    return upper ? 63 - 2 * q : 62 - 2 * q;
}

Quarter QuarterOf(int x, int y)
{
    if (y < 4)
        return x < 4 ? UL : UR;
    return x < 4 ? LL : LR;
}

SubStep SubStepOf(Quarter quarter, int cx, int cy)
{
    int phase = 0;
    for (const Phase& p : kPhases)
        if (p.quarter == quarter && p.cx == cx && p.cy == cy)
            phase = p.phase;
    int window = kWindow[quarter][cy][cx];
    if (window == PAIR)
        return SubStep{(short)(32 + (cx == 3 ? 1 : 0)), 2, (short)phase};
    return SubStep{(short)(16 * window), 1, (short)phase};
}

int LevelValue(int level)
{
    return (level * 254 * 2 + 16383) / (2 * 16383);
}

int ModelValue(int x, int y)
{
    int rank = Rank(x % kCell, y % kCell);
    int cx = (x / kCell) % 4, cy = (y / kCell) % 4;
    int block = kBlockOrder[y / 32][x / 32];
    SubStep s = SubStepOf(QuarterOf(x % kCell, y % kCell), cx, cy);
    int level = 256 * rank + s.base + s.step * ((block + s.phase) % 16);
    int value = LevelValue(level);
    for (int r : kApartBelow)
        if (rank == r + 1 && value == LevelValue(256 * r + 255))
            ++value;
    return value;
}

int Reference(int x, int y)
{
    if (x < 8 && y < 8)
        return kFirstCell[y][x];
    if (y == 0 && x < 32)
        return kLine0[x];
    if (y == 1 && x < 32)
        return kLine1[x];
    return -1;
}
} // namespace

int main()
{
    static int table[kSide][kSide];
    int differ = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            int v = ModelValue(x, y);
            int ref = Reference(x, y);
            if (ref >= 0 && ref != v) {
                if (abs(ref - v) > 1) {
                    fprintf(stderr, "matrixgen: reference %d at (%d, %d), construction gives %d\n", ref,
                            x, y, v);
                    return 1;
                }
                ++differ;
                v = ref;
            }
            table[y][x] = v;
        }
    }
    fprintf(stderr, "matrixgen: %d reference value(s) differ by one from the construction\n", differ);

    printf("// Generated by tools/matrixgen; do not edit. To regenerate:\n"
           "//   cmake --build build --target matrixgen\n"
           "//   build/matrixgen > filter/velorin/threshold_matrix.cpp\n"
           "// tools/matrixgen/matrixgen.cpp explains how the values are built.\n"
           "#include \"threshold_matrix.h\"\n\n"
           "const BYTE FINE_TAry[DX_CLUSTER][DX_CLUSTER] = {\n");
    for (int y = 0; y < kSide; ++y) {
        printf("    { // line %d\n", y);
        for (int x = 0; x < kSide; x += 16) {
            printf("       ");
            for (int i = 0; i < 16; ++i)
                printf(" %3d,", table[y][x + i]);
            printf("\n");
        }
        printf("    },\n");
    }
    printf("};\n");
    return 0;
}
