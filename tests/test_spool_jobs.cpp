#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "decoded_job.h"
#include "files.h"
#include "raster_job.h"
#include "text_lines.h"

namespace {
const unsigned kSide = 256;

// A page has room for 31 bars: numbers wrap after barCycle pages.
const unsigned kBarCycle = 24;

// Page k of the job carries k + firstBars - 1 bars (wrapping after kBarCycle).
std::string WriteJob(const std::string& dir, unsigned pages, bool duplex, unsigned copies, bool collate = false,
                     unsigned firstBars = 1, unsigned damagedPage = 0)
{
    cups_page_header2_t h = MakePageHeader(kSide, kSide);
    h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
    h.NumCopies = copies;
    h.Collate = collate ? CUPS_TRUE : CUPS_FALSE;
    std::vector<TestPage> list;
    for (unsigned k = 1; k <= pages; ++k) {
        list.push_back(MakeNumberedPage(h, (k + firstBars - 2) % kBarCycle + 1));
        if (k == damagedPage)
            list.back().pixels.resize(h.cupsBytesPerLine * kSide / 3);
    }
    return WriteRasterJob(dir, list);
}

// Runs a job in its own TMPDIR and checks that it left no spool file there.
ProcessResult RunJob(const std::string& dir, const std::string& raster, const std::string& options,
                     std::vector<std::string> env = {})
{
    env.push_back("TMPDIR=" + dir);
    Spawned s = StartProgram(FilterFor(env), FilterArgs("1", options, raster), env, dir);
    ProcessResult r = WaitProgram(s);
    EXPECT_TRUE(SpoolFilesIn(dir).empty()) << dir;
    return r;
}

struct OrderCase {
    const char* what;
    unsigned pages;
    bool duplex;
    unsigned copies;
    bool collate;
    std::vector<int> expect;
};
} // namespace

TEST(SpoolJobs, PageOrderOfDuplexCollatedAndPlainJobs)
{
    const std::vector<OrderCase> cases = {
        {"duplex 1", 1, true, 1, false, {0, 1}},
        {"duplex 2", 2, true, 1, false, {2, 1}},
        {"duplex 3", 3, true, 1, false, {2, 1, 0, 3}},
        {"duplex 4", 4, true, 1, false, {2, 1, 4, 3}},
        {"duplex 5", 5, true, 1, false, {2, 1, 4, 3, 0, 5}},
        {"duplex 3, collate 2", 3, true, 2, true, {2, 1, 0, 3, 2, 1, 0, 3}},
        {"duplex 4, 3 uncollated", 4, true, 3, false, {2, 1, 4, 3}},
        {"simplex 2, collate 3", 2, false, 3, true, {1, 2, 1, 2, 1, 2}},
        {"simplex 3, collate 2", 3, false, 2, true, {1, 2, 3, 1, 2, 3}},
        {"no spool, 5 pages", 5, false, 1, false, {1, 2, 3, 4, 5}},
    };
    for (const OrderCase& c : cases) {
        std::string dir = MakeTempDir("order");
        std::string raster = WriteJob(dir, c.pages, c.duplex, c.copies, c.collate);
        ProcessResult r = RunJob(dir, raster, c.collate ? "Collate=true" : "");
        EXPECT_EQ(r.status, 0) << c.what << "\n" << Joined(ErrorLines(r.err));
        std::vector<std::string> problems;
        EXPECT_EQ(PageOrder(r.out, kSide, &problems), c.expect) << c.what;
        // The stream is sound and the trailer directly follows the last page.
        EXPECT_TRUE(problems.empty()) << c.what << "\n" << Joined(problems);
        bool spooled = c.duplex || (c.collate && c.copies > 1);
        EXPECT_EQ(r.err.find("DEBUG: Create Spool File ---------->") != std::string::npos, spooled) << c.what;
        // The scheduler counts every side printed, blank backs aside.
        EXPECT_EQ(PageCopiesTotal(r.err), c.pages * c.copies) << c.what;
        if (c.copies == 3 && !c.collate) {
            EXPECT_NE(r.out.find("@PJL SET COPIES=3\r\n"), std::string::npos);
        }
    }
}

