// Border quality: finds the dark side of light-to-dark edges with a 3 x 3 edge
// filter and forces those pixels dark in the screened page.
#include "border_quality.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "halftone.h"
#include "job_info.h"

namespace {
const int FilterArray[9] = {2, 1, 2, 1, -12, 1, 2, 1, 2};
const WORD kFilterBits = 8;
const int kLineartThreshold = 220;

// The filter and the line-art conversion keep sizes in 16 bits (the filter's
// right-edge test signed), which bounds the pages they can take.
const DWORD kMaxWidth16 = 32767;
const DWORD kMaxHeight16 = 65534;

bool Within16BitRange(const PageView* page)
{
    return page->width <= kMaxWidth16 && page->height <= kMaxHeight16;
}

// ---- 3 x 3 filter ------------------------------------------------------
// up, mid, down: unfiltered lines around the output line (replicated at the
// top and bottom). Column edges see themselves in place of the missing
// neighbour. The fast paths accumulate in Acc, which the caller has shown
// cannot overflow; the result equals the exact 64-bit sum.

template <typename Acc>
inline BYTE Clamp255(Acc v)
{
    return (BYTE)std::min<Acc>(std::max<Acc>(v, 0), 255);
}

inline int64_t Tap9(const int* w, const BYTE* up, const BYTE* mid, const BYTE* down, DWORD l, DWORD c,
                    DWORD r)
{
    return (int64_t)w[0] * up[l] + (int64_t)w[1] * up[c] + (int64_t)w[2] * up[r] +
           (int64_t)w[3] * mid[l] + (int64_t)w[4] * mid[c] + (int64_t)w[5] * mid[r] +
           (int64_t)w[6] * down[l] + (int64_t)w[7] * down[c] + (int64_t)w[8] * down[r];
}

inline BYTE FilterPixelExact(const int* w, int divisor, const BYTE* up, const BYTE* mid,
                             const BYTE* down, DWORD x, DWORD width)
{
    DWORD l = x > 0 ? x - 1 : x;
    DWORD r = x + 1 < width ? x + 1 : x;
    int64_t v = Tap9(w, up, mid, down, l, x, r) / divisor;
    return Clamp255<int64_t>(v);
}

// Interior pixels 1 .. width-2, no branches in the loop.
template <typename Acc, bool kDivide>
void FilterInterior(const int* wi, int divisor, const BYTE* __restrict up, const BYTE* __restrict mid,
                    const BYTE* __restrict down, BYTE* __restrict out, DWORD width)
{
    const Acc w0 = (Acc)wi[0], w1 = (Acc)wi[1], w2 = (Acc)wi[2], w3 = (Acc)wi[3], w4 = (Acc)wi[4],
              w5 = (Acc)wi[5], w6 = (Acc)wi[6], w7 = (Acc)wi[7], w8 = (Acc)wi[8];
    const Acc d = (Acc)divisor;
    for (DWORD x = 1; x + 1 < width; ++x) {
        Acc s = (Acc)(w0 * up[x - 1] + w1 * up[x] + w2 * up[x + 1] + w3 * mid[x - 1] + w4 * mid[x] +
                      w5 * mid[x + 1] + w6 * down[x - 1] + w7 * down[x] + w8 * down[x + 1]);
        if (kDivide)
            s = (Acc)(s / d);
        out[x] = Clamp255<Acc>(s);
    }
}

// The same for kernels symmetric about both axes (as the edge filter is):
// the lines above and below are added first, which halves the multiplies.
template <typename Acc, bool kDivide>
void FilterInteriorSymmetric(const int* wi, int divisor, const BYTE* __restrict up,
                             const BYTE* __restrict mid, const BYTE* __restrict down,
                             BYTE* __restrict out, DWORD width, Acc* __restrict cols)
{
    const Acc corner = (Acc)wi[0], vertical = (Acc)wi[1], side = (Acc)wi[3], centre = (Acc)wi[4];
    const Acc d = (Acc)divisor;
    for (DWORD x = 0; x < width; ++x)
        cols[x] = (Acc)(up[x] + down[x]);
    for (DWORD x = 1; x + 1 < width; ++x) {
        Acc s = (Acc)(corner * (cols[x - 1] + cols[x + 1]) + vertical * cols[x] +
                      side * (mid[x - 1] + mid[x + 1]) + centre * mid[x]);
        if (kDivide)
            s = (Acc)(s / d);
        out[x] = Clamp255<Acc>(s);
    }
}

enum class FilterPath { Int16, Int32, Exact };

struct Kernel {
    const int* w;
    int divisor;
    FilterPath path;
    bool symmetric;
};

Kernel MakeKernel(const int* w, int divisor)
{
    int64_t reach = 0; // largest |sum| for 8-bit input
    for (int i = 0; i < 9; ++i)
        reach += 255 * std::abs((int64_t)w[i]);
    FilterPath path = reach <= 32767 ? FilterPath::Int16
                      : reach <= 0x7FFFFFFF ? FilterPath::Int32
                                            : FilterPath::Exact;
    bool symmetric = w[0] == w[2] && w[0] == w[6] && w[0] == w[8] && w[1] == w[7] && w[3] == w[5];
    return Kernel{w, divisor, path, symmetric};
}

template <typename Acc>
void FilterInteriorAs(const Kernel& k, const BYTE* up, const BYTE* mid, const BYTE* down, BYTE* out,
                      DWORD width, void* cols)
{
    Acc* c = static_cast<Acc*>(cols);
    if (k.symmetric && k.divisor == 1)
        FilterInteriorSymmetric<Acc, false>(k.w, 1, up, mid, down, out, width, c);
    else if (k.symmetric)
        FilterInteriorSymmetric<Acc, true>(k.w, k.divisor, up, mid, down, out, width, c);
    else if (k.divisor == 1)
        FilterInterior<Acc, false>(k.w, 1, up, mid, down, out, width);
    else
        FilterInterior<Acc, true>(k.w, k.divisor, up, mid, down, out, width);
}

// cols: scratch of `width` 32-bit values.
void FilterLine(const Kernel& k, const BYTE* up, const BYTE* mid, const BYTE* down, BYTE* out,
                DWORD width, void* cols)
{
    if (k.path == FilterPath::Exact || width < 3) {
        for (DWORD x = 0; x < width; ++x)
            out[x] = FilterPixelExact(k.w, k.divisor, up, mid, down, x, width);
        return;
    }
    out[0] = FilterPixelExact(k.w, k.divisor, up, mid, down, 0, width);
    out[width - 1] = FilterPixelExact(k.w, k.divisor, up, mid, down, width - 1, width);
    if (k.path == FilterPath::Int16)
        FilterInteriorAs<int16_t>(k, up, mid, down, out, width, cols);
    else
        FilterInteriorAs<int32_t>(k, up, mid, down, out, width, cols);
}

// ---- Line-art ------------------------------------------------------------

// One line of the mask: bit set where gray > limit. mark: `pixels` bytes of scratch.
void LineartLine(const BYTE* gray, BYTE limit, DWORD linebytes, BYTE* __restrict mark,
                 BYTE* out)
{
    const DWORD pixels = linebytes * 8;
    for (DWORD x = 0; x < pixels; ++x)
        mark[x] = gray[x] > limit;
    for (DWORD j = 0; j < linebytes; ++j)
        out[j] = PackEight(mark + 8 * j);
}
} // namespace

