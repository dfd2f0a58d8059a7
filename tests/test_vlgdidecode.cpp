#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bytes.h"
#include "files.h"
#include "filter_process.h"
#include "page_record.h"
#include "page_slots.h"
#include "pjl_job.h"
#include "stream_parser.h"
#include "test_pages.h"
#include "text_lines.h"

namespace {
struct Page {
    DWORD width, height;
    std::vector<BYTE> bits; // empty: the spool's blank page record
};

Page TextPage(DWORD w, DWORD h, unsigned seed)
{
    Page p{w, h, std::vector<BYTE>(w / 8 * h, 0)};
    std::mt19937 rng(seed);
    for (DWORD y = 8; y + 12 < h; y += 20)
        for (DWORD x = 1; x + 2 < w / 8; x += 2 + rng() % 3)
            for (DWORD dy = 0; dy < 10; ++dy)
                p.bits[(y + dy) * (w / 8) + x] = (BYTE)rng();
    return p;
}

std::string Record(const Page& p)
{
    OneBitSlot slot(p.width, p.height, p.bits);
    return slot.Run([&p](JobInfo* job) {
        if (p.bits.empty()) {
            char h[PAGE_HEADER_SIZE];
            PJL_WritePageHeader(job, h, 2);
            return PAGE_LEAD_IN + std::string(h, sizeof h) + JBIG_DATA_END;
        }
        DWORD len = 0;
        BYTE* r = BuildPageRecord(job, &len);
        std::string rec(reinterpret_cast<char*>(r), len);
        free(r);
        return rec;
    });
}

// A stream from the filter's own writers: prefix, block, JCL, records, trailer.
std::string MakeStream(const std::vector<Page>& pages, std::vector<size_t>* recordAt = nullptr)
{
    cups_page_header2_t h = MakePageHeader(4961, 7016);
    struct tm t;
    memset(&t, 0, sizeof t);
    char block[PJL_BLOCK_SIZE], trailer[PJL_BLOCK_SIZE];
    int n = PJL_BuildStartJobBlock_Quorin(&h, "queue", "alice", "Report", "host", "1", FALSE, &t, 1, block);
    std::string s = std::string(DrvCancelStr) + std::string(PJL_ZERO_RUN, '\0') + std::string(block, (size_t)n);
    s += "\x1b%-12345X@PJL SET PAGEPROTECT=AUTO\r\n";
    for (const Page& p : pages) {
        if (recordAt)
            recordAt->push_back(s.size());
        s += Record(p);
    }
    return s + std::string(trailer, (size_t)PJL_BuildCloseJobBlock(trailer));
}

bool Parse(const std::string& s, StreamReport* r, ParseOptions o = ParseOptions())
{
    return ParsePrinterStream(reinterpret_cast<const uint8_t*>(s.data()), s.size(), o, r);
}

std::string WriteTemp(const std::string& bytes, const std::string& name)
{
    std::string path = MakeTempDir("vlgdi") + "/" + name;
    WriteFile(path, bytes);
    return path;
}

const std::vector<Page> kPages = {TextPage(256, 128, 1), {64, 32, {}}, TextPage(64, 64, 2)};
} // namespace

TEST(StreamParser, WalksAStreamOfTheFiltersWritersAndDecodesItsPages)
{
    std::string s = MakeStream(kPages);
    std::vector<std::vector<BYTE>> seen;
    ParseOptions o;
    o.onPage = [&](const StreamPage& p, const uint8_t* bits) {
        seen.emplace_back(bits, bits + p.width / 8 * p.height);
        return true;
    };
    StreamReport r;
    ASSERT_TRUE(Parse(s, &r, o)) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.cancelLength, 43u);
    EXPECT_EQ(r.zeroRun, 512u);
    ASSERT_EQ(r.pjlLines.size(), 29u);
    EXPECT_EQ(r.pjlLines.back(), "@PJL ENTER LANGUAGE=VLGDI");
    EXPECT_EQ(r.jcl, "\x1b%-12345X@PJL SET PAGEPROTECT=AUTO\r\n");
    ASSERT_EQ(r.pages.size(), 3u);
    EXPECT_EQ(r.pages[0].width, 256u);
    EXPECT_EQ(r.pages[0].datasize, 256u / 8 * 128);
    EXPECT_EQ(r.pages[0].paper, ENG_ISO_A4);
    EXPECT_EQ(r.pages[1].compsize, 2u); // the blank page decodes white
    EXPECT_EQ(r.pages[1].decodedBlackDots, 0u);
    EXPECT_TRUE(r.hasTrailer);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], kPages[0].bits);
    EXPECT_EQ(seen[1], std::vector<BYTE>(64 / 8 * 32, 0));
    EXPECT_EQ(seen[2], kPages[2].bits);
}

