// `cmake --install` into a DESTDIR puts the filter and the driver source
// where CUPS looks for them, and the model in exactly one place.
#include <gtest/gtest.h>

#include <cstring>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cups_sandbox.h"
#include "files.h"
#include "text_lines.h"

namespace {
// Files below dir that could each offer a model to CUPS: PPDs, packed or
// not, and driver sources.
std::vector<std::string> DriverFiles(const std::string& dir)
{
    static std::vector<std::string> found;
    found.clear();
    nftw(
        dir.c_str(),
        [](const char* path, const struct stat*, int type, struct FTW*) {
            std::string p = path;
            for (const char* end : {".ppd", ".ppd.gz", ".drv"})
                if (type == FTW_F && p.size() > strlen(end) && p.compare(p.size() - strlen(end), std::string::npos, end) == 0)
                    found.push_back(p);
            return 0;
        },
        16, FTW_PHYS);
    return found;
}
} // namespace

TEST(Install, PutsEveryFileWhereCupsLooksAndTheModelOnce)
{
    std::string dest = MakeSandboxDir("install");
    ProcessResult r = RunProgram(QUORIN_CMAKE, {"cmake", "--install", BuildDir()}, {"DESTDIR=" + dest});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    std::string filter = dest + QUORIN_CUPS_SERVER_BIN "/filter/rastertoQuorin";
    struct stat st {};
    ASSERT_EQ(stat(filter.c_str(), &st), 0) << filter;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(ReadFile(filter), ReadFile(FilterPath()));

    // The driver source alone: a PPD of the same model beside it would have
    // lpinfo -m and every printer dialog list the model twice.
    std::string datadir = dest + QUORIN_CUPS_DATADIR;
    EXPECT_EQ(DriverFiles(dest), std::vector<std::string>{datadir + "/drv/quorin.drv"});
    EXPECT_EQ(ReadFile(datadir + "/drv/quorin.drv"), ReadFile(QUORIN_SOURCE_DIR "/ppd/quorin.drv"));

    // cups-driverd compiles the installed driver source on request, as lpinfo
    // -m and lpadmin -m do; its include files stay in the system's DataDir.
    ASSERT_EQ(symlink(QUORIN_CUPS_DATADIR "/ppdc", (datadir + "/ppdc").c_str()), 0);
    std::string cache = MakeSandboxDir("driverd-cache"), noDrivers = MakeSandboxDir("driverd-bin");
    std::vector<std::string> env = {"CUPS_DATADIR=" + datadir, "CUPS_CACHEDIR=" + cache, "CUPS_SERVERBIN=" + noDrivers};
    ProcessResult list = RunProgram(QUORIN_CUPS_DRIVERD, {"cups-driverd", "list", "1", "0", "ppd-make=Velorin"}, env);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(Occurrences(list.out, "drv:///quorin.drv/quorin.ppd"), 1u) << list.out << list.err;
    EXPECT_EQ(Occurrences(list.out, "Velorin Quorin Series"), 1u) << list.out;
    ProcessResult cat = RunProgram(QUORIN_CUPS_DRIVERD, {"cups-driverd", "cat", "drv:///quorin.drv/quorin.ppd"}, env);
    EXPECT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, ReadFile(PpdPath()));

    // With the filter in place the strict check of that PPD passes too (-R:
    // the DESTDIR is the root).
    ProcessResult test = RunProgram(QUORIN_CUPSTESTPPD, {"cupstestppd", "-R", dest, PpdPath()});
    EXPECT_EQ(test.status, 0) << test.out << test.err;
    EXPECT_NE(test.out.find(": PASS"), std::string::npos) << test.out;

    if (!HasFailure()) {
        RemoveTree(dest);
        RemoveTree(cache);
        RemoveTree(noDrivers);
    }
}
