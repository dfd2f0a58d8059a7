// A real print job: a private scheduler, a queue made with the built PPD, a
// PDF sent with lp, the stream captured by a file: device.
#include <gtest/gtest.h>

#include <unistd.h>

#include "cups_sandbox.h"
#include "pjl_frame.h"

namespace {
// "request id is quorin-1 (1 file(s))" -> "quorin-1"
std::string RequestId(const std::string& lpOut)
{
    const std::string lead = "request id is ";
    size_t at = lpOut.find(lead);
    if (at == std::string::npos)
        return "";
    at += lead.size();
    return lpOut.substr(at, lpOut.find(' ', at) - at);
}

// Waits, at most timeoutSec, until the scheduler lists the job as completed.
bool WaitForCompleted(const PrivateCupsd& cupsd, const std::string& job, int timeoutSec)
{
    for (int i = 0; i < timeoutSec * 4; ++i) {
        ProcessResult r = RunClient(cupsd, QUORIN_LPSTAT, {"-W", "completed", "-o", "quorin"});
        for (const std::string& line : SplitLines(r.out))
            if (line.compare(0, job.size() + 1, job + " ") == 0)
                return true;
        usleep(250 * 1000);
    }
    return false;
}
} // namespace

TEST(Scheduler, PrintsAPdfThroughAQueueWithTheBuiltPpd)
{
    PrivateCupsd cupsd;
    std::string why;
    ASSERT_TRUE(StartCupsd(&cupsd, &why)) << why;
    const std::string device = cupsd.root + "/out/quorin.prn";

    ProcessResult add = RunClient(cupsd, QUORIN_LPADMIN,
                                  {"-p", "quorin", "-E", "-v", "file://" + device, "-P", PpdPath()});
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    // The queue offers the PPD's settings to its users.
    ProcessResult opts = RunClient(cupsd, QUORIN_LPOPTIONS, {"-p", "quorin", "-l"});
    EXPECT_NE(opts.out.find("Density/Print Density: 1 2 *3 4 5 6"), std::string::npos) << opts.out << opts.err;
    EXPECT_NE(opts.out.find("Duplex/2-Sided Printing: *None DuplexNoTumble DuplexTumble"), std::string::npos);

    ProcessResult lp = RunClient(cupsd, QUORIN_LP,
                                 {"-d", "quorin", "-t", "five pages", "-o", "Density=2", SamplePath("multipage.pdf")});
    ASSERT_EQ(lp.status, 0) << lp.out << lp.err;
    std::string job = RequestId(lp.out);
    ASSERT_FALSE(job.empty()) << lp.out;

    bool completed = WaitForCompleted(cupsd, job, 90);
    std::string errorLog = ReadWholeFile(cupsd.root + "/log/error_log");
    ASSERT_TRUE(completed) << job << " not completed; scheduler log tail:\n"
                           << errorLog.substr(errorLog.size() > 6000 ? errorLog.size() - 6000 : 0);
    EXPECT_NE(errorLog.find("[Job " + job.substr(job.rfind('-') + 1) + "] Job completed."), std::string::npos);
    // A failing filter would have stopped the queue.
    ProcessResult state = RunClient(cupsd, QUORIN_LPSTAT, {"-p", "quorin"});
    EXPECT_NE(state.out.find("printer quorin is idle"), std::string::npos) << state.out;

    std::string stream = ReadWholeFile(device);
    EXPECT_TRUE(StartsWithCancelPrefix(stream));
    EXPECT_TRUE(EntersVlgdi(stream));
    EXPECT_TRUE(EndsWithTrailer(stream));
    EXPECT_EQ(PjlSetting(stream, "DENSITY"), "3");
    EXPECT_EQ(PjlSetting(stream, "COPIES"), "1");

    // The scheduler counted the pages from the filter's PAGE: lines.
    std::string pageLog = ReadWholeFile(cupsd.root + "/log/page_log");
    EXPECT_NE(pageLog.find("quorin root " + job.substr(job.rfind('-') + 1) + " "), std::string::npos) << pageLog;
    EXPECT_NE(pageLog.find(" total 5 "), std::string::npos) << pageLog;
}