// Copies from every source: the header, the copies argument (some raster
// makers leave the header at 1), the header's own Collate flag and the two
// collation options; never more than CUPS's own ceiling.
TEST(SpoolJobs, CopiesFromEverySource)
{
    struct Case {
        const char* what;
        unsigned headerCopies;
        bool headerCollate;
        const char* argvCopies;
        const char* options;
        const char* printerCopies; // nullptr: the job is refused
        std::vector<int> expect;
    };
    static const std::string manyDigits(300, '9');
    const Case cases[] = {
        {"argument only", 1, false, "3", "", "3", {1, 2}},
        {"argument, collated", 1, false, "3", "Collate=True", "1", {1, 2, 1, 2, 1, 2}},
        {"IPP collated", 1, false, "2", "multiple-document-handling=separate-documents-collated-copies", "1",
         {1, 2, 1, 2}},
        {"IPP uncollated wins over the header", 2, true, "1",
         "multiple-document-handling=separate-documents-uncollated-copies", "2", {1, 2}},
        {"header collates", 2, true, "1", "", "1", {1, 2, 1, 2}},
        {"option overrides the header", 3, true, "1", "collate=FALSE", "3", {1, 2}},
        {"header beats the argument", 2, false, "5", "", "2", {1, 2}},
        {"explicit Collate=False wins over IPP", 1, false, "2",
         "Collate=False multiple-document-handling=separate-documents-collated-copies", "2", {1, 2}},
        {"the most copies", 9999, false, "1", "", "9999", {1, 2}},
        {"ceiling", 10000, false, "1", "", nullptr, {}},
        {"300 digits", 1, false, manyDigits.c_str(), "Collate=True", nullptr, {}},
    };
    for (const Case& c : cases) {
        std::string dir = MakeTempDir("copies");
        std::string raster = WriteJob(dir, 2, false, c.headerCopies, c.headerCollate);
        Spawned sp = StartProgram(FilterPath(), FilterArgs(c.argvCopies, c.options, raster), {"TMPDIR=" + dir}, dir);
        ProcessResult r = WaitProgram(sp);
        std::vector<std::string> errors = ErrorLines(r.err);
        if (!c.printerCopies) {
            EXPECT_EQ(r.status, 1) << c.what;
            ASSERT_EQ(errors.size(), 1u) << c.what;
            EXPECT_NE(errors[0].find("asks for more than 9999 copies,"), std::string::npos) << errors[0];
            EXPECT_TRUE(r.out.empty()) << c.what;
            continue;
        }
        EXPECT_EQ(r.status, 0) << c.what << "\n" << Joined(errors);
        EXPECT_NE(r.out.find(std::string("@PJL SET COPIES=") + c.printerCopies + "\r\n"), std::string::npos)
            << c.what;
        EXPECT_EQ(PageOrder(r.out, kSide), c.expect) << c.what;
        // Each side sent is reported with the copies the printer makes of it.
        EXPECT_EQ(PageCopiesTotal(r.err), c.expect.size() * (unsigned)atoi(c.printerCopies)) << c.what;
    }
}

// Neither TMPDIR nor /tmp takes a spool file: the job ends before its
// header instead of printing duplex pages in the wrong order.
TEST(SpoolJobs, NoSpoolFolderEndsTheJobBeforeItStarts)
{
    std::string dir = MakeTempDir("nospool");
    std::string raster = WriteJob(dir, 2, true, 1);
    // A read-only /tmp in a mount namespace of its own (root only).
    ProcessResult r = RunProgram("/usr/bin/unshare",
                                 {"unshare", "-m", "/bin/sh", "-c",
                                  "mount -t tmpfs -o ro tmpfs /tmp || exit 77; exec \"$0\" 1 u t 1 '' \"$1\"",
                                  FilterPath(), raster},
                                 {"TMPDIR=" + dir + "/missing"});
    if (r.status == 77 || r.status == 127 || r.err.find("unshare: ") != std::string::npos)
        GTEST_SKIP() << "no private mount namespace here: " << r.err.substr(0, 200);
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> errors = ErrorLines(r.err);
    ASSERT_EQ(errors.size(), 1u) << Tail(r.err, 2000);
    EXPECT_NE(errors[0].find(dir + "/missing (No such file or directory) or in /tmp (Read-only file system)"),
              std::string::npos) << errors[0];
    EXPECT_TRUE(r.out.empty());
}

