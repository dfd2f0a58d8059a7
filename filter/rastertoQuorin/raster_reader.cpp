#include "raster_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "header_fields.h"
#include "job_status.h"
#include "page_placement.h"

namespace {
const DWORD vl_rRate = 30;
const DWORD vl_gRate = 53;
const DWORD vl_bRate = 17;
const DWORD vl_rgbTotal = 100;

bool IsRgbSpace(unsigned cs)
{
    return cs == CUPS_CSPACE_RGB || cs == CUPS_CSPACE_SRGB || cs == CUPS_CSPACE_ADOBERGB;
}

bool IsWhiteSpace(unsigned cs)
{
    return cs == CUPS_CSPACE_W || cs == CUPS_CSPACE_SW;
}

BYTE RgbToGray(const BYTE* p)
{
    return (BYTE)((vl_rRate * p[0] + vl_gRate * p[1] + vl_bRate * p[2] + 1) / vl_rgbTotal);
}
} // namespace

// Printed pages are mostly white paper: eight white pixels are recognised
// with three word compares instead of eight weighted sums.
void ConvertRgbLine3Plain(const BYTE* src, BYTE* dst, DWORD width)
{
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        uint64_t w[3];
        memcpy(w, src + x * 3, sizeof w);
        if ((w[0] & w[1] & w[2]) == ~(uint64_t)0) {
            memset(dst + x, 0xFF, 8);
            continue;
        }
        for (size_t i = x; i < x + 8; ++i)
            dst[i] = RgbToGray(src + i * 3);
    }
    for (; x < width; ++x)
        dst[x] = RgbToGray(src + x * 3);
}

#if defined(__x86_64__)
// Eight pixels at a time: the bytes are regrouped into red-green pairs and
// blues, weighted with multiply-adds, and the sum (at most 25501) divided by
// 100 exactly as (sum * 5243) >> 19. Photo pages have no white runs to skip,
// and the weighted sum one pixel at a time costs as much as libcups's read.
__attribute__((target("ssse3"))) void ConvertRgbLine3Vector(const BYTE* src, BYTE* dst, DWORD width)
{
    const __m128i redGreen = _mm_setr_epi8(0, 1, 3, 4, 6, 7, 9, 10, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i blue = _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i rgWeights = _mm_setr_epi8(30, 53, 30, 53, 30, 53, 30, 53, 30, 53, 30, 53, 30, 53, 30, 53);
    const __m128i bWeights = _mm_setr_epi8(17, 0, 17, 0, 17, 0, 17, 0, 17, 0, 17, 0, 17, 0, 17, 0);
    const __m128i one = _mm_set1_epi16(1), reciprocal = _mm_set1_epi16(5243);
    size_t x = 0;
    // Each load takes 16 bytes for 12: stop where that would pass the line.
    for (; x + 10 <= width; x += 8) {
        __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 3));
        __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 3 + 12));
        __m128i rg = _mm_unpacklo_epi64(_mm_shuffle_epi8(lo, redGreen), _mm_shuffle_epi8(hi, redGreen));
        __m128i b = _mm_unpacklo_epi64(_mm_shuffle_epi8(lo, blue), _mm_shuffle_epi8(hi, blue));
        __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_maddubs_epi16(rg, rgWeights), _mm_maddubs_epi16(b, bWeights)),
                                    one);
        __m128i gray = _mm_srli_epi16(_mm_mulhi_epu16(sum, reciprocal), 3);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + x), _mm_packus_epi16(gray, gray));
    }
    for (; x < width; ++x)
        dst[x] = RgbToGray(src + x * 3);
}
#else
void ConvertRgbLine3Vector(const BYTE* src, BYTE* dst, DWORD width)
{
    ConvertRgbLine3Plain(src, dst, width);
}
#endif

bool VectorRgbLineAvailable(void)
{
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    return ssse3;
#else
    return false;
#endif
}

