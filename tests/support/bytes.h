// Raw bytes in tests: little-endian numbers read and patched a byte at a time,
// independently of the filter's own writers, and seeded random fill.
#ifndef QUORIN_TEST_BYTES_H
#define QUORIN_TEST_BYTES_H

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// Bytes: std::string or a vector of char or unsigned char. at() throws, so an
// offset past the end fails the test instead of reading beyond it.
template <class Bytes>
uint32_t Le32(const Bytes& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | (uint8_t)b.at(at + (size_t)i);
    return v;
}

template <class Bytes>
void PutLe32(Bytes* b, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        b->at(at + i) = (typename Bytes::value_type)(v >> (8 * i));
}

inline std::vector<uint8_t> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v)
        b = (uint8_t)rng();
    return v;
}

#endif
