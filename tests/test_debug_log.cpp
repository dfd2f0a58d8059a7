#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "filter_process.h"
#include "velorin.h"

namespace {
// The log directory is machine-wide; the fixture restores what it found.
class LogDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        existed_ = access(VL_LOG_DIR, F_OK) == 0;
        mkdir(VL_LOG_DIR, 0755);
        unlink(VL_LOG_FILE);
    }
    void TearDown() override
    {
        unlink(VL_LOG_FILE);
        if (!existed_)
            rmdir(VL_LOG_DIR);
    }
    bool existed_ = false;
};
} // namespace

TEST(DebugLog, StandardErrorLineFormat)
{
    testing::internal::CaptureStderr();
    DbgMsg("GrayToLineart In, threshold = %d", 220);
    DbgMsg("using %f sec", 0.25f);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "DEBUG: GrayToLineart In, threshold = 220 ---------->\n"
                   "DEBUG: using 0.250000 sec ---------->\n");
}

TEST(DebugLog, ControlBytesCannotStartSchedulerLines)
{
    testing::internal::CaptureStderr();
    DbgMsg("argv[3] = %s", "report\nSTATE: +offline\rATTR: x\x1b\x7f");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "DEBUG: argv[3] = report STATE: +offline ATTR: x   ---------->\n");
}

TEST(DebugLog, OverlongMessageIsCut)
{
    std::string big(5000, 'x');
    testing::internal::CaptureStderr();
    DbgMsg("%s", big.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "DEBUG: " + std::string(2046, 'x') + " ---------->\n");
}

TEST_F(LogDirectory, AppendsTimeStampedLinesWhileTheDirectoryExists)
{
    testing::internal::CaptureStderr();
    DbgMsg("first %d", 1);
    DbgMsg("second");
    testing::internal::GetCapturedStderr();
    std::string log = ReadFile(VL_LOG_FILE);
    std::istringstream lines(log);
    std::string l1, l2;
    std::getline(lines, l1);
    std::getline(lines, l2);
    ASSERT_EQ(l1.size(), 22u + 7u);
    EXPECT_EQ(l1[0], '[');
    EXPECT_EQ(l1[5], '/');
    EXPECT_EQ(l1[8], '/');
    EXPECT_EQ(l1[14], ':');
    EXPECT_EQ(l1.substr(20), "] first 1");
    EXPECT_EQ(l2.substr(20), "] second");
    struct stat st;
    ASSERT_EQ(stat(VL_LOG_FILE, &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "log readable by others";
}

TEST_F(LogDirectory, PlantedLinkIsNotFollowed)
{
    std::string target = std::string(VL_LOG_DIR) + "/victim";
    {
        std::ofstream(target) << "keep";
    }
    ASSERT_EQ(symlink(target.c_str(), VL_LOG_FILE), 0);
    testing::internal::CaptureStderr();
    DbgMsg("should not land in the target");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("should not land"), std::string::npos);
    EXPECT_EQ(ReadFile(target), "keep");
    unlink(target.c_str());
}

TEST(DebugLog, NoDirectoryNoFile)
{
    if (access(VL_LOG_DIR, F_OK) == 0)
        GTEST_SKIP() << VL_LOG_DIR << " exists on this machine";
    testing::internal::CaptureStderr();
    DbgMsg("only on stderr");
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_NE(access(VL_LOG_DIR, F_OK), 0);
}