TEST(SpoolJobs, TwoDuplexJobsAtOnceShareTmpdirButNotTheSpool)
{
    std::string dir = MakeTempDir("twojobs");
    std::string a = MakeTempDir("twojobs-a"), b = MakeTempDir("twojobs-b");
    std::string rasA = WriteJob(a, 5, true, 1);
    std::string rasB = WriteJob(b, 4, true, 1, false, 6);
    // Three slots: the jobs take several polls each, so they overlap.
    std::vector<std::string> env = {"TMPDIR=" + dir, "QUORIN_TEST_FREE_MEMORY=2000000"};
    Spawned sa = StartProgram(SeamFilterPath(), FilterArgs("1", "", rasA), env, a);
    Spawned sb = StartProgram(SeamFilterPath(), FilterArgs("1", "", rasB), env, b);
    ProcessResult ra = WaitProgram(sa), rb = WaitProgram(sb);
    EXPECT_EQ(ra.status, 0);
    EXPECT_EQ(rb.status, 0);
    EXPECT_EQ(PageOrder(ra.out, kSide), (std::vector<int>{2, 1, 4, 3, 0, 5}));
    EXPECT_EQ(PageOrder(rb.out, kSide), (std::vector<int>{7, 6, 9, 8}));
    EXPECT_TRUE(SpoolFilesIn(dir).empty());
}

