#include "system_setup.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "admin_access.h"
#include "document_uploads.h"
#include "file_device.h"
#include "job_watchdog.h"
#include "library_workarounds.h"
#include "print_document.h"
#include "quorin_driver.h"
#include "server_lifecycle.h"
#include "state_file.h"

namespace {
struct Named {
    const char* name;
    unsigned value;
};

const Named kServerOptions[] = {
    {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST},   {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET},
    {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER}, {"web-log", PAPPL_SOPTIONS_WEB_LOG},
    {"web-network", PAPPL_SOPTIONS_WEB_NETWORK}, {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE},
    {"web-security", PAPPL_SOPTIONS_WEB_SECURITY}, {"web-tls", PAPPL_SOPTIONS_WEB_TLS},
    {"no-tls", PAPPL_SOPTIONS_NO_TLS},
};

const Named kLogLevels[] = {
    {"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO},   {"warn", PAPPL_LOGLEVEL_WARN},
    {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL},
};

pappl_soptions_t ServerOptions(const char* list)
{
    pappl_soptions_t opts = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
    std::string all = list ? list : "";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos)
            end = all.size();
        std::string word = all.substr(start, end - start);
        for (const Named& o : kServerOptions)
            if (word == o.name)
                opts |= o.value;
        if (word == "no-multi-queue")
            opts &= ~(pappl_soptions_t)PAPPL_SOPTIONS_MULTI_QUEUE;
        if (word == "no-web-interface")
            opts &= ~(pappl_soptions_t)PAPPL_SOPTIONS_WEB_INTERFACE;
        start = end + 1;
    }
    return opts;
}

pappl_loglevel_t LogLevel(const char* name)
{
    for (const Named& l : kLogLevels)
        if (name && strcmp(name, l.name) == 0)
            return (pappl_loglevel_t)l.value;
    return PAPPL_LOGLEVEL_INFO;
}

// Bytes, with an optional k or m; `otherwise` when not a size.
size_t LogSize(const char* value, size_t otherwise)
{
    char* end = nullptr;
    unsigned long long n = value ? strtoull(value, &end, 10) : 0;
    if (!value || end == value)
        return otherwise;
    if (*end == 'k' || *end == 'K')
        n <<= 10, ++end;
    else if (*end == 'm' || *end == 'M')
        n <<= 20, ++end;
    return *end ? otherwise : (size_t)n;
}

unsigned Seconds(const char* value, unsigned otherwise)
{
    long n = value ? strtol(value, nullptr, 10) : 0;
    return n > 0 ? (unsigned)n : otherwise;
}

const size_t kLogSize = 1 << 20, kDebugLogSize = 32 << 20;

void BeforeDelete(pappl_system_t* system)
{
    FinishServerLifecycle(system);
    FinishStateFile(system);
}
} // namespace

pappl_system_t* CreateSystem(int num_options, cups_option_t* options, void* data)
{
    const AppContext* app = static_cast<const AppContext*>(data);
    auto option = [&](const char* name) { return cupsGetOption(name, num_options, options); };
    const char* port = option("server-port");
    const char* name = option("server-name");
    pappl_system_t* system = papplSystemCreate(
        ServerOptions(option("server-options")), name ? name : "Quorin Printer App", port ? atoi(port) : 0,
        "_print,_universal", option("spool-directory"), option("log-file"), LogLevel(option("log-level")),
        option("auth-service"), false);
    if (!system)
        return nullptr;
    if (const char* host = option("server-hostname"))
        papplSystemSetHostName(system, host);
    // The server the sub-commands start for themselves stays on the local
    // socket PAPPL adds.
    const char* hidden = option("private-server");
    if (!hidden || strcmp(hidden, "true") != 0)
        papplSystemAddListeners(system, option("listen-hostname"));
    papplSystemSetPrinterDrivers(system, kQuorinDriverCount, kQuorinDrivers, QuorinAutoAdd, QuorinPrinterCreated,
                                 QuorinDriver, data);
    AddDocumentFilters(system);
    papplSystemSetMIMECallback(system, DetectDocumentFormat, nullptr);
    SetJobTimeLimit(Seconds(option("job-timeout"), 3600));
    SetDocumentTimeLimit(Seconds(option("document-timeout"), 300));
    SetUpAdminAccess(system, option("admin-group"));
    AddSettingNames(system);
    // A debug log fills PAPPL's 1 MiB within seconds; the log is rotated
    // once it reaches this, and one older file is kept.
    const bool debug = LogLevel(option("log-level")) == PAPPL_LOGLEVEL_DEBUG;
    papplSystemSetMaxLogSize(system, LogSize(option("max-log-size"), debug ? kDebugLogSize : kLogSize));
    if (!app || !app->server)
        return system;
    CheckLibraryWorkarounds(system);
    std::string why;
    if (!SetFileDeviceDirectory(option("file-device-directory"), &why))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "file: devices are off: %s.", why.c_str());
    if (!app->dnssd)
        papplLog(system, PAPPL_LOGLEVEL_WARN, "avahi-daemon is not running: the printers are not announced on the "
                                              "network (DNS-SD) and network printers are not discovered.");
    UseStateFile(system, StateFilePath(app->baseName, option("state-directory")), LegacyStateFilePath(app->baseName),
                 KeepSettingsOnSteps);
    PrepareServerLifecycle(system, app->baseName);
    BeforeSystemDelete(system, BeforeDelete);
    return system;
}
