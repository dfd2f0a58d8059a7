// The test-page generator's command line: asking for help or misusing it
// must not leave a raster file behind (named after an option, say).
#include <gtest/gtest.h>

#include <unistd.h>

#include "files.h"
#include "filter_process.h"

TEST(Testpagegen, HelpAndUsageErrorsWriteNoFile)
{
    const std::string dir = MakeTempDir("testpagegen"), out = dir + "/job.ras";
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--help"}, 0}, {{"-h"}, 0}, {{out, "--pages", "2", "--help"}, 0},
        {{}, 2},         {{"--pages", "2"}, 2}, {{out, "--bogus"}, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"testpagegen"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProcessResult r = RunProgram(QUORIN_TESTPAGEGEN, argv);
        const std::string what = argv.size() > 1 ? argv.back() : "no arguments";
        EXPECT_EQ(r.status, c.status) << what;
        // Help goes to standard output, a usage error to standard error.
        EXPECT_NE((c.status == 0 ? r.out : r.err).find("usage: testpagegen"), std::string::npos) << what;
        EXPECT_EQ(DirEntries(dir), std::vector<std::string>{}) << what;
        for (const char* option : {"--help", "-h", "--pages"})
            EXPECT_NE(access(option, F_OK), 0) << option << " written in the working folder";
    }
    ProcessResult made = RunProgram(QUORIN_TESTPAGEGEN, {"testpagegen", out, "--pages", "2", "--size", "64x64"});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(DirEntries(dir), std::vector<std::string>{"job.ras"});
}