TEST(SpoolJobs, PlantedLinksAreLeftAlone)
{
    std::string dir = MakeTempDir("planted");
    std::string victim = dir + "/victim.txt";
    WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), (dir + "/swspool.dat").c_str()), 0);
    // Plant the fixed name in /tmp too, unless something is there already.
    const std::string tmpLink = "/tmp/swspool.dat";
    bool planted = symlink(victim.c_str(), tmpLink.c_str()) == 0;
    std::string raster = WriteJob(dir, 3, true, 2, true);

    ProcessResult inTmpdir = RunJob(dir, raster, "Collate=true");
    Spawned s = StartProgram(FilterPath(), FilterArgs("1", "Collate=true", raster), {"TMPDIR="}, dir);
    ProcessResult inSlashTmp = WaitProgram(s);
    if (planted) {
        char target[PATH_MAX] = {0};
        EXPECT_EQ(readlink(tmpLink.c_str(), target, sizeof target - 1), (ssize_t)victim.size());
        EXPECT_EQ(std::string(target), victim);
        unlink(tmpLink.c_str());
    }
    struct stat st;
    ASSERT_EQ(lstat((dir + "/swspool.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(victim), "precious");
    const std::vector<int> expect = {2, 1, 0, 3, 2, 1, 0, 3};
    EXPECT_EQ(inTmpdir.status, 0);
    EXPECT_EQ(PageOrder(inTmpdir.out, kSide), expect);
    EXPECT_EQ(inSlashTmp.status, 0);
    EXPECT_EQ(PageOrder(inSlashTmp.out, kSide), expect);
    EXPECT_NE(inSlashTmp.err.find("DEBUG: gSpoolFileHeader size = 8 ---------->"), std::string::npos);
}

// A cancel (SIGTERM) ends the job quietly with a whole stream, also while
// the upstream filter stalls and when the filter was started with the signal
// blocked; an abort from outside says so without blaming the JBIG coder; a
// printer stream that hits the file-size limit fails the job at once, without
// waiting for the stalled input. Each leaves no spool file, mid-job.
TEST(SpoolJobs, SignalledJobsLeaveNoSpool)
{
    struct Case {
        int sig;             // 0: the file-size limit fails the first page's write instead
        bool blockedAtStart; // as a parent's thread may leave it
    };
    for (Case c : {Case{SIGTERM, false}, Case{SIGTERM, true}, Case{SIGABRT, false}, Case{0, false}}) {
        const int sig = c.sig;
        std::string dir = MakeTempDir("signal");
        std::string raster = ReadFile(sig ? WriteJob(dir, 12, true, 2, true) : WriteJob(dir, 12, false, 1));
        // Six arguments: the raster comes through a pipe that the test holds open.
        std::vector<std::string> args = FilterArgs("1", "Collate=true", "");
        args.pop_back();
        if (!sig) {
            args[0] = FilterPath();
            // The job header fits, page 1 does not; the trace goes where no limit applies.
            args.insert(args.begin(), {"/bin/sh", "-c", "ulimit -f 3; exec \"$0\" \"$@\" 2> /dev/null"});
        }
        sigset_t block, old;
        sigemptyset(&block);
        sigaddset(&block, sig ? sig : SIGTERM);
        pthread_sigmask(c.blockedAtStart ? SIG_BLOCK : SIG_UNBLOCK, &block, &old);
        Spawned s = StartProgram(sig ? FilterPath() : "/bin/sh", args, {"TMPDIR=" + dir}, dir, true);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        // The first half of the raster: the job starts spooling and waits for
        // more. Under the limit, part of page 2: main waits inside it.
        const size_t part = raster.size() / (sig ? 2 : 8);
        ASSERT_EQ(write(s.stdinWrite, raster.data(), part), (ssize_t)part);
        bool spooling = false;
        for (int i = 0; i < 200 && !spooling && sig; ++i) {
            spooling = !SpoolFilesIn(dir).empty();
            if (!spooling)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(spooling || !sig);
        if (sig)
            kill(s.pid, sig);
        EXPECT_TRUE(EndsWithin(s, 30)) << "still waiting for input after signal " << sig
                                       << (c.blockedAtStart ? ", blocked at start" : "");
        ProcessResult r = WaitProgram(s);
        EXPECT_TRUE(SpoolFilesIn(dir).empty()) << sig;
        std::vector<std::string> errors = ErrorLines(r.err);
        if (!sig) {
            EXPECT_EQ(r.status, 1);
            continue;
        }
        if (sig == SIGABRT) {
            EXPECT_EQ(r.status, 128 + SIGABRT);
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_NE(errors[0].find("SIGABRT from another process"), std::string::npos) << errors[0];
            continue;
        }
        EXPECT_EQ(r.status, 0) << Joined(errors);
        EXPECT_NE(r.err.find("main::job canceled"), std::string::npos);
        // Nothing was replayed; the stream still ends with the trailer.
        std::vector<std::string> problems;
        std::vector<int> order = PageOrder(r.out, kSide, &problems);
        EXPECT_LT(order.size(), 12u);
        EXPECT_TRUE(problems.empty()) << Joined(problems);
    }
}

TEST(SpoolJobs, FailedJobsReportOnceAndLeaveNoSpool)
{
    // An unreadable third page: the pages before it go out once, no copies.
    std::string dir = MakeTempDir("damaged");
    ProcessResult damaged = RunJob(dir, WriteJob(dir, 3, true, 2, true, 1, 3), "Collate=true");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(ErrorLines(damaged.err).size(), 1u) << damaged.err;
    std::vector<std::string> problems;
    EXPECT_EQ(PageOrder(damaged.out, kSide, &problems), (std::vector<int>{2, 1}));
    EXPECT_TRUE(problems.empty()) << Joined(problems);

    // The backend went away: every write to standard output fails.
    dir = MakeTempDir("nobackend");
    std::string raster = WriteJob(dir, 4, true, 2, true);
    Spawned s = StartProgram(FilterPath(), FilterArgs("1", "Collate=true", raster), {"TMPDIR=" + dir}, dir, false, true);
    ProcessResult broken = WaitProgram(s);
    EXPECT_EQ(broken.status, 1);
    std::vector<std::string> errors = ErrorLines(broken.err);
    ASSERT_EQ(errors.size(), 1u) << broken.err;
    EXPECT_NE(errors[0].find("printer connection closed"), std::string::npos) << errors[0];
    EXPECT_TRUE(SpoolFilesIn(dir).empty());

    // The spool file cannot grow past 512 bytes: writes fail with EFBIG.
    dir = MakeTempDir("fullspool");
    raster = WriteJob(dir, 6, true, 1);
    std::vector<std::string> sh = {"/bin/sh", "-c", "ulimit -f 1; exec \"$0\" \"$@\"", FilterPath()};
    std::vector<std::string> args = FilterArgs("1", "", raster);
    sh.insert(sh.end(), args.begin() + 1, args.end());
    ProcessResult full = RunProgram("/bin/sh", sh, {"TMPDIR=" + dir});
    EXPECT_EQ(full.status, 1);
    errors = ErrorLines(full.err);
    ASSERT_EQ(errors.size(), 1u) << full.err;
    EXPECT_NE(errors[0].find("spool file failed"), std::string::npos) << errors[0];
    EXPECT_TRUE(SpoolFilesIn(dir).empty());
    std::vector<int> order = PageOrder(full.out, kSide, &problems);
    EXPECT_LT(order.size(), 6u);
    EXPECT_TRUE(problems.empty()) << Joined(problems);

    // The printer stream takes the job header and page 1 only; the input
    // ends inside page 4, which is read while page 2 is held back. Page 2's
    // failure comes first in the job: it is the one reported, and only page 1
    // is counted as printed.
    dir = MakeTempDir("twofailures");
    raster = WriteJob(dir, 4, false, 1, false, 1, 4);
    sh = {"/bin/sh", "-c", "ulimit -f 4; exec \"$0\" \"$@\" > \"$OUT\"", SeamFilterPath()};
    sh.insert(sh.end(), args.begin() + 1, args.end());
    sh.back() = raster;
    ProcessResult two = RunProgram("/bin/sh", sh, {"QUORIN_TEST_HOLD_PAGE=2", "OUT=" + dir + "/out.prn"});
    EXPECT_EQ(two.status, 1);
    errors = ErrorLines(two.err);
    ASSERT_EQ(errors.size(), 1u) << two.err;
    EXPECT_NE(errors[0].find("while page 2 was being sent (File too large)"), std::string::npos) << errors[0];
    EXPECT_EQ(LineTails(two.err, "PAGE: "), (std::vector<std::string>{"1 1"}));
}

// Flushes in the page loop race the compression thread's appends: with three
// slots main waits for each page to be written, so most pairs leave early.
TEST(SpoolJobs, LongDuplexJobWithFlushesRacingAppends)
{
    const unsigned n = 48;
    std::string dir = MakeTempDir("stress");
    ProcessResult r = RunJob(dir, WriteJob(dir, n, true, 1), "", {"QUORIN_TEST_FREE_MEMORY=2000000"});
    EXPECT_EQ(r.status, 0) << Joined(ErrorLines(r.err));
    std::vector<int> expect;
    for (unsigned k = 0; k < n; k += 2) {
        expect.push_back((k + 1) % kBarCycle + 1);
        expect.push_back(k % kBarCycle + 1);
    }
    EXPECT_EQ(PageOrder(r.out, kSide), expect);
    // Count the pairs that left while pages were still being read.
    size_t loopEnd = r.err.find("main::start wait image thread");
    ASSERT_NE(loopEnd, std::string::npos);
    std::string loop = r.err.substr(0, loopEnd);
    EXPECT_GE(Occurrences(loop, "PAGE: "), n / 2) << "the page loop's flushes sent too little";
}