namespace {
// The 3 x 3 kernel's weights and divisor as the trace has always shown them.
int KernelDivisor(const int* filterArray)
{
    int64_t sum = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            int m = filterArray[3 * i + j];
            DbgMsg("ApplyFilter3x3::Matrix[i][j] = %d", m);
            DbgMsg("ApplyFilter3x3::filterArray = %d", m);
            sum += m;
        }
    }
    const int MatrixCount = (int)std::min<int64_t>(std::max<int64_t>(sum, 1), 0x7FFFFFFF);
    DbgMsg("ApplyFilter3x3::MatrixCount = %d", MatrixCount);
    return MatrixCount;
}
} // namespace

WORD FilterPage3x3(const PageView* page, WORD bits, const int* filterArray, short filterArrayWidth)
{
    DWORD tick = GetTickCount();
    const WORD width = (WORD)page->width;
    const WORD height = (WORD)page->height;
    DbgMsg("ApplyFilter3x3 In, width = %d, height = %d, lines = %d, bits = %d, ArrayWidth = %d", width,
           height, height, bits, filterArrayWidth);
    // Only 3 x 3 kernels on one byte per pixel are supported; anything else
    // would read past the kernel or the lines.
    if (bits != kFilterBits || filterArrayWidth != 3 || !filterArray || !page->bits ||
        !Within16BitRange(page) || page->stride < page->width) {
        DbgMsg("ApplyFilter3x3::Argument Incorrect");
        return 0;
    }
    const int MatrixCount = KernelDivisor(filterArray);

    const int KeepMatrixLines = (filterArrayWidth / 2) * 2;
    const int HelfKeepMatrixLines = KeepMatrixLines / 2;
    // Lines are filtered in place top to bottom, so only the unfiltered copy
    // of the line above and of the current line is kept, not the whole page.
    DbgMsg("ApplyFilter3x3::Allocate s_imgbuf");
    const DWORD bufsize = 2 * (DWORD)width + (DWORD)width * sizeof(int32_t);
    DbgMsg("ApplyFilter3x3::bufsize = %d", (int)bufsize);
    if (width == 0 || height == 0)
        return height;
    BYTE* s_imgbuf = static_cast<BYTE*>(malloc(bufsize));
    if (!s_imgbuf)
        return 0;

    DbgMsg("ApplyFilter3x3::First Block");
    DbgMsg("ApplyFilter3x3::HelfKeepMatrixLines = %d, line_bytes = %d, lines = %d", HelfKeepMatrixLines,
           width, height);
    DbgMsg("ApplyFilter3x3::Last Block");
    const WORD lines = (WORD)(height + HelfKeepMatrixLines);
    DbgMsg("ApplyFilter3x3::HelfKeepMatrixLines = %d, lines = %d", HelfKeepMatrixLines, lines);

    const Kernel kernel = MakeKernel(filterArray, MatrixCount);
    const DWORD stride = page->stride;
    void* cols = s_imgbuf; // 32-bit scratch first, where it is aligned
    BYTE* above = s_imgbuf + (DWORD)width * sizeof(int32_t); // unfiltered line y - 1
    BYTE* current = above + width;                            // unfiltered line y
    for (DWORD y = 0; y < height; ++y) {
        BYTE* line = page->bits + (size_t)y * stride;
        memcpy(current, line, width);
        const BYTE* up = y == 0 ? current : above;
        const BYTE* down = y + 1 < height ? line + stride : current;
        FilterLine(kernel, up, current, down, line, width, cols);
        std::swap(above, current);
    }

    DbgMsg("ApplyFilter3x3::Final Copy Memory");
    free(s_imgbuf);
    DbgMsg("ApplyFilter3x3 Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return height;
}

void LineartPage(const PageView* page, int threshold)
{
    DWORD tick = GetTickCount();
    const WORD width = (WORD)page->width;
    const WORD high = (WORD)page->height;
    const WORD linebytes = (WORD)(width / 8);
    DbgMsg("GrayToLineart In, threshold = %d", threshold);
    if (!page->bits || !Within16BitRange(page) || page->stride < page->width) {
        DbgMsg("GrayToLineart::Argument Incorrect");
        return;
    }
    // Line y packs into bytes before gray line y ends, and gray line y is
    // read whole before it is written, so the page is packed in place.
    BYTE* s_Buf = static_cast<BYTE*>(malloc((size_t)width + 8));
    if (!s_Buf)
        return; // the mask area stays as it was
    // Pixels past the last whole byte of a line have no place in it.
    for (DWORD y = 0; y < high; ++y) {
        const BYTE* gray = page->bits + (size_t)y * page->stride;
        BYTE* out = page->bits + (size_t)y * linebytes;
        if (threshold < 0)
            memset(out, 0xFF, linebytes);
        else if (threshold >= 255)
            memset(out, 0, linebytes);
        else
            LineartLine(gray, (BYTE)threshold, linebytes, s_Buf, out);
    }
    free(s_Buf);
    DbgMsg("GrayToLineart Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
}

LineScreenStart LineScreenBegin(LineScreen* s, const PageView* gray, LONG nDensity, BOOL tonerSave, BOOL edges,
                                BYTE* out)
{
    memset(s, 0, sizeof *s);
    s->width = gray->width;
    s->height = gray->height;
    s->edges = edges;
    s->out = out;
    const DWORD width = gray->width;
    if (edges) {
        // Three unfiltered gray lines around the one being finished, its
        // filtered copy, the line-art flags and the mask, and the filter's
        // 32-bit scratch first, where it is aligned.
        // The mask takes width / 8 + 1 bytes, the screened white line its
        // one-bit line size, at most width / 8 + 4 (and 4 bytes of padding).
        s->work = static_cast<BYTE*>(malloc((size_t)width * (5 + sizeof(int32_t)) + 2 * (width / 8) + 9));
        if (!s->work)
            return LINE_SCREEN_NO_MEMORY;
        s->cols = s->work;
        s->above = s->work + (size_t)width * sizeof(int32_t);
        s->current = s->above + width;
        s->below = s->current + width;
        s->filtered = s->below + width;
        s->flags = s->filtered + width;
        s->mask = s->flags + width;
        s->whiteOut = s->mask + width / 8 + 1;
        // The filter and the line-art run line by line inside the screen;
        // their parameters are traced where their page passes used to be.
        DbgMsg("DoBorderQuality::Apply Filter");
        DbgMsg("ApplyFilter3x3 In, width = %d, height = %d, lines = %d, bits = %d, ArrayWidth = %d", (int)width,
               (int)s->height, (int)s->height, kFilterBits, 3);
        s->divisor = KernelDivisor(FilterArray);
        DbgMsg("DoBorderQuality::Convert to Lineart");
        DbgMsg("GrayToLineart In, threshold = %d", kLineartThreshold);
    }
    if (!HalftoneBegin(gray, nDensity, tonerSave, &s->hs)) {
        free(s->work);
        s->work = nullptr;
        return LINE_SCREEN_REFUSED;
    }
    if (edges) {
        // Most lines of a printed page lie amid white paper: the filter finds
        // no edge there and the screen leaves every pixel light, as here.
        memset(s->filtered, 255, width);
        HalftoneLine(&s->hs, 0, s->filtered, s->whiteOut);
        const DWORD BWlinebytes = width >> 3;
        DbgMsg("DoBorderQuality::Merge Halftone and Filter");
        DbgMsg("DoBorderQuality::BWlinebytes = %d", (int)BWlinebytes);
        DbgMsg("DoBorderQuality::lpJob->page_height = %d", (int)s->height);
        DbgMsg("DoBorderQuality::bufsize = %d", (int)(BWlinebytes * s->height));
    }
    return LINE_SCREEN_OK;
}

namespace {
// Line y from the gray lines around it (up, current, down): filtered,
// turned into line-art, screened and merged.
void FinishEdgeLine(LineScreen* s, const BYTE* up, bool upWhite, const BYTE* down, bool downWhite)
{
    const DWORD y = s->finished++;
    BYTE* out = s->out + (size_t)y * s->hs.linebyteHft;
    if (upWhite && s->currentWhite && downWhite) {
        memcpy(out, s->whiteOut, s->hs.linebyteHft);
        return;
    }
    const Kernel kernel = MakeKernel(FilterArray, s->divisor);
    FilterLine(kernel, up, s->current, down, s->filtered, s->width, s->cols);
    const DWORD BWlinebytes = s->width >> 3;
    LineartLine(s->filtered, (BYTE)kLineartThreshold, BWlinebytes, s->flags, s->mask);
    HalftoneLine(&s->hs, y, s->current, out);
    for (DWORD i = 0; i < BWlinebytes; ++i)
        out[i] &= (BYTE)~s->mask[i];
}
} // namespace

void LineScreenPush(LineScreen* s, const BYTE* gray, DWORD have)
{
    if (s->pushed >= s->height)
        return;
    if (!s->edges) {
        HalftoneLine(&s->hs, s->pushed, gray, s->out + (size_t)s->pushed * s->hs.linebyteHft);
        s->finished = ++s->pushed;
        return;
    }
    // Set aside before anything is written: the one-bit line may cover it.
    const DWORD copied = std::min(have, s->width);
    const bool first = s->pushed == 0;
    BYTE* into = first ? s->current : s->below;
    memcpy(into, gray, copied);
    memset(into + copied, 255, s->width - copied);
    (first ? s->currentWhite : s->belowWhite) = AllBytesWhite(into, s->width);
    if (s->pushed++ == 0)
        return;
    if (s->finished == 0)
        FinishEdgeLine(s, s->current, s->currentWhite, s->below, s->belowWhite);
    else
        FinishEdgeLine(s, s->above, s->aboveWhite, s->below, s->belowWhite);
    BYTE* spare = s->above;
    s->above = s->current;
    s->aboveWhite = s->currentWhite;
    s->current = s->below;
    s->currentWhite = s->belowWhite;
    s->below = spare;
}

void LineScreenEnd(LineScreen* s, PageView* page, BOOL rc)
{
    // The last line sees itself in place of the line below.
    if (rc && s->edges && s->pushed > s->finished) {
        if (s->finished == 0)
            FinishEdgeLine(s, s->current, s->currentWhite, s->current, s->currentWhite);
        else
            FinishEdgeLine(s, s->above, s->aboveWhite, s->current, s->currentWhite);
    }
    PageView unused{};
    HalftoneEnd(page ? page : &unused, &s->hs, rc && s->finished == s->height);
    free(s->work);
    s->work = nullptr;
}

BOOL BorderQualityPage(PageView* page, LONG nDensity, BOOL tonerSave)
{
    if (!page->bits) {
        DbgMsg("DoBorderQuality::no page");
        return FALSE;
    }
    if (!Within16BitRange(page)) {
        DbgMsg("DoBorderQuality::page outside the range of the edge filter");
        HalftonePage(page, nDensity, tonerSave);
        return TRUE;
    }
    // One pass down the page with a few lines of memory: each one-bit line
    // is written over gray lines that are no longer needed. A page-sized
    // working copy would cost more in page faults than all the arithmetic.
    LineScreen s;
    LineScreenStart start = LineScreenBegin(&s, page, nDensity, tonerSave, TRUE, page->bits);
    if (start == LINE_SCREEN_NO_MEMORY)
        return FALSE;
    if (start == LINE_SCREEN_OK) {
        // Gray lines shorter than the width are read as far as they go.
        for (DWORD y = 0; y < page->height; ++y)
            LineScreenPush(&s, page->bits + (size_t)y * page->stride, page->stride);
        LineScreenEnd(&s, page, TRUE);
    }
    return TRUE;
}

WORD ApplyFilter3x3(JobInfo* lpJob, BYTE* lpbuf, WORD bits, int* filterArray, short filterArrayWidth)
{
    // The caller's buffer holds the page at page_width bytes a line.
    const PageView page{lpbuf, lpJob->page_width, lpJob->page_height, lpJob->page_width};
    return FilterPage3x3(&page, bits, filterArray, filterArrayWidth);
}

void GrayToLineart(JobInfo* lpJob, BYTE* lpbuf, int threshold)
{
    const PageView page{lpbuf, lpJob->page_width, lpJob->page_height, lpJob->page_width};
    LineartPage(&page, threshold);
}

BOOL DoBorderQuality(JobInfo* lpJob)
{
    DWORD tick = GetTickCount();
    DbgMsg("DoBorderQuality In, imgWidth = %d, imgHeight = %d", (int)lpJob->page_width,
           (int)lpJob->page_height);
    BOOL rc = ScreenSlotPage(lpJob, BorderQualityPage);
    DbgMsg("DoBorderQuality Out, using %f sec, rc = %d", (double)TickSeconds(tick), rc);
    return rc;
}
