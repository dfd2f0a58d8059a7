#include "library_workarounds.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>

#include "admin_access.h"
#include "document_formats.h"
#include "document_uploads.h"
#include "file_device.h"
#include "job_sheets.h"
#include "printer_device.h"

namespace {
template <class Fn>
Fn Next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

const char* const kReplaced[] = {"_papplJobValidateDocumentAttributes",
                                 "_papplJobProcess",
                                 "_papplJobCopyDocumentData",
                                 "_papplClientFlushDocumentData",
                                 "papplSystemDelete",
                                 "_papplClientIsAuthorizedForGroup",
                                 "papplDeviceIsSupported",
                                 "papplPrinterCreate",
                                 "_papplPrinterSetAttributes",
                                 "_papplPrinterCopyAttributesNoLock",
                                 "_papplJobCopyAttributesNoLock",
                                 "_papplJobCopyStateNoLock",
                                 "papplClientHTMLAuthorize"};

pappl_system_t* gServer = nullptr;
void (*gBeforeDelete)(pappl_system_t*) = nullptr;

// A printer's job threads pass one at a time, in the order they arrive.
struct Gate {
    unsigned long next = 0, serving = 0;
    std::condition_variable turn;
};
// Never destroyed: job threads may wait at a gate until the process ends.
std::mutex& gGateLock = *new std::mutex;
std::map<int, Gate>& gGates = *new std::map<int, Gate>;
std::atomic<int> gJobThreads{0};

void NoteOldestPending(pappl_job_t* job, void* data)
{
    pappl_job_t** oldest = static_cast<pappl_job_t**>(data);
    if (papplJobGetState(job) == IPP_JSTATE_PENDING && (!*oldest || papplJobGetID(job) < papplJobGetID(*oldest)))
        *oldest = job;
}

// Printers read back from the saved state keep their device; a file:
// device outside the folder then fails when it is opened.
std::atomic<bool> gLoadingState{false};

// The last attribute of that name in the response: the one just added.
ipp_attribute_t* LastAttribute(ipp_t* response, const char* name)
{
    ipp_attribute_t *last = nullptr, *a = ippFindAttribute(response, name, IPP_TAG_ZERO);
    for (; a; a = ippFindNextAttribute(response, name, IPP_TAG_ZERO))
        last = a;
    return last;
}

bool Requested(cups_array_t* ra, const char* name)
{
    return !ra || cupsArrayFind(ra, const_cast<char*>(name));
}

// Set on a client's thread while its document arrives.
thread_local bool tUploading = false;
thread_local bool tAbandoning = false;
} // namespace

bool CheckLibraryWorkarounds(pappl_system_t* system)
{
    bool all = true;
    for (const char* name : kReplaced)
        if (!dlsym(RTLD_NEXT, name)) {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "PAPPL has no %s: a work-around for its faults is off.", name);
            all = false;
        }
    return all;
}

int JobThreadsRunning()
{
    return gJobThreads.load(std::memory_order_acquire);
}

void BeforeSystemDelete(pappl_system_t* system, void (*fn)(pappl_system_t*))
{
    gServer = system;
    gBeforeDelete = fn;
}

void LoadingState(bool loading)
{
    gLoadingState.store(loading, std::memory_order_release);
}

