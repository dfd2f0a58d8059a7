#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core_share.h"
#include "decoded_job.h"
#include "files.h"
#include "raster_job.h"
#include "text_lines.h"

TEST(PagePipeline, EveryPageIsWrittenWithOneSlot)
{
    cups_page_header2_t h = MakePageHeader(128, 96);
    // Room for one page of 52,224 bytes reckoned, not for two.
    ProcessResult r = RunFilterOnPages("oneslot", NumberedPages(h, 4), {"QUORIN_TEST_FREE_MEMORY=100000"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("DEBUG: gMAX_THREAD = 1 ---------->"), std::string::npos);
    EXPECT_NE(r.err.find("main::wait buffer index 0!"), std::string::npos) << "later pages never waited";
    EXPECT_NE(r.err.find("JbigThread::exit print out 4 pages"), std::string::npos);
    EXPECT_TRUE(ErrorLines(r.err).empty());
}

TEST(PagePipeline, TruncatedStreamEndsTheJobWithAnError)
{
    cups_page_header2_t h = MakePageHeader(128, 96);
    TestPage second = MakeNumberedPage(h, 2);
    second.pixels.resize(h.cupsBytesPerLine * 50);
    ProcessResult r = RunFilterOnPages("trunc", {MakeNumberedPage(h, 1), second});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("GetCUPSPageData fail!"), std::string::npos);
    std::vector<std::string> errors = ErrorLines(r.err);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_NE(errors[0].find("ended inside page 2"), std::string::npos) << errors[0];
    // The page read before the failure still went through.
    EXPECT_NE(r.err.find("JbigThread::exit print out 1 pages"), std::string::npos);
}

TEST(PagePipeline, LyingAndHugeHeadersAreRefusedBeforeAllocation)
{
    struct Case {
        const char* what;
        cups_page_header2_t header;
        const char* expect;
        std::vector<std::string> env;
    };
    cups_page_header2_t lying = MakePageHeader(128, 96);
    lying.cupsBytesPerLine = 100;
    cups_page_header2_t huge = MakePageHeader(40000, 8);
    cups_page_header2_t cmyk = MakePageHeader(128, 96, 32, CUPS_CSPACE_CMYK);
    cmyk.cupsColorOrder = CUPS_ORDER_CHUNKED;
    // The largest page there is, where the filter has 500 MB: a 2 GB page
    // would not fail cleanly under a memory cgroup, the kernel would kill it.
    cups_page_header2_t largest = MakePageHeader(32736, 65504);
    for (const Case& c : {Case{"lying", lying, "raster header of page 1 is damaged", {}},
                          Case{"huge", huge, "Page 1 cannot be printed (page too large", {}},
                          Case{"cmyk", cmyk, "Page 1 cannot be printed (unsupported raster layout", {}},
                          Case{"largest", largest, "Page 1 needs about 512 MB of memory (its one-bit page, room for its coded data and the gray "
                               "bands), more than the 476 MB",
                               {"QUORIN_TEST_FREE_MEMORY=500000000"}}}) {
        TestPage p;
        p.header = c.header;
        p.pixels.assign(4096, 0xFF);
        auto start = std::chrono::steady_clock::now();
        std::string path = MakeTempDir(c.what) + "/job.ras";
        ASSERT_TRUE(WriteUncheckedRasterFile(path, {p}));
        ProcessResult r = RunFilterOnFile(path, "", c.env);
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.status, 1) << c.what;
        std::vector<std::string> errors = ErrorLines(r.err);
        ASSERT_EQ(errors.size(), 1u) << c.what << r.err;
        EXPECT_NE(errors[0].find(c.expect), std::string::npos) << errors[0];
        EXPECT_LT(secs, 30.0) << c.what << " hung";
    }
}

TEST(PagePipeline, CountsEveryPageOfALongJob)
{
    cups_page_header2_t h = MakePageHeader(96, 64);
    std::vector<TestPage> pages;
    for (unsigned k = 1; k <= 20; ++k)
        pages.push_back(MakeNumberedPage(h, k % 7));
    ProcessResult r = RunFilterOnPages("twenty", pages);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("JbigThread::exit print out 20 pages"), std::string::npos);
    EXPECT_EQ(CountLinesStartingWith(r.err, "DEBUG: ImageProcThread::exit image process thread page"), 20);
}

