// Border quality on a page view: the 3 x 3 edge filter, the line-art
// threshold and the step that screens a gray page with its edges forced dark.
#ifndef VELORIN_BORDER_QUALITY_H
#define VELORIN_BORDER_QUALITY_H

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

#endif
