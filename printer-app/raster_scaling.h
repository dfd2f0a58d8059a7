// 8-bit gray pages at another resolution brought to the printer's: each
// pixel of the new page is the mean of the pixels it covers, or the pixel
// it lies in when the page is enlarged.
#ifndef QUORIN_APP_RASTER_SCALING_H
#define QUORIN_APP_RASTER_SCALING_H

#include <vector>

// Resolutions a page may come in, per axis, in dots per inch.
const unsigned kMinPageDpi = 72, kMaxPageDpi = 2400;

struct GrayScaler {
    unsigned inHeight = 0, outWidth = 0, outHeight = 0;
    std::vector<unsigned> colStart, colEnd; // input columns of each output column
    std::vector<unsigned> sums;
    std::vector<unsigned char> row;         // the output row
    unsigned rowsIn = 0, rowsOut = 0, rowsSummed = 0;
};

// n pixels at dpi, in pixels at outDpi (at least 1).
unsigned ScaledSize(unsigned n, unsigned dpi, unsigned outDpi);

// A page of width x height pixels at xDpi x yDpi, to come out at outDpi.
void StartScaling(GrayScaler* s, unsigned width, unsigned height, unsigned xDpi, unsigned yDpi, unsigned outDpi);

// Takes the next input row; returns how many output rows it completes
// (each is s->row in turn: call EmitRow for each).
unsigned TakeRow(GrayScaler* s, const unsigned char* in);
const unsigned char* EmitRow(GrayScaler* s);

#endif
