#include "printer_device.h"

#include <cstdio>
#include <cstring>
#include <pthread.h>

const char kDeviceUriAttr[] = "smi55357-device-uri";

namespace {
// The head of PAPPL 1.3's printer record (printer-private.h); PAPPL has no
// call that sets its device. Checked against PAPPL's accessors before use.
struct PrinterHead {
    pthread_rwlock_t rwlock;
    pappl_system_t* system;
    int printer_id;
    char *name, *dns_sd_name, *location, *geo_location, *organization, *org_unit;
    pappl_contact_t contact;
    char* resource;
    size_t resourcelen;
    char* uriname;
    ipp_pstate_t state;
    pappl_preason_t state_reasons;
    time_t state_time;
    bool is_accepting, is_stopped, is_deleted;
    char *device_id, *device_uri;
};

const char* Value(int argc, char* argv[], const char* option)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (!strcmp(argv[i], option))
            return argv[i + 1];
    return nullptr;
}

// The printer's resource as PAPPL makes it from its name.
std::string PrinterResource(const char* name)
{
    std::string out = "/ipp/print/";
    for (const char* p = name; *p; ++p) {
        char c = (*p & 255) <= ' ' || strchr("\177/\\'\"?#", *p) ? '_' : *p;
        if (c != '_' || out.back() != '_')
            out += c;
    }
    if (out.back() == '_')
        out.pop_back();
    return out;
}
} // namespace

bool ChangePrinterDevice(pappl_printer_t* printer, const char* uri, std::string* why)
{
    PrinterHead* head = reinterpret_cast<PrinterHead*>(printer);
    if (head->system != papplPrinterGetSystem(printer) || head->printer_id != papplPrinterGetID(printer) ||
        head->name != papplPrinterGetName(printer) || head->device_id != papplPrinterGetDeviceID(printer) ||
        head->device_uri != papplPrinterGetDeviceURI(printer)) {
        *why = "This version of PAPPL cannot change a printer's device: delete the printer and add it again.";
        return false;
    }
    char* copy = strdup(uri);
    if (!copy) {
        *why = "Out of memory.";
        return false;
    }
    // PAPPL reads the URI without a lock in places: the old one is kept.
    pthread_rwlock_wrlock(&head->rwlock);
    head->device_uri = copy;
    pthread_rwlock_unlock(&head->rwlock);
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Device changed to '%s'.", uri);
    // Marks the configuration changed, so that the state is saved.
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    papplPrinterSetDriverDefaults(printer, &data, 0, nullptr);
    return true;
}

int SendDeviceChange(const char* baseName, const std::string& controlSocket, int argc, char* argv[])
{
    const char* device = Value(argc, argv, "-v");
    const char* printerUri = Value(argc, argv, "-u");
    const char* name = Value(argc, argv, "-d");
    if (!device)
        return 0;
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    std::string target;
    http_t* http = nullptr;
    if (printerUri) {
        if (httpSeparateURI(HTTP_URI_CODING_ALL, printerUri, scheme, sizeof scheme, user, sizeof user, host,
                            sizeof host, &port, resource, sizeof resource) >= HTTP_URI_STATUS_OK)
            http = httpConnect2(host, port, nullptr, AF_UNSPEC,
                                strcmp(scheme, "ipps") ? HTTP_ENCRYPTION_IF_REQUESTED : HTTP_ENCRYPTION_ALWAYS, 1,
                                30000, nullptr);
        target = resource;
    } else if (name) {
        http = httpConnect2(controlSocket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000,
                            nullptr);
        target = PrinterResource(name);
    }
    if (!http) {
        fprintf(stderr, "%s: Unable to change the printer's device: no connection to the server.\n", baseName);
        return 1;
    }
    ipp_t* request = ippNewRequest(IPP_OP_SET_PRINTER_ATTRIBUTES);
    std::string uri = printerUri ? printerUri : "ipp://localhost" + target;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, kDeviceUriAttr, nullptr, device);
    ippDelete(cupsDoRequest(http, request, target.c_str()));
    httpClose(http);
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        fprintf(stderr, "%s: Unable to change the printer's device: %s\n", baseName, cupsLastErrorString());
        return 1;
    }
    return 0;
}
