#include "cups_sandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files.h"
#include "loopback_port.h"
#include "text_lines.h"

namespace {
const char* const kSystemServerBin = QUORIN_SYSTEM_SERVERBIN;

bool MakeDir(const std::string& path)
{
    // The scheduler runs filters as an unprivileged user; they must get in.
    return (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) && chmod(path.c_str(), 0755) == 0;
}

bool Contains(const std::vector<std::string>& v, const std::string& s)
{
    for (const std::string& x : v)
        if (x == s)
            return true;
    return false;
}

bool CopyExecutable(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    out.close();
    return in && out && chmod(to.c_str(), 0755) == 0;
}

bool ChildGone(pid_t pid)
{
    int st = 0;
    return waitpid(pid, &st, WNOHANG) == pid;
}

std::string CupsFilesConf(const std::string& root)
{
    std::ostringstream c;
    c << "ServerRoot " << root << "/etc\n"
      << "RequestRoot " << root << "/spool\n"
      << "TempDir " << root << "/spool/tmp\n"
      << "CacheDir " << root << "/cache\n"
      << "StateDir " << root << "/state\n"
      << "ServerBin " << root << "/serverbin\n"
      << "DataDir " << QUORIN_CUPS_DATADIR << "\n"
      << "AccessLog " << root << "/log/access_log\n"
      << "ErrorLog " << root << "/log/error_log\n"
      << "PageLog " << root << "/log/page_log\n"
      // Queues may print to file: URIs, which is how the tests capture the stream.
      << "FileDevice Yes\n";
    return c.str();
}

std::string CupsdConf(int port)
{
    std::ostringstream c;
    c << "Listen 127.0.0.1:" << port << "\n"
      << "LogLevel debug\n"
      // Debian ships an empty format, which turns page_log off.
      << "PageLogFormat %p %u %j %T %P %C %{job-name}\n"
      // One whole log: the tests read it after the job, and the filter's trace is long.
      << "MaxLogSize 0\n"
      << "Browsing No\n"
      << "DefaultAuthType None\n"
      << "<Location />\n  Order allow,deny\n  Allow 127.0.0.1\n</Location>\n"
      // Nothing but the test can reach it, so every operation is open.
      << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    return c.str();
}

pid_t SpawnCupsd(const std::string& root)
{
    std::string out = root + "/log/cupsd.out";
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Ends with the test process, even when that is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(126);
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (fd < 0 || in < 0)
            _exit(126);
        dup2(in, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        std::string conf = root + "/etc/cupsd.conf", files = root + "/etc/cups-files.conf";
        execl(QUORIN_CUPSD, "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), (char*)nullptr);
        _exit(127);
    }
    return pid;
}
} // namespace

std::string PpdPath()
{
    return QUORIN_PPD_PATH;
}

std::string SamplePath(const std::string& name)
{
    return std::string(QUORIN_SOURCE_DIR) + "/samples/" + name;
}

std::string MakeSandboxDir(const std::string& tag)
{
    std::string dir = MakeTempDir(tag);
    chmod(dir.c_str(), 0755);
    return dir;
}

bool MakeServerBin(const std::string& dir, const std::vector<std::string>& leaveOut, bool copyFilter)
{
    std::string bin = dir + "/serverbin";
    if (!MakeDir(bin) || !MakeDir(bin + "/filter"))
        return false;
    for (const std::string& name : DirEntries(kSystemServerBin)) {
        if (name == "filter")
            continue;
        if (symlink((std::string(kSystemServerBin) + "/" + name).c_str(), (bin + "/" + name).c_str()) != 0)
            return false;
    }
    std::string systemFilters = std::string(kSystemServerBin) + "/filter";
    for (const std::string& name : DirEntries(systemFilters)) {
        if (Contains(leaveOut, name) || name == "rastertoQuorin")
            continue;
        if (symlink((systemFilters + "/" + name).c_str(), (bin + "/filter/" + name).c_str()) != 0)
            return false;
    }
    std::string filter = bin + "/filter/rastertoQuorin";
    return copyFilter ? CopyExecutable(FilterPath(), filter) : symlink(FilterPath().c_str(), filter.c_str()) == 0;
}

ProcessResult RunCupsfilter(const std::string& document, const std::vector<std::string>& options, int copies,
                            const std::vector<std::string>& leaveOut, const std::string& format)
{
    std::string dir = MakeSandboxDir("cupsfilter");
    ProcessResult failed;
    failed.err = "sandbox set-up failed in " + dir;
    if (!MakeDir(dir + "/etc") || !MakeDir(dir + "/log") || !MakeServerBin(dir, leaveOut) ||
        !WriteFile(dir + "/cups-files.conf", CupsFilesConf(dir)))
        return failed;
    // -e: run the PPD's own filter too; printer/... asks for the printer's format.
    std::vector<std::string> argv = {"cupsfilter", "-c", dir + "/cups-files.conf", "-p", PpdPath(), "-e",
                                     "-m", format, "-n", std::to_string(copies)};
    for (const std::string& o : options) {
        argv.push_back("-o");
        argv.push_back(o);
    }
    argv.push_back(document);
    return RunProgram(QUORIN_CUPSFILTER, argv);
}

std::vector<std::string> FiltersStarted(const std::string& err)
{
    std::vector<std::string> names;
    for (const std::string& line : LinesStartingWith(err, "INFO: ")) {
        size_t pid = line.find(" (PID ");
        if (pid != std::string::npos && line.find(") started.") != std::string::npos)
            names.push_back(line.substr(6, pid - 6));
    }
    return names;
}

bool StartCupsd(PrivateCupsd* cupsd, std::string* why)
{
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorin-cupsd-XXXXXX";
    if (!mkdtemp(&templ[0]) || chmod(templ.c_str(), 0755) != 0) {
        *why = "cannot make " + templ;
        return false;
    }
    std::string root = templ;
    cupsd->root = root;
    for (const char* sub : {"/etc", "/etc/ppd", "/spool", "/spool/tmp", "/log", "/cache", "/state", "/client", "/out"})
        if (!MakeDir(root + sub)) {
            *why = "cannot make " + root + sub;
            return false;
        }
    // A copy: the build folder may be closed to the user that runs filters.
    if (!MakeServerBin(root, {}, true)) {
        *why = "cannot link the filters into " + root + "/serverbin";
        return false;
    }
    // The port is free when picked but may be taken before cupsd binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int port = FreeLoopbackPort();
        if (port == 0 || !WriteFile(root + "/etc/cups-files.conf", CupsFilesConf(root)) ||
            !WriteFile(root + "/etc/cupsd.conf", CupsdConf(port))) {
            *why = "cannot write the configuration";
            return false;
        }
        cupsd->pid = SpawnCupsd(root);
        if (cupsd->pid < 0) {
            *why = std::string("fork: ") + strerror(errno);
            return false;
        }
        for (int i = 0; i < 200; ++i) { // up to 10 s
            if (AcceptsConnections(port)) {
                cupsd->host = "127.0.0.1:" + std::to_string(port);
                return true;
            }
            if (ChildGone(cupsd->pid)) {
                cupsd->pid = -1;
                break;
            }
            usleep(50 * 1000);
        }
        StopCupsd(cupsd);
    }
    *why = "cupsd did not come up: " + ReadFile(root + "/log/cupsd.out") +
           ReadFile(root + "/log/error_log").substr(0, 4000);
    return false;
}

void StopCupsd(PrivateCupsd* cupsd)
{
    StopProgram(cupsd->pid);
    cupsd->pid = -1;
}

PrivateCupsd::~PrivateCupsd()
{
    StopCupsd(this);
    RemoveTreeUnlessFailed(root, "private cupsd's files");
}

ProcessResult RunClient(const PrivateCupsd& cupsd, const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {program.substr(program.rfind('/') + 1), "-h", cupsd.host};
    argv.insert(argv.end(), args.begin(), args.end());
    // An empty client configuration: nothing from /etc/cups or ~/.cups leaks in.
    return RunProgram(program, argv, {"CUPS_SERVERROOT=" + cupsd.root + "/client", "HOME=" + cupsd.root + "/client"});
}
