#include <gtest/gtest.h>

#include <chrono>
#include <signal.h>
#include <thread>

#include "decoded_job.h"
#include "filter_process.h"
#include "test_pages.h"

namespace {
using Clock = std::chrono::steady_clock;

int CountLines(const std::string& err, const std::string& prefix)
{
    int n = 0;
    for (const std::string& line : SplitLines(err))
        n += line.rfind(prefix, 0) == 0;
    return n;
}

// Waits until the background filter has reported `side` sides printed.
bool WaitForSide(const Spawned& s, int side)
{
    for (int i = 0; i < 600; ++i) {
        if (CountLines(ReadFile(s.errPath), "PAGE: ") >= side)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool DirHasSpoolFile(const std::string& dir)
{
    for (const std::string& name : DirEntries(dir))
        if (name.rfind("swspool", 0) == 0)
            return true;
    return false;
}

// A job of numbered pages 1..count with the header's settings, in dir.
std::string WriteNumberedJob(const std::string& dir, const cups_page_header2_t& h, unsigned count)
{
    std::vector<TestPage> pages;
    for (unsigned k = 1; k <= count; ++k)
        pages.push_back(MakeNumberedPage(h, k));
    std::string raster = dir + "/job.ras";
    EXPECT_TRUE(WriteRasterFile(raster, pages));
    return raster;
}

// The stream is whole: every record decodes, the trailer is last, and the
// scheduler was told of exactly the sides that reached the printer.
void ExpectCleanEnd(const ProcessResult& r, const std::string& what)
{
    DecodedJob job = DecodeJob(r.out);
    EXPECT_TRUE(job.ok) << what << ": " << Joined(job.report.problems);
    EXPECT_TRUE(job.report.hasTrailer) << what;
    EXPECT_EQ(CountLines(r.err, "PAGE: "), (int)job.pages.size()) << what;
}
} // namespace

TEST(JobControl, CancelStopsALargeJobPromptly)
{
    std::string dir = MakeTempDir("cancel");
    // Screened gray areas make JBIG work (about 0.1 s a page): uncancelled,
    // the job runs for seconds.
    cups_page_header2_t h = MakePageHeader(4960, 7016);
    TestPage page = MakeNumberedPage(h, 1);
    FillRect(&page, 200, 2000, 4500, 4000, 128);
    std::vector<TestPage> pages(30, page);
    std::string raster = dir + "/job.ras";
    ASSERT_TRUE(WriteRasterFile(raster, pages));

    Spawned s = StartProgram(FilterPath(), {"q", "1", "u", "Big", "1", "", raster}, {}, dir);
    ASSERT_TRUE(WaitForSide(s, 2));
    Clock::time_point sent = Clock::now();
    kill(s.pid, SIGTERM);
    ProcessResult r = WaitProgram(s);
    double secs = std::chrono::duration<double>(Clock::now() - sent).count();
    EXPECT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    // The record being coded is finished; pages still in flight are dropped.
    EXPECT_LT(secs, 2.0) << "cancel took " << secs << " s";
    ExpectCleanEnd(r, "simplex");
    EXPECT_LT(CountLines(r.err, "PAGE: "), 30);
}

// The backend takes the job header and a little more, then goes away: the
// filter stops reading at once instead of screening the rest of the job.
TEST(JobControl, ClosedPrinterConnectionStopsTheJob)
{
    std::string dir = MakeTempDir("closed");
    cups_page_header2_t h = MakePageHeader(4960, 7016);
    TestPage page = MakeNumberedPage(h, 1);
    FillRect(&page, 200, 2000, 4500, 4000, 128);
    std::string raster = dir + "/job.ras";
    ASSERT_TRUE(WriteRasterFile(raster, std::vector<TestPage>(30, page)));
    // Three slots, so at most a few pages are read ahead of the writes.
    ProcessResult r = RunProgram("/bin/sh",
                                 {"/bin/sh", "-c", "{ \"$0\" 1 u t 1 '' \"$1\"; echo $? > \"$2\"; } | head -c 100000 > /dev/null",
                                  FilterPath(), raster, dir + "/status"},
                                 {"QUORIN_TEST_FREE_MEMORY=420000000"});
    EXPECT_EQ(ReadFile(dir + "/status"), "1\n");
    std::vector<std::string> errors = ErrorLines(r.err);
    ASSERT_EQ(errors.size(), 1u) << Joined(errors);
    EXPECT_NE(errors[0].find("The printer connection closed while page"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("Broken pipe"), std::string::npos) << errors[0];
    EXPECT_LT(CountLines(r.err, "DEBUG: GetCUPSPageData Out"), 10);
    EXPECT_LT(CountLines(r.err, "INFO: Printing page"), 5);
}

TEST(JobControl, CancelDuringCollatedCopiesLeavesNoSpool)
{
    std::string dir = MakeTempDir("cancelcopies");
    cups_page_header2_t h = MakePageHeader(512, 512);
    h.Duplex = CUPS_TRUE;
    h.NumCopies = 5000;
    std::string raster = WriteNumberedJob(dir, h, 4);

    Spawned s = StartProgram(FilterPath(), {"q", "1", "u", "Copies", "5000", "Collate=true", raster},
                             {"TMPDIR=" + dir}, dir);
    ASSERT_TRUE(WaitForSide(s, 9)); // into the replayed copies
    kill(s.pid, SIGTERM);
    ProcessResult r = WaitProgram(s);
    EXPECT_EQ(r.status, 0);
    ExpectCleanEnd(r, "collated copies");
    EXPECT_LT(CountLines(r.err, "PAGE: "), 20000);
    EXPECT_FALSE(DirHasSpoolFile(dir));
}

TEST(JobControl, SchedulerCountsEverySideSent)
{
    std::string dir = MakeTempDir("pagelines");
    cups_page_header2_t h = MakePageHeader(256, 256);
    h.Duplex = CUPS_TRUE;
    h.NumCopies = 2;
    std::string raster = WriteNumberedJob(dir, h, 3);
    ProcessResult r = RunProgram(FilterPath(), {"q", "1", "u", "t", "2", "Collate=true", raster},
                                 {"TMPDIR=" + dir});
    ASSERT_EQ(r.status, 0);
    // Two copies of three pages, each side once with its page number; the
    // blank back of the third page is no page of the document.
    std::vector<std::string> pageLines, infoLines;
    for (const std::string& line : SplitLines(r.err)) {
        if (line.rfind("PAGE: ", 0) == 0)
            pageLines.push_back(line.substr(6));
        if (line.rfind("INFO: Printing page ", 0) == 0)
            infoLines.push_back(line.substr(20));
    }
    EXPECT_EQ(pageLines, (std::vector<std::string>{"2 1", "1 1", "3 1", "2 1", "1 1", "3 1"}));
    EXPECT_EQ(infoLines, (std::vector<std::string>{"2", "1", "3", "2", "1", "3"}));
    EXPECT_EQ(PageOrder(r.out, 256), (std::vector<int>{2, 1, 0, 3, 2, 1, 0, 3}));
}
