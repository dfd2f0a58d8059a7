#include "library_workarounds.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>

#include "document_formats.h"
#include "document_uploads.h"

namespace {
template <class Fn>
Fn Next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

const char* const kReplaced[] = {"_papplJobValidateDocumentAttributes", "_papplJobProcess",
                                 "_papplJobCopyDocumentData", "_papplClientFlushDocumentData",
                                 "papplSystemDelete"};

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
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job)
{
    static auto pappl = Next<void (*)(pappl_client_t*, pappl_job_t*)>("_papplJobCopyDocumentData");
    http_t* http = papplClientGetHTTP(client);
    BeginUpload(http, papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job));
    tUploading = true;
    pappl(client, job);
    tUploading = false;
    EndUpload(http);
    if (tAbandoning) {
        tAbandoning = false;
        UnlockAbandonedUpload();
    }
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
}
