#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "files.h"
#include "filter_process.h"
#include "json_ticket.h"

namespace {
// A caller's table: 50 rows, each preset so untouched rows can be seen.
struct Table {
    char rows[JSON_STR_COUNT][JSON_STR_SIZE];
    Table()
    {
        for (auto& r : rows)
            strcpy(r, "unset");
    }
    std::string operator[](int i) const { return rows[i]; }
};

// Scans the text from an exact-size heap copy (no NUL after it, so reading
// past the end is caught by AddressSanitizer); the trace is kept.
BOOL Scan(const std::string& text, Table* t, std::string* log = nullptr)
{
    std::vector<char> data(text.begin(), text.end());
    testing::internal::CaptureStderr();
    BOOL rc = ParseJSONBuffer(data.data(), data.size(), t->rows);
    std::string err = testing::internal::GetCapturedStderr();
    if (log)
        *log = err;
    return rc;
}

BOOL ParseFile(const std::string& path, Table* t, std::string* log)
{
    std::string name = path;
    testing::internal::CaptureStderr();
    BOOL rc = ParseJSON(&name[0], t->rows);
    *log = testing::internal::GetCapturedStderr();
    return rc;
}
} // namespace

TEST(JsonTicket, FillsTheRowsOfTheKeysFoundFromAFile)
{
    std::string path = MakeTempDir("ticket") + "/ticket.json";
    WriteFile(path, "{\n  \"USERNAME\": \"clerk\",\n  \"DUPLEX\": \"ON\"\n}\n");
    Table t;
    std::string log;
    ASSERT_TRUE(ParseFile(path, &t, &log));
    EXPECT_EQ(t[JSON_ROW_USERNAME], "clerk");
    EXPECT_EQ(t[JSON_ROW_DUPLEX], "ON");
    for (int r : {0, 2, 4, 5, 6, 7})
        EXPECT_EQ(t[r], "unset") << r;
    EXPECT_TRUE(Traced(log, "ParseJSON In, szJsonFileName = " + path));
    EXPECT_TRUE(Traced(log, "dataSize = 44"));
    EXPECT_TRUE(Traced(log, "Close file"));
    EXPECT_TRUE(Traced(log, "jsonStr[2] = DUPLEX"));
    EXPECT_NE(log.find("ParseJSON Out, Tick = "), std::string::npos);
    EXPECT_NE(log.find(", rc = 1 ---------->\n"), std::string::npos);
}

TEST(JsonTicket, TracesEveryPositionAndRevisitsTheClosingQuote)
{
    Table t;
    std::string log;
    ASSERT_TRUE(Scan("{\"a\"}", &t, &log));
    EXPECT_EQ(log, "DEBUG: i = 0 ---------->\n"
                   "DEBUG: JSON_START ---------->\n"
                   "DEBUG: i = 1 ---------->\n"
                   "DEBUG: jsonStr[0] = a ---------->\n"
                   "DEBUG: i = 3 ---------->\n"
                   "DEBUG: i = 4 ---------->\n"
                   "DEBUG: JSON_END ---------->\n");
}

TEST(JsonTicket, KeyLookupQuirks)
{
    struct Case {
        const char* what;
        const char* ticket;
        std::vector<std::pair<int, const char*>> rows; // rows expected set
    } cases[] = {
        {"any case", "{\"username\":\"clerk\",\"DuplexType\":\"long\"}",
         {{JSON_ROW_USERNAME, "clerk"}, {JSON_ROW_DUPLEXTYPE, "long"}}},
        {"unquoted values take no place", "{\"DUPLEX\": 1, \"USERNAME\": \"auditor\"}",
         {{JSON_ROW_DUPLEX, "USERNAME"}, {JSON_ROW_USERNAME, "auditor"}}},
        {"empty value", "{\"AUTHCODE\":\"\",\"ACCTPASS\":\"pw\"}",
         {{JSON_ROW_AUTHCODE, ""}, {JSON_ROW_ACCTPASS, "pw"}}},
        {"later value wins", "{\"NOTIFYURL\":\"a\",\"NOTIFYURL\":\"b\"}", {{JSON_ROW_NOTIFYURL, "b"}}},
        {"value spelling a key", "{\"USERNAME\":\"DUPLEX\",\"MODE\":\"X\"}",
         {{JSON_ROW_USERNAME, "DUPLEX"}, {JSON_ROW_DUPLEX, "MODE"}}},
        {"last string is a key", "{\"x\":\"CHECKAUTHCODEURL\"}", {{JSON_ROW_CHECKAUTHCODEURL, ""}}},
        {"strings before the brace", "\"USERNAME\" \"early\" {\"DUPLEX\":\"ON\"}",
         {{JSON_ROW_DUPLEX, "ON"}}},
        {"first closing brace ends", "{\"USERNAME\":\"a\",\"o\":{\"x\":\"y\"},\"DUPLEX\":\"ON\"}",
         {{JSON_ROW_USERNAME, "a"}}},
        {"braces inside strings", "{\"USERNAME\":\"a}b{c\"}", {{JSON_ROW_USERNAME, "a}b{c"}}},
        {"backslash escapes nothing", "{\"USERNAME\":\"a\\\",\"DUPLEX\":\"ON\"}",
         {{JSON_ROW_USERNAME, "a\\"}, {JSON_ROW_DUPLEX, "ON"}}},
    };
    for (const Case& c : cases) {
        Table t;
        ASSERT_TRUE(Scan(c.ticket, &t)) << c.what;
        Table want;
        for (const auto& r : c.rows)
            strcpy(want.rows[r.first], r.second);
        for (int r = 0; r < JSON_STR_COUNT; ++r)
            EXPECT_EQ(t[r], want[r]) << c.what << ", row " << r;
    }
}

