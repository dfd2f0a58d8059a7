// Inversion and left-right mirroring of a one-bit page view, in place.
#ifndef VELORIN_NEGATIVE_MIRROR_H
#define VELORIN_NEGATIVE_MIRROR_H

#include "page_view.h"
#include "velorin.h"

// Bytes of the page's stride x height that InvertPage turns: all, or the
// first half.
DWORD InvertedBytes(const PageView* page, BOOL firstHalf);

// Inverts every bit of the page, or of its first half in bytes.
void InvertPage(const PageView* page, BOOL firstHalf);

// Clears (to 0, unprinted) every bit of a one-bit page outside the
// rectangle of w x h pixels at left, top.
void ClearOutsideArea(const PageView* page, DWORD left, DWORD top, DWORD w, DWORD h);

// Mirrors every line of stride bytes: pixel x moves to 8 x stride - 1 - x.
void MirrorPage(const PageView* page);

#endif
