// Negative and mirror on one-bit pages.
#include <gtest/gtest.h>

#include <vector>

#include "bytes.h"
#include "page_slots.h"

namespace {
void Negative(JobInfo* job)
{
    DoNegative(job, 0);
}

void NegativeHalf(JobInfo* job)
{
    DoNegative(job, 1);
}
} // namespace

TEST(Mirror, MovesPixelZeroToTheLastPixel)
{
    OneBitSlot s(624 * 8, 2);
    s.buf[0] = 0x80;
    s.Run(DoMirror);
    for (size_t i = 0; i < s.buf.size(); ++i)
        EXPECT_EQ(s.buf[i], i == 623 ? 0x01 : 0) << i;
}

TEST(Mirror, OddLinesKeepTheirMiddleByteInPlace)
{
    OneBitSlot s(3 * 8, 1, {0xC5, 0x01, 0xFF});
    s.Run(DoMirror);
    EXPECT_EQ(s.buf, (std::vector<BYTE>{0xFF, 0x80, 0xA3}));
}

TEST(Mirror, ReversesEveryLineBitForBitAndUndoesItself)
{
    for (DWORD linebyte : {1u, 7u, 624u}) {
        OneBitSlot s(linebyte * 8, 5, RandomBytes((size_t)linebyte * 5, linebyte));
        const std::vector<BYTE> original = s.buf;
        const OneBitSlot before(linebyte * 8, 5, original);
        s.Run(DoMirror);
        const size_t bits = (size_t)linebyte * 8;
        for (size_t y = 0; y < 5; ++y)
            for (size_t x = 0; x < bits; ++x)
                ASSERT_EQ(s.Bit(x, y), before.Bit(bits - 1 - x, y)) << linebyte << ": " << x << "," << y;
        s.Run(DoMirror);
        EXPECT_EQ(s.buf, original);
    }
}

TEST(Negative, InvertsEveryByteIncludingTheTailAndUndoesItself)
{
    OneBitSlot s(11 * 8, 3, RandomBytes(33, 3));
    const std::vector<BYTE> original = s.buf;
    testing::internal::CaptureStderr();
    DoNegative(&s.job, 0);
    std::string log = testing::internal::GetCapturedStderr();
    for (size_t i = 0; i < 33; ++i)
        EXPECT_EQ(s.buf[i], (BYTE)~original[i]) << i;
    EXPECT_NE(log.find("DoNegative In, len = 33"), std::string::npos);
    EXPECT_NE(log.find("DoNegative Out, using "), std::string::npos);
    s.Run(Negative);
    EXPECT_EQ(s.buf, original);
}

TEST(Negative, HalfImageInvertsOnlyTheFirstHalfOfTheBytes)
{
    std::vector<BYTE> bytes(12, 0x5A); // one byte beyond the page
    OneBitSlot s(11 * 8, 1, bytes);
    s.Run(NegativeHalf);
    for (size_t i = 0; i < 12; ++i)
        EXPECT_EQ(s.buf[i], i < 5 ? 0xA5 : 0x5A) << i;
}

TEST(ReverseBuf, InvertsExactlyTheGivenRange)
{
    std::vector<BYTE> bytes = RandomBytes(40, 9);
    const std::vector<BYTE> original = bytes;
    testing::internal::CaptureStderr();
    ReverseBuf(bytes.data() + 1, 37);
    ReverseBuf(bytes.data(), 0);
    ReverseBuf(nullptr, 5);
    std::string log = testing::internal::GetCapturedStderr();
    for (size_t i = 0; i < 40; ++i)
        EXPECT_EQ(bytes[i], i >= 1 && i < 38 ? (BYTE)~original[i] : original[i]) << i;
    EXPECT_NE(log.find("ReverseBuf In, len = 37"), std::string::npos);
    EXPECT_NE(log.find("ReverseBuf Out"), std::string::npos);
}

TEST(NegativeAndMirror, SlotWithoutAPageIsLeftAlone)
{
    OneBitSlot s(8 * 8, 4);
    s.job.lpbuf.store(nullptr);
    s.Run(DoMirror);
    s.Run(Negative);
    EXPECT_EQ(s.buf, std::vector<BYTE>(32, 0));
}
