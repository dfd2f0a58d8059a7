#include "raster_document.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "raster_bridge.h"
#include "raster_scaling.h"

namespace {
const unsigned kPrinterDpi = 600;

// What is wrong with a page header; empty when nothing. The size is the
// page's at the printer's resolution.
std::string PageProblem(const cups_page_header2_t& h, unsigned page)
{
    const std::string which = "Page " + std::to_string(page) + " of the raster document";
    for (unsigned dpi : h.HWResolution)
        if (dpi < kMinPageDpi || dpi > kMaxPageDpi)
            return which + " has a resolution of " + std::to_string(h.HWResolution[0]) + " x " +
                   std::to_string(h.HWResolution[1]) + " dpi; the printer takes pages of " +
                   std::to_string(kMinPageDpi) + " to " + std::to_string(kMaxPageDpi) + " dpi.";
    const unsigned width = ScaledSize(h.cupsWidth, h.HWResolution[0], kPrinterDpi),
                   height = ScaledSize(h.cupsHeight, h.HWResolution[1], kPrinterDpi);
    if (h.cupsWidth < 1 || h.cupsHeight < 1 || width > kMaxRasterSide || height > kMaxRasterSide)
        return which + " is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels at " + std::to_string(kPrinterDpi) + " dpi; the printer takes up to " +
               std::to_string(kMaxRasterSide) + " on a side.";
    if (h.cupsBitsPerPixel != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED ||
        (h.cupsColorSpace != CUPS_CSPACE_SW && h.cupsColorSpace != CUPS_CSPACE_W))
        return which + " has " + std::to_string(h.cupsBitsPerPixel) + "-bit pixels in color space " +
               std::to_string(h.cupsColorSpace) + "; the printer takes 8-bit gray (sgray_8, W8).";
    if (h.cupsBytesPerLine != h.cupsWidth)
        return which + " has a damaged header (" + std::to_string(h.cupsBytesPerLine) + " bytes per line of " +
               std::to_string(h.cupsWidth) + " pixels).";
    return "";
}
} // namespace

bool PrintRasterDocument(pappl_job_t* job, pappl_device_t* device)
{
    int fd = open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC);
    cups_raster_t* ras = fd >= 0 ? cupsRasterOpen(fd, CUPS_RASTER_READ) : nullptr;
    cups_page_header2_t header;
    if (!ras || !cupsRasterReadHeader2(ras, &header)) {
        papplJobSetMessage(job, "The raster document holds no page the printer can read.");
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        cupsRasterClose(ras);
        if (fd >= 0)
            close(fd);
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    bool ok = options && BridgeStartJob(job, options, device);
    std::vector<unsigned char> line;
    GrayScaler scaler;
    for (unsigned page = 1; ok && !papplJobIsCanceled(job); ++page) {
        std::string problem = PageProblem(header, page);
        if (!problem.empty()) {
            BridgeFail(job, problem.c_str());
            ok = false;
            break;
        }
        StartScaling(&scaler, header.cupsWidth, header.cupsHeight, header.HWResolution[0], header.HWResolution[1],
                     kPrinterDpi);
        // The page's own size and layout, as the client rendered it, at the
        // printer's resolution.
        const bool scaling = header.HWResolution[0] != kPrinterDpi || header.HWResolution[1] != kPrinterDpi;
        options->header = header;
        options->header.cupsWidth = options->header.cupsBytesPerLine = scaler.outWidth;
        options->header.cupsHeight = scaler.outHeight;
        options->header.HWResolution[0] = options->header.HWResolution[1] = kPrinterDpi;
        ok = BridgeStartPage(job, options, device, page);
        line.resize(header.cupsBytesPerLine);
        for (unsigned y = 0, out = 0; ok && y < header.cupsHeight && !papplJobIsCanceled(job); ++y) {
            if (cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) != header.cupsBytesPerLine) {
                std::string cut = "The raster document ends inside page " + std::to_string(page) + ".";
                BridgeFail(job, cut.c_str());
                ok = false;
            } else if (!scaling) {
                ok = BridgeWriteLine(job, options, device, y, line.data());
            } else {
                for (unsigned n = TakeRow(&scaler, line.data()); ok && n > 0; --n)
                    ok = BridgeWriteLine(job, options, device, out++, EmitRow(&scaler));
            }
        }
        ok = BridgeEndPage(job, options, device, page) && ok;
        // The count of pages, when the document gives one, tells a document
        // cut off between pages.
        const unsigned total = header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount];
        if (ok && !cupsRasterReadHeader2(ras, &header)) {
            if (page < total) {
                std::string cut = "The raster document ends after page " + std::to_string(page) + " of " +
                                  std::to_string(total) + ".";
                BridgeFail(job, cut.c_str());
                ok = false;
            }
            break;
        }
    }
    cupsRasterClose(ras);
    close(fd);
    if (options) {
        ok = BridgeEndJob(job, options, device) && ok;
        papplJobDeletePrintOptions(options);
    }
    return ok;
}
