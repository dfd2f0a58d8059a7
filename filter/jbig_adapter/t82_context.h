// The three-line template's contexts, eight pixels at a time. T.82 numbers
// a pixel's context from its neighbours: bits 9-7 the line two above at
// x-1 .. x+1, bits 6-2 the line above at x-2 .. x+2 (bit 2 is the adaptive
// pixel, never moved), bits 1-0 this line at x-2, x-1.
#ifndef QUORIN_T82_CONTEXT_H
#define QUORIN_T82_CONTEXT_H

#include <array>
#include <cstdint>
#include <cstring>

// Eight pixels in 16-bit lanes, pixel i in lane i of lanes[i / 4] (bits
// 16 (i % 4) and up): the context in bits 0-9, the pixel in bit 15 (where a
// state word keeps its MPS).
struct ContextLanes {
    uint64_t lanes[2];
};

// What each neighbour window adds to the lanes, a table per window (the
// window's first pixel in its top bit; x is the byte's first pixel):
//   kLanesTwoAbove[pixels x-1 .. x+8 of the line two above]
//   kLanesAboveLeft[pixels x-2 .. x+3 of the line above]
//   kLanesAboveRight[pixels x+4 .. x+9 of the line above]
//   kLanesHere[pixels x-2 .. x+7 of this line]
extern const std::array<ContextLanes, 1 << 10> kLanesTwoAbove;
extern const std::array<ContextLanes, 1 << 6> kLanesAboveLeft;
extern const std::array<ContextLanes, 1 << 6> kLanesAboveRight;
extern const std::array<ContextLanes, 1 << 10> kLanesHere;

inline uint32_t LoadBe32(const unsigned char* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return __builtin_bswap32(v);
}

// The contexts and pixels of the byte at `at` of the current line; the line
// buffers must have a byte before it and two after.
struct ByteContexts {
    uint64_t lo, hi; // pixels 0-3 and 4-7, as in ContextLanes

    ByteContexts(const unsigned char* up2, const unsigned char* up1, const unsigned char* cur, size_t at)
    {
        // 32 bits from the byte before: the byte's first pixel is bit 23.
        uint32_t w2 = LoadBe32(up2 + at - 1) >> 15 & 0x3FF;
        uint32_t w1 = LoadBe32(up1 + at - 1) >> 14;
        uint32_t w0 = LoadBe32(cur + at - 1) >> 16 & 0x3FF;
        const ContextLanes& a = kLanesTwoAbove[w2];
        const ContextLanes& b = kLanesAboveLeft[w1 >> 6 & 0x3F];
        const ContextLanes& c = kLanesAboveRight[w1 & 0x3F];
        const ContextLanes& d = kLanesHere[w0];
        lo = a.lanes[0] | b.lanes[0] | c.lanes[0] | d.lanes[0];
        hi = a.lanes[1] | b.lanes[1] | c.lanes[1] | d.lanes[1];
    }

    // Pixel i's lane: its context in bits 0-9, the pixel in bit 15.
    unsigned Lane(unsigned i) const { return (unsigned)((i < 4 ? lo : hi) >> (16 * (i % 4))) & 0xFFFF; }
};

#endif
