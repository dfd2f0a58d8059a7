#include "raster_bridge.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "filter_child.h"
#include "filter_messages.h"
#include "job_settings.h"
#include "job_sheets.h"
#include "job_watchdog.h"

namespace {
struct BridgeJob {
    pappl_job_t* job = nullptr;
    pappl_device_t* device = nullptr;
    FilterChild filter;
    JobSettings settings;
    FilterReport report;
    std::string failure;     // why the job failed, for its user
    unsigned lastPage = 0;   // the last page number sent
    bool skipping = false;   // the current page is not sent
    bool rgbIn = false;      // the current page comes as 24-bit RGB
    std::vector<unsigned char> line;
};

BridgeJob* Bridge(pappl_job_t* job)
{
    return static_cast<BridgeJob*>(papplJobGetData(job));
}

void NoteFailure(BridgeJob* b, const std::string& message)
{
    if (b->failure.empty())
        b->failure = message;
}

// A page the filter cannot take ends the job at once.
bool Fail(BridgeJob* b, const std::string& message)
{
    NoteFailure(b, message);
    CancelFilter(&b->filter);
    return false;
}

// Makes the job's completed impressions what the filter reported; PAPPL
// counts the pages it renders on top of that, which `final` takes back.
void SyncImpressions(BridgeJob* b, bool final)
{
    int delta = (int)b->report.impressions - papplJobGetImpressionsCompleted(b->job);
    if (delta > 0 || (final && delta != 0))
        papplJobSetImpressionsCompleted(b->job, delta);
}

bool SendOutput(void* ctx, const void* data, size_t len)
{
    BridgeJob* b = static_cast<BridgeJob*>(ctx);
    return papplDeviceWrite(b->device, data, len) == (ssize_t)len;
}

void OnFilterLine(void* ctx, const std::string& line)
{
    BridgeJob* b = static_cast<BridgeJob*>(ctx);
    std::string text;
    switch (ReadFilterLine(line, &b->report, &text)) {
    case FILTER_LINE_PAGE:
        SyncImpressions(b, false);
        if (b->report.copies > 0)
            CountSide(b->job, b->report.side, b->report.copies, b->settings.duplex);
        break;
    case FILTER_LINE_ERROR:
        papplLogJob(b->job, PAPPL_LOGLEVEL_ERROR, "rastertoQuorin: %s", text.c_str());
        break;
    case FILTER_LINE_INFO:
        papplLogJob(b->job, PAPPL_LOGLEVEL_INFO, "rastertoQuorin: %s", text.c_str());
        break;
    default:
        papplLogJob(b->job, PAPPL_LOGLEVEL_DEBUG, "rastertoQuorin: %s", text.c_str());
        break;
    }
}

const char* JobText(const char* s)
{
    return s ? s : "";
}

const char* DocumentHandling(pappl_job_t* job)
{
    ipp_attribute_t* attr = papplJobGetAttribute(job, "multiple-document-handling");
    return attr ? ippGetString(attr, 0, nullptr) : nullptr;
}

bool Succeeded(const BridgeJob* b, int status)
{
    return status == 0 && b->failure.empty() && !b->filter.inputFailed &&
           !b->filter.outputFailed.load(std::memory_order_acquire);
}

// The first cause, in the words of whoever saw it.
std::string FailureMessage(const BridgeJob* b, int status)
{
    if (!b->failure.empty())
        return b->failure;
    if (!b->report.error.empty())
        return b->report.error;
    if (b->filter.outputFailed.load(std::memory_order_acquire))
        return "The printer did not take the print data.";
    if (status > 128)
        return "The printer driver rastertoQuorin stopped on signal " + std::to_string(status - 128) + ".";
    if (status != 0)
        return "The printer driver rastertoQuorin failed with exit status " + std::to_string(status) + ".";
    return "The printer driver rastertoQuorin stopped reading the job.";
}
} // namespace

