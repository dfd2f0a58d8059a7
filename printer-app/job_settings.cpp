#include "job_settings.h"

#include <cstring>
#include <string>

#include "media_tables.h"

const char* const kTonerSaveAttr = "toner-save";
const char* const kNegativeAttr = "negative-print";
const char* const kMirrorAttr = "mirror-print";

namespace {
bool VendorTrue(const pappl_pr_options_t* options, ipp_t* defaults, const char* name)
{
    if (const char* value = cupsGetOption(name, options->num_vendor, options->vendor))
        return strcmp(value, "true") == 0;
    std::string attr = std::string(name) + "-default";
    ipp_attribute_t* def = defaults ? ippFindAttribute(defaults, attr.c_str(), IPP_TAG_BOOLEAN) : nullptr;
    return def && ippGetBoolean(def, 0);
}
} // namespace

unsigned DensityForDarkness(int configured, int requested)
{
    int darkness = configured + requested;
    if (darkness < 0)
        darkness = 0;
    if (darkness > 100)
        darkness = 100;
    // Six equal steps, rounded, with the configured default on density 3.
    return (unsigned)(kDensityLevels - (darkness * (kDensityLevels - 1) + 50) / 100);
}

int DarknessOnStep(int configured)
{
    return (kDensityLevels - (int)DensityForDarkness(configured, 0)) * 100 / (kDensityLevels - 1);
}

JobSettings SettingsForJob(const pappl_pr_options_t* options, const char* documentHandling, ipp_t* printerDefaults)
{
    JobSettings s;
    s.density = DensityForDarkness(options->darkness_configured, options->print_darkness);
    s.tonerSave = VendorTrue(options, printerDefaults, kTonerSaveAttr);
    s.negative = VendorTrue(options, printerDefaults, kNegativeAttr);
    s.mirror = VendorTrue(options, printerDefaults, kMirrorAttr);
    s.mediaType = MediaTypeIndex(options->media.type);
    s.mediaPosition = MediaPositionFor(options->media.source);
    s.duplex = options->sides != PAPPL_SIDES_ONE_SIDED;
    s.tumble = options->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    s.copies = options->copies > 1 ? (unsigned)options->copies : 1;
    s.collate = s.copies > 1 &&
                (!documentHandling || strcmp(documentHandling, "separate-documents-uncollated-copies") != 0);
    s.photo = options->print_content_optimize == PAPPL_CONTENT_PHOTO;
    if (!PaperPoints(options->media.size_name, s.pageSize)) {
        s.pageSize[0] = (unsigned)(options->media.size_width * 72 / 2540);
        s.pageSize[1] = (unsigned)(options->media.size_length * 72 / 2540);
    }
    if (options->printer_resolution[0] > 0)
        s.resolution = (unsigned)options->printer_resolution[0];
    return s;
}

void FilterPageHeader(const JobSettings& s, unsigned width, unsigned height, cups_page_header2_t* h)
{
    memset(h, 0, sizeof *h);
    h->HWResolution[0] = h->HWResolution[1] = s.resolution;
    // A raster document brings its own page size, whatever the job's media
    // says; the printer is told the paper the bitmap fills.
    if (!PaperForPixels(width, height, s.resolution, h->PageSize)) {
        h->PageSize[0] = s.pageSize[0];
        h->PageSize[1] = s.pageSize[1];
    }
    h->ImagingBoundingBox[2] = h->PageSize[0];
    h->ImagingBoundingBox[3] = h->PageSize[1];
    h->cupsPageSize[0] = (float)h->PageSize[0];
    h->cupsPageSize[1] = (float)h->PageSize[1];
    h->cupsWidth = width;
    h->cupsHeight = height;
    h->cupsBitsPerColor = 8;
    h->cupsColorOrder = CUPS_ORDER_CHUNKED;
    // Text and graphics go as RGB so that the filter reinforces their edges,
    // as it does for pages from the printer description; photos as gray.
    if (s.photo) {
        h->cupsBitsPerPixel = 8;
        h->cupsColorSpace = CUPS_CSPACE_SW;
        h->cupsNumColors = 1;
    } else {
        h->cupsBitsPerPixel = 24;
        h->cupsColorSpace = CUPS_CSPACE_RGB;
        h->cupsNumColors = 3;
    }
    h->cupsBytesPerLine = width * (h->cupsBitsPerPixel / 8);
    h->cupsCompression = s.density;
    h->cupsInteger[0] = s.tonerSave;
    h->cupsInteger[1] = s.negative;
    h->cupsInteger[2] = s.mirror;
    // Photo: the filter leaves the edges as they are, whatever the depth.
    h->cupsInteger[3] = s.photo;
    h->cupsMediaType = s.mediaType;
    h->MediaPosition = s.mediaPosition;
    h->Duplex = s.duplex ? CUPS_TRUE : CUPS_FALSE;
    h->Tumble = s.tumble ? CUPS_TRUE : CUPS_FALSE;
    h->NumCopies = s.copies;
    h->Collate = s.collate ? CUPS_TRUE : CUPS_FALSE;
}

const char* FilterOptionString(const JobSettings& s)
{
    return s.collate ? "Collate=True" : "";
}