extern "C" {

// PAPPL checks the document format against a list the printer does not
// have, so it takes every format and its job thread then dies on a null
// string when no filter fits. It also reads PWG and Apple raster straight
// from the client while it holds the printer: every other raster job gets
// server-error-busy and is recorded as aborted, and a raster job reading
// slowly holds the printer for as long as its client likes. Here a format
// the printer does not print is refused with
// client-error-document-format-not-supported, and raster documents are
// spooled like any other: their detected format becomes one that PAPPL
// spools and the app recognises by content when it prints.
bool _papplJobValidateDocumentAttributes(pappl_client_t* client)
{
    static auto pappl = Next<bool (*)(pappl_client_t*)>("_papplJobValidateDocumentAttributes");
    if (!pappl(client))
        return false;
    ipp_t* request = papplClientGetRequest(client);
    ipp_op_t op = papplClientGetOperation(client);
    if (op == IPP_OP_CREATE_JOB)
        return true;
    ipp_attribute_t* detected = ippFindAttribute(request, "document-format-detected", IPP_TAG_MIMETYPE);
    ipp_attribute_t* supplied = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
    const char* format = ippGetString(detected ? detected : supplied, 0, nullptr);
    bool unknownBytes = !detected && format && !strcmp(format, "application/octet-stream");
    // Validate-Job has no document to look at.
    bool accepted = KindOfFormat(format) != DOC_UNKNOWN || (unknownBytes && op == IPP_OP_VALIDATE_JOB);
    if (!accepted) {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED,
                              unknownBytes ? "The document's format was not recognized."
                                           : "The printer does not print documents of format \"%s\".",
                              format ? format : "");
        ipp_attribute_t* copy = ippCopyAttribute(papplClientGetResponse(client), supplied, 0);
        ippSetGroupTag(papplClientGetResponse(client), &copy, IPP_TAG_UNSUPPORTED_GROUP);
        return false;
    }
    DocumentKind kind = KindOfFormat(format);
    if (kind == DOC_PWG_RASTER || kind == DOC_APPLE_RASTER) {
        if (detected)
            ippSetString(request, &detected, 0, kDriverFormat);
        else
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_MIMETYPE, "document-format-detected", nullptr, kDriverFormat);
    }
    return true;
}

// PAPPL starts a job's thread before it marks the printer busy, and marks
// it from that thread: two callers at once (a job ending, a job arriving)
// start two jobs, or one job twice, on one printer; their output mixes, the
// first to end closes the device under the other, and a job finished twice
// is freed twice. It also starts the newest waiting job first. Here each
// printer's job threads pass one at a time, each only once the one before
// has ended completely, and each prints the oldest job still waiting then,
// whichever job it was started for; with none left it ends.
void* _papplJobProcess(pappl_job_t* job)
{
    static auto pappl = Next<void* (*)(pappl_job_t*)>("_papplJobProcess");
    gJobThreads.fetch_add(1, std::memory_order_acq_rel);
    pappl_printer_t* printer = papplJobGetPrinter(job);
    pappl_system_t* system = papplPrinterGetSystem(printer);
    const int printerId = papplPrinterGetID(printer);
    std::unique_lock<std::mutex> lock(gGateLock);
    Gate& gate = gGates[printerId];
    const unsigned long ticket = gate.next++;
    gate.turn.wait(lock, [&] { return gate.serving == ticket; });
    lock.unlock();

    void* result = nullptr;
    pappl_job_t* next = nullptr;
    if ((printer = papplSystemFindPrinter(system, nullptr, printerId, nullptr)) != nullptr)
        papplPrinterIterateActiveJobs(printer, NoteOldestPending, &next, 1, 0);
    if (next)
        result = pappl(next);

    lock.lock();
    gate.serving++;
    gate.turn.notify_all();
    lock.unlock();
    gJobThreads.fetch_sub(1, std::memory_order_acq_rel);
    return result;
}

// A document that arrives too slowly is cut off (see document_uploads).
// PAPPL aborts its job with no reason when the cut ends a read with an
// error rather than an early end.
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job)
{
    static auto pappl = Next<void (*)(pappl_client_t*, pappl_job_t*)>("_papplJobCopyDocumentData");
    http_t* http = papplClientGetHTTP(client);
    const int printerId = papplPrinterGetID(papplJobGetPrinter(job)), jobId = papplJobGetID(job);
    BeginUpload(http, printerId, jobId);
    tUploading = true;
    pappl(client, job);
    tUploading = false;
    EndUpload(http);
    if (tAbandoning) {
        tAbandoning = false;
        UnlockAbandonedUpload();
    }
    if (UploadWasCut(printerId, jobId) && papplJobGetState(job) == IPP_JSTATE_ABORTED)
        papplJobSetMessage(job, "The document did not arrive within %u seconds.", DocumentTimeLimit());
}

