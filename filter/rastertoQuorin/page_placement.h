// Where a raster page lies on the bitmap sent to the printer. Raster steps
// that leave out the unprintable margins (gstoraster, pdftoraster) or send
// only an image's own area (imagetoraster) still have to reach the printer as
// whole sheets with the content where the application put it.
#ifndef QUORIN_PAGE_PLACEMENT_H
#define QUORIN_PAGE_PLACEMENT_H

#include <cups/raster.h>

#include "velorin.h"

struct PagePlacement {
    DWORD width, height; // the bitmap before its padding to whole 32-pixel words
    DWORD left, top;     // the raster's first pixel on it
};

// A raster no more than a point short of its PageSize at its resolution is
// the whole sheet and keeps its own size at 0, 0. A shorter one goes on a
// sheet-sized bitmap at its imaging bounding box, kept inside the sheet, or
// without a usable box at the top left of the printable area.
PagePlacement PlacePageOnSheet(const cups_page_header2_t* h);

#endif
