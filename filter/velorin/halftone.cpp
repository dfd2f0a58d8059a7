// Screens an eight-bit gray page to one bit per pixel (1 = light) through a
// density-dependent tone curve and the clustered-dot threshold matrix.
#include "halftone.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "border_quality.h"
#include "job_info.h"
#include "threshold_matrix.h"

namespace {
const float gammaVal[GAMMA_CURVES] = {1.0f, 1.1f, 1.2f, 1.35f, 2.0f, 2.35f, 3.5f};
const int brightness = 255;
const int kMaxDensity = GAMMA_CURVES - 1;
const int kTonerSaveCurve = 2;

// Bit x of out = gray[x] >= thr[x mod 128], for x < pixels; the rest of the
// `outBytes` bytes are cleared. out may alias gray.
void ScreenLine(const BYTE* gray, const BYTE* __restrict thr, DWORD pixels, BYTE* __restrict flags,
                BYTE* out, DWORD outBytes)
{
    for (DWORD x0 = 0; x0 < pixels; x0 += DX_CLUSTER) {
        DWORD n = std::min<DWORD>(DX_CLUSTER, pixels - x0);
        const BYTE* g = gray + x0;
        BYTE* __restrict f = flags + x0;
        for (DWORD k = 0; k < n; ++k)
            f[k] = g[k] >= thr[k];
    }
    DWORD whole = pixels / 8;
    for (DWORD j = 0; j < whole; ++j)
        out[j] = PackEight(flags + 8 * j);
    DWORD done = whole;
    if (pixels % 8) {
        BYTE last = 0;
        for (DWORD x = whole * 8; x < pixels; ++x)
            last |= (BYTE)(flags[x] << (7 - (x % 8)));
        out[done++] = last;
    }
    if (done < outBytes)
        memset(out + done, 0, outBytes - done);
}
} // namespace

BOOL BuildToneCurve(int select, BYTE* gammatbl)
{
    if (select < 0 || select >= GAMMA_CURVES)
        return FALSE;
    const float g = gammaVal[select];
    for (int i = 0; i < 256; ++i) {
        int v = std::min(i, brightness);
        float x = (float)v / 255.0f;
        float p = (float)pow((double)x, (double)g);
        float scaled = p * 255.0f;
        gammatbl[i] = (BYTE)(int)((double)scaled + 0.5);
    }
    return TRUE;
}

BOOL HalftoneBegin(const PageView* page, LONG nDensity, BOOL tonerSave, HalftoneScreen* hs)
{
    memset(hs, 0, sizeof *hs);
    hs->tick = GetTickCount();
    const BYTE* lpbuf = page->bits;
    const DWORD page_width = page->width;
    hs->page_height = page->height;
    hs->linebyte = page->stride;
    // Widths whose line size does not fit the 16-bit result come back short.
    hs->linebyteHft = page_width <= 0x7FFFFFF8u ? GetBMPBytesPerLine(1, (LONG)page_width) : 0;
    DbgMsg("ApplyHalftone In");

    // The one-bit page is built in the gray page's own buffer, so its lines
    // must not be longer than the gray ones.
    const bool sizeOk = hs->linebyteHft != 0 && (uint64_t)hs->linebyteHft * 8 >= page_width &&
                        hs->linebyteHft <= hs->linebyte;
    // Densities below 1 are refused like 0; toner saving does not rescue them.
    if (!lpbuf || hs->linebyte == 0 || !sizeOk || hs->page_height == 0 || nDensity < 1) {
        DbgMsg("ApplyHalftone::Argument Incorrect");
        HalftoneEnd(nullptr, hs, FALSE);
        return FALSE;
    }

    const int select = tonerSave ? kTonerSaveCurve
                                                           : (int)std::min<LONG>(nDensity, kMaxDensity);
    DbgMsg("ApplyHalftone::Calculate Brightness & Gamma Start");
    DbgMsg("ApplyHalftone::brightness = %d", brightness);
    DbgMsg("ApplyHalftone::select = %d", select);
    BYTE gammatbl[256];
    BuildToneCurve(select, gammatbl);
    DbgMsg("ApplyHalftone::Gamma = %f", (double)gammaVal[select]);
    DbgMsg("ApplyHalftone::Calculate Brightness & Gamma Finish");

    DbgMsg("ApplyHalftone::Calculate Halftone Start");
    DbgMsg("ApplyHalftone::DX_CLUSTER = %d", DX_CLUSTER);
    hs->pixels = std::min<DWORD>(hs->linebyte, hs->linebyteHft * 8);
    hs->thresholds = static_cast<BYTE*>(malloc(DX_CLUSTER * DX_CLUSTER));
    hs->scratch = static_cast<BYTE*>(malloc(hs->pixels));
    if (!hs->thresholds || !hs->scratch) {
        DbgMsg("ApplyHalftone::Halftone_tbl is NULL");
        HalftoneEnd(nullptr, hs, FALSE);
        return FALSE;
    }
    // A gray value of 0 stays dark even where the curve takes the threshold
    // down to 0, so such thresholds are kept at 1; 255 is always light as no
    // threshold exceeds 254.
    const BYTE* stored = &FINE_TAry[0][0];
    for (int k = 0; k < DX_CLUSTER * DX_CLUSTER; ++k) {
        int t = std::min(std::max((int)stored[k], 1), 254);
        hs->thresholds[k] = std::max(gammatbl[t], (BYTE)1);
    }
    DbgMsg("ApplyHalftone::Calculate Halftone Finish");
    DbgMsg("ApplyHalftone::Apply Halftone Start");
    DbgMsg("ApplyHalftone::lineLeft = %d", (int)hs->page_height);
    DbgMsg("ApplyHalftone::linebyte = %d", (int)hs->linebyte);
    return TRUE;
}

void HalftoneLine(const HalftoneScreen* hs, DWORD y, const BYTE* gray, BYTE* out)
{
    // The second line repeats the first matrix row.
    DWORD row = y == 0 ? 0 : (y - 1) % DX_CLUSTER;
    ScreenLine(gray, hs->thresholds + row * DX_CLUSTER, hs->pixels, hs->scratch, out, hs->linebyteHft);
}

void HalftoneEnd(PageView* page, HalftoneScreen* hs, BOOL rc)
{
    if (rc) {
        DbgMsg("ApplyHalftone::Apply Halftone Finish");
        page->stride = hs->linebyteHft;
    }
    free(hs->scratch);
    free(hs->thresholds);
    hs->scratch = nullptr;
    hs->thresholds = nullptr;
    DbgMsg("ApplyHalftone:: Out, Tick = %d", (int)(DWORD)(GetTickCount() - hs->tick));
}

BOOL HalftonePage(PageView* page, LONG nDensity, BOOL tonerSave)
{
    // One-bit line y lands on gray lines 0..y, which are read already, so the
    // page is screened in place: no second page buffer to fault in.
    LineScreen s;
    if (LineScreenBegin(&s, page, nDensity, tonerSave, FALSE, page->bits) != LINE_SCREEN_OK)
        return FALSE;
    for (DWORD y = 0; y < page->height; ++y)
        LineScreenPush(&s, page->bits + (size_t)y * page->stride, page->stride);
    LineScreenEnd(&s, page, TRUE);
    return TRUE;
}

BOOL ApplyHalftone(JobInfo* lpJob)
{
    return ScreenSlotPage(lpJob, HalftonePage);
}
