#include "t82_context.h"

namespace {
// Window bits land in the lanes of the pixels whose context holds them. A
// Bits-wide window starting `first` pixels after the byte's first pixel
// (negative: before it); `line` 2, 1 or 0 lines above. Each pixel's lane
// gets its neighbours at context bits as the header says, and, from this
// line, the pixel itself at bit 15.
template <int Bits>
constexpr std::array<ContextLanes, 1 << Bits> MakeLanes(int first, int line)
{
    std::array<ContextLanes, 1 << Bits> table{};
    for (unsigned w = 0; w < (1u << Bits); ++w)
        for (int b = 0; b < Bits; ++b) {
            if (!(w >> (Bits - 1 - b) & 1))
                continue;
            int x = first + b; // the window bit's pixel, from the byte's first
            for (int i = 0; i < 8; ++i) {
                int d = x - i; // its place relative to pixel i
                int bit = -1;
                if (line == 2 && d >= -1 && d <= 1)
                    bit = 8 - d;
                else if (line == 1 && d >= -2 && d <= 2)
                    bit = 4 - d;
                else if (line == 0 && (d == -2 || d == -1))
                    bit = -1 - d;
                else if (line == 0 && d == 0)
                    bit = 15;
                if (bit >= 0)
                    table[w].lanes[i / 4] |= uint64_t(1) << (16 * (i % 4) + bit);
            }
        }
    return table;
}
} // namespace

alignas(64) const std::array<ContextLanes, 1 << 10> kLanesTwoAbove = MakeLanes<10>(-1, 2);
alignas(64) const std::array<ContextLanes, 1 << 6> kLanesAboveLeft = MakeLanes<6>(-2, 1);
alignas(64) const std::array<ContextLanes, 1 << 6> kLanesAboveRight = MakeLanes<6>(4, 1);
alignas(64) const std::array<ContextLanes, 1 << 10> kLanesHere = MakeLanes<10>(-2, 0);
