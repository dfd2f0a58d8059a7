#include <gtest/gtest.h>

#include "files.h"
#include "raster_job.h"
#include "text_lines.h"

namespace {
std::string EmptyRaster()
{
    return WriteRasterJob(MakeTempDir("entry"), {});
}

bool AllTraceLinesWellFormed(const std::string& err)
{
    for (const std::string& line : SplitLines(err)) {
        if (line.rfind("DEBUG: ", 0) == 0) {
            static const std::string tail = " ---------->";
            if (line.size() < 7 + tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
                return false;
        } else if (line.rfind("ERROR: ", 0) != 0 && line.rfind("INFO: ", 0) != 0 &&
                   line.rfind("PAGE: ", 0) != 0) {
            return false;
        }
    }
    return true;
}
} // namespace

TEST(FilterEntry, WrongArgumentCountPrintsUsage)
{
    for (size_t n : {1u, 5u, 8u}) {
        std::vector<std::string> args(n, "x");
        ProcessResult r = RunProgram(FilterPath(), args);
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_EQ(r.out, "Usage: FILTER JOD_ID USERNAME DOC_TITLE COPIES OPTIONS [FILENAME]\n") << n;
        EXPECT_NE(r.err.find("DEBUG: Velorin's Filter 20180712 ---------->"), std::string::npos);
    }
}

TEST(FilterEntry, MissingInputFileIsReported)
{
    ProcessResult r = RunFilterOnFile("/nonexistent/job.ras");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("ERROR: Unable to open print file: No such file or directory"), std::string::npos);
}

TEST(FilterEntry, StreamWithoutPagesWritesNothing)
{
    std::string ras = EmptyRaster();
    ProcessResult fromFile = RunFilterOnFile(ras, "number-up=2 Collate=true");
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_TRUE(fromFile.out.empty());
    EXPECT_NE(fromFile.err.find("DEBUG: numUP = 2 ---------->"), std::string::npos);
    EXPECT_NE(fromFile.err.find("DEBUG: bCollate = 1 ---------->"), std::string::npos);
    EXPECT_TRUE(AllTraceLinesWellFormed(fromFile.err)) << fromFile.err;

    // Six arguments: the raster comes from standard input.
    ProcessResult fromStdin = RunProgram(FilterPath(), {"q", "7", "u", "t", "1", ""}, {}, ras);
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_TRUE(fromStdin.out.empty());
    EXPECT_NE(fromStdin.err.find("DEBUG: argc = 6 ---------->"), std::string::npos);
}

TEST(FilterEntry, HostileTitleCannotForgeSchedulerLines)
{
    ProcessResult r = RunFilterOnFile(EmptyRaster(), "", {},
                                      "Report\nSTATE: +media-empty\nATTR: marker-levels=0\r\nPAGE: 1 99");
    EXPECT_EQ(r.status, 0);
    for (const std::string& line : SplitLines(r.err)) {
        EXPECT_NE(line.rfind("STATE:", 0), 0u) << line;
        EXPECT_NE(line.rfind("ATTR:", 0), 0u) << line;
        EXPECT_NE(line.rfind("PAGE:", 0), 0u) << line;
    }
    EXPECT_TRUE(AllTraceLinesWellFormed(r.err));
}

TEST(FilterEntry, LongJobIdIsCutNotOverrun)
{
    std::string id(5000, '9');
    ProcessResult r = RunProgram(FilterPath(), {"q", id, "u", "t", "1", "", EmptyRaster()});
    EXPECT_EQ(r.status, 0);
}

TEST(FilterEntry, MissingPpdStillRuns)
{
    ProcessResult r = RunFilterOnFile(EmptyRaster(), "", {"PPD=/nonexistent.ppd"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("without a JCL prefix"), std::string::npos);
}

// The switches the tests steer jobs with are in the tests' build only.
TEST(FilterEntry, ShippedFilterReadsNoTestSwitches)
{
    EXPECT_EQ(ReadFile(FilterPath()).find("QUORIN_TEST_"), std::string::npos);
    EXPECT_NE(ReadFile(SeamFilterPath()).find("QUORIN_TEST_"), std::string::npos);
}
