#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "bytes.h"
#include "files.h"
#include "job_flags.h"
#include "job_info.h"
#include "job_status.h"
#include "printer_stream.h"
#include "spool_flush.h"
#include "spool_store.h"
#include "text_lines.h"

namespace {
// A record shaped like a page record: ESC E, a 32-byte header whose width
// field carries k, then compLen data bytes that also depend on k.
std::string MakeRecord(DWORD k, DWORD compLen)
{
    std::string r(PAGE_RECORD_PREFIX + compLen, '\0');
    r.replace(0, PAGE_LEAD_IN_SIZE, PAGE_LEAD_IN);
    r.replace(PAGE_LEAD_IN_SIZE + PH_IDF, 4, PAGE_HEADER_IDF, 4);
    PutLe32(&r, PAGE_LEAD_IN_SIZE + PH_PAGE_WIDTH, k);
    for (DWORD i = 0; i < compLen; ++i)
        r[PAGE_RECORD_PREFIX + i] = (char)(k * 31 + i);
    return r;
}

std::string ReadBack(DWORD index)
{
    DWORD size = GetPageDataSize(index);
    std::string buf(size, '\0');
    if (size == 0 || !GetPageData(index, size, &buf[0]))
        return "";
    return buf;
}

// Each test gets its own TMPDIR and a fresh spool file in it.
class SpoolStore : public testing::Test {
protected:
    void SetUp() override
    {
        const char* old = getenv("TMPDIR");
        hadTmp_ = old != nullptr;
        if (old)
            oldTmp_ = old;
        dir_ = MakeTempDir("spool");
        setenv("TMPDIR", dir_.c_str(), 1);
        ResetJobStatus();
        testing::internal::CaptureStderr();
        created_ = CreateSpoolFile();
        log_ = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(created_);
    }
    void TearDown() override
    {
        RemoveSpoolFile();
        if (hadTmp_)
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    std::string dir_, log_, oldTmp_;
    bool hadTmp_ = false;
    BOOL created_ = FALSE;
};
} // namespace

TEST_F(SpoolStore, CreatesAPrivateFileWithAnEmptyHeader)
{
    std::string name = gSpolFileName;
    EXPECT_EQ(name.rfind(dir_ + "/swspool", 0), 0u) << name;
    EXPECT_EQ(gSaveToFile.load(), TRUE);
    struct stat st;
    ASSERT_EQ(lstat(name.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string file = ReadFile(name);
    EXPECT_EQ(file, std::string("\0\0\0\0\x08\0\0\0", 8));
    EXPECT_NE(log_.find("DEBUG: Create Spool File ---------->"), std::string::npos);
    EXPECT_NE(log_.find("DEBUG: gSpoolFileHeader size = 8 ---------->"), std::string::npos);

    RemoveSpoolFile();
    EXPECT_TRUE(DirEntries(dir_).empty());
    EXPECT_EQ(gSaveToFile.load(), FALSE);
    EXPECT_EQ(gSpolFileName[0], '\0');
    RemoveSpoolFile(); // a second call on another path is harmless
}

TEST_F(SpoolStore, NAppendsKeepBothHeadersAndTheLengthRule)
{
    const DWORD n = 7;
    size_t expectLen = 8;
    testing::internal::CaptureStderr();
    for (DWORD k = 0; k < n; ++k) {
        std::string rec = MakeRecord(k, 100 + 37 * k);
        ASSERT_TRUE(SpoolPageRecord(rec.data(), (DWORD)rec.size()));
        expectLen += 4 + rec.size();
    }
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("JbigThread::gSaveToFile = 1, gSpoolPageHeader.dataLen = 356 ----"), std::string::npos);
    EXPECT_NE(log.find("JbigThread::gSaveToFile = 1, gSpoolFileHeader.pages = 7 ----"), std::string::npos);
    EXPECT_EQ(gSpoolFileHeader.pages, n);
    EXPECT_EQ(gSpoolFileHeader.bfOffBits, 8u);
    EXPECT_EQ(SpoolPageCount(), n);

    std::string file = ReadFile(gSpolFileName);
    ASSERT_EQ(file.size(), expectLen);
    EXPECT_EQ(Le32(file, 0), n);
    EXPECT_EQ(Le32(file, 4), 8u);
    // Walk the file independently and compare each body with what went in.
    size_t at = 8;
    for (DWORD k = 0; k < n; ++k) {
        std::string rec = MakeRecord(k, 100 + 37 * k);
        ASSERT_EQ(Le32(file, at), rec.size()) << k;
        EXPECT_EQ(file.substr(at + 4, rec.size()), rec) << k;
        at += 4 + rec.size();
        EXPECT_EQ(ReadBack(k), rec) << k;
    }
}

TEST_F(SpoolStore, OnePageOfAThousandBytesIs1046BytesLong)
{
    std::string rec = MakeRecord(1, 1000);
    ASSERT_TRUE(SpoolAppend(rec.data(), (DWORD)rec.size()));
    std::string file = ReadFile(gSpolFileName);
    EXPECT_EQ(file.size(), 1046u);
    const BYTE lead[] = {0x01, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x0A, 0x04, 0x00, 0x00, 0x1B, 0x45};
    EXPECT_EQ(file.substr(0, sizeof lead), std::string((const char*)lead, sizeof lead));
}

TEST_F(SpoolStore, BadIndexAndSmallBufferAreRefused)
{
    for (DWORD k = 0; k < 3; ++k) {
        std::string rec = MakeRecord(k, 10 + k);
        ASSERT_TRUE(SpoolAppend(rec.data(), (DWORD)rec.size()));
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetPageDataSize(3), 0u);
    char buf[64];
    EXPECT_FALSE(GetPageData(3, sizeof buf, buf));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("DEBUG: Page Index 3 Error, Total pages 3 ---------->"), std::string::npos);
    EXPECT_EQ(GetPageDataSize(2), 34u + 12u);

    memset(buf, 0x5A, sizeof buf);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(GetPageData(2, 45, buf));
    log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("DEBUG: Page [2] Buffer too Small 45 / 46 ---------->"), std::string::npos);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(sizeof buf, 0x5A)); // untouched
    ASSERT_TRUE(GetPageData(2, 46, buf));
    EXPECT_EQ(std::string(buf, 46), MakeRecord(2, 12));
    EXPECT_FALSE(SpoolFailed()); // refusals are not file failures
}