// Only a clean end after a whole page ends a job quietly; every other end of
// the input is one ERROR: line, with the pages before it printed.
TEST(PagePipeline, EveryEndOfTheInputIsReported)
{
    cups_page_header2_t h = MakePageHeader(128, 96);
    const std::vector<TestPage> pages = {MakeNumberedPage(h, 1), MakeNumberedPage(h, 2)};
    // Compressed (v2), plain (v3), and the first version's shorter headers.
    for (const char* mode : {"compressed", "plain", "version 1"}) {
        const bool v1 = mode[0] == 'v';
        const size_t hdr = v1 ? sizeof(cups_page_header_t) : sizeof(cups_page_header2_t);
        std::string dir = MakeTempDir("cut");
        auto write = [&](const std::string& path, size_t n) {
            std::vector<TestPage> some(pages.begin(), pages.begin() + (long)n);
            if (mode[0] == 'c')
                return WriteRasterFile(path, some);
            if (!v1)
                return WriteUncheckedRasterFile(path, some);
            const unsigned sync = CUPS_RASTER_SYNCv1; // "RaSt" in native order
            std::string bytes(reinterpret_cast<const char*>(&sync), sizeof sync);
            for (const TestPage& p : some)
                bytes += std::string(reinterpret_cast<const char*>(&p.header), hdr) +
                         std::string(p.pixels.begin(), p.pixels.end());
            return WriteFile(path, bytes);
        };
        ASSERT_TRUE(write(dir + "/one.ras", 1) && write(dir + "/two.ras", 2));
        const std::string full = ReadFile(dir + "/two.ras");
        const size_t onePage = ReadFile(dir + "/one.ras").size();
        struct Cut {
            const char* what;
            size_t at;
            size_t printed;
            const char* error; // nullptr: a clean end, status 0
        } cuts[] = {
            {"no byte", 0, 0, nullptr},
            {"sync word", 2, 0, "not a CUPS raster stream"},
            {"first header", 4 + 100, 0, "ended inside the header of page 1"},
            {"first page", 4 + hdr + 10, 0, "ended inside page 1"},
            {"between pages", onePage, 1, nullptr},
            {"second header", onePage + hdr - 1, 1, "ended inside the header of page 2"},
            {"second page", onePage + hdr + 10, 1, "ended inside page 2"},
            {"whole", full.size(), 2, nullptr},
        };
        for (const Cut& c : cuts) {
            std::string what = std::string(mode) + ", " + c.what;
            std::string path = dir + "/cut.ras";
            FILE* f = fopen(path.c_str(), "wb");
            ASSERT_TRUE(f && fwrite(full.data(), 1, c.at, f) == c.at && fclose(f) == 0) << what;
            ProcessResult r = RunFilterOnFile(path);
            std::vector<std::string> errors = ErrorLines(r.err);
            EXPECT_EQ(r.status, c.error ? 1 : 0) << what << "\n" << Joined(errors);
            ASSERT_EQ(errors.size(), c.error ? 1u : 0u) << what << "\n" << Joined(errors);
            if (c.error) {
                EXPECT_NE(errors[0].find(c.error), std::string::npos) << what << ": " << errors[0];
            }
            DecodedJob job = DecodeJob(r.out);
            EXPECT_EQ(job.pages.size(), c.printed) << what;
            // A job that printed nothing wrote nothing; one that did ends well-formed.
            EXPECT_EQ(r.out.empty(), c.printed == 0 && c.at < 4 + hdr) << what;
            if (!r.out.empty()) {
                EXPECT_TRUE(job.ok && job.report.hasTrailer) << what << Joined(job.report.problems);
            }
        }
    }
}

TEST(PagePipeline, UnreadableInputIsReported)
{
    std::string dir = MakeTempDir("unreadable");
    // A folder opens like a file but cannot be read; so does a closed stdin.
    ProcessResult folder = RunFilterOnFile(dir);
    ProcessResult closed = RunProgram("/bin/sh", {"/bin/sh", "-c", "exec \"$0\" 1 u t 1 '' <&-", FilterPath()});
    for (const ProcessResult* r : {&folder, &closed}) {
        EXPECT_EQ(r->status, 1);
        std::vector<std::string> errors = ErrorLines(r->err);
        ASSERT_EQ(errors.size(), 1u) << r->err;
        EXPECT_NE(errors[0].find("could not be read"), std::string::npos) << errors[0];
        EXPECT_TRUE(r->out.empty());
    }
}

// Under an address-space limit every page still prints: pages wait for the
// memory of earlier ones, also when a tiny first page made room for many.
TEST(PagePipeline, AddressSpaceLimitStillPrintsEveryPage)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve far more address space than the limit";
#endif
    cups_page_header2_t a4 = MakePageHeader(2480, 3508); // A4 at 300 dpi
    TestPage gray = MakeNumberedPage(a4, 1);
    FillRect(&gray, 100, 1000, 2200, 2000, 128);
    for (bool tinyFirst : {false, true}) {
        std::vector<TestPage> pages;
        if (tinyFirst)
            pages.push_back(MakeNumberedPage(MakePageHeader(32, 32), 1));
        pages.insert(pages.end(), 8, gray);
        std::string raster = WriteRasterJob(MakeTempDir(tinyFirst ? "aslimit-tiny" : "aslimit"), pages);
        ProcessResult r = RunProgram("/bin/sh", {"/bin/sh", "-c", "ulimit -v 90000 && exec \"$0\" 1 u t 1 '' \"$1\"",
                                                 FilterPath(), raster});
        EXPECT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
        EXPECT_EQ(DecodeJob(r.out).pages.size(), pages.size()) << (tinyFirst ? "tiny first page" : "");
    }
}

