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

#include <algorithm>
#include <cmath>
#include <utility>

#include "child_process.h"
#include "document_formats.h"
#include "job_settings.h"
#include "job_watchdog.h"
#include "media_tables.h"
#include "sheet_placement.h"
#include "raster_bridge.h"

namespace {
// The engine's unprintable border, every side, in points.
const double kMarginPoints = kMarginHmm * 72.0 / 2540.0;
const size_t kMaxRuns = 20;

struct Ghostscript {
    pid_t pid = -1;
    int raster = -1;          // its standard output
    FILE* messages = nullptr; // its standard error, read when it is done
};

// A run of pages placed alike: one Ghostscript run.
struct PageRun {
    int first = 1, last = 0; // 0: to the end
    SheetPlacement placement;
};

std::string Points(double points)
{
    char text[32];
    snprintf(text, sizeof text, "%.3f", points);
    return text;
}

std::vector<std::string> GhostscriptArgs(const JobSettings& settings, const char* file, bool pdf, const PageRun& run)
{
    std::vector<std::string> argv = {
        "gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER",
        // PostScript's own output would land in the raster.
        "-sstdout=%stderr", "-sDEVICE=pwgraster", "-dcupsBitsPerColor=8", "-r" + std::to_string(settings.resolution),
        "-dDEVICEWIDTHPOINTS=" + Points(run.placement.width), "-dDEVICEHEIGHTPOINTS=" + Points(run.placement.height),
        "-dFIXEDMEDIA", pdf ? "-dPDFFitPage" : "-dFitPage"};
    // Text and graphics as RGB, as the filter gets them from CUPS; photos
    // as gray, which Ghostscript's exact colour conversion makes twice as
    // slow as RGB, and its fast one as fast.
    if (settings.photo) {
        argv.push_back("-dcupsColorSpace=18");
        argv.push_back("-dUseFastColor=true");
    } else {
        argv.push_back("-dcupsColorSpace=19");
    }
    if (run.first > 1)
        argv.push_back("-dFirstPage=" + std::to_string(run.first));
    if (run.last > 0)
        argv.push_back("-dLastPage=" + std::to_string(run.last));
    argv.push_back("-sOutputFile=%stdout");
    argv.push_back(file);
    return argv;
}

bool StartGhostscript(pappl_job_t* job, Ghostscript* gs, const std::vector<std::string>& argv, FILE* out = nullptr)
{
    int pipeEnds[2] = {-1, -1};
    gs->messages = tmpfile();
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (!gs->messages || in < 0 || (!out && pipe2(pipeEnds, O_CLOEXEC) != 0)) {
        if (in >= 0)
            close(in);
        return false;
    }
    gs->pid = SpawnChild("gs", argv, in, out ? fileno(out) : pipeEnds[1], fileno(gs->messages), ChildCpuLimit(1));
    if (gs->pid > 0)
        WatchChild(job, gs->pid);
    close(in);
    if (!out) {
        close(pipeEnds[1]);
        gs->raster = pipeEnds[0];
    }
    return gs->pid > 0;
}

// The size of each page of a PDF as Ghostscript shows it (its MediaBox,
// turned by its /Rotate); empty when it cannot tell.
std::vector<std::pair<double, double>> PdfPageSizes(pappl_job_t* job, const char* file)
{
    std::vector<std::pair<double, double>> sizes;
    const char* program = "QuorinFile (r) file runpdfbegin 1 1 pdfpagecount { pdfgetpage dup /MediaBox pget "
                          "not { [0 0 0 0] } if { = } forall /Rotate pget not { 0 } if = } for quit";
    std::vector<std::string> argv = {"gs", "-q", "-dNODISPLAY", "-dSAFER", "-dNOPAUSE", "-dBATCH",
                                     std::string("--permit-file-read=") + file, std::string("-sQuorinFile=") + file,
                                     "-c", program};
    FILE* out = tmpfile();
    Ghostscript gs;
    if (out && StartGhostscript(job, &gs, argv, out) && FinishChild(job, gs.pid) == 0) {
        rewind(out);
        double box[4], rotate;
        while (fscanf(out, "%lf %lf %lf %lf %lf", &box[0], &box[1], &box[2], &box[3], &rotate) == 5) {
            double w = box[2] - box[0], h = box[3] - box[1];
            bool turned = ((long)rotate % 180 + 180) % 180 == 90;
            sizes.emplace_back(turned ? h : w, turned ? w : h);
        }
    }
    if (gs.messages)
        fclose(gs.messages);
    if (out)
        fclose(out);
    return sizes;
}

// The runs of pages to print: consecutive pages placed alike share one.
std::vector<PageRun> PageRuns(pappl_job_t* job, const pappl_pr_options_t* options, const JobSettings& settings,
                              const char* file, bool pdf)
{
    const int first = std::max((int)options->first_page, 1);
    const int last = options->last_page > 0 && options->last_page < INT_MAX ? (int)options->last_page : 0;
    std::vector<std::pair<double, double>> sizes;
    if (pdf)
        sizes = PdfPageSizes(job, file);
    std::vector<PageRun> runs;
    if (!sizes.empty()) {
        for (int page = first; page <= (last > 0 ? std::min(last, (int)sizes.size()) : (int)sizes.size()); ++page) {
            SheetPlacement p = PlacePage(sizes[(size_t)page - 1].first, sizes[(size_t)page - 1].second,
                                         settings.pageSize, kMarginPoints, options->print_scaling);
            const SheetPlacement* q = runs.empty() ? nullptr : &runs.back().placement;
            if (q && q->width == p.width && q->height == p.height && q->boxX == p.boxX && q->boxWidth == p.boxWidth) {
                runs.back().last = page;
                continue;
            }
            PageRun run;
            run.first = run.last = page;
            run.placement = p;
            runs.push_back(run);
        }
    }
    // Pages of many sizes in turn would start Ghostscript for each: they
    // are all fitted into the printable area in one run instead.
    if (runs.size() > kMaxRuns)
        runs.clear();
    if (runs.empty()) {
        PageRun all;
        all.first = first;
        all.last = last;
        all.placement = PlaceUnknownPage(settings.pageSize, kMarginPoints,
                                         sizes.empty() ? options->print_scaling : (pappl_scaling_t)PAPPL_SCALING_FIT);
        runs.push_back(all);
    }
    return runs;
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

int Pixels(double points, unsigned dpi)
{
    return (int)lround(points * dpi / 72.0);
}

// Sends every page Ghostscript makes through the bridge, each placed on
// the paper; false when the bridge refused one.
bool PrintPages(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, const JobSettings& settings,
                const SheetPlacement& placement, int fd, unsigned* pages)
{
    const unsigned dpi = settings.resolution;
    const int width = Pixels(settings.pageSize[0], dpi), height = Pixels(settings.pageSize[1], dpi);
    const int boxX = Pixels(placement.boxX, dpi), boxY = Pixels(placement.boxY, dpi);
    const int boxWidth = Pixels(placement.boxWidth, dpi), boxHeight = Pixels(placement.boxHeight, dpi);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t rendered;
    bool ok = true;
    std::vector<unsigned char> in, out;
    while (ok && !papplJobIsCanceled(job) && cupsRasterReadHeader2(ras, &rendered)) {
        ++*pages;
        const int bytes = (int)rendered.cupsBitsPerPixel / 8;
        const int renderedWidth = (int)rendered.cupsWidth, renderedHeight = (int)rendered.cupsHeight;
        const int x0 = CentredOffset(boxX, boxWidth, renderedWidth);
        const int y0 = CentredOffset(boxY, boxHeight, renderedHeight);
        options->header = rendered;
        options->header.cupsWidth = (unsigned)width;
        options->header.cupsHeight = (unsigned)height;
        options->header.cupsBytesPerLine = (unsigned)(width * bytes);
        ok = bytes >= 1 && BridgeStartPage(job, options, device, *pages);
        in.resize(rendered.cupsBytesPerLine);
        out.resize(options->header.cupsBytesPerLine);
        const int left = std::max(0, x0), right = std::min(width, x0 + renderedWidth);
        int row = 0; // rendered rows read
        for (int y = 0; ok && y < height; ++y) {
            std::fill(out.begin(), out.end(), 255);
            // Rendered rows above the paper are dropped, those on it placed.
            while (row < renderedHeight && row <= y - y0) {
                if (cupsRasterReadPixels(ras, in.data(), (unsigned)in.size()) != in.size())
                    break; // Ghostscript stopped; its exit status tells
                if (row++ == y - y0 && right > left)
                    memcpy(&out[(size_t)left * bytes], &in[(size_t)(left - x0) * bytes],
                           (size_t)(right - left) * bytes);
            }
            ok = BridgeWriteLine(job, options, device, (unsigned)y, out.data());
        }
        // What is left of the rendered page, below the paper.
        for (; ok && row < renderedHeight; ++row)
            if (cupsRasterReadPixels(ras, in.data(), (unsigned)in.size()) != in.size())
                break;
        ok = ok && BridgeEndPage(job, options, device, *pages);
    }
    cupsRasterClose(ras);
    return ok;
}

// One run of pages through Ghostscript; false when the job is to end.
bool PrintRun(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, const JobSettings& settings,
              const char* file, const char* kind, const PageRun& run, unsigned* pages)
{
    Ghostscript gs;
    const bool pdf = !strcmp(kind, "PDF");
    if (!StartGhostscript(job, &gs, GhostscriptArgs(settings, file, pdf, run))) {
        std::string why = std::string("Ghostscript could not be started to read the ") + kind + " document: " +
                          strerror(errno) + ".";
        BridgeFail(job, why.c_str());
        if (gs.raster >= 0)
            close(gs.raster);
        if (gs.messages)
            fclose(gs.messages);
        return false;
    }
    const unsigned before = *pages;
    bool ok = PrintPages(job, options, device, settings, run.placement, gs.raster, pages);
    if (papplJobIsCanceled(job) || !ok)
        kill(-gs.pid, SIGTERM);
    close(gs.raster);
    int status = FinishChild(job, gs.pid);
    if (ok && !papplJobIsCanceled(job) && !JobOutOfTime(job) && (status != 0 || *pages == before)) {
        std::string why = GhostscriptError(gs.messages);
        std::string message = std::string("The ") + kind + " document could not be read" +
                              (why.empty() ? "." : ": " + why);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript exit status %d after %u page(s): %s", status, *pages,
                    why.c_str());
        BridgeFail(job, message.c_str());
        ok = false;
    }
    fclose(gs.messages);
    return ok;
}

// kind: "PDF" or "PostScript", for the messages.
bool PrintWithGhostscript(pappl_job_t* job, pappl_device_t* device, const char* kind)
{
    const char* file = papplJobGetFilename(job);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    if (!options)
        return false;
    const JobSettings settings = SettingsForJob(options, nullptr, nullptr);
    bool ok = BridgeStartJob(job, options, device);
    unsigned pages = 0;
    if (ok)
        for (const PageRun& run : PageRuns(job, options, settings, file, !strcmp(kind, "PDF")))
            if (!(ok = PrintRun(job, options, device, settings, file, kind, run, &pages)) || papplJobIsCanceled(job))
                break;
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