TEST(StreamParser, RejectsCorruptedStreamsWithAClearMessage)
{
    std::vector<size_t> at;
    const std::string good = MakeStream(kPages, &at);
    const size_t header = at[0] + 2, trailerAt = good.size() - 70;
    struct Case {
        const char* what;
        std::string stream;
        const char* message;
    };
    auto patched = [&](size_t off, uint32_t v) {
        std::string s = good;
        PutLe32(&s, off, v);
        return s;
    };
    std::string zeroRun = good;
    zeroRun.erase(100, 1);
    std::string cancel = good;
    cancel[20] = 'X';
    // The title's line made `chars` long, CR LF not counted.
    auto titleLine = [&](size_t chars) {
        std::string s = good;
        s.replace(s.find("@PJL COMMENT Report\r\n"), 19, "@PJL COMMENT " + std::string(chars - 13, 'R'));
        return s;
    };
    const Case cases[] = {
        {"empty", "", "empty"},
        {"cancel prefix", cancel, "cancel prefix differs at byte 20"},
        {"zero run", zeroRun, "zero run is 511 bytes"},
        {"long PJL line", titleLine(254), "PJL header line is 256 characters long"},
        {"truncated page", good.substr(0, at[0] + 100), "compsize"},
        {"truncated header", good.substr(0, at[1] + 20), "ends inside the page header"},
        {"no trailer", good.substr(0, trailerAt), "without the job trailer"},
        {"cut trailer", good.substr(0, good.size() - 1), "ends inside the job trailer"},
        {"garbage after", good + "x", "1 bytes follow the job trailer"},
        {"compsize lies", patched(header + PH_COMPSIZE, 0x7FFFFFF0u), "runs past the end"},
        {"compsize short", patched(header + PH_COMPSIZE, (uint32_t)(at[1] - at[0] - 35)), "does not end with 0xFF 0x02"},
        {"blackDots", patched(header + PH_BLACKDOTS, 12345), "blackDots 12345, but the decoded page has"},
        {"datasize", patched(header + PH_DATASIZE, 4097), "datasize 4097, expected"},
        {"huge page", patched(header + PH_PAGE_WIDTH, 0xFFFFFFE0u), "beyond any page"},
        {"empty page", patched(header + PH_PAGE_HEIGHT, 0), "empty page"},
        {"broken data", [&] { std::string s = good; s[at[0] + 40] ^= 0x5A; return s; }(), "page 1"},
    };
    for (const Case& c : cases) {
        StreamReport r;
        EXPECT_FALSE(Parse(c.stream, &r)) << c.what;
        ASSERT_EQ(r.problems.size(), 1u) << c.what; // the walk stops at the first violation
        EXPECT_NE(r.problems[0].find(c.message), std::string::npos) << c.what << ": " << r.problems[0];
    }
    StreamReport longest;
    EXPECT_TRUE(Parse(titleLine(253), &longest)) << (longest.problems.empty() ? "" : longest.problems[0]);
    // --keep-going lists each violation and still reaches the trailer.
    std::string two = patched(header + PH_BLACKDOTS, 1);
    PutLe32(&two, at[2] + 2 + PH_DATASIZE, 1);
    StreamReport r;
    ParseOptions o;
    o.keepGoing = true;
    EXPECT_FALSE(Parse(two, &r, o));
    EXPECT_EQ(r.problems.size(), 2u);
    EXPECT_TRUE(r.hasTrailer);
}

TEST(StreamParser, SurvivesTruncationAndRandomDamage)
{
    const std::string good = MakeStream(kPages);
    for (size_t cut = 0; cut < good.size(); cut += 13) {
        StreamReport r;
        EXPECT_FALSE(Parse(good.substr(0, cut), &r)) << cut;
        EXPECT_FALSE(r.problems.empty()) << cut;
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 400; ++i) {
        std::string s = good;
        for (int k = 0; k < 1 + i % 8; ++k)
            s[rng() % s.size()] = (char)rng();
        StreamReport r;
        ParseOptions o;
        o.keepGoing = i % 2 == 0;
        bool ok = Parse(s, &r, o);
        EXPECT_EQ(ok, r.problems.empty()) << i;
    }
}

