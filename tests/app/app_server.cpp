#include "app_server.h"

#include <cups/cups.h>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "loopback_port.h"

namespace {
const char kPrinter[] = "Quorin";

std::vector<std::string> StateEnv(const AppServer& app)
{
    // PAPPL keeps its control socket and state where these point.
    std::string state = app.dir + "/state";
    return {"SNAP_COMMON=" + state, "HOME=" + state, "XDG_RUNTIME_DIR=" + state, "XDG_CONFIG_HOME=" + state};
}

bool Listening(const AppServer& app)
{
    std::string line = "Listening for connections on '127.0.0.1:" + std::to_string(app.port) + "'";
    return ReadFile(app.dir + "/app.log").find(line) != std::string::npos;
}

bool WaitListening(AppServer* app)
{
    for (int i = 0; i < 200; ++i) { // up to 10 s
        if (Listening(*app) && AcceptsConnections(app->port))
            return true;
        if (waitpid(app->pid, nullptr, WNOHANG) == app->pid) {
            app->pid = -1;
            return false;
        }
        usleep(50 * 1000);
    }
    return false;
}

// The last value ipptool -v showed for an attribute: "name (type) = value".
std::string LastValue(const std::string& report, const std::string& name)
{
    std::string key = " " + name + " (", value;
    for (const std::string& line : SplitLines(report)) {
        size_t at = line.find(key), eq = line.find(") = ");
        if (at != std::string::npos && line.find_first_not_of(' ') == at + 1 && eq != std::string::npos)
            value = line.substr(eq + 4);
    }
    return value;
}

std::string JobTest(const std::string& format, const std::vector<std::string>& jobAttrs, bool cancelMidway)
{
    std::ostringstream t;
    const char* op = "GROUP operation-attributes-tag\n"
                     "ATTR charset attributes-charset utf-8\n"
                     "ATTR language attributes-natural-language en\n"
                     "ATTR uri printer-uri $uri\n"
                     "ATTR name requesting-user-name $user\n";
    t << "{\nNAME \"Print-Job\"\nOPERATION Print-Job\n" << op << "ATTR mimeMediaType document-format " << format
      << "\nATTR name job-name $jobname\nGROUP job-attributes-tag\n";
    for (const std::string& a : jobAttrs)
        t << "ATTR " << a << "\n";
    t << "FILE $filename\nSTATUS successful-ok\nSTATUS successful-ok-ignored-or-substituted-attributes\n"
      << "EXPECT job-id\n}\n";
    if (cancelMidway)
        t << "{\nNAME \"Wait for the first side\"\nOPERATION Get-Job-Attributes\nDELAY \"0,0.05\"\n" << op
          << "ATTR integer job-id $job-id\nSTATUS successful-ok\n"
          << "EXPECT job-impressions-completed WITH-VALUE >0 REPEAT-NO-MATCH\n}\n"
          << "{\nNAME \"Cancel-Job\"\nOPERATION Cancel-Job\n" << op
          << "ATTR integer job-id $job-id\nSTATUS successful-ok\n}\n";
    t << "{\nNAME \"Wait for the end\"\nOPERATION Get-Job-Attributes\nDELAY \"0,0.1\"\n" << op
      << "ATTR integer job-id $job-id\nSTATUS successful-ok\nEXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH\n}\n";
    return t.str();
}
} // namespace

bool RestartAppServer(AppServer* app, std::string* why)
{
    app->pid = -1;
    // The port is free when picked but may be taken before the app binds it;
    // then PAPPL only logs it and listens on its local socket.
    for (int attempt = 0; attempt < 3 && app->pid < 0; ++attempt) {
        app->port = FreeLoopbackPort();
        std::vector<std::string> argv = {"quorin-printer-app", "server", "-o", "server-port=" + std::to_string(app->port),
                                         "-o", "listen-hostname=127.0.0.1", "-o", "spool-directory=" + app->dir + "/spool",
                                         "-o", "log-file=" + app->dir + "/app.log", "-o", "log-level=info", "-o",
                                         "server-options=no-tls", "-o", "file-device-directory=" + app->dir + "/out"};
        for (const std::string& o : app->options)
            argv.insert(argv.end(), {"-o", o});
        Spawned s = StartProgram(QUORIN_APP_PATH, argv, StateEnv(*app), app->dir);
        app->pid = s.pid;
        if (app->pid > 0 && !WaitListening(app)) {
            StopProgram(app->pid);
            app->pid = -1;
        }
    }
    if (app->pid < 0)
        *why = "the app did not listen on 127.0.0.1: " + ReadFile(app->dir + "/app.log").substr(0, 4000);
    return app->pid > 0;
}

bool StartAppServer(AppServer* app, std::string* why)
{
    if (app->dir.empty())
        app->dir = MakeTempDir("app");
    for (const char* sub : {"/state", "/spool", "/out"})
        mkdir((app->dir + sub).c_str(), 0700);
    if (!RestartAppServer(app, why))
        return false;
    ProcessResult add = RunApp(*app, {"add", "-u", "ipp://127.0.0.1:" + std::to_string(app->port) + "/ipp/system",
                                      "-d", kPrinter, "-m", "quorin", "-v", "file://" + app->dir + "/out"});
    if (add.status != 0)
        *why = "add failed: " + add.out + add.err;
    return add.status == 0;
}

