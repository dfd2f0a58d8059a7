// quorin-printer-app: an IPP Everywhere printer application for the Velorin
// Quorin printers, printing through the rastertoQuorin filter.
#include <csignal>
#include <cstring>
#include <string>

#include "device_schemes.h"
#include "dnssd_guard.h"
#include "printer_device.h"
#include "quorin_driver.h"
#include "server_lifecycle.h"
#include "system_setup.h"

namespace {
const char* const kSubcommands[] = {"add",    "autoadd",  "cancel", "default", "delete", "devices",
                                    "drivers", "jobs",    "modify", "options", "pause",  "printers",
                                    "resume", "server",   "shutdown", "status", "submit"};

// The sub-command PAPPL will run ("submit" when none is named), as PAPPL
// reads the command line.
std::string Subcommand(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!strcmp(a, "--")) {
            ++i;
        } else if (a[0] == '-' && a[1]) {
            if (strchr("dhjmnotuv", a[strlen(a) - 1]))
                ++i; // its value
        } else {
            for (const char* s : kSubcommands)
                if (!strcmp(a, s))
                    return a;
        }
    }
    return "submit";
}

bool Named(int argc, char* argv[], const char* option)
{
    for (int i = 1; i < argc; ++i)
        if (!strcmp(argv[i], option))
            return true;
    return false;
}

http_t* Connect(const std::string& socket)
{
    return httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr);
}

bool ServerAnswers(const std::string& socket)
{
    http_t* http = Connect(socket);
    httpClose(http);
    return http != nullptr;
}

// What the `shutdown` sub-command sends.
void StopServer(const std::string& socket)
{
    http_t* http = Connect(socket);
    if (!http)
        return;
    ipp_t* request = ippNewRequest(IPP_OP_SHUTDOWN_ALL_PRINTERS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, "ipp://localhost/ipp/system");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoRequest(http, request, "/ipp/system"));
    httpClose(http);
}
} // namespace

int main(int argc, char* argv[])
{
    // A filter that ends early must show as a failed write, not end the app.
    signal(SIGPIPE, SIG_IGN);
    static AppContext app;
    const char* slash = strrchr(argv[0], '/');
    app.baseName = slash ? slash + 1 : argv[0];
    const std::string subcommand = Subcommand(argc, argv);
    app.server = subcommand == "server";
    if (app.server || subcommand == "devices")
        app.dnssd = DnsSdRunning();
    AddDeviceSchemes(app.dnssd);

    // Every other sub-command starts a server of its own when none runs; it
    // is stopped again once the sub-command is done.
    const bool help = Named(argc, argv, "--help") || Named(argc, argv, "--version");
    const bool mayStart = !help && !Named(argc, argv, "-u") && subcommand != "server" && subcommand != "shutdown" &&
                          subcommand != "devices" && subcommand != "drivers";
    const std::string socket = ControlSocketPath(app.baseName, getuid());
    const bool wasRunning = mayStart && ServerAnswers(socket);
    // PAPPL 1.3's web pages fail without a footer.
    int status = papplMainloop(argc, argv, QUORIN_APP_VERSION,
                               "Velorin Quorin printer application, printing through rastertoQuorin.",
                               kQuorinDriverCount, kQuorinDrivers, QuorinAutoAdd, QuorinDriver, nullptr, nullptr,
                               CreateSystem, nullptr, &app);
    if (status == 0 && !help && subcommand == "modify")
        status = SendDeviceChange(app.baseName, socket, argc, argv);
    if (mayStart && !wasRunning && ServerAnswers(socket))
        StopServer(socket);
    return status;
}
