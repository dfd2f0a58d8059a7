#include "page_placement.h"

#include <cmath>

#include "raster_reader.h"

namespace {
// The engine cannot print the outer 12 points of a sheet.
const double kMarginPt = 12.0;

// A dimension is short when the raster misses more than one point of it:
// PageSize is rounded to whole points and raster steps round pixels their
// own way, so smaller differences are the same sheet.
bool Short(DWORD pixels, unsigned points, unsigned dpi)
{
    return (unsigned long long)pixels * 72 + dpi < (unsigned long long)points * dpi;
}

DWORD SheetPixels(unsigned points, unsigned dpi)
{
    return (DWORD)(((unsigned long long)points * dpi + 36) / 72);
}

// The fractional box is exact where the integer one is truncated (by five
// pixels at 600 dpi for an image centred by imagetoraster), so it is taken
// when it agrees with the integer one; that also keeps out NaNs and garbage.
// FALSE when there is no box to go by.
BOOL ImagingBox(const cups_page_header2_t* h, double box[4])
{
    bool agree = true;
    for (int i = 0; i < 4; ++i)
        agree = agree && std::fabs(h->cupsImagingBBox[i] - (double)h->ImagingBoundingBox[i]) <= 1.0;
    for (int i = 0; i < 4; ++i)
        box[i] = agree ? h->cupsImagingBBox[i] : (double)h->ImagingBoundingBox[i];
    return box[2] > box[0] && box[3] > box[1] ? TRUE : FALSE;
}

// Points from the sheet's edge to pixels, clamped so the raster stays on it.
DWORD Offset(double points, unsigned dpi, DWORD room)
{
    double px = std::floor(points * dpi / 72.0 + 0.5);
    if (!(px > 0))
        return 0;
    return px < (double)room ? (DWORD)px : room;
}
} // namespace

PagePlacement PlacePageOnSheet(const cups_page_header2_t* h)
{
    PagePlacement p = {h->cupsWidth, h->cupsHeight, 0, 0};
    const unsigned xdpi = h->HWResolution[0], ydpi = h->HWResolution[1];
    if (!xdpi || !ydpi || !h->PageSize[0] || !h->PageSize[1])
        return p;
    if (!Short(h->cupsWidth, h->PageSize[0], xdpi) && !Short(h->cupsHeight, h->PageSize[1], ydpi))
        return p;
    double box[4];
    if (!ImagingBox(h, box)) {
        // Nothing says where the raster goes: where the printable area starts.
        DbgMsg("PlacePageOnSheet::no imaging box, raster placed at the top left of the printable area");
        box[0] = kMarginPt;
        box[3] = (double)h->PageSize[1] - kMarginPt;
    }
    DWORD sheetW = SheetPixels(h->PageSize[0], xdpi), sheetH = SheetPixels(h->PageSize[1], ydpi);
    if (sheetW > MAX_PAGE_WIDTH || sheetH > MAX_PAGE_HEIGHT) {
        DbgMsg("PlacePageOnSheet::sheet of %u x %u pixels too large, raster kept at the top left",
               (unsigned)sheetW, (unsigned)sheetH);
        return p;
    }
    if (sheetW > p.width)
        p.width = sheetW;
    if (sheetH > p.height)
        p.height = sheetH;
    p.left = Offset(box[0], xdpi, p.width - h->cupsWidth);
    p.top = Offset((double)h->PageSize[1] - box[3], ydpi, p.height - h->cupsHeight);
    DbgMsg("PlacePageOnSheet::raster %u x %u placed at %u, %u on a sheet of %u x %u", (unsigned)h->cupsWidth,
           (unsigned)h->cupsHeight, (unsigned)p.left, (unsigned)p.top, (unsigned)p.width, (unsigned)p.height);
    return p;
}
