// The halftone's tone curves and its screening pass, shared by ApplyHalftone
// and the border-quality step (which screens line by line while it filters).
#ifndef VELORIN_HALFTONE_H
#define VELORIN_HALFTONE_H

#include <cstring>

#include "page_view.h"
#include "velorin.h"

#define GAMMA_CURVES 7

// Fills gammatbl[0..255] with curve `select` (0..6). FALSE for other indexes.
BOOL BuildToneCurve(int select, BYTE* gammatbl);

struct HalftoneScreen {
    DWORD tick;        // start of the pass, for the "Out" line
    DWORD page_height;
    DWORD linebyte;    // bytes per gray line
    DWORD linebyteHft; // bytes per one-bit line
    DWORD pixels;      // pixels screened per line
    BYTE* thresholds;  // 128 x 128, after the tone curve
    BYTE* scratch;     // one line of comparison results
};

// Opens a pass over a gray page: checks it, chooses the curve (density 1..6,
// or the toner-saving one) and builds the thresholds, tracing as
// ApplyHalftone. FALSE when the page cannot be screened; the reason and the
// "Out" line are then logged already.
BOOL HalftoneBegin(const PageView* page, LONG nDensity, BOOL tonerSave, HalftoneScreen* hs);

// Screens gray line y into `out` (linebyteHft bytes). `out` may be `gray`
// itself: the line is read whole before anything is written.
void HalftoneLine(const HalftoneScreen* hs, DWORD y, const BYTE* gray, BYTE* out);

// Closes the pass: on success (every line screened) the page's stride becomes
// the one-bit line size, the only sign that a page is screened. Releases the
// tables and logs the "Out" line.
void HalftoneEnd(PageView* page, HalftoneScreen* hs, BOOL rc);

// The whole halftone on a gray page, in place. TRUE when the page is now one
// bit a pixel (1 = light); FALSE leaves page and view as they were.
BOOL HalftonePage(PageView* page, LONG nDensity, BOOL tonerSave);

// Eight bytes of 0 or 1 to one byte of pixels, the first in the top bit: the
// multiply moves byte k's low bit to bit 63 - k and no partial products meet.
inline BYTE PackEight(const BYTE* flags)
{
    uint64_t w;
    memcpy(&w, flags, 8);
    return (BYTE)((w * 0x8040201008040201ull) >> 56);
}

#endif
