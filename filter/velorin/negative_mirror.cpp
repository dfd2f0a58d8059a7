// In-place inversion and left-right mirroring of a one-bit page.
#include "job_info.h"

namespace {
// Plain byte loop: the compiler turns it into wide vector NOTs.
void InvertBytes(BYTE* __restrict p, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        p[i] = (BYTE)~p[i];
}
} // namespace

void DoNegative(JobInfo* lpJob, int InvertHalfImage)
{
    DWORD tick = GetTickCount();
    DWORD len = lpJob->linebyte * lpJob->page_height;
    if (InvertHalfImage != 0)
        len = len / 2;
    DbgMsg("DoNegative In, len = %d", (int)len);
    BYTE* lpbuf = SlotBuffer(lpJob);
    if (lpbuf)
        InvertBytes(lpbuf, len);
    DbgMsg("DoNegative Out, using %f sec, rc = %d", (double)TickSeconds(tick), 1);
}

void DoMirror(JobInfo* lpJob)
{
    DWORD tick = GetTickCount();
    DbgMsg("DoMirror In");
    BYTE BitsList[256];
    for (int i = 0; i < 256; ++i) {
        BYTE r = 0;
        for (int b = 0; b < 8; ++b)
            if (i & (1 << b))
                r |= (BYTE)(0x80 >> b);
        BitsList[i] = r;
    }
    BYTE* lpbuf = SlotBuffer(lpJob);
    const DWORD linebyte = lpJob->linebyte;
    if (lpbuf && linebyte > 0) {
        // Reversing the bytes and reversing each byte's bits are done in one
        // sweep from both ends; the middle byte of an odd line stays put.
        for (DWORD y = 0; y < lpJob->page_height; ++y) {
            BYTE* line = lpbuf + y * linebyte;
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
    DbgMsg("DoMirror Out, using %f sec, rc = %d", (double)TickSeconds(tick), 1);
}

void ReverseBuf(BYTE* lpbuf, long len)
{
    DbgMsg("ReverseBuf In, len = %d", (int)len);
    if (lpbuf && len > 0)
        InvertBytes(lpbuf, (size_t)len);
    DbgMsg("ReverseBuf Out");
}
