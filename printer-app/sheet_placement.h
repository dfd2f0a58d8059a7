// Where a document's page goes on the paper, by the job's print-scaling as
// IPP defines it: 'fit' scales it to the imageable area, 'fill' to the
// whole paper (cropping what is left over), 'none' prints it at its size,
// centred on the paper (cropped where larger); 'auto' and 'auto-fit' fit a
// page larger than the imageable area and leave a smaller one as it is
// ('auto' would fill on borderless paper, which the printer has not). A
// page whose orientation is not the paper's is turned onto it.
#ifndef QUORIN_APP_SHEET_PLACEMENT_H
#define QUORIN_APP_SHEET_PLACEMENT_H

#include <pappl/pappl.h>

struct SheetPlacement {
    // The size, in points, the page is rendered to (the renderer scales
    // and turns it to fill exactly this).
    double width = 0, height = 0;
    // The area, in points from the paper's top left corner, the rendered
    // page is centred in.
    double boxX = 0, boxY = 0, boxWidth = 0, boxHeight = 0;
};

// pageWidth x pageHeight: the page's size in points, turned as it is
// shown; paper: the paper's in points; margin: the unprintable border.
SheetPlacement PlacePage(double pageWidth, double pageHeight, const unsigned paper[2], double margin,
                        pappl_scaling_t scaling);

// The same for a document whose page size is not known (PostScript): it
// is taken to be the paper's.
SheetPlacement PlaceUnknownPage(const unsigned paper[2], double margin, pappl_scaling_t scaling);

// The first pixel offset of a rendered extent within a box, centred: may
// be negative (the page is cropped).
int CentredOffset(int boxStart, int boxSize, int size);

#endif
