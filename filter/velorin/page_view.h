// A page bitmap as the image kernels see it: where its lines are and how
// long they are, with nothing of the job or the slot that carries it.
#ifndef VELORIN_PAGE_VIEW_H
#define VELORIN_PAGE_VIEW_H

#include "velorin.h"

struct PageView {
    BYTE* bits;   // first byte of line 0
    DWORD width;  // pixels a line
    DWORD height; // lines
    DWORD stride; // bytes from the start of one line to the next
};

#endif
