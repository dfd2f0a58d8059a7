// The three-line template's contexts, eight pixels at a time. T.82 numbers
// a pixel's context from its neighbours: bits 9-7 the line two above at
// x-1 .. x+1, bits 6-2 the line above at x-2 .. x+2 (bit 2 is the adaptive
// pixel, never moved), bits 1-0 this line at x-2, x-1.
#ifndef QUORIN_T82_CONTEXT_H
#define QUORIN_T82_CONTEXT_H

#include <array>
#include <cstdint>
#include <cstring>

// Bits 9-2 of the contexts of a byte's eight pixels from the lines above,
// pixel i's at bits 63-8i .. 56-8i, looked up by the neighbours' windows:
//   kContextFromTwoAbove[bits x-1 .. x+8 of the line two above]
//   kContextFromAbove[bits x-2 .. x+9 of the line above]
// (x the byte's first pixel, the window's first pixel in its top bit).
extern const std::array<uint64_t, 1 << 10> kContextFromTwoAbove;
extern const std::array<uint64_t, 1 << 12> kContextFromAbove;

inline uint32_t LoadBe32(const unsigned char* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return __builtin_bswap32(v);
}

// The neighbourhood of one byte of the current line: line buffers must have
// a byte before and two after the byte at `at`.
struct ByteContexts {
    uint64_t upper; // bits 9-2 of the eight contexts, pixel 0's in the top byte
    unsigned here;  // this line: bits 9-8 the two pixels before the byte, bits 7-0 the byte

    ByteContexts(const unsigned char* up2, const unsigned char* up1, const unsigned char* cur, size_t at)
    {
        // 32 bits from the byte before: the byte's first pixel is bit 23.
        upper = kContextFromTwoAbove[LoadBe32(up2 + at - 1) >> 15 & 0x3FF] |
                kContextFromAbove[LoadBe32(up1 + at - 1) >> 14 & 0xFFF];
        here = LoadBe32(cur + at - 1) >> 16 & 0x3FF;
    }

    unsigned Context(unsigned i) const
    {
        return (unsigned)(upper >> (56 - 8 * i) & 0xFF) << 2 | (here >> (8 - i) & 3);
    }

    unsigned Pixel(unsigned i) const { return here >> (7 - i) & 1; }
};

#endif