bool BridgeStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    if (Bridge(job))
        return true; // started by the document's filter, before PAPPL's image step
    std::string looked;
    std::string path = FindFilter(&looked);
    if (path.empty()) {
        papplJobSetMessage(job, "The printer driver rastertoQuorin is not installed (looked for %s).",
                           looked.c_str());
        return false;
    }
    BridgeJob* b = new (std::nothrow) BridgeJob;
    if (!b)
        return false;
    b->job = job;
    b->device = device;
    ipp_t* defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
    b->settings = SettingsForJob(options, DocumentHandling(job), defaults);
    ippDelete(defaults);
    FilterIo io;
    io.ctx = b;
    io.sendOutput = SendOutput;
    io.onLine = OnFilterLine;
    const std::vector<std::string> argv = {
        JobText(papplPrinterGetName(papplJobGetPrinter(job))),
        std::to_string(papplJobGetID(job)),
        JobText(papplJobGetUsername(job)),
        JobText(papplJobGetName(job)),
        std::to_string(b->settings.copies),
        FilterOptionString(b->settings),
    };
    if (!StartFilter(&b->filter, job, path, argv, io)) {
        papplJobSetMessage(job, "The printer driver %s could not be started: %s.", path.c_str(), strerror(errno));
        FinishFilter(&b->filter);
        delete b;
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printing through %s: %u cop%s%s, density %u, %s pages", path.c_str(),
                b->settings.copies, b->settings.copies == 1 ? "y" : "ies", b->settings.collate ? " collated" : "",
                b->settings.density, b->settings.photo ? "8-bit gray" : "24-bit RGB");
    papplJobSetData(job, b);
    return true;
}

bool BridgeStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page)
{
    BridgeJob* b = Bridge(job);
    if (!b)
        return false;
    // PAPPL prints an image once per copy under the same page number; the
    // filter makes the copies itself.
    b->skipping = page <= b->lastPage || papplJobIsCanceled(job);
    if (b->skipping)
        return b->failure.empty();
    const cups_page_header2_t& in = options->header;
    const bool gray =
        in.cupsBitsPerPixel == 8 && (in.cupsColorSpace == CUPS_CSPACE_SW || in.cupsColorSpace == CUPS_CSPACE_W);
    // Ghostscript renders text pages as RGB, which goes to the filter as it is.
    b->rgbIn = !b->settings.photo && in.cupsBitsPerPixel == 24 &&
               (in.cupsColorSpace == CUPS_CSPACE_RGB || in.cupsColorSpace == CUPS_CSPACE_SRGB);
    if (!gray && !b->rgbIn)
        return Fail(b, "Page " + std::to_string(page) + " came as " + std::to_string(in.cupsBitsPerPixel) +
                           "-bit raster in color space " + std::to_string(in.cupsColorSpace) +
                           "; the printer takes 8-bit gray.");
    b->lastPage = page;
    cups_page_header2_t header;
    FilterPageHeader(b->settings, in.cupsWidth, in.cupsHeight, &header);
    b->line.resize(header.cupsBytesPerLine);
    return FilterWriteHeader(&b->filter, &header);
}

bool BridgeWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                     const unsigned char* line)
{
    BridgeJob* b = Bridge(job);
    if (!b)
        return false;
    if (b->skipping)
        return true;
    if (papplJobIsCanceled(job)) {
        CancelFilter(&b->filter);
        b->skipping = true;
        return true;
    }
    const unsigned width = options->header.cupsWidth;
    const unsigned char* out = line;
    if (!b->settings.photo && !b->rgbIn) {
        // Equal red, green and blue: the filter's gray is the same gray.
        unsigned char* rgb = b->line.data();
        for (unsigned x = 0; x < width; ++x, rgb += 3)
            rgb[0] = rgb[1] = rgb[2] = line[x];
        out = b->line.data();
    }
    return FilterWritePixels(&b->filter, out, (unsigned)b->line.size());
}

bool BridgeEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
    BridgeJob* b = Bridge(job);
    return b && b->failure.empty() && !b->filter.inputFailed;
}

bool BridgeEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
    BridgeJob* b = Bridge(job);
    if (!b)
        return false;
    int status = FinishFilter(&b->filter);
    papplDeviceFlush(device);
    if (JobOutOfTime(job))
        NoteFailure(b, "The job took longer than " + std::to_string(JobTimeLimit()) + " seconds and was stopped.");
    SyncImpressions(b, true);
    bool ok = papplJobIsCanceled(job) || Succeeded(b, status);
    if (!ok)
        papplJobSetMessage(job, "%s", FailureMessage(b, status).c_str());
    papplJobSetData(job, nullptr);
    delete b;
    return ok;
}

void BridgeFail(pappl_job_t* job, const char* message)
{
    if (BridgeJob* b = Bridge(job))
        NoteFailure(b, message);
}