// When a document does not arrive, PAPPL takes the system's lock for
// writing while it holds the printer's; its state saving holds the
// system's lock for reading while it waits for the printer's. The two
// deadlock, and with them the main loop: no IPP, no web, no SIGTERM. The
// app's own lock keeps the two apart: PAPPL gives up on a document (the
// only thing it calls this for while a document arrives) under the lock
// shared, the state is saved under it exclusively.
void _papplClientFlushDocumentData(pappl_client_t* client)
{
    static auto pappl = Next<void (*)(pappl_client_t*)>("_papplClientFlushDocumentData");
    if (tUploading && !tAbandoning) {
        LockAbandonedUpload();
        tAbandoning = true;
    }
    pappl(client);
}

// PAPPL deletes the system as soon as its main loop ends, while job threads
// and the app's own threads may still use it.
void papplSystemDelete(pappl_system_t* system)
{
    static auto pappl = Next<void (*)(pappl_system_t*)>("papplSystemDelete");
    if (system && system == gServer && gBeforeDelete)
        gBeforeDelete(system);
    pappl(system);
}

// With no authentication configured, PAPPL lets every client on loopback
// administer the server (add a printer writing to any file as root, delete
// root's printers); configured, it asks remote clients to encrypt even for
// printing. Here administration is the administrator's (admin_access.h),
// and a printer without a print group prints for everyone.
http_status_t _papplClientIsAuthorizedForGroup(pappl_client_t* client, bool allow_remote, const char* group,
                                               gid_t groupid)
{
    static auto pappl =
        Next<http_status_t (*)(pappl_client_t*, bool, const char*, gid_t)>("_papplClientIsAuthorizedForGroup");
    if (allow_remote)
        return !group || !*group ? HTTP_STATUS_CONTINUE : pappl(client, allow_remote, group, groupid);
    switch (AdminRequestVerdict(client)) {
    case ADMIN_ALLOWED:
        return HTTP_STATUS_CONTINUE;
    case ADMIN_LOGIN:
        return pappl(client, allow_remote, group, groupid);
    default:
        return HTTP_STATUS_FORBIDDEN;
    }
}

// PAPPL takes any file: URI it may write to as a device.
bool papplDeviceIsSupported(const char* uri)
{
    static auto pappl = Next<bool (*)(const char*)>("papplDeviceIsSupported");
    std::string why;
    if (uri && !strncmp(uri, "file:", 5))
        return FileDeviceAllowed(uri, &why);
    return pappl(uri);
}

// The web interface adds a printer with any device a form names.
pappl_printer_t* papplPrinterCreate(pappl_system_t* system, int printer_id, const char* printer_name,
                                    const char* driver_name, const char* device_id, const char* device_uri)
{
    static auto pappl = Next<pappl_printer_t* (*)(pappl_system_t*, int, const char*, const char*, const char*,
                                                  const char*)>("papplPrinterCreate");
    std::string why;
    if (!gLoadingState.load(std::memory_order_acquire) && !FileDeviceAllowed(device_uri, &why)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer '%s' not added: %s", printer_name ? printer_name : "",
                 why.c_str());
        errno = EACCES;
        return nullptr;
    }
    return pappl(system, printer_id, printer_name, driver_name, device_id, device_uri);
}

// PAPPL's `modify -v` never sends the device, and nothing in PAPPL could
// change it: the app's sends it as smi55357-device-uri, taken out here
// before PAPPL would refuse it (printer_device.h).
bool _papplPrinterSetAttributes(pappl_client_t* client, pappl_printer_t* printer)
{
    static auto pappl = Next<bool (*)(pappl_client_t*, pappl_printer_t*)>("_papplPrinterSetAttributes");
    ipp_t* request = papplClientGetRequest(client);
    ipp_attribute_t* uri = papplClientGetOperation(client) == IPP_OP_SET_PRINTER_ATTRIBUTES
                               ? ippFindAttribute(request, kDeviceUriAttr, IPP_TAG_ZERO)
                               : nullptr;
    std::string device;
    if (uri) {
        std::string why;
        if (ippGetGroupTag(uri) != IPP_TAG_PRINTER || ippGetValueTag(uri) != IPP_TAG_URI || ippGetCount(uri) != 1 ||
            !papplDeviceIsSupported(ippGetString(uri, 0, nullptr))) {
            papplClientRespondIPPUnsupported(client, uri);
            return false;
        }
        device = ippGetString(uri, 0, nullptr);
        ippDeleteAttribute(request, uri);
    }
    if (!pappl(client, printer))
        return false;
    std::string why;
    if (!device.empty() && !ChangePrinterDevice(printer, device.c_str(), &why)) {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_POSSIBLE, "%s", why.c_str());
        return false;
    }
    return true;
}