TEST_F(SpoolStore, FailedReadsAndWritesAreReportedAndStopTheStore)
{
    std::string rec = MakeRecord(0, 50);
    ASSERT_TRUE(SpoolAppend(rec.data(), (DWORD)rec.size()));
    ASSERT_TRUE(SpoolAppend(rec.data(), (DWORD)rec.size()));
    // The file loses its tail behind the store's back: the read must fail.
    ASSERT_EQ(truncate(gSpolFileName, 8 + 4 + 84 + 4 + 40), 0);
    std::string buf(84, '\0');
    testing::internal::CaptureStderr();
    EXPECT_FALSE(GetPageData(1, 84, &buf[0]));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(SpoolFailed());
    EXPECT_NE(std::string(JobFailureText()).find("unexpected end"), std::string::npos);
    EXPECT_NE(log.find("Spool file failure"), std::string::npos);
    // Once broken, nothing more is appended behind an unknown tail.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SpoolAppend(rec.data(), (DWORD)rec.size()));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(SpoolPageCount(), 2u);
}

TEST(SpoolCreation, FreshNamePerJobAndTmpWhenTmpdirIsMissing)
{
    std::string dir = MakeTempDir("spoolname");
    setenv("TMPDIR", (dir + "/").c_str(), 1);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(CreateSpoolFile());
    std::string first = gSpolFileName;
    EXPECT_EQ(first.rfind(dir + "/swspool", 0), 0u) << first;
    // Hand the file to "another job": it stays while a second one is made.
    fclose(gSpoolFileHandle);
    gSpoolFileHandle = nullptr;
    gSpolFileName[0] = '\0';
    ASSERT_TRUE(CreateSpoolFile());
    EXPECT_NE(first, std::string(gSpolFileName));
    RemoveSpoolFile();
    unlink(first.c_str());

    setenv("TMPDIR", (dir + "/missing").c_str(), 1);
    ASSERT_TRUE(CreateSpoolFile());
    EXPECT_EQ(std::string(gSpolFileName).rfind("/tmp/swspool", 0), 0u) << gSpolFileName;
    RemoveSpoolFile();
    unsetenv("TMPDIR");
    testing::internal::GetCapturedStderr();
}

