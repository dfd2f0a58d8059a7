#include "raster_scaling.h"

#include <algorithm>

namespace {
unsigned Start(unsigned out, unsigned inSize, unsigned outSize)
{
    return (unsigned)((unsigned long long)out * inSize / outSize);
}

unsigned End(unsigned out, unsigned inSize, unsigned outSize)
{
    return std::max(Start(out, inSize, outSize) + 1, Start(out + 1, inSize, outSize));
}
} // namespace

unsigned ScaledSize(unsigned n, unsigned dpi, unsigned outDpi)
{
    return std::max(1u, (unsigned)(((unsigned long long)n * outDpi + dpi / 2) / dpi));
}

void StartScaling(GrayScaler* s, unsigned width, unsigned height, unsigned xDpi, unsigned yDpi, unsigned outDpi)
{
    s->inHeight = height;
    s->outWidth = ScaledSize(width, xDpi, outDpi);
    s->outHeight = ScaledSize(height, yDpi, outDpi);
    s->colStart.resize(s->outWidth);
    s->colEnd.resize(s->outWidth);
    for (unsigned x = 0; x < s->outWidth; ++x) {
        s->colStart[x] = Start(x, width, s->outWidth);
        s->colEnd[x] = std::min(width, End(x, width, s->outWidth));
    }
    s->sums.assign(s->outWidth, 0);
    s->row.assign(s->outWidth, 255);
    s->rowsIn = s->rowsOut = s->rowsSummed = 0;
}

unsigned TakeRow(GrayScaler* s, const unsigned char* in)
{
    for (unsigned x = 0; x < s->outWidth; ++x)
        for (unsigned i = s->colStart[x]; i < s->colEnd[x]; ++i)
            s->sums[x] += in[i];
    ++s->rowsSummed;
    ++s->rowsIn;
    unsigned done = 0;
    while (s->rowsOut + done < s->outHeight &&
           std::min(s->inHeight, End(s->rowsOut + done, s->inHeight, s->outHeight)) == s->rowsIn)
        ++done;
    return done;
}

const unsigned char* EmitRow(GrayScaler* s)
{
    for (unsigned x = 0; x < s->outWidth; ++x)
        s->row[x] = (unsigned char)((s->sums[x] + s->rowsSummed * (s->colEnd[x] - s->colStart[x]) / 2) /
                                    (s->rowsSummed * (s->colEnd[x] - s->colStart[x])));
    ++s->rowsOut;
    // The next output row starts on a later input row: start its sums.
    if (s->rowsOut >= s->outHeight || Start(s->rowsOut, s->inHeight, s->outHeight) >= s->rowsIn) {
        std::fill(s->sums.begin(), s->sums.end(), 0u);
        s->rowsSummed = 0;
    }
    return s->row.data();
}
