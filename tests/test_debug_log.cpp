#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "files.h"
#include "text_lines.h"
#include "velorin.h"

// This test build logs into a private folder (see tests/CMakeLists.txt).
namespace {
const std::string kDir = VL_LOG_DIR;
const std::string kParent = kDir.substr(0, kDir.rfind('/'));
const std::string kFile = VL_LOG_FILE;
const std::string kOld = kFile + ".old";
const uid_t kStranger = 12345;

// Starts every test from an empty parent folder, and leaves none behind.
class LogFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(kParent);
        ASSERT_EQ(mkdir(kParent.c_str(), 0755), 0) << kParent;
    }
    void TearDown() override { std::filesystem::remove_all(kParent); }
};

bool MakeFolder(mode_t mode)
{
    return mkdir(kDir.c_str(), 0700) == 0 && chmod(kDir.c_str(), mode) == 0;
}

// What a path holds, without reading through a FIFO (which would block).
std::string Content(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "(none)";
    if (S_ISLNK(st.st_mode))
        return "link to " + std::filesystem::read_symlink(path).string();
    if (!S_ISREG(st.st_mode))
        return "mode " + std::to_string(st.st_mode);
    return ReadFile(path);
}

// Runs fn in a child process, as uid when given (the reason for a refused
// log is told once per process); returns the child's standard error.
std::string InChild(const std::function<void()>& fn, uid_t uid = 0)
{
    std::string errPath = MakeTempDir("debuglog") + "/stderr";
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 2) < 0)
            _exit(3);
        alarm(20); // a FIFO must not hold the log
        if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
            _exit(4);
        fn();
        _exit(0);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return ReadFile(errPath);
}

void LogTwo()
{
    DbgMsg("first");
    DbgMsg("second");
}

// "[yyyy/mm/dd hh:mm:ss] " before the message.
const std::regex kStamped(R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\] .*)");
} // namespace

TEST(DebugLog, StandardErrorLineFormat)
{
    testing::internal::CaptureStderr();
    DbgMsg("GrayToLineart In, threshold = %d", 220);
    DbgMsg("using %f sec", 0.25f);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "DEBUG: GrayToLineart In, threshold = 220 ---------->\n"
                   "DEBUG: using 0.250000 sec ---------->\n");
}

TEST(DebugLog, ControlBytesCannotStartSchedulerLines)
{
    testing::internal::CaptureStderr();
    DbgMsg("argv[3] = %s", "report\nSTATE: +offline\rATTR: x\x1b\x7f");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "DEBUG: argv[3] = report STATE: +offline ATTR: x   ---------->\n");
}

TEST(DebugLog, OverlongMessageIsCut)
{
    std::string big(5000, 'x');
    testing::internal::CaptureStderr();
    DbgMsg("%s", big.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "DEBUG: " + std::string(2046, 'x') + " ---------->\n");
}

TEST_F(LogFolder, AppendsTimeStampedLinesWhileTheDirectoryExists)
{
    ASSERT_TRUE(MakeFolder(0755));
    testing::internal::CaptureStderr();
    DbgMsg("first %d", 1);
    DbgMsg("second");
    testing::internal::GetCapturedStderr();
    std::vector<std::string> lines = SplitLines(ReadFile(kFile));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], kStamped)) << lines[0];
    EXPECT_EQ(lines[0].substr(20), "] first 1");
    EXPECT_EQ(lines[1].substr(20), "] second");
    struct stat st;
    ASSERT_EQ(stat(kFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "log readable by others";
}

// The folder and the file are used only when nobody but root and the
// filter's own user could have made or swapped them; otherwise the file log
// stays off, and one line says why.
TEST_F(LogFolder, FileLogOnlyInAFolderNobodyElseControls)
{
    const std::string elsewhere = kParent + "/elsewhere";
    const std::string victim = elsewhere + "/victim";
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<bool()> setUp; // false: the set-up failed
        const char* why;             // the refusal, or nullptr: no line
        bool logs;                   // the two lines land in the log file
        uid_t runAs = 0;             // 0: the test's own user
    } cases[] = {
        {"usable folder", false, [] { return MakeFolder(0700); }, nullptr, true},
        {"no folder", false, [] { return true; }, nullptr, false},
        {"folder is a link", false,
         [&] { return mkdir(elsewhere.c_str(), 0755) == 0 && symlink(elsewhere.c_str(), kDir.c_str()) == 0; },
         "is a symbolic link", false},
        {"group-writable folder", false, [] { return MakeFolder(0775); }, "writable by group or others", false},
        {"sticky folder anyone can write", false, [] { return MakeFolder(01777); },
         "writable by group or others", false},
        {"folder of another user", true,
         [] { return MakeFolder(0755) && chown(kDir.c_str(), kStranger, kStranger) == 0; },
         "owned by uid 12345", false},
        {"file is a link", false,
         [&] {
             return MakeFolder(0755) && mkdir(elsewhere.c_str(), 0755) == 0 && WriteFile(victim, "keep") &&
                    symlink(victim.c_str(), kFile.c_str()) == 0;
         },
         "is a symbolic link", false},
        {"file of another user", true,
         [] {
             return MakeFolder(0755) && WriteFile(kFile, "keep") && chmod(kFile.c_str(), 0666) == 0 &&
                    chown(kFile.c_str(), kStranger, kStranger) == 0;
         },
         "owned by uid 12345", false},
        {"file others may read", false,
         [] { return MakeFolder(0755) && WriteFile(kFile, "keep") && chmod(kFile.c_str(), 0644) == 0; },
         "open to group or others (mode 0644)", false},
        {"file is a FIFO", false, [] { return MakeFolder(0755) && mkfifo(kFile.c_str(), 0600) == 0; },
         "is not a regular file", false},
        {"root's folder, the filter's own file", true,
         [] {
             return MakeFolder(0755) && WriteFile(kFile, "") && chmod(kFile.c_str(), 0600) == 0 &&
                    chown(kFile.c_str(), kStranger, kStranger) == 0;
         },
         nullptr, true, kStranger},
        {"root's folder, no file the filter may create", true, [] { return MakeFolder(0755); },
         "Permission denied", false, kStranger},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(kParent);
        ASSERT_EQ(mkdir(kParent.c_str(), 0755), 0);
        if (c.needsRoot && geteuid() != 0) {
            std::cout << "[ SKIPPED  ] " << c.what << ": needs root to hand files to another user\n";
            continue;
        }
        ASSERT_TRUE(c.setUp());
        std::string watched = Content(victim) + "|" + Content(kFile);

        std::string err = InChild(LogTwo, c.runAs);

        EXPECT_EQ(Occurrences(err, "DEBUG: first ---------->\n"), 1u) << err;
        EXPECT_EQ(Occurrences(err, "DEBUG: second ---------->\n"), 1u) << err;
        if (c.why) {
            EXPECT_EQ(Occurrences(err, "DEBUG: DbgMsg::file log off, "), 1u) << err;
            EXPECT_NE(err.find(c.why), std::string::npos) << err;
        } else {
            EXPECT_EQ(Occurrences(err, "DbgMsg::"), 0u) << err;
        }
        if (c.logs) {
            std::vector<std::string> lines = SplitLines(ReadFile(kFile));
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[1].substr(20), "] second");
        } else {
            EXPECT_EQ(Content(victim) + "|" + Content(kFile), watched);
            EXPECT_EQ(access(kOld.c_str(), F_OK), -1);
        }
    }
}

