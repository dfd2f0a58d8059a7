#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files.h"
#include "velorin.h"

TEST(BmpLineSize, PadsEveryDepthToWholeWords)
{
    EXPECT_EQ(GetBMPBytesPerLine(1, 4961), 624);
    EXPECT_EQ(GetBMPBytesPerLine(1, 4992), 624);
    EXPECT_EQ(GetBMPBytesPerLine(8, 4961), 4964);
    EXPECT_EQ(GetBMPBytesPerLine(8, 4992), 4992);
    EXPECT_EQ(GetBMPBytesPerLine(4, 4961), 2484);
    EXPECT_EQ(GetBMPBytesPerLine(24, 4961), 14884);
    EXPECT_EQ(GetBMPBytesPerLine(24, 1), 4);
    EXPECT_EQ(GetBMPBytesPerLine(1, 0), 0);
    EXPECT_EQ(GetBMPBytesPerLine(16, 100), 0);
}

TEST(MemoryShims, FillAcrossPiecesMatchesOneFill)
{
    std::vector<BYTE> buf(150002, 0x11);
    FillMemory(buf.data() + 1, 150000, 0x1A5); // only the low byte counts
    EXPECT_EQ(buf[0], 0x11);
    EXPECT_EQ(buf[150001], 0x11);
    for (size_t i = 1; i <= 150000; ++i)
        ASSERT_EQ(buf[i], 0xA5) << i;
    ZeroMemory(buf.data(), 60001);
    EXPECT_EQ(buf[60000], 0);
    EXPECT_EQ(buf[60001], 0xA5);
}

TEST(MemoryShims, MoveDownOverlappingAcrossPiecesIsExact)
{
    std::vector<BYTE> buf(200000);
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = (BYTE)(i * 7 + i / 251);
    std::vector<BYTE> want(buf.begin() + 1000, buf.begin() + 1000 + 150000);
    MoveMemory(buf.data(), buf.data() + 1000, 150000);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin()));
    CopyMemory(buf.data(), buf.data(), 0); // nothing to do, nothing touched
}

TEST(FileShims, CreateIsOwnerOnlyAndDeleteReportsMissingFiles)
{
    std::string dir = MakeTempDir("shims");
    std::string path = dir + "/f";
    mode_t old = umask(0);
    HFILE fd = _lcreat(path.c_str(), 0777);
    umask(old);
    ASSERT_GE(fd, 0);
    close(fd);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    HFILE rd = _lopen(path.c_str(), 0);
    EXPECT_GE(rd, 0);
    close(rd);
    EXPECT_EQ(DeleteFile(path.c_str()), TRUE);
    EXPECT_EQ(DeleteFile(path.c_str()), FALSE);
    EXPECT_EQ(_lopen(path.c_str(), 0), -1); // never creates
}

TEST(GlobalMemoryShims, BehaveLikeTheirNames)
{
    HGLOBAL h = GlobalAlloc(0, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);
    EXPECT_EQ(GlobalUnlock(h), TRUE);
    EXPECT_EQ(GlobalUnlock(nullptr), FALSE);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(TickCount, ElapsedTimeSurvivesTheWrap)
{
    DWORD a = GetTickCount();
    Sleep(20);
    DWORD elapsed = GetTickCount() - a;
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 5000u);
    // The counter is the low 32 bits of milliseconds; differences stay right
    // across the wrap because they are taken modulo 2^32 as well.
    DWORD beforeWrap = 0xFFFFFD00u;
    DWORD afterWrap = beforeWrap + 1500u;
    EXPECT_LT(afterWrap, beforeWrap);
    EXPECT_EQ(afterWrap - beforeWrap, 1500u);
}