// A printer created while the server runs keeps printer-id 0 among its
// attributes until a restart: `delete -d` then finds no printer to delete.
void _papplPrinterCopyAttributesNoLock(pappl_printer_t* printer, pappl_client_t* client, cups_array_t* ra,
                                       const char* format)
{
    using Copy = void (*)(pappl_printer_t*, pappl_client_t*, cups_array_t*, const char*);
    static auto pappl = Next<Copy>("_papplPrinterCopyAttributesNoLock");
    pappl(printer, client, ra, format);
    if (!Requested(ra, "printer-id"))
        return;
    ipp_t* response = papplClientGetResponse(client);
    ipp_attribute_t* id = LastAttribute(response, "printer-id");
    if (id && ippGetInteger(id, 0) != papplPrinterGetID(printer))
        ippSetInteger(response, &id, 0, papplPrinterGetID(printer));
}

// PAPPL has no count of sheets: job-media-sheets-completed comes from the
// filter's pages (job_sheets.h).
void _papplJobCopyAttributesNoLock(pappl_job_t* job, pappl_client_t* client, cups_array_t* ra)
{
    static auto pappl = Next<void (*)(pappl_job_t*, pappl_client_t*, cups_array_t*)>("_papplJobCopyAttributesNoLock");
    pappl(job, client, ra);
    unsigned sheets = 0;
    if (Requested(ra, "job-media-sheets-completed") && SheetsCompleted(job, &sheets))
        ippAddInteger(papplClientGetResponse(client), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-media-sheets-completed",
                      (int)sheets);
}

// PAPPL lists a job's reasons only up to warnings-detected: a held job's
// job-hold-until-specified is left out, and a job held for nothing else
// gets no job-state-reasons at all (IPP requires them in every job's
// state).
void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group_tag, ipp_t* ipp, cups_array_t* ra)
{
    static auto pappl = Next<void (*)(pappl_job_t*, ipp_tag_t, ipp_t*, cups_array_t*)>("_papplJobCopyStateNoLock");
    pappl(job, group_tag, ipp, ra);
    const pappl_jreason_t reasons = papplJobGetReasons(job);
    if (!(reasons & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) || !Requested(ra, "job-state-reasons"))
        return;
    const char* held = "job-hold-until-specified";
    if (reasons == PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) {
        ippAddString(ipp, group_tag, IPP_TAG_KEYWORD, "job-state-reasons", nullptr, held);
    } else if (ipp_attribute_t* listed = LastAttribute(ipp, "job-state-reasons")) {
        ippSetString(ipp, &listed, ippGetCount(listed), held);
    }
}

// Without an auth service or a web password, PAPPL lets everyone use every
// web page, those that add, change and delete printers included. Here the
// pages are the administrator's as IPP is; PAPPL's own password login is
// kept for a server that set one.
bool papplClientHTMLAuthorize(pappl_client_t* client)
{
    static auto pappl = Next<bool (*)(pappl_client_t*)>("papplClientHTMLAuthorize");
    http_status_t code = papplClientIsAuthorized(client);
    if (code == HTTP_STATUS_CONTINUE)
        return true;
    pappl_system_t* system = papplClientGetSystem(client);
    char password[128] = "";
    if (!papplSystemGetAuthService(system) && papplSystemGetPassword(system, password, sizeof password) && *password)
        return pappl(client);
    papplClientRespond(client, code, nullptr, nullptr, 0, 0);
    return false;
}
}