namespace {

void ConvertRgbLine3(const BYTE* src, BYTE* dst, DWORD width)
{
#if defined(__x86_64__)
    if (VectorRgbLineAvailable()) {
        ConvertRgbLine3Vector(src, dst, width);
        return;
    }
#endif
    ConvertRgbLine3Plain(src, dst, width);
}

// Four bytes a pixel: the step lets the compiler vectorise the loop.
void ConvertRgbLine4(const BYTE* __restrict src, BYTE* __restrict dst, DWORD width)
{
    for (size_t x = 0; x < width; ++x)
        dst[x] = RgbToGray(src + x * 4);
}

void ConvertGrayLine(const BYTE* src, BYTE* dst, DWORD width, bool zeroIsWhite)
{
    if (zeroIsWhite) {
        for (DWORD x = 0; x < width; ++x)
            dst[x] = (BYTE)(255 - src[x]);
    } else {
        memcpy(dst, src, width);
    }
}

void ConvertBitLine(const BYTE* src, BYTE* dst, DWORD width, bool oneIsBlack)
{
    const BYTE one = oneIsBlack ? 0 : 255;
    for (DWORD x = 0; x < width; ++x) {
        bool bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
        dst[x] = bit ? one : (BYTE)(255 - one);
    }
}
} // namespace

const char* CheckRasterHeader(const cups_page_header2_t* h)
{
    thread_local char msg[200];

    const unsigned bpp = h->cupsBitsPerPixel, cs = HeaderValue(h->cupsColorSpace);
    bool chunked = HeaderValue(h->cupsColorOrder) == CUPS_ORDER_CHUNKED;
    bool layoutOk = false;
    if ((bpp == 24 && IsRgbSpace(cs)) ||
        (bpp == 32 && (cs == CUPS_CSPACE_RGBA || cs == CUPS_CSPACE_RGBW)))
        layoutOk = chunked && h->cupsBitsPerColor == 8;
    else if ((bpp == 8 || bpp == 1) && (IsWhiteSpace(cs) || cs == CUPS_CSPACE_K))
        layoutOk = h->cupsBitsPerColor == bpp;
    if (!layoutOk) {
        snprintf(msg, 200,
                 "unsupported raster layout: %u bits per pixel, %u bits per color, color space %u, "
                 "color order %u, where 24-bit RGB or 8- or 1-bit gray is expected",
                 bpp, h->cupsBitsPerColor, cs, HeaderValue(h->cupsColorOrder));
        return msg;
    }
    if (h->cupsWidth == 0 || h->cupsHeight == 0) {
        snprintf(msg, 200, "empty page: %u x %u pixels", h->cupsWidth, h->cupsHeight);
        return msg;
    }
    unsigned long long expected = ((unsigned long long)h->cupsWidth * bpp + 7) / 8;
    if (h->cupsBytesPerLine != expected) {
        snprintf(msg, 200, "inconsistent raster header: %u bytes per line for %u pixels of %u bits",
                 h->cupsBytesPerLine, h->cupsWidth, bpp);
        return msg;
    }
    if (h->cupsWidth > MAX_PAGE_WIDTH || h->cupsHeight > MAX_PAGE_HEIGHT) {
        snprintf(msg, 200, "page too large: %u x %u pixels, at most %u x %u", h->cupsWidth,
                 h->cupsHeight, MAX_PAGE_WIDTH, MAX_PAGE_HEIGHT);
        return msg;
    }
    return nullptr;
}

namespace {
BOOL Fail(PageReadError* error, PageReadFailure kind, const char* reason)
{
    if (error) {
        error->kind = kind;
        error->reason = reason;
    }
    return FALSE;
}
} // namespace

BOOL SetPageGeometry(JobInfo* lpJob, PageReadError* error)
{
    cups_page_header2_t* h = &lpJob->inheader;
    const char* why = CheckRasterHeader(h);
    if (why) {
        DbgMsg("GetCUPSPageData::%s", why);
        return Fail(error, PAGE_READ_REFUSED, why);
    }
    const PagePlacement at = PlacePageOnSheet(h);
    DWORD page_width = PadToPageAlign(at.width);
    DWORD page_height = PadToPageAlign(at.height);
    DbgMsg("GetCUPSPageData::page_width = %d", (int)page_width);
    DbgMsg("GetCUPSPageData::page_height = %d", (int)page_height);
    lpJob->page_width = page_width;
    lpJob->page_height = page_height;
    lpJob->linebyteLeft = page_width - h->cupsWidth;
    lpJob->rasterLeft = at.left;
    lpJob->rasterTop = at.top;
    DWORD linebyte = GetBMPBytesPerLine(8, (LONG)page_width);
    lpJob->linebyte = linebyte;
    DbgMsg("GetCUPSPageData::linebyte = %d", (int)linebyte);
    lpJob->pagesize = linebyte * page_height;
    DbgMsg("GetCUPSPageData::pagesize = %d bytes", (int)lpJob->pagesize);
    return TRUE;
}

