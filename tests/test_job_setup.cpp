#include <gtest/gtest.h>

#include <cstdlib>

#include "files.h"
#include "job_info.h"
#include "job_memory.h"
#include "job_setup.h"
#include "job_status.h"

TEST(Str2Int, LeadingDigitsOnly)
{
    EXPECT_EQ(str2Int("4"), 4);
    EXPECT_EQ(str2Int("2x"), 2);
    EXPECT_EQ(str2Int("abc"), 0);
    EXPECT_EQ(str2Int(""), 0);
    EXPECT_EQ(str2Int(" 3"), 0);
    EXPECT_EQ(str2Int("-3"), 0);
    EXPECT_EQ(str2Int("0016"), 16);
    EXPECT_EQ(str2Int("4294967297"), 1); // wraps like 32-bit arithmetic
}

TEST(JobOptions, NumberUpAndCollate)
{
    cups_option_t* options = nullptr;
    int n = cupsParseOptions("number-up=2x Collate=TRUE media=A4 NUMBER-UP=4", 0, &options);
    int numUP = 1;
    BOOL collate = FALSE;
    testing::internal::CaptureStderr();
    ScanJobOptions(n, options, &numUP, &collate);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(numUP, 4); // the later one wins
    EXPECT_EQ(collate, TRUE);
    EXPECT_NE(log.find("DEBUG: numUP = 4 ---------->"), std::string::npos);
    cupsFreeOptions(n, options);

    options = nullptr;
    n = cupsParseOptions("Collate=yes number-up=abc", 0, &options);
    numUP = 1;
    collate = FALSE;
    testing::internal::CaptureStderr();
    ScanJobOptions(n, options, &numUP, &collate);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(numUP, 0);
    EXPECT_EQ(collate, FALSE);
    cupsFreeOptions(n, options);
}

TEST(JobOptions, FilterCollatesOnlyForTwoOrMoreCopies)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(DriverDoesCollate(TRUE, 1), FALSE);
    EXPECT_EQ(DriverDoesCollate(TRUE, 0), FALSE);
    EXPECT_EQ(DriverDoesCollate(TRUE, 2), TRUE);
    EXPECT_EQ(DriverDoesCollate(FALSE, 5), FALSE);
    testing::internal::GetCapturedStderr();
}

TEST(ThreadCount, FollowsFreeMemoryWithinTheRing)
{
    testing::internal::CaptureStderr();
    const unsigned long long MiB = 1024ull * 1024;
    // A4's one-bit page, room for its coded data and four gray bands:
    // 9,731,520 bytes.
    EXPECT_EQ(ComputeMaxThread(4960, 7016, 8192 * MiB), 30);
    EXPECT_EQ(ComputeMaxThread(4960, 7016, 64 * MiB), 3);
    EXPECT_EQ(ComputeMaxThread(4960, 7016, 16 * MiB), 1);
    EXPECT_EQ(ComputeMaxThread(4960, 7016, 0), 1);
    EXPECT_EQ(ComputeMaxThread(0, 7016, 8192 * MiB), 1);       // zero-sized first page
    EXPECT_EQ(ComputeMaxThread(65536, 32768, 8192 * MiB), 7); // no 32-bit product wraps
    EXPECT_EQ(ComputeMaxThread(1, 1, ~0ull), 30);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("main::referSize = 9731520"), std::string::npos);
}

TEST(ThreadCount, FreeMemoryCanBeForcedForTests)
{
    setenv("QUORIN_TEST_FREE_MEMORY", "12345", 1);
    EXPECT_EQ(getTotalSystemMemory(), 12345ull);
    unsetenv("QUORIN_TEST_FREE_MEMORY");
    EXPECT_GT(getTotalSystemMemory(), 0ull);
}