// The page loop's flush against the compression thread's appends: every
// lookup must see whole records, in order, with the bytes that went in.
TEST_F(SpoolStore, AppendsAndLookupsNeverInterleave)
{
    const DWORD n = 300;
    std::atomic<bool> done{false};
    testing::internal::CaptureStderr();
    std::thread writer([&] {
        for (DWORD k = 0; k < n; ++k) {
            std::string rec = MakeRecord(k, 1 + (k * 97) % 700);
            if (!SpoolAppend(rec.data(), (DWORD)rec.size()))
                break;
        }
        done = true;
    });
    DWORD checked = 0, mismatches = 0;
    while (!done.load() || checked < SpoolPageCount()) {
        DWORD seen = SpoolPageCount();
        for (; checked < seen; ++checked)
            if (ReadBack(checked) != MakeRecord(checked, 1 + (checked * 97) % 700))
                ++mismatches;
        // Re-read an early record too, so lookups run while the file grows.
        if (seen > 0 && ReadBack(seen / 2) != MakeRecord(seen / 2, 1 + ((seen / 2) * 97) % 700))
            ++mismatches;
    }
    writer.join();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(checked, n);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_FALSE(SpoolFailed());
}

namespace {
std::string Concat(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& p : parts)
        all += p;
    return all;
}
} // namespace

TEST_F(SpoolStore, FlushesAndReplaysKeepDuplexPairsAndSimplexPageOrder)
{
    std::vector<std::string> r;
    for (DWORD k = 0; k < 6; ++k)
        r.push_back(MakeRecord(k, 20 + k));
    for (DWORD k = 0; k < 5; ++k)
        ASSERT_TRUE(SpoolAppend(r[k].data(), (DWORD)r[k].size()));

    // Five pages of a duplex job, the sixth record its blank back side; the
    // printer makes 2 copies of each side.
    const SpoolSheets duplex = {TRUE, 5};
    DWORD finished = 0;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PJL_FlushPage(&finished, &duplex, 2)); // the odd fifth page waits
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, Concat({r[1], r[0], r[3], r[2]}));
    EXPECT_EQ(finished, 4u);
    ASSERT_TRUE(SpoolAppend(r[5].data(), (DWORD)r[5].size()));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PJL_FlushPage(&finished, &duplex, 2));
    EXPECT_TRUE(PJL_FlushPage(&finished, &duplex, 2)); // nothing is sent twice
    EXPECT_TRUE(ReplaySpooledCopies(3, TRUE, &duplex));
    out = testing::internal::GetCapturedStdout();
    std::string log = testing::internal::GetCapturedStderr();
    std::string copy = Concat({r[1], r[0], r[3], r[2], r[5], r[4]});
    EXPECT_EQ(out, Concat({r[5], r[4]}) + copy + copy);
    EXPECT_EQ(finished, 6u);
    // The scheduler hears of each document side once a copy, with the
    // printer's copies on the first; never of the blank back side.
    EXPECT_EQ(LineTails(log, "PAGE: "), (std::vector<std::string>{"2 2", "1 2", "4 2", "3 2", "5 2", "2 1", "1 1", "4 1",
                                                                  "3 1", "5 1", "2 1", "1 1", "4 1", "3 1", "5 1"}));
    EXPECT_NE(log.find("DEBUG: PJL_FlushPage::Total pages 4 ---------->"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: main::nPageOffset = 2 ---------->"), std::string::npos);

    // Spooled only for collated copies: page order, also for an odd count.
    RemoveSpoolFile();
    ASSERT_TRUE(CreateSpoolFile());
    for (DWORD k = 0; k < 3; ++k)
        ASSERT_TRUE(SpoolAppend(r[k].data(), (DWORD)r[k].size()));
    const SpoolSheets simplex = {FALSE, 3};
    finished = 0;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PJL_FlushPage(&finished, &simplex, 1));
    EXPECT_TRUE(ReplaySpooledCopies(2, TRUE, &simplex));
    out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, Concat({r[0], r[1], r[2], r[0], r[1], r[2]}));
    EXPECT_EQ(finished, 3u);

    // A cancelled job sends nothing more.
    ASSERT_TRUE(SpoolAppend(r[3].data(), (DWORD)r[3].size()));
    NoteJobCanceled();
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PJL_FlushPage(&finished, &simplex, 1));
    EXPECT_TRUE(ReplaySpooledCopies(5, TRUE, &simplex));
    out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ResetJobStatus();
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(finished, 3u);
}