AppServer::~AppServer()
{
    StopProgram(pid);
    RemoveTreeUnlessFailed(dir, "the app's files");
}

int StopAppServer(AppServer* app, int seconds)
{
    int status = -1;
    kill(app->pid, SIGTERM);
    for (int i = 0; i < seconds * 20 && status < 0; ++i) {
        int st = 0;
        if (waitpid(app->pid, &st, WNOHANG) == app->pid)
            status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        else
            usleep(50 * 1000);
    }
    if (status < 0)
        StopProgram(app->pid);
    app->pid = -1;
    return status;
}

std::vector<int> AppProcessesLeft(const AppServer& app, int seconds)
{
    std::vector<int> pids;
    const std::string mark = "SNAP_COMMON=" + app.dir + "/state";
    for (int i = 0; i <= seconds * 10; ++i) {
        pids.clear();
        for (const std::string& entry : DirEntries("/proc")) {
            std::istringstream vars(ReadFile("/proc/" + entry + "/environ"));
            for (std::string v; std::getline(vars, v, '\0');)
                if (v == mark) {
                    pids.push_back(atoi(entry.c_str()));
                    break;
                }
        }
        if (pids.empty())
            break;
        usleep(100 * 1000);
    }
    return pids;
}

std::string PrinterUri(const AppServer& app)
{
    return "ipp://127.0.0.1:" + std::to_string(app.port) + "/ipp/print/" + kPrinter;
}

ProcessResult RunApp(const AppServer& app, const std::vector<std::string>& args)
{
    // PAPPL starts a server of its own with argv[0] when none runs.
    std::vector<std::string> argv = {QUORIN_APP_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(QUORIN_APP_PATH, argv, StateEnv(app));
}

ProcessResult RunIpptool(const AppServer& app, const std::string& testFile, const std::vector<std::string>& vars,
                         const std::string& document)
{
    std::vector<std::string> argv = {"ipptool", "-t", "-v"};
    for (const std::string& v : vars) {
        argv.push_back("-d");
        argv.push_back(v);
    }
    if (!document.empty()) {
        argv.push_back("-f");
        argv.push_back(document);
    }
    argv.push_back(PrinterUri(app));
    argv.push_back(testFile);
    return RunProgram(QUORIN_IPPTOOL, argv);
}

std::string WebPage(const AppServer& app, const std::string& path)
{
    http_t* http = httpConnect2("127.0.0.1", app.port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
    if (!http)
        return "";
    std::string page;
    http_status_t status = HTTP_STATUS_ERROR;
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_HOST, "127.0.0.1"); // PAPPL refuses requests without one
    if (httpGet(http, path.c_str()) == 0) {
        while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        char buf[8192];
        ssize_t n;
        while ((n = httpRead2(http, buf, sizeof buf)) > 0)
            page.append(buf, (size_t)n);
    }
    httpClose(http);
    return status == HTTP_STATUS_OK ? page : "";
}

int CountResults(const std::string& report, const char* result)
{
    int n = 0;
    for (const std::string& line : SplitLines(report))
        n += line.find(result) != std::string::npos;
    return n;
}

IppJob PrintDocument(const AppServer& app, const std::string& document, const std::string& format,
                     const std::vector<std::string>& jobAttrs, bool cancelMidway)
{
    static int serial = 0;
    std::string name = "job" + std::to_string(++serial);
    std::string testFile = app.dir + "/" + name + ".test";
    std::ofstream(testFile) << JobTest(format, jobAttrs, cancelMidway);
    ProcessResult r = RunIpptool(app, testFile, {"jobname=" + name}, document);
    IppJob job;
    job.report = r.out + r.err;
    job.state = LastValue(r.out, "job-state");
    job.message = LastValue(r.out, "job-state-message");
    std::string impressions = LastValue(r.out, "job-impressions-completed");
    job.impressions = impressions.empty() ? -1 : atoi(impressions.c_str());
    std::string sheets = LastValue(r.out, "job-media-sheets-completed");
    job.sheets = sheets.empty() ? -1 : atoi(sheets.c_str());
    job.stream = ReadFile(app.dir + "/out/" + name + ".prn");
    return job;
}

std::string ServerChildren(const AppServer& app)
{
    std::string tasks = "/proc/" + std::to_string(app.pid) + "/task/", children;
    for (const std::string& task : DirEntries(tasks))
        children += ReadFile(tasks + task + "/children");
    return children;
}

ProcessUse ServerUse(const AppServer& app)
{
    ProcessUse use;
    std::string proc = "/proc/" + std::to_string(app.pid);
    for (const std::string& line : SplitLines(ReadFile(proc + "/status")))
        if (line.compare(0, 6, "VmRSS:") == 0)
            use.rssKb = atol(line.c_str() + 6);
    for (int i = 0; i < 20; ++i) {
        int fds = (int)DirEntries(proc + "/fd").size();
        if (use.fds < 0 || fds < use.fds)
            use.fds = fds;
        usleep(50 * 1000);
    }
    return use;
}
