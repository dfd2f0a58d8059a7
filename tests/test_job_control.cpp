#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>

#include "decoded_job.h"
#include "files.h"
#include "raster_job.h"
#include "text_lines.h"

namespace {
using Clock = std::chrono::steady_clock;

// Waits until the background filter has reported `side` sides printed.
bool WaitForSide(const Spawned& s, int side)
{
    for (int i = 0; i < 600; ++i) {
        if (CountLinesStartingWith(ReadFile(s.errPath), "PAGE: ") >= side)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The stream is whole: every record decodes, the trailer is last, and the
// scheduler was told of exactly the sides that reached the printer.
void ExpectCleanEnd(const ProcessResult& r, const std::string& what)
{
    DecodedJob job = DecodeJob(r.out);
    EXPECT_TRUE(job.ok) << what << ": " << Joined(job.report.problems);
    EXPECT_TRUE(job.report.hasTrailer) << what;
    EXPECT_EQ(CountLinesStartingWith(r.err, "PAGE: "), (int)job.pages.size()) << what;
}

// Thirty A4 pages whose screened gray areas make JBIG work (about 0.1 s a page).
std::vector<TestPage> LargeGrayJob()
{
    TestPage page = MakeNumberedPage(MakePageHeader(4960, 7016), 1);
    FillRect(&page, 200, 2000, 4500, 4000, 128);
    return std::vector<TestPage>(30, page);
}
} // namespace

TEST(JobControl, CancelStopsALargeJobPromptly)
{
    std::string dir = MakeTempDir("cancel");
    // Uncancelled, the job runs for seconds.
    std::string raster = dir + "/job.ras";
    ASSERT_TRUE(WriteRasterFile(raster, LargeGrayJob()));

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
    EXPECT_LT(CountLinesStartingWith(r.err, "PAGE: "), 30);
}

// The backend takes the job header and a little more, then goes away: the
// filter stops reading at once instead of screening the rest of the job.
TEST(JobControl, ClosedPrinterConnectionStopsTheJob)
{
    std::string dir = MakeTempDir("closed");
    std::string raster = dir + "/job.ras";
    ASSERT_TRUE(WriteRasterFile(raster, LargeGrayJob()));
    // Three slots, so at most a few pages are read ahead of the writes.
    ProcessResult r = RunProgram("/bin/sh",
                                 {"/bin/sh", "-c", "{ \"$0\" 1 u t 1 '' \"$1\"; echo $? > \"$2\"; } | head -c 100000 > /dev/null",
                                  SeamFilterPath(), raster, dir + "/status"},
                                 {"QUORIN_TEST_FREE_MEMORY=420000000"});
    EXPECT_EQ(ReadFile(dir + "/status"), "1\n");
    std::vector<std::string> errors = ErrorLines(r.err);
    ASSERT_EQ(errors.size(), 1u) << Joined(errors);
    EXPECT_NE(errors[0].find("The printer connection closed while page"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("Broken pipe"), std::string::npos) << errors[0];
    EXPECT_LT(CountLinesStartingWith(r.err, "DEBUG: GetCUPSPageData Out"), 10);
    EXPECT_LT(CountLinesStartingWith(r.err, "INFO: Printing page"), 5);
}

TEST(JobControl, CancelDuringCollatedCopiesLeavesNoSpool)
{
    std::string dir = MakeTempDir("cancelcopies");
    cups_page_header2_t h = MakePageHeader(512, 512);
    h.Duplex = CUPS_TRUE;
    h.NumCopies = 5000;
    std::string raster = WriteRasterJob(dir, NumberedPages(h, 4));

    Spawned s = StartProgram(FilterPath(), {"q", "1", "u", "Copies", "5000", "Collate=true", raster},
                             {"TMPDIR=" + dir}, dir);
    ASSERT_TRUE(WaitForSide(s, 9)); // into the replayed copies
    kill(s.pid, SIGTERM);
    ProcessResult r = WaitProgram(s);
    EXPECT_EQ(r.status, 0);
    ExpectCleanEnd(r, "collated copies");
    EXPECT_LT(CountLinesStartingWith(r.err, "PAGE: "), 20000);
    EXPECT_TRUE(SpoolFilesIn(dir).empty());
}

TEST(JobControl, SchedulerCountsEverySideSent)
{
    std::string dir = MakeTempDir("pagelines");
    cups_page_header2_t h = MakePageHeader(256, 256);
    h.Duplex = CUPS_TRUE;
    h.NumCopies = 2;
    std::string raster = WriteRasterJob(dir, NumberedPages(h, 3));
    ProcessResult r = RunProgram(FilterPath(), {"q", "1", "u", "t", "2", "Collate=true", raster},
                                 {"TMPDIR=" + dir});
    ASSERT_EQ(r.status, 0);
    // Two copies of three pages, each side once with its page number; the
    // blank back of the third page is no page of the document.
    EXPECT_EQ(LineTails(r.err, "PAGE: "), (std::vector<std::string>{"2 1", "1 1", "3 1", "2 1", "1 1", "3 1"}));
    EXPECT_EQ(LineTails(r.err, "INFO: Printing page "), (std::vector<std::string>{"2", "1", "3", "2", "1", "3"}));
    EXPECT_EQ(PageOrder(r.out, 256), (std::vector<int>{2, 1, 0, 3, 2, 1, 0, 3}));
}

// A cancel never cuts the stream: not while main waits to write a collated
// copy into a full pipe (the record is finished and the trailer follows),
// and not while it waits to open a FIFO that nobody writes yet.
TEST(JobControl, CancelLeavesAWholeStream)
{
    std::string dir = MakeTempDir("cancelwrite");
    cups_page_header2_t h = MakePageHeader(1024, 1024);
    h.Duplex = CUPS_TRUE;
    h.NumCopies = 3;
    std::string raster = WriteRasterJob(dir, std::vector<TestPage>(4, MakePhotoPage(h)));
    Spawned s = StartProgram(FilterPath(), FilterArgs("3", "Collate=true", raster), {"TMPDIR=" + dir}, dir, false,
                             false, true);
    // Main blocks in a write to standard output once the pipe is full.
    ASSERT_TRUE(WaitForSyscall(s.pid, SYS_write, 1, 60));
    kill(s.pid, SIGTERM);
    ProcessResult r = WaitProgram(s);
    EXPECT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    ExpectCleanEnd(r, "full pipe");
    EXPECT_TRUE(SpoolFilesIn(dir).empty());

    std::string fifo = dir + "/job.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    s = StartProgram(FilterPath(), FilterArgs("1", "", fifo), {}, dir);
    ASSERT_TRUE(WaitForSyscall(s.pid, SYS_openat, -1, 60));
    kill(s.pid, SIGTERM);
    r = WaitProgram(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(ErrorLines(r.err).empty()) << Joined(ErrorLines(r.err));
    EXPECT_TRUE(r.out.empty());
}