TEST_F(SpoolStore, BlankPageIsA36ByteRecordWithTheLastPagesGeometry)
{
    std::string rec = MakeRecord(0, 40);
    ASSERT_TRUE(SpoolAppend(rec.data(), (DWORD)rec.size()));
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    h.cupsWidth = 2479;
    h.cupsHeight = 3508;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.cupsMediaType = 2;
    h.MediaPosition = 1;
    BYTE jobID[] = "17";
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PJL_SaveBlankPage(jobID, 1, h));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("DEBUG: PJL_SaveBlankPage::linebyte = 312 ---------->"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: PJL_SaveBlankPage::Total pages 1 ---------->"), std::string::npos);
    EXPECT_EQ(SpoolPageCount(), 2u);

    std::string file = ReadFile(gSpolFileName);
    ASSERT_EQ(file.size(), 8 + 4 + rec.size() + 4 + 36);
    std::string blank = file.substr(8 + 4 + rec.size());
    EXPECT_EQ(blank.substr(0, 10), std::string("\x24\0\0\0\x1B\x45GDI\0", 10));
    EXPECT_EQ(Le32(blank, 4 + 2 + 4), 2496u);            // width
    EXPECT_EQ(Le32(blank, 4 + 2 + 8), 3520u);            // height
    EXPECT_EQ(Le32(blank, 4 + 2 + 12), 312u * 3520u);    // one-bit data size
    EXPECT_EQ(Le32(blank, 4 + 2 + 16), 2u);              // compressed size
    EXPECT_EQ(Le32(blank, 4 + 2 + 20), 0u);              // black dots
    EXPECT_EQ((BYTE)blank[4 + 2 + 24], 2);               // A4
    EXPECT_EQ((BYTE)blank[4 + 2 + 25], 17);              // thick
    EXPECT_EQ((BYTE)blank[4 + 2 + 26], 1);               // tray
    EXPECT_EQ(blank.substr(4 + 34), std::string("\xFF\x02", 2));
    EXPECT_EQ(ReadBack(1), blank.substr(4));

    // A page already padded keeps its size: not one stripe of 32 more.
    h.cupsWidth = 2496;
    h.cupsHeight = 3520;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PJL_SaveBlankPage(jobID, 2, h));
    testing::internal::GetCapturedStderr();
    std::string again = ReadBack(2);
    EXPECT_EQ(Le32(again, 2 + 4), 2496u);
    EXPECT_EQ(Le32(again, 2 + 8), 3520u);
}
