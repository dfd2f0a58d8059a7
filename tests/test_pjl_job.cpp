#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "job_flags.h"
#include "job_status.h"
#include "pjl_job.h"
#include "test_pages.h"

namespace {
struct tm SixDecember()
{
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

cups_page_header2_t A4Header()
{
    cups_page_header2_t h = MakePageHeader(4961, 7016); // density 3, tray automatic, 1 copy
    h.NumCopies = 2;
    return h;
}

std::string Block(const cups_page_header2_t& h, BOOL driverCollates = FALSE, const char* doc = "Report",
                  const char* user = "alice", const char* host = "host1", const char* printer = "queue",
                  const char* copies = "2", DWORD tick = 123456)
{
    struct tm t = SixDecember();
    char buf[PJL_BLOCK_SIZE];
    int n = PJL_BuildStartJobBlock_Quorin(&h, printer, user, doc, host, copies, driverCollates, &t, tick, buf);
    EXPECT_EQ((size_t)n, strlen(buf));
    return std::string(buf, (size_t)n);
}

std::vector<std::string> Lines(const std::string& block)
{
    std::vector<std::string> lines;
    size_t start = 0, end;
    while ((end = block.find("\r\n", start)) != std::string::npos) {
        lines.push_back(block.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, block.size()) << "block does not end with \\r\\n";
    return lines;
}

bool HasLine(const std::string& block, const std::string& line)
{
    return block.find("\n" + line + "\r\n") != std::string::npos;
}

const char kHead[] = "\x1b%-12345X@PJL\r\n@PJL JOB NAME=\"123456\"\r\n@PJL SET TIMEOUT=300\r\n";
const char kSettings[] = "@PJL SET ECONOMODE=OFF\r\n@PJL SET DENSITY=4\r\n@PJL SET AUTOSELECT=ON\r\n"
                         "@PJL SET DUPLEX=OFF\r\n@PJL SET DUPLEXTYPE=BOOKLET\r\n@PJL SET RESOLUTION=600\r\n"
                         "@PJL SET COPIES=2\r\n@PJL SET MEDIASOURCE=TRAY1\r\n@PJL SET JUSTIFIED=LEFT\r\n"
                         "@PJL SET MIRROR=OFF\r\n@PJL SET MARGINS=NORMAL\r\n@PJL SET BIDICOMM=OFF\r\n"
                         "@PJL SET ORIENTATION=PORTRAIT\r\n@PJL ENTER LANGUAGE=VLGDI\r\n";
} // namespace

TEST(PjlJobHeader, BlockBytesForAnOrdinaryJob)
{
    std::string want = std::string(kHead) +
                       "@PJL COMMENT 0, 0, 1, 35\r\n@PJL COMMENT Report\r\n@PJL COMMENT alice\r\n"
                       "@PJL COMMENT host1\r\n@PJL COMMENT queue\r\n@PJL COMMENT Unknown\r\n@PJL COMMENT \r\n"
                       "@PJL COMMENT 2026/12/6\r\n@PJL COMMENT 9:5:7\r\n@PJL COMMENT JBIG,00,08\r\n"
                       "@PJL COMMENT Copies,2\r\n@PJL SET JOBNAME=\"CUPS\"\r\n" + kSettings;
    EXPECT_EQ(Block(A4Header()), want);
    // An empty title gives the same text as the fixed blank comment.
    EXPECT_NE(Block(A4Header(), FALSE, "").find("@PJL COMMENT 0, 0, 1, 35\r\n@PJL COMMENT \r\n@PJL COMMENT alice"),
              std::string::npos);
}

TEST(PjlJobHeader, SettingsFollowTheFirstPageHeader)
{
    cups_page_header2_t h = A4Header();
    h.NumCopies = 3;
    EXPECT_TRUE(HasLine(Block(h), "@PJL SET COPIES=3"));
    EXPECT_TRUE(HasLine(Block(h, TRUE), "@PJL SET COPIES=1")); // the filter makes the copies
    h.Collate = CUPS_TRUE; // but not when it makes none itself
    EXPECT_TRUE(HasLine(Block(h), "@PJL SET COPIES=3"));
    h.Collate = CUPS_FALSE;
    h.NumCopies = 0; // a raster that does not say: the copies argument, else once
    EXPECT_TRUE(HasLine(Block(h), "@PJL SET COPIES=2"));
    EXPECT_TRUE(HasLine(Block(h, FALSE, "Report", "alice", "host1", "queue", "1"), "@PJL SET COPIES=1"));

    h.MediaPosition = 1;
    std::string b = Block(h);
    EXPECT_TRUE(HasLine(b, "@PJL SET AUTOSELECT=OFF") && HasLine(b, "@PJL SET MEDIASOURCE=TRAY1"));

    h.Duplex = CUPS_FALSE;
    h.Tumble = CUPS_TRUE;
    h.Orientation = CUPS_ORIENT_180;
    h.cupsCompression = 0;
    h.cupsInteger[0] = 1;
    h.HWResolution[0] = 1200;
    b = Block(h, FALSE, "Report", "alice", "host1", "queue", "2", 0x80000000u);
    for (const char* line : {"@PJL SET DUPLEX=OFF", "@PJL SET DUPLEXTYPE=CALENDAR", "@PJL SET ORIENTATION=LANDSCAPE",
                             "@PJL SET DENSITY=1", "@PJL SET ECONOMODE=ON", "@PJL SET RESOLUTION=1200",
                             "@PJL JOB NAME=\"-2147483648\""})
        EXPECT_TRUE(HasLine(b, line)) << line;
    h.Duplex = CUPS_TRUE;
    h.Tumble = CUPS_FALSE;
    b = Block(h);
    EXPECT_TRUE(HasLine(b, "@PJL SET DUPLEX=ON") && HasLine(b, "@PJL SET DUPLEXTYPE=BOOKLET"));
}

TEST(PjlJobHeader, TextValuesCannotInjectCommands)
{
    std::string plain = Block(A4Header());
    std::string b = Block(A4Header(), FALSE, "x\r\n@PJL SET COPIES=99\x1b%-12345X", "al\x7f" "ice\t",
                          "host1", "qu\neue", "2\r\n@PJL RESET");
    EXPECT_EQ(Lines(b).size(), Lines(plain).size());
    EXPECT_TRUE(HasLine(b, "@PJL COMMENT x  @PJL SET COPIES=99 %-12345X"));
    EXPECT_TRUE(HasLine(b, "@PJL COMMENT al ice "));
    EXPECT_TRUE(HasLine(b, "@PJL COMMENT qu eue"));
    EXPECT_TRUE(HasLine(b, "@PJL COMMENT Copies,2  @PJL RESET"));
    // The only control bytes left: the leading UEL's ESC and the line ends.
    for (size_t i = 1; i < b.size(); ++i) {
        unsigned char c = (unsigned char)b[i];
        if (c < 0x20) {
            ASSERT_TRUE((c == '\r' && b[i + 1] == '\n') || (c == '\n' && b[i - 1] == '\r')) << i;
        }
    }
    // Non-ASCII text is the user's and passes unchanged.
    EXPECT_TRUE(HasLine(Block(A4Header(), FALSE, "Zürich Übersicht"), "@PJL COMMENT Zürich Übersicht"));
}

TEST(PjlJobHeader, LongValuesAreCutButEveryFixedLineStays)
{
    std::string plain = Block(A4Header());
    std::vector<std::string> plainLines = Lines(plain);
    std::string host(63, 'h');
    std::string huge(5000, 'T'), longPrinter(300, 'P'), longCopies(300, '9');
    std::string b = Block(A4Header(), FALSE, huge.c_str(), "bob", host.c_str(), longPrinter.c_str(),
                          longCopies.c_str());
    EXPECT_LE(b.size(), 1023u);
    EXPECT_GE(b.size(), 1000u); // the room is used, not thrown away
    std::vector<std::string> lines = Lines(b);
    ASSERT_EQ(lines.size(), plainLines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size() + 2, 255u) << i;
        bool variable = i >= 4 && i <= 7;
        if (!variable && i != 13) {
            EXPECT_EQ(lines[i], plainLines[i]) << i;
        }
    }
    // Short values keep whole; the long ones share what is left.
    EXPECT_EQ(lines[5], "@PJL COMMENT bob");
    EXPECT_EQ(lines[6], "@PJL COMMENT " + host);
    EXPECT_GT(lines[4].size(), 60u);

