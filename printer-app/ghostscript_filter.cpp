#include "ghostscript_filter.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "document_formats.h"
#include "job_settings.h"
#include "job_watchdog.h"
#include "raster_bridge.h"

namespace {
struct Ghostscript {
    pid_t pid = -1;
    int raster = -1;          // its standard output
    FILE* messages = nullptr; // its standard error, read when it is done
};

std::vector<std::string> GhostscriptArgs(const pappl_pr_options_t* options, const JobSettings& settings,
                                         const char* file)
{
    std::vector<std::string> argv = {
        "gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER",
        // PostScript's own output would land in the raster.
        "-sstdout=%stderr", "-sDEVICE=pwgraster", "-dcupsColorSpace=18", "-dcupsBitsPerColor=8",
        "-r" + std::to_string(settings.resolution),
        "-dDEVICEWIDTHPOINTS=" + std::to_string(settings.pageSize[0]),
        "-dDEVICEHEIGHTPOINTS=" + std::to_string(settings.pageSize[1]), "-dFIXEDMEDIA", "-dPDFFitPage"};
    if (options->first_page > 1)
        argv.push_back("-dFirstPage=" + std::to_string(options->first_page));
    if (options->last_page > 0 && options->last_page < INT_MAX)
        argv.push_back("-dLastPage=" + std::to_string(options->last_page));
    argv.push_back("-sOutputFile=%stdout");
    argv.push_back(file);
    return argv;
}

bool StartGhostscript(pappl_job_t* job, Ghostscript* gs, const std::vector<std::string>& argv)
{
    int out[2];
    gs->messages = tmpfile();
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (!gs->messages || in < 0 || pipe2(out, O_CLOEXEC) != 0) {
        if (in >= 0)
            close(in);
        return false;
    }
    gs->pid = SpawnChild("gs", argv, in, out[1], fileno(gs->messages), ChildCpuLimit(1));
    if (gs->pid > 0)
        WatchChild(job, gs->pid);
    close(in);
    close(out[1]);
    gs->raster = out[0];
    return gs->pid > 0;
}

// The line of Ghostscript's messages that says what went wrong.
std::string GhostscriptError(FILE* messages)
{
    std::string first;
    char line[512];
    rewind(messages);
    while (fgets(line, sizeof line, messages)) {
        std::string text(line);
        text.erase(text.find_last_not_of(" \r\n") + 1);
        text.erase(0, text.find_first_not_of(" *"));
        if (text.empty() || text.compare(0, 5, "INFO:") == 0)
            continue;
        if (text.find("Error") != std::string::npos)
            return text;
        if (first.empty())
            first = text;
    }
    return first;
}

// Sends every page Ghostscript makes through the bridge; false when the
// bridge refused one.
bool PrintPages(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, int fd, unsigned* pages)
{
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    bool ok = true;
    std::vector<unsigned char> line;
    while (ok && !papplJobIsCanceled(job) && cupsRasterReadHeader2(ras, &options->header)) {
        ++*pages;
        ok = BridgeStartPage(job, options, device, *pages);
        line.resize(options->header.cupsBytesPerLine);
        for (unsigned y = 0; ok && y < options->header.cupsHeight; ++y) {
            if (cupsRasterReadPixels(ras, line.data(), (unsigned)line.size()) != line.size())
                break; // Ghostscript stopped; its exit status tells
            ok = BridgeWriteLine(job, options, device, y, line.data());
        }
        ok = ok && BridgeEndPage(job, options, device, *pages);
    }
    cupsRasterClose(ras);
    return ok;
}

// kind: "PDF" or "PostScript", for the messages.
bool PrintWithGhostscript(pappl_job_t* job, pappl_device_t* device, const char* kind)
{
    const char* file = papplJobGetFilename(job);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    if (!options)
        return false;
    Ghostscript gs;
    const JobSettings settings = SettingsForJob(options, nullptr, nullptr);
    if (!StartGhostscript(job, &gs, GhostscriptArgs(options, settings, file))) {
        papplJobSetMessage(job, "Ghostscript could not be started to read the %s document: %s.", kind,
                           strerror(errno));
        if (gs.raster >= 0)
            close(gs.raster);
        if (gs.messages)
            fclose(gs.messages);
        papplJobDeletePrintOptions(options);
        return false;
    }
    bool ok = BridgeStartJob(job, options, device);
    unsigned pages = 0;
    if (ok)
        ok = PrintPages(job, options, device, gs.raster, &pages);
    if (papplJobIsCanceled(job) || !ok)
        kill(-gs.pid, SIGTERM);
    close(gs.raster);
    int status = FinishChild(job, gs.pid);
    if (ok && !papplJobIsCanceled(job) && !JobOutOfTime(job) && (status != 0 || pages == 0)) {
        std::string why = GhostscriptError(gs.messages);
        std::string message = std::string("The ") + kind + " document could not be read" +
                              (why.empty() ? "." : ": " + why);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript exit status %d after %u page(s): %s", status, pages,
                    why.c_str());
        BridgeFail(job, message.c_str());
    }
    fclose(gs.messages);
    ok = BridgeEndJob(job, options, device) && ok;
    papplJobDeletePrintOptions(options);
    return ok;
}
} // namespace

bool PrintPdf(pappl_job_t* job, pappl_device_t* device)
{
    // Ghostscript runs PostScript it is handed as a PDF: only a PDF goes in.
    if (SniffFileFormat(papplJobGetFilename(job)) != "application/pdf") {
        papplJobSetMessage(job, "The PDF document could not be read: it is not a PDF file.");
        return false;
    }
    return PrintWithGhostscript(job, device, "PDF");
}

bool PrintPostScript(pappl_job_t* job, pappl_device_t* device)
{
    return PrintWithGhostscript(job, device, "PostScript");
}
