#include "sheet_placement.h"

#include <algorithm>
#include <utility>

SheetPlacement PlacePage(double w, double h, const unsigned paper[2], double margin, pappl_scaling_t scaling)
{
    const double pw = paper[0], ph = paper[1], iw = pw - 2 * margin, ih = ph - 2 * margin;
    SheetPlacement p;
    if (w <= 0 || h <= 0)
        w = pw, h = ph;
    if ((w > h) != (pw > ph) && w != h)
        std::swap(w, h);
    if (scaling == PAPPL_SCALING_AUTO || scaling == PAPPL_SCALING_AUTO_FIT)
        scaling = w > iw + 0.5 || h > ih + 0.5 ? PAPPL_SCALING_FIT : PAPPL_SCALING_NONE;
    double scale = 1;
    if (scaling == PAPPL_SCALING_FIT) {
        scale = std::min(iw / w, ih / h);
        p.boxX = p.boxY = margin;
        p.boxWidth = iw;
        p.boxHeight = ih;
    } else {
        if (scaling == PAPPL_SCALING_FILL)
            scale = std::max(pw / w, ph / h);
        p.boxWidth = pw;
        p.boxHeight = ph;
    }
    p.width = w * scale;
    p.height = h * scale;
    return p;
}

SheetPlacement PlaceUnknownPage(const unsigned paper[2], double margin, pappl_scaling_t scaling)
{
    return PlacePage(paper[0], paper[1], paper, margin, scaling);
}

int CentredOffset(int boxStart, int boxSize, int size)
{
    return boxStart + (boxSize - size) / 2;
}