TEST(Vlgdidecode, PrintsSummaryAndWritesPageImages)
{
    std::string path = WriteTemp(MakeStream(kPages), "job.prn");
    std::string dir = MakeTempDir("vlgdi-out");
    ProcessResult r = RunProgram(DecoderPath(), {"vlgdidecode", "--pages-summary", "--png", dir, "--pbm", dir, path});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "page=2 width=64 height=32 datasize=256 compsize=2 blackDots=0 paper=2 media=8 tray=0 "
                        "black=0.000000");
    EXPECT_EQ(lines[0].rfind("page=1 width=256 height=128 datasize=4096 compsize=", 0), 0u);
    EXPECT_EQ(ReadFile(dir + "/page-001.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
    std::string pbm = ReadFile(dir + "/page-003.pbm");
    EXPECT_EQ(pbm, "P4\n64 64\n" + std::string(kPages[2].bits.begin(), kPages[2].bits.end()));

    // From standard input, the readable summary.
    r = RunProgram(DecoderPath(), {"vlgdidecode"}, {}, path);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  @PJL COMMENT Report\n"), std::string::npos);
    EXPECT_NE(r.out.find("paper 2 (A4), media 8 (plain), tray 0 (automatic)"), std::string::npos);
    EXPECT_NE(r.out.find("result          OK: 3 pages"), std::string::npos);

    std::string bad = MakeStream(kPages);
    r = RunProgram(DecoderPath(), {"vlgdidecode", WriteTemp(bad.substr(0, bad.size() - 70), "cut.prn")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the stream ends without the job trailer"), std::string::npos);
    EXPECT_EQ(RunProgram(DecoderPath(), {"vlgdidecode", "--bogus"}).status, 2);
    EXPECT_EQ(RunProgram(DecoderPath(), {"vlgdidecode", "/nonexistent.prn"}).status, 2);
}

TEST(Vlgdidecode, ReadsAJobTheFilterWrote)
{
    std::string dir = MakeTempDir("vlgdi-filter");
    cups_page_header2_t h = MakePageHeader(1200, 800);
    ASSERT_TRUE(WriteRasterFile(dir + "/in.ras", {MakeNumberedPage(h, 1), MakeNumberedPage(h, 2)}));
    ProcessResult f = RunFilterOnFile(dir + "/in.ras");
    ASSERT_EQ(f.status, 0) << f.err;
    std::string prn = WriteTemp(f.out, "filter.prn");
    ProcessResult r = RunProgram(DecoderPath(), {"vlgdidecode", "--keep-going", "--png", dir, prn});
    EXPECT_NE(r.out.find("JBIG,00,08"), std::string::npos);
    EXPECT_NE(r.out.find("page 2 "), std::string::npos);
    EXPECT_NE(r.out.find("trailer         70 bytes"), std::string::npos);
    EXPECT_EQ(ReadFile(dir + "/page-002.png").substr(1, 3), "PNG");
    // The framing is sound; while pages still arrive eight-bit gray, only
    // their size and dot count can disagree with the one-bit decode.
    for (const std::string& line : SplitLines(r.err))
        EXPECT_TRUE(line.find("datasize") != std::string::npos || line.find("blackDots") != std::string::npos) << line;
}

TEST(Vlgdidecode, UnreadableFirstPageStillClosesTheJob)
{
    std::string dir = MakeTempDir("vlgdi-bad");
    TestPage bad = MakeWhitePage(MakePageHeader(64, 64, 16, CUPS_CSPACE_W));
    ASSERT_TRUE(WriteRasterFile(dir + "/in.ras", {bad}));
    ProcessResult f = RunFilterOnFile(dir + "/in.ras");
    EXPECT_EQ(f.status, 1);
    // The header went out before the page proved unreadable: the printer must
    // see the job end rather than wait inside it.
    StreamReport r;
    EXPECT_TRUE(Parse(f.out, &r)) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_TRUE(r.pages.empty());
    EXPECT_TRUE(r.hasTrailer);
}
