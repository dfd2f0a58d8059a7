// `cmake --install` into a DESTDIR puts the filter, the driver source and the
// PPD where CUPS looks for them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "cups_sandbox.h"

TEST(Install, PutsEveryFileWhereCupsLooks)
{
    std::string dest = MakeSandboxDir("install");
    ProcessResult r = RunProgram(QUORIN_CMAKE, {"cmake", "--install", BuildDir()}, {"DESTDIR=" + dest});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    std::string filter = dest + QUORIN_CUPS_SERVER_BIN "/filter/rastertoQuorin";
    struct stat st {};
    ASSERT_EQ(stat(filter.c_str(), &st), 0) << filter;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(ReadWholeFile(filter), ReadWholeFile(FilterPath()));

    std::string ppd = dest + QUORIN_CUPS_PPD_DIR "/quorin.ppd";
    EXPECT_EQ(ReadWholeFile(ppd), ReadWholeFile(PpdPath()));
    std::string datadir = dest + QUORIN_CUPS_DATADIR;
    EXPECT_EQ(ReadWholeFile(datadir + "/drv/quorin.drv"), ReadWholeFile(QUORIN_SOURCE_DIR "/ppd/quorin.drv"));

    // With the filter in place the strict check passes too (-R: the DESTDIR is the root).
    ProcessResult test = RunProgram(QUORIN_CUPSTESTPPD, {"cupstestppd", "-R", dest, ppd});
    EXPECT_EQ(test.status, 0) << test.out << test.err;
    EXPECT_NE(test.out.find(": PASS"), std::string::npos) << test.out;

    // cups-driverd compiles the installed driver source on request, as lpinfo
    // -m and lpadmin -m do; its include files stay in the system's DataDir.
    ASSERT_EQ(symlink(QUORIN_CUPS_DATADIR "/ppdc", (datadir + "/ppdc").c_str()), 0);
    std::string cache = MakeSandboxDir("driverd-cache"), noDrivers = MakeSandboxDir("driverd-bin");
    std::vector<std::string> env = {"CUPS_DATADIR=" + datadir, "CUPS_CACHEDIR=" + cache, "CUPS_SERVERBIN=" + noDrivers};
    ProcessResult list = RunProgram(QUORIN_CUPS_DRIVERD, {"cups-driverd", "list", "1", "0", "ppd-make=Velorin"}, env);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("drv:///quorin.drv/quorin.ppd"), std::string::npos) << list.err;
    EXPECT_NE(list.out.find("Velorin Quorin Series"), std::string::npos);
    ProcessResult cat = RunProgram(QUORIN_CUPS_DRIVERD, {"cups-driverd", "cat", "drv:///quorin.drv/quorin.ppd"}, env);
    EXPECT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, ReadWholeFile(PpdPath()));

    if (!HasFailure()) {
        RemoveTree(dest);
        RemoveTree(cache);
        RemoveTree(noDrivers);
    }
}
