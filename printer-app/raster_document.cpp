#include "raster_document.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "raster_bridge.h"

namespace {
// What is wrong with a page header; empty when nothing.
std::string PageProblem(const cups_page_header2_t& h, unsigned page)
{
    const std::string which = "Page " + std::to_string(page) + " of the raster document";
    if (h.cupsWidth < 1 || h.cupsHeight < 1 || h.cupsWidth > kMaxRasterSide || h.cupsHeight > kMaxRasterSide)
        return which + " is " + std::to_string(h.cupsWidth) + " x " + std::to_string(h.cupsHeight) +
               " pixels; the printer takes up to " + std::to_string(kMaxRasterSide) + " on a side.";
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
    for (unsigned page = 1; ok && !papplJobIsCanceled(job); ++page) {
        std::string problem = PageProblem(header, page);
        if (!problem.empty()) {
            BridgeFail(job, problem.c_str());
            ok = false;
            break;
        }
        // The page's own size and layout, as the client rendered it.
        options->header = header;
        ok = BridgeStartPage(job, options, device, page);
        line.resize(header.cupsBytesPerLine);
        for (unsigned y = 0; ok && y < header.cupsHeight && !papplJobIsCanceled(job); ++y) {
            if (cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) != header.cupsBytesPerLine) {
                std::string cut = "The raster document ends inside page " + std::to_string(page) + ".";
                BridgeFail(job, cut.c_str());
                ok = false;
            } else {
                ok = BridgeWriteLine(job, options, device, y, line.data());
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