// The memory cgroup's room, from a cgroup tree laid out in a folder.
TEST(ThreadCount, CgroupLimitsOfEveryLevelCount)
{
    struct File {
        const char* path;
        const char* text;
    };
    struct Case {
        const char* what;
        const char* procCgroup;
        std::vector<File> files;
        unsigned long long room;
    } cases[] = {
        {"v1: limit less use, dropping the inactive page cache", "12:cpu,memory:/a/b\n0::/\n",
         {{"memory/a/b/memory.limit_in_bytes", "1000000000\n"},
          {"memory/a/b/memory.usage_in_bytes", "600000000\n"},
          {"memory/a/b/memory.stat", "cache 5\ntotal_inactive_file 100000000\n"},
          {"memory/a/memory.limit_in_bytes", "9223372036854771712\n"}},
         500000000ull},
        {"v2: a parent's limit is tighter", "0::/svc/job\n",
         {{"svc/job/memory.max", "max\n"},
          {"svc/job/memory.current", "1000\n"},
          {"svc/memory.max", "300000000\n"},
          {"svc/memory.current", "250000000\n"}},
         50000000ull},
        {"v2 under unified, over its limit", "0::/s\n",
         {{"unified/s/memory.max", "1000\n"}, {"unified/s/memory.current", "5000\n"}},
         0ull},
        {"no limit anywhere", "0::/s\n", {{"s/memory.max", "max\n"}}, ~0ull},
    };
    for (const Case& c : cases) {
        std::string root = MakeTempDir("cgroup");
        for (const File& f : c.files) {
            std::string path = root + "/" + f.path;
            ASSERT_EQ(system(("mkdir -p \"$(dirname '" + path + "')\"").c_str()), 0);
            WriteFile(path, f.text);
        }
        WriteFile(root + "/cgroup", c.procCgroup);
        EXPECT_EQ(CgroupMemoryHeadroom((root + "/cgroup").c_str(), root.c_str()), c.room) << c.what;
    }
}

TEST(JobSlots, RingSetupLeavesEverySlotFree)
{
    static JobInfo ring[MAX_JOB_SLOTS];
    for (DWORD i = 0; i < MAX_JOB_SLOTS; ++i) {
        ring[i].finish.store(SLOT_PROCESSED);
        InitJobSlot(&ring[i], i);
    }
    for (DWORD i = 0; i < MAX_JOB_SLOTS; ++i) {
        EXPECT_EQ(ring[i].PageIndex, i);
        EXPECT_EQ(ring[i].lpbuf.load(), nullptr);
        EXPECT_EQ(ring[i].finish.load(), (DWORD)SLOT_FREE);
        EXPECT_EQ(ring[i].PageThreadId, (pthread_t)0);
    }
}

// The reported failure is the first in the job: a later one never takes its
// place, except while the pages before an input failure are still being
// sent: a failure then stopped an earlier page.
TEST(JobStatus, TheFirstFailureInTheJobIsReported)
{
    struct Case {
        JobFailureKind first, second;
        bool secondReported;
    } cases[] = {
        {JOB_FAILURE_OUTPUT, JOB_FAILURE_PAGE, false}, {JOB_FAILURE_OUTPUT, JOB_FAILURE_INPUT, false},
        {JOB_FAILURE_SPOOL, JOB_FAILURE_OUTPUT, false}, {JOB_FAILURE_INPUT, JOB_FAILURE_INPUT, false},
        {JOB_FAILURE_INPUT, JOB_FAILURE_OUTPUT, true},  {JOB_FAILURE_INPUT, JOB_FAILURE_SPOOL, true},
    };
    testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        ResetJobStatus();
        JobFail(c.first, "first");
        JobFail(c.second, "second");
        EXPECT_STREQ(JobFailureText(), c.secondReported ? "second" : "first") << c.first << " " << c.second;
        EXPECT_EQ(JobFailure(), c.secondReported ? c.second : c.first);
    }
    testing::internal::GetCapturedStderr();
    ResetJobStatus();
}