BOOL OpenPageLines(const JobInfo* lpJob, PageLineReader* r, PageReadError* error)
{
    const cups_page_header2_t* h = &lpJob->inheader;
    memset(r, 0, sizeof *r);
    r->ras = lpJob->inras;
    r->header = h;
    r->width = lpJob->page_width;
    r->height = lpJob->page_height;
    r->left = lpJob->rasterLeft;
    r->top = lpJob->rasterTop;
    DWORD linesize = (h->cupsBitsPerPixel * r->width) >> 3;
    if (linesize < h->cupsBytesPerLine)
        linesize = h->cupsBytesPerLine;
    DbgMsg("linesize = %d", (int)linesize);
    r->line = static_cast<BYTE*>(malloc(linesize));
    if (!r->line) {
        DbgMsg("GetCUPSPageData::no memory for a line of %d bytes", (int)linesize);
        return Fail(error, PAGE_READ_NO_MEMORY, "not enough memory");
    }
    return TRUE;
}

BOOL ReadPageLines(PageLineReader* r, BYTE* out, DWORD stride, DWORD lines, PageReadError* error)
{
    const cups_page_header2_t* h = r->header;
    const DWORD width = h->cupsWidth, right = r->left + width, bottom = r->top + h->cupsHeight;
    const DWORD srcPixelBytes = h->cupsBitsPerPixel / 8;
    const bool zeroIsWhite = HeaderValue(h->cupsColorSpace) == CUPS_CSPACE_K;
    for (DWORD i = 0; i < lines && r->next < r->height; ++i, ++r->next, out += stride) {
        const DWORD y = r->next;
        if (y < r->top || y >= bottom) {
            memset(out, 0xFF, r->width);
            continue;
        }
        if (JobStopsReading())
            return Fail(error, PAGE_READ_STOPPED, "the job stopped");
        if (cupsRasterReadPixels(r->ras, r->line, h->cupsBytesPerLine) != h->cupsBytesPerLine) {
            DbgMsg("GetCUPSPageData::stream ended at line %d of %d", (int)(y - r->top), (int)h->cupsHeight);
            return Fail(error, PAGE_READ_CUT, "the print data ended inside the page");
        }
        // Only what the line read leaves uncovered is set white.
        memset(out, 0xFF, r->left);
        memset(out + right, 0xFF, r->width - right);
        BYTE* at = out + r->left;
        // Lines of white paper, most of a text page, are white in every
        // layout but the inverted one.
        if (!zeroIsWhite && AllBytesWhite(r->line, h->cupsBytesPerLine))
            memset(at, 0xFF, width);
        else if (srcPixelBytes == 3)
            ConvertRgbLine3(r->line, at, width);
        else if (srcPixelBytes == 4)
            ConvertRgbLine4(r->line, at, width);
        else if (h->cupsBitsPerPixel == 8)
            ConvertGrayLine(r->line, at, width, zeroIsWhite);
        else
            ConvertBitLine(r->line, at, width, zeroIsWhite);
    }
    return TRUE;
}

void ClosePageLines(PageLineReader* r)
{
    free(r->line);
    r->line = nullptr;
}

BOOL GetCUPSPageData(JobInfo* lpJob, PageReadError* error)
{
    DWORD tick = GetTickCount();
    PageLineReader r;
    if (!SetPageGeometry(lpJob, error) || !OpenPageLines(lpJob, &r, error))
        return FALSE;
    BYTE* page = static_cast<BYTE*>(malloc(lpJob->pagesize));
    if (!page) {
        ClosePageLines(&r);
        DbgMsg("GetCUPSPageData::no memory for a page of %d bytes", (int)lpJob->pagesize);
        return Fail(error, PAGE_READ_NO_MEMORY, "not enough memory");
    }
    BOOL ok = ReadPageLines(&r, page, lpJob->linebyte, lpJob->page_height, error);
    ClosePageLines(&r);
    if (!ok) {
        free(page);
        return FALSE;
    }
    lpJob->lpbuf.store(page, std::memory_order_release);
    DbgMsg("GetCUPSPageData Out, using %f sec, rc = %d", TickSeconds(tick), 1);
    return TRUE;
}