    // One long title alone is limited by the line, not the block.
    b = Block(A4Header(), FALSE, std::string(400, 'T').c_str());
    EXPECT_EQ(Lines(b)[4].size(), 253u);
    // A cut never splits a UTF-8 character.
    std::string accents;
    for (int i = 0; i < 400; ++i)
        accents += "é";
    std::string title = Lines(Block(A4Header(), FALSE, accents.c_str()))[4].substr(13);
    EXPECT_EQ(title.size() % 2, 0u);
    EXPECT_EQ(title, accents.substr(0, title.size()));
}

TEST(PjlJobHeader, ValuesAsLongAsTheirShareKeepWholeAndNoMore)
{
    // Two long values split what the short ones leave; one of these lengths
    // is exactly the share of each, with a remainder to hand out.
    for (const char* user : {"u", "uu"}) {
        for (size_t n = 100; n <= 240; ++n) {
            std::string title(n, 'T'), printer(n, 'P');
            std::vector<std::string> lines = Lines(Block(A4Header(), FALSE, title.c_str(), user, "h",
                                                         printer.c_str(), "2"));
            ASSERT_EQ(lines.size(), 29u) << n;
            for (size_t i : {4, 7}) {
                std::string value = lines[i].substr(13);
                ASSERT_LE(value.size(), n) << n;
                ASSERT_EQ(value, std::string(value.size(), i == 4 ? 'T' : 'P')) << user << " " << n;
            }
        }
    }
}

TEST(PjlJobHeader, AlternativeBlockNamesTheJobByUserAndTitle)
{
    cups_page_header2_t h = A4Header();
    char buf[PJL_BLOCK_SIZE];
    int n = PJL_BuildStartJobBlock(&h, "alice", "Re\"port\r\n", FALSE, 123456, buf);
    EXPECT_EQ(std::string(buf, (size_t)n),
              std::string(kHead) + "@PJL SET JOBNAME=\"alice:Re port  \"\r\n" + kSettings);
    std::string huge(3000, 'u');
    n = PJL_BuildStartJobBlock(&h, huge.c_str(), huge.c_str(), FALSE, 1, buf);
    std::vector<std::string> lines = Lines(std::string(buf, (size_t)n));
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[3].size() + 2, 255u);
    EXPECT_EQ(lines[3].find("\":"), std::string::npos);
    EXPECT_EQ(lines[3].substr(lines[3].size() - 1), "\"");
}

