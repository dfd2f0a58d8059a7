// Border quality on a page view: the 3 x 3 edge filter, the line-art
// threshold and the step that screens a gray page with its edges forced dark.
#ifndef VELORIN_BORDER_QUALITY_H
#define VELORIN_BORDER_QUALITY_H

#include "halftone.h"
#include "page_view.h"
#include "velorin.h"

// Filters a gray page (one byte a pixel, bits = 8) in place with a 3 x 3
// kernel whose rows are filterArray[0..2], [3..5], [6..8], edges replicated,
// divided by the kernel's sum (at least 1) and limited to 0..255. Returns
// the lines filtered, 0 when it refused the page or had no memory (the page
// is then untouched). Widths up to 32767 and heights up to 65534 only.
WORD FilterPage3x3(const PageView* page, WORD bits, const int* filterArray, short filterArrayWidth);

// Replaces the gray page by its line-art, packed from the start of the
// buffer at width / 8 bytes a line: 1 where the gray value exceeds threshold.
void LineartPage(const PageView* page, int threshold);

// Screens the gray page in place (as HalftonePage) with the dark side of
// every light-to-dark edge forced to 0. FALSE only when no working memory
// could be had (the page is then untouched); a page the halftone refuses
// stays gray with TRUE. On a screened page the view's stride is the one-bit
// line size.
BOOL BorderQualityPage(PageView* page, LONG nDensity, BOOL tonerSave);

// A gray page screened line by line as its lines arrive, without ever
// holding it whole: one-bit line y lands at out + y * hs.linebyteHft. With
// edges the dark side of every light-to-dark edge is forced dark; the edge
// filter looks one line down, so line y is final once line y + 1 has come
// (or the page has ended). The result is bit for bit that of the page steps.
struct LineScreen {
    HalftoneScreen hs;
    DWORD width, height;
    BOOL edges;
    BYTE* out;      // the one-bit page
    DWORD pushed;   // gray lines given so far
    DWORD finished; // one-bit lines final so far
    int divisor;    // the edge filter's
    BYTE* work;     // one allocation for the lines below
    void* cols;     // the edge filter's scratch
    BYTE *above, *current, *below; // unfiltered gray lines around the next line to finish
    bool aboveWhite, currentWhite, belowWhite; // whether each of them is all white
    BYTE *filtered, *flags, *mask;
    BYTE* whiteOut; // a white line screened: what every line amid white lines becomes
};

enum LineScreenStart {
    LINE_SCREEN_OK,
    LINE_SCREEN_REFUSED,   // the halftone refused the page (traced already)
    LINE_SCREEN_NO_MEMORY, // no working lines for the edge filter
};

// Opens the screen of a page of gray->width x gray->height pixels (gray->bits
// only has to be set), tracing as ApplyHalftone and, with edges, as the
// border-quality step. Nothing to release unless it returns LINE_SCREEN_OK.
LineScreenStart LineScreenBegin(LineScreen* s, const PageView* gray, LONG nDensity, BOOL tonerSave, BOOL edges,
                                BYTE* out);

// Gives the next gray line: its first `have` bytes are read (the rest of the
// width is white; without edges the whole screened width is read). `gray`
// may lie in the one-bit page's buffer past the lines already final.
void LineScreenPush(LineScreen* s, const BYTE* gray, DWORD have);

// Closes the screen: finishes the last line and releases the scratch. With
// rc and every line final, page (when given) takes the one-bit stride.
void LineScreenEnd(LineScreen* s, PageView* page, BOOL rc);

#endif