void KeepPageBuffersInHeap(void)
{
    mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}

void DisplayPageInfo(cups_page_header2_t* h)
{
    DbgMsg("DisplayPageInfo In");
    DbgMsg("MediaClass = \"%.64s\"", h->MediaClass);
    DbgMsg("MediaColor = \"%.64s\"", h->MediaColor);
    DbgMsg("MediaType = \"%.64s\"", h->MediaType);
    DbgMsg("OutputType = \"%.64s\"", h->OutputType);
    DbgMsg("AdvanceDistance = %d", (int)h->AdvanceDistance);
    DbgMsg("AdvanceMedia = %d", (int)HeaderValue(h->AdvanceMedia));
    DbgMsg("Collate = %d", (int)HeaderValue(h->Collate));
    DbgMsg("cupsBitsPerColor = %d", (int)h->cupsBitsPerColor);
    DbgMsg("cupsBitsPerPixel = %d", (int)h->cupsBitsPerPixel);
    DbgMsg("cupsBytesPerLine = %d", (int)h->cupsBytesPerLine);
    DbgMsg("cupsColorOrder = %d", (int)HeaderValue(h->cupsColorOrder));
    DbgMsg("cupsColorSpace = %d", (int)HeaderValue(h->cupsColorSpace));
    DbgMsg("cupsCompression = %d (Density)", (int)h->cupsCompression);
    DbgMsg("cupsHeight = %d", (int)h->cupsHeight);
    DbgMsg("cupsInteger[0] = %d (TonerSave)", (int)h->cupsInteger[0]);
    DbgMsg("cupsInteger[1] = %d (Invert)", (int)h->cupsInteger[1]);
    DbgMsg("cupsMediaType = %d (MediaType)", (int)h->cupsMediaType);
    DbgMsg("cupsWidth = %d", (int)h->cupsWidth);
    DbgMsg("CutMedia = %d", (int)HeaderValue(h->CutMedia));
    DbgMsg("Duplex = %d (Duplex)", (int)HeaderValue(h->Duplex));
    DbgMsg("HWResolution = [ %d %d ]", (int)h->HWResolution[0], (int)h->HWResolution[1]);
    DbgMsg("ImagingBoundingBox = [ %d %d %d %d ]", (int)h->ImagingBoundingBox[0],
           (int)h->ImagingBoundingBox[1], (int)h->ImagingBoundingBox[2], (int)h->ImagingBoundingBox[3]);
    DbgMsg("InsertSheet = %d", (int)HeaderValue(h->InsertSheet));
    DbgMsg("Jog = %d", (int)HeaderValue(h->Jog));
    DbgMsg("LeadingEdge = %d", (int)HeaderValue(h->LeadingEdge));
    DbgMsg("ManualFeed = %d", (int)HeaderValue(h->ManualFeed));
    DbgMsg("Margins = [ %d %d ]", (int)h->Margins[0], (int)h->Margins[1]);
    DbgMsg("MediaPosition = %d (Tray)", (int)h->MediaPosition);
    DbgMsg("MediaWeight = %d", (int)h->MediaWeight);
    DbgMsg("MirrorPrint = %d", (int)HeaderValue(h->MirrorPrint));
    DbgMsg("NegativePrint = %d", (int)HeaderValue(h->NegativePrint));
    DbgMsg("NumCopies = %d", (int)h->NumCopies);
    DbgMsg("Orientation = %d", (int)HeaderValue(h->Orientation));
    DbgMsg("OutputFaceUp = %d", (int)HeaderValue(h->OutputFaceUp));
    DbgMsg("PageSize = [ %d %d ]", (int)h->PageSize[0], (int)h->PageSize[1]);
    DbgMsg("Separations = %d", (int)HeaderValue(h->Separations));
    DbgMsg("TraySwitch = %d", (int)HeaderValue(h->TraySwitch));
    DbgMsg("Tumble = %d (Duplex)", (int)HeaderValue(h->Tumble));
    DbgMsg("cupsInteger[2] = %d (Mirror)", (int)h->cupsInteger[2]);
    DbgMsg("cupsInteger[3] = %d (Photo)", (int)h->cupsInteger[3]);
    DbgMsg("DisplayPageInfo Out");
}
