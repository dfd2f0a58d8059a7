// Negative and mirror on one-bit pages.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "job_info.h"

namespace {
struct BitSlot {
    JobInfo job;
    std::vector<BYTE> buf;
    BitSlot(DWORD linebyte, DWORD height, std::vector<BYTE> bytes = {})
        : buf(bytes.empty() ? std::vector<BYTE>((size_t)linebyte * height, 0) : bytes)
    {
        InitJobSlot(&job, 0);
        job.page_width = linebyte * 8;
        job.page_height = height;
        job.linebyte = linebyte;
        job.pagesize = linebyte * height;
        job.lpbuf.store(buf.data());
    }
    int Bit(size_t x, size_t y) const { return buf[y * job.linebyte + x / 8] >> (7 - x % 8) & 1; }
};

std::vector<BYTE> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<BYTE> v(n);
    for (BYTE& b : v)
        b = (BYTE)rng();
    return v;
}

void Quietly(void (*step)(JobInfo*), JobInfo* job)
{
    testing::internal::CaptureStderr();
    step(job);
    testing::internal::GetCapturedStderr();
}

void Mirror(JobInfo* job)
{
    DoMirror(job);
}

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
    BitSlot s(624, 2);
    s.buf[0] = 0x80;
    Quietly(Mirror, &s.job);
    for (size_t i = 0; i < s.buf.size(); ++i)
        EXPECT_EQ(s.buf[i], i == 623 ? 0x01 : 0) << i;
}

TEST(Mirror, OddLinesKeepTheirMiddleByteInPlace)
{
    BitSlot s(3, 1, {0xC5, 0x01, 0xFF});
    Quietly(Mirror, &s.job);
    EXPECT_EQ(s.buf, (std::vector<BYTE>{0xFF, 0x80, 0xA3}));
}

TEST(Mirror, ReversesEveryLineBitForBitAndUndoesItself)
{
    for (DWORD linebyte : {1u, 7u, 624u}) {
        BitSlot s(linebyte, 5, RandomBytes((size_t)linebyte * 5, linebyte));
        const std::vector<BYTE> original = s.buf;
        const BitSlot before(linebyte, 5, original);
        Quietly(Mirror, &s.job);
        const size_t bits = (size_t)linebyte * 8;
        for (size_t y = 0; y < 5; ++y)
            for (size_t x = 0; x < bits; ++x)
                ASSERT_EQ(s.Bit(x, y), before.Bit(bits - 1 - x, y)) << linebyte << ": " << x << "," << y;
        Quietly(Mirror, &s.job);
        EXPECT_EQ(s.buf, original);
    }
}

TEST(Negative, InvertsEveryByteIncludingTheTailAndUndoesItself)
{
    BitSlot s(11, 3, RandomBytes(33, 3));
    const std::vector<BYTE> original = s.buf;
    testing::internal::CaptureStderr();
    DoNegative(&s.job, 0);
    std::string log = testing::internal::GetCapturedStderr();
    for (size_t i = 0; i < 33; ++i)
        EXPECT_EQ(s.buf[i], (BYTE)~original[i]) << i;
    EXPECT_NE(log.find("DoNegative In, len = 33"), std::string::npos);
    EXPECT_NE(log.find("DoNegative Out, using "), std::string::npos);
    Quietly(Negative, &s.job);
    EXPECT_EQ(s.buf, original);
}

TEST(Negative, HalfImageInvertsOnlyTheFirstHalfOfTheBytes)
{
    std::vector<BYTE> bytes(12, 0x5A); // one byte beyond the page
    BitSlot s(11, 1, bytes);
    Quietly(NegativeHalf, &s.job);
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
    BitSlot s(8, 4);
    s.job.lpbuf.store(nullptr);
    Quietly(Mirror, &s.job);
    Quietly(Negative, &s.job);
    EXPECT_EQ(s.buf, std::vector<BYTE>(32, 0));
}
