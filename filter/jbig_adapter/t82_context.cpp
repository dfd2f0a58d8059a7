#include "t82_context.h"

namespace {
// Pixel i takes Width bits of a Bits-wide window, its leftmost neighbour at
// window bit Bits - 1 - i; they land at context bits At + Width - 1 .. At.
template <int Bits, int Width, int At>
constexpr std::array<uint64_t, 1 << Bits> MakeTable()
{
    std::array<uint64_t, 1 << Bits> table{};
    for (unsigned w = 0; w < (1u << Bits); ++w)
        for (unsigned i = 0; i < 8; ++i) {
            uint64_t part = w >> (Bits - Width - i) & ((1u << Width) - 1);
            table[w] |= part << (At - 2) << (56 - 8 * i);
        }
    return table;
}
} // namespace

alignas(64) const std::array<uint64_t, 1 << 10> kContextFromTwoAbove = MakeTable<10, 3, 7>();
alignas(64) const std::array<uint64_t, 1 << 12> kContextFromAbove = MakeTable<12, 5, 2>();