// Heavy and light pages alternate and page 2 is held back, so the workers
// finish out of page order; the writer still sends the pages in order, to the
// printer and through the spool.
TEST(PagePipeline, PagesFinishingOutOfOrderLeaveInOrder)
{
    const unsigned side = 1024, count = 16;
    for (bool duplex : {false, true}) {
        cups_page_header2_t h = MakePageHeader(side, side);
        h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
        std::vector<TestPage> pages;
        std::vector<int> want;
        for (unsigned k = 1; k <= count; ++k) {
            pages.push_back(MakeNumberedPage(h, k));
            // Screened gray (right of the bars, whose count names the page)
            // is slow to code; a page of strokes is quick.
            if (k % 2)
                FillRect(&pages.back(), side * 5 / 8, 0, side * 3 / 8, side, 128);
            want.push_back(duplex ? (k % 2 ? (int)k + 1 : (int)k - 1) : (int)k);
        }
        ProcessResult r = RunFilterOnPages("outoforder", pages, {"QUORIN_TEST_HOLD_PAGE=2"});
        ASSERT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
        std::vector<std::string> problems;
        EXPECT_EQ(PageOrder(r.out, side, &problems), want) << (duplex ? "duplex" : "simplex");
        EXPECT_TRUE(problems.empty()) << Joined(problems);
        // The workers did finish out of order, or the test proves nothing.
        std::vector<unsigned> finished;
        for (const std::string& line : SplitLines(r.err)) {
            unsigned page;
            if (sscanf(line.c_str(), "DEBUG: ImageProcThread::exit image process thread page %u", &page) == 1)
                finished.push_back(page);
        }
        ASSERT_EQ(finished.size(), count);
        EXPECT_FALSE(std::is_sorted(finished.begin(), finished.end())) << "workers finished in order";
    }
}

// The trace follows the steps in their order: the edge filter's kernel and
// threshold, the wait for the last page, the stop of the compression thread,
// the final flush (also of a job without a spool file) and the copies.
TEST(PagePipeline, TraceShowsTheStepsInOrder)
{
    cups_page_header2_t h = MakePageHeader(128, 96);
    for (bool duplex : {false, true}) {
        h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
        ProcessResult r = RunFilterOnPages("trace", NumberedPages(h, 2));
        ASSERT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
        // A worker's steps, and main's: each in its own order.
        std::vector<std::vector<std::string>> threads = {
            {"DoBorderQuality::Apply Filter", "ApplyFilter3x3 In, width = 128, height = 96, lines = 96, bits = 8",
             "ApplyFilter3x3::MatrixCount = 1", "DoBorderQuality::Convert to Lineart",
             "GrayToLineart In, threshold = 220"},
            {"main::start wait image thread", "main::page 1 status ", "main::end wait thread (new)",
             "main::end wait thread, gJbigThreadExit = 1", "main::jbigthread stop",
             duplex ? "PJL_FlushPage::Total pages 2" : "PJL_FlushPage::Total pages 0"}};
        if (duplex)
            threads[1].insert(threads[1].end(), {"main::Print Out Spool Data, Total Pages = 2",
                                                 "main::bDriverDoCollate = 0", "main::bDuplex = 1",
                                                 "main::nCopies = 1"});
        for (const std::vector<std::string>& steps : threads) {
            size_t at = 0;
            for (const std::string& step : steps) {
                at = r.err.find("DEBUG: " + step, at);
                ASSERT_NE(at, std::string::npos) << (duplex ? "duplex: " : "simplex: ") << step;
            }
        }
    }
}

// A core that comes free goes to the earliest page waiting for one, not to
// the thread that asked first: later pages never slow an earlier one.
TEST(CoreShare, AFreeCoreGoesToTheEarliestPageWaiting)
{
    auto waitFor = [](auto done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        return done();
    };
    SetJobCores(2);
    TakeCore(0);
    TakeCore(0);
    std::mutex lock;
    std::vector<DWORD> served;
    auto page = [&](DWORD n) {
        TakeCore(n);
        std::lock_guard<std::mutex> hold(lock);
        served.push_back(n);
    };
    std::thread later(page, 7);
    ASSERT_TRUE(waitFor([] { return CoreWaiters() == 1; }));
    std::thread earlier(page, 3);
    ASSERT_TRUE(waitFor([] { return CoreWaiters() == 2; }));
    GiveCore();
    ASSERT_TRUE(waitFor([&] { std::lock_guard<std::mutex> hold(lock); return served.size() == 1; }));
    GiveCore();
    later.join();
    earlier.join();
    EXPECT_EQ(served, (std::vector<DWORD>{3, 7}));
}