TEST_F(LogFolder, FullFileIsMovedAsideOnce)
{
    ASSERT_TRUE(MakeFolder(0755));
    // One line short of the bound, and an .old from an earlier round.
    std::string filler;
    while (filler.size() < (size_t)VL_LOG_MAX_SIZE - 100)
        filler += "[2026/12/06 09:05:03] filler\n";
    ASSERT_TRUE(WriteFile(kFile, filler));
    ASSERT_EQ(chmod(kFile.c_str(), 0600), 0);
    ASSERT_TRUE(WriteFile(kOld, "stale\n"));
    testing::internal::CaptureStderr();
    DbgMsg("crossing %s", std::string(100, 'c').c_str());
    DbgMsg("after");
    testing::internal::GetCapturedStderr();
    std::string old = ReadFile(kOld);
    EXPECT_EQ(old.substr(0, filler.size()), filler);
    EXPECT_EQ(SplitLines(old.substr(filler.size())).size(), 1u);
    EXPECT_NE(old.find("] crossing cccc"), std::string::npos);
    std::vector<std::string> lines = SplitLines(ReadFile(kFile));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(20), "] after");

    // Filters logging at once across the bound: every line whole, the file
    // bounded, and .old always a file that reached the bound (a file moved
    // twice would put a nearly empty one there).
    const int kWriters = 4, kLines = 600;
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            if (!freopen("/dev/null", "w", stderr))
                _exit(3);
            for (int i = 0; i < kLines; ++i)
                DbgMsg("writer %d line %d %s", w, i, std::string(60, 'w').c_str());
            _exit(0);
        }
        pids.push_back(pid);
    }
    off_t smallestOld = VL_LOG_MAX_SIZE;
    for (bool running = true; running;) {
        struct stat st;
        if (stat(kOld.c_str(), &st) == 0 && st.st_size < smallestOld)
            smallestOld = st.st_size;
        running = false;
        for (pid_t p : pids)
            running |= waitpid(p, nullptr, WNOHANG) == 0;
    }
    EXPECT_GE(smallestOld, (off_t)VL_LOG_MAX_SIZE);
    const std::regex line(R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\] writer \d line \d+ w{60})");
    for (const std::string& path : {kFile, kOld}) {
        std::string text = ReadFile(path);
        EXPECT_LT(text.size(), (size_t)VL_LOG_MAX_SIZE + kWriters * 200) << path;
        for (const std::string& l : SplitLines(text))
            ASSERT_TRUE(std::regex_match(l, line)) << path << ": " << l;
    }
    EXPECT_EQ(DirEntries(kDir).size(), 2u);
}

// In root's folder the filter's user cannot rename: the full file starts over.
TEST_F(LogFolder, FullFileStartsOverWhenItCannotBeMoved)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the log as another user";
    ASSERT_TRUE(MakeFolder(0755));
    ASSERT_TRUE(WriteFile(kFile, std::string((size_t)VL_LOG_MAX_SIZE, 'x')));
    ASSERT_EQ(chmod(kFile.c_str(), 0600), 0);
    ASSERT_EQ(chown(kFile.c_str(), kStranger, kStranger), 0);
    std::string err = InChild(LogTwo, kStranger);
    EXPECT_EQ(Occurrences(err, "DbgMsg::"), 0u) << err;
    std::vector<std::string> lines = SplitLines(ReadFile(kFile));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(20), "] second");
    EXPECT_EQ(access(kOld.c_str(), F_OK), -1);
}
