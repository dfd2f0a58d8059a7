// In-place inversion and left-right mirroring of a one-bit page.
#include "negative_mirror.h"

#include <cstring>

#include "job_info.h"

namespace {
// Plain byte loop: the compiler turns it into wide vector NOTs.
void InvertBytes(BYTE* __restrict p, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        p[i] = (BYTE)~p[i];
}
} // namespace

DWORD InvertedBytes(const PageView* page, BOOL firstHalf)
{
    DWORD len = page->stride * page->height;
    return firstHalf ? len / 2 : len;
}

void InvertPage(const PageView* page, BOOL firstHalf)
{
    if (page->bits)
        InvertBytes(page->bits, InvertedBytes(page, firstHalf));
}

void ClearOutsideArea(const PageView* page, DWORD left, DWORD top, DWORD w, DWORD h)
{
    if (!page->bits)
        return;
    const DWORD bits = page->stride * 8;
    const DWORD right = left + w < bits ? left + w : bits; // first pixel past the area
    for (DWORD y = 0; y < page->height; ++y) {
        BYTE* line = page->bits + (size_t)y * page->stride;
        if (y < top || y - top >= h || left >= right) {
            memset(line, 0, page->stride);
            continue;
        }
        // Whole bytes outside, then the bits of the bytes the edges cut.
        memset(line, 0, left / 8);
        if (left % 8)
            line[left / 8] &= (BYTE)(0xFF >> (left % 8));
        DWORD tail = (right + 7) / 8;
        if (right % 8)
            line[right / 8] &= (BYTE)(0xFF << (8 - right % 8));
        memset(line + tail, 0, page->stride - tail);
    }
}

void MirrorPage(const PageView* page)
{
    // Built once: pages are mirrored a line at a time as they are screened.
    static const struct Reversed {
        BYTE bits[256];
        Reversed()
        {
            for (int i = 0; i < 256; ++i) {
                BYTE r = 0;
                for (int b = 0; b < 8; ++b)
                    if (i & (1 << b))
                        r |= (BYTE)(0x80 >> b);
                bits[i] = r;
            }
        }
    } reversed;
    const BYTE* BitsList = reversed.bits;
    const DWORD linebyte = page->stride;
    if (!page->bits || linebyte == 0)
        return;
    // Reversing the bytes and reversing each byte's bits are done in one
    // sweep from both ends; the middle byte of an odd line stays put.
    for (DWORD y = 0; y < page->height; ++y) {
        BYTE* line = page->bits + (size_t)y * linebyte;
        DWORD i = 0, j = linebyte - 1;
        for (; i < j; ++i, --j) {
            BYTE left = line[i];
            line[i] = BitsList[line[j]];
            line[j] = BitsList[left];
        }
        if (i == j)
            line[i] = BitsList[line[i]];
    }
}

void DoNegative(JobInfo* lpJob, int InvertHalfImage)
{
    DWORD tick = GetTickCount();
    const PageView page = SlotPage(lpJob);
    DbgMsg("DoNegative In, len = %d", (int)InvertedBytes(&page, InvertHalfImage != 0));
    InvertPage(&page, InvertHalfImage != 0);
    DbgMsg("DoNegative Out, using %f sec, rc = %d", (double)TickSeconds(tick), 1);
}

void DoMirror(JobInfo* lpJob)
{
    DWORD tick = GetTickCount();
    DbgMsg("DoMirror In");
    const PageView page = SlotPage(lpJob);
    MirrorPage(&page);
    DbgMsg("DoMirror Out, using %f sec, rc = %d", (double)TickSeconds(tick), 1);
}

void ReverseBuf(BYTE* lpbuf, long len)
{
    DbgMsg("ReverseBuf In, len = %d", (int)len);
    if (lpbuf && len > 0)
        InvertBytes(lpbuf, (size_t)len);
    DbgMsg("ReverseBuf Out");
}
