// The printer's paper sizes, media types and trays under their IPP names,
// and the raster header values the filter knows them by.
#ifndef QUORIN_APP_MEDIA_TABLES_H
#define QUORIN_APP_MEDIA_TABLES_H

#include <cstddef>

// Printable margins of the engine, every side, every size: 12 points in
// hundredths of millimetres.
const int kMarginHmm = 423;

struct AppPaperSize {
    const char* pwgName;
    short paperCode; // the filter's paper code; its table holds the points
};

extern const AppPaperSize kPaperSizes[];
extern const size_t kPaperSizeCount;

struct AppMediaType {
    const char* keyword;
    short mediaCode; // the filter's media code
};

extern const AppMediaType kMediaTypes[];
extern const size_t kMediaTypeCount;

// Page size in points for a PWG size name, exactly as the filter's paper
// table has it; sizes the printer lacks are rounded from their dimensions.
// Returns false when the name is not a size at all.
bool PaperPoints(const char* pwgName, unsigned points[2]);

// The printer's size that a page of width x height pixels at dpi fills (to
// within 1%), in points as the filter's paper table has it. False when the
// page fits none of them.
bool PaperForPixels(unsigned width, unsigned height, unsigned dpi, unsigned points[2]);

// cupsMediaType for an IPP media-type keyword; plain paper when unknown.
unsigned MediaTypeIndex(const char* keyword);

// MediaPosition for an IPP media-source: 250 lets the printer choose.
unsigned MediaPositionFor(const char* source);

#endif