TEST(PjlJobHeader, WritersFrameTheJobAndCountTheirBytes)
{
    cups_page_header2_t h = A4Header();
    char printer[] = "queue", user[] = "alice", doc[] = "Report", copies[] = "2";
    gOutputSize = 0;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PJL_WriteStartJobCmd_Quorin(&h, 1, printer, user, doc, copies, FALSE));
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_GT(out.size(), 555u);
    EXPECT_EQ(out.substr(0, 43), std::string("\x1b" "E" "\x1b%-12345X@PJL CANCEL\r\n@PJL EOJ\r\n\x1b%-12345X"));
    EXPECT_EQ(out.substr(43, 512), std::string(512, '\0'));
    std::string block = out.substr(555);
    EXPECT_EQ(block.substr(0, 9), "\x1b%-12345X");
    EXPECT_EQ(block.substr(block.size() - 27), "@PJL ENTER LANGUAGE=VLGDI\r\n");
    char host[PJL_HOSTNAME_SIZE];
    PJL_GetHostName(host);
    EXPECT_TRUE(HasLine(block, std::string("@PJL COMMENT ") + host));
    EXPECT_EQ(gOutputSize, (int)block.size());
    EXPECT_NE(err.find("PJL_WriteStartJobCmd gOutputSize = " + std::to_string(block.size())), std::string::npos);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PJL_WriteCloseJobCmd(&h));
    out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, std::string("\x1b" "E" "\x1b%-12345X@PJL\r\n@PJL SET TIMEOUT=5\r\n@PJL               EOJ\r\n"
                               "\x1b%-12345X"));
    EXPECT_EQ(out.size(), 70u);
    EXPECT_EQ(gOutputSize, (int)block.size() + 70);
    EXPECT_TRUE(JobHeaderWritten());
}