TEST(JsonTicket, FailuresLeaveTheTableUntouched)
{
    for (const char* ticket : {"{\"USERNAME\":\"clerk\"", "\"USERNAME\":\"clerk\"}", "",
                               "{\"USERNAME\":\"clerk}"}) {
        Table t;
        std::string log;
        EXPECT_FALSE(Scan(ticket, &t, &log)) << ticket;
        for (int r = 0; r < JSON_STR_COUNT; ++r)
            EXPECT_EQ(t[r], "unset") << ticket;
    }

    std::string dir = MakeTempDir("ticket");
    Table t;
    std::string log;
    EXPECT_FALSE(ParseFile(dir + "/missing.json", &t, &log));
    EXPECT_TRUE(Traced(log, "Open file failed, errno = 2, No such file or directory"));
    EXPECT_NE(log.find(", rc = 0 ---------->\n"), std::string::npos);
    // Neither a directory nor a FIFO is read; a FIFO without a writer must
    // not hold the job (the alarm ends a hung run).
    EXPECT_FALSE(ParseFile(dir, &t, &log));
    EXPECT_TRUE(Traced(log, "ParseJSON::not a regular file"));
    ASSERT_EQ(mkfifo((dir + "/fifo.json").c_str(), 0600), 0);
    alarm(20);
    EXPECT_FALSE(ParseFile(dir + "/fifo.json", &t, &log));
    alarm(0);
    EXPECT_TRUE(Traced(log, "ParseJSON::not a regular file"));
    WriteFile(dir + "/empty.json", "");
    EXPECT_FALSE(ParseFile(dir + "/empty.json", &t, &log));
    EXPECT_TRUE(Traced(log, "dataSize = 0"));
    EXPECT_EQ(t[JSON_ROW_USERNAME], "unset");
}

TEST(JsonTicket, LimitsOfTheStringTable)
{
    // Long strings are cut to 127 characters, in the table and in the rows.
    std::string longValue(300, 'v');
    Table t;
    std::string log;
    ASSERT_TRUE(Scan("{\"USERNAME\":\"" + longValue + "\"}", &t, &log));
    EXPECT_EQ(t[JSON_ROW_USERNAME], std::string(127, 'v'));
    EXPECT_TRUE(Traced(log, "jsonStr[1] = " + std::string(127, 'v')));

    // Strings past the fiftieth are skipped, but the scan still ends at '}'.
    std::string many = "{";
    for (int i = 0; i < 49; ++i)
        many += "\"s" + std::to_string(i) + "\",";
    many += "\"USERNAME\",\"lost\",\"DUPLEX\",\"ON\"}"; // USERNAME is string 49
    Table m;
    ASSERT_TRUE(Scan(many, &m, &log));
    EXPECT_EQ(m[JSON_ROW_USERNAME], "");
    EXPECT_EQ(m[JSON_ROW_DUPLEX], "unset");
    EXPECT_TRUE(Traced(log, "ParseJSON::more than 50 strings, the rest are ignored"));

    // A quote that never closes runs to the end of the data, not beyond it.
    Table u;
    EXPECT_FALSE(Scan("{\"USERNAME\":\"" + longValue, &u, &log));
    EXPECT_TRUE(Traced(log, "jsonStr[1] = " + std::string(127, 'v')));
    EXPECT_EQ(u[JSON_ROW_USERNAME], "unset");
}

TEST(JsonTicket, PasswordsNeverReachTheLog)
{
    struct Case {
        const char* ticket;
        const char* secret; // must not appear in the log
        const char* shown;  // still logged
    } cases[] = {
        {"{\"ACCTPASS\":\"s3cr3t\",\"USERNAME\":\"clerk\"}", "s3cr3t", "jsonStr[3] = clerk"},
        {"{\"user_Password\":\"hunter2\",\"x\":\"y\"}", "hunter2", "jsonStr[2] = x"},
        {"{\"pwd\":\"opensesame\"}", "opensesame", "jsonStr[0] = pwd"},
        // A password that spells a key is logged again when keys are matched.
        {"{\"acctpass\":\"DUPLEX\",\"MODE\":\"X\"}", "= DUPLEX", "jsonStr[2] = MODE"},
    };
    for (const Case& c : cases) {
        Table t;
        std::string log;
        ASSERT_TRUE(Scan(c.ticket, &t, &log)) << c.ticket;
        EXPECT_EQ(log.find(c.secret), std::string::npos) << c.ticket << "\n" << log;
        EXPECT_TRUE(Traced(log, "jsonStr[1] = ********")) << c.ticket;
        EXPECT_TRUE(Traced(log, c.shown)) << c.ticket;
    }
    // The table itself keeps the value.
    Table t;
    ASSERT_TRUE(Scan(cases[0].ticket, &t));
    EXPECT_EQ(t[JSON_ROW_ACCTPASS], "s3cr3t");
}
