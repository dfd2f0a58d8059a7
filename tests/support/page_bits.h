// One-bit page bitmaps as the printer takes them: lines of stride bytes, the
// leftmost pixel in the most significant bit, 1 = black.
#ifndef QUORIN_PAGE_BITS_H
#define QUORIN_PAGE_BITS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline int OneBitPixel(const uint8_t* bits, size_t stride, size_t x, size_t y)
{
    return bits[y * stride + x / 8] >> (7 - x % 8) & 1;
}

// A binary PBM (P4), as the decoder programs write a page.
struct Pbm {
    unsigned width = 0, height = 0;
    std::vector<uint8_t> bits;
};
bool ReadPbm(const std::string& path, Pbm* pbm);

#endif
