#include "bmp_tools.h"
#include "little_endian.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
static_assert(BMP_FILEHEADER_SIZE + BMP_INFOHEADER_SIZE == 54, "BMP header sizes");

void EncodeFileHeader(const BITMAPFILEHEADER& h, BYTE* p)
{
    PutWord(p + 0, h.bfType);
    PutDword(p + 2, h.bfSize);
    PutWord(p + 6, h.bfReserved1);
    PutWord(p + 8, h.bfReserved2);
    PutDword(p + 10, h.bfOffBits);
}

void DecodeFileHeader(const BYTE* p, BITMAPFILEHEADER* h)
{
    h->bfType = GetWord(p + 0);
    h->bfSize = GetDword(p + 2);
    h->bfReserved1 = GetWord(p + 6);
    h->bfReserved2 = GetWord(p + 8);
    h->bfOffBits = GetDword(p + 10);
}

void EncodeInfoHeader(const BITMAPINFOHEADER& h, BYTE* p)
{
    PutDword(p + 0, h.biSize);
    PutDword(p + 4, (DWORD)h.biWidth);
    PutDword(p + 8, (DWORD)h.biHeight);
    PutWord(p + 12, h.biPlanes);
    PutWord(p + 14, h.biBitCount);
    PutDword(p + 16, h.biCompression);
    PutDword(p + 20, h.biSizeImage);
    PutDword(p + 24, (DWORD)h.biXPelsPerMeter);
    PutDword(p + 28, (DWORD)h.biYPelsPerMeter);
    PutDword(p + 32, h.biClrUsed);
    PutDword(p + 36, h.biClrImportant);
}

WORD PaletteEntries(short bitcount)
{
    switch (bitcount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

BYTE PaletteGray(short bitcount, int entry)
{
    if (bitcount == 1)
        return entry ? 255 : 0;
    if (bitcount == 4)
        return entry < 15 ? (BYTE)(entry * 16) : 255;
    return (BYTE)entry;
}

// Rows i and rows - 1 - i trade places; needs no buffer, so it cannot fail.
void FlipRows(BYTE* bits, int64_t rows, int64_t stride)
{
    for (int64_t i = 0; i < rows / 2; ++i) {
        BYTE* a = bits + i * stride;
        std::swap_ranges(a, a + stride, bits + (rows - 1 - i) * stride);
    }
}

struct OneBitImage {
    BYTE* bits;     // first stored row in the loaded block
    int64_t width;  // pixels, > 0
    int64_t height; // rows, > 0
    int64_t stride; // stored bytes per row
};

// The paste reads a loaded file as one-bit rows at bfOffBits; everything the
// header claims must lie inside the block the loader actually read.
bool CheckOneBitImage(const char* who, BYTE* block, const BITMAPFILEHEADER& fh, OneBitImage* img)
{
    const int64_t blockLen = (int64_t)fh.bfSize - BMP_FILEHEADER_SIZE;
    BITMAPINFOHEADER bih;
    vlReadInfoHeader(block, &bih);
    if (bih.biBitCount != 1) {
        DbgMsg("%s::%d bits per pixel refused, only one-bit images can be pasted", who,
               (int)bih.biBitCount);
        return false;
    }
    if (bih.biWidth <= 0 || bih.biHeight <= 0) {
        DbgMsg("%s::image of %d x %d pixels refused", who, (int)bih.biWidth, (int)bih.biHeight);
        return false;
    }
    const int64_t stride = ((int64_t)bih.biWidth + 31) / 32 * 4;
    const int64_t offset = (int64_t)fh.bfOffBits - BMP_FILEHEADER_SIZE;
    if (offset < BMP_INFOHEADER_SIZE || offset > blockLen ||
        stride * bih.biHeight > blockLen - offset) {
        DbgMsg("%s::pixel data at %u for %d x %d pixels does not fit the file of %u bytes", who,
               (unsigned)fh.bfOffBits, (int)bih.biWidth, (int)bih.biHeight, (unsigned)fh.bfSize);
        return false;
    }
    img->bits = block + offset;
    img->width = bih.biWidth;
    img->height = bih.biHeight;
    img->stride = stride;
    return true;
}

LPBYTE LoadFromStream(FILE* fp, BITMAPFILEHEADER* header)
{
    BYTE raw[BMP_FILEHEADER_SIZE];
    if (fread(raw, 1, sizeof raw, fp) != sizeof raw)
        return nullptr;
    DecodeFileHeader(raw, header);
    if (header->bfType != BMP_TYPE)
        return nullptr;

    // bfSize decides the allocation: check it against the file before
    // trusting it, and insist on room for the info header that *info names.
    long fileLen = -1;
    if (fseek(fp, 0, SEEK_END) == 0)
        fileLen = ftell(fp);
    if (header->bfSize < BMP_FILEHEADER_SIZE + BMP_INFOHEADER_SIZE || fileLen < 0 ||
        (int64_t)header->bfSize > (int64_t)fileLen ||
        fseek(fp, BMP_FILEHEADER_SIZE, SEEK_SET) != 0) {
        DbgMsg("vlLoadDIBitmap::bfSize = %u does not fit the file of %ld bytes",
               (unsigned)header->bfSize, fileLen);
        return nullptr;
    }
    const DWORD blockLen = header->bfSize - BMP_FILEHEADER_SIZE;
    LPBYTE block = static_cast<LPBYTE>(GlobalAlloc(0, (long)blockLen));
    if (!block)
        return nullptr;
    if (fread(block, 1, blockLen, fp) != blockLen) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}
} // namespace

void vlReadInfoHeader(const BYTE* p, BITMAPINFOHEADER* h)
{
    h->biSize = GetDword(p + 0);
    h->biWidth = (LONG)GetDword(p + 4);
    h->biHeight = (LONG)GetDword(p + 8);
    h->biPlanes = GetWord(p + 12);
    h->biBitCount = GetWord(p + 14);
    h->biCompression = GetDword(p + 16);
    h->biSizeImage = GetDword(p + 20);
    h->biXPelsPerMeter = (LONG)GetDword(p + 24);
    h->biYPelsPerMeter = (LONG)GetDword(p + 28);
    h->biClrUsed = GetDword(p + 32);
    h->biClrImportant = GetDword(p + 36);
}

short CreateNullBMP(char* fname, short bitcount, short resol, long wide, long high, BYTE* fillflag)
{
    const WORD colorcount = PaletteEntries(bitcount);
    const DWORD bitoffset = BMP_FILEHEADER_SIZE + BMP_INFOHEADER_SIZE + BMP_RGBQUAD_SIZE * colorcount;
    DbgMsg("CreateNullBMP::fsize = %d", BMP_FILEHEADER_SIZE);
    DbgMsg("CreateNullBMP::bsize = %d", BMP_INFOHEADER_SIZE);
    DbgMsg("CreateNullBMP::csize = %d", BMP_RGBQUAD_SIZE);
    DbgMsg("CreateNullBMP::bitoffset = %d", (int)bitoffset);
    DbgMsg("CreateNullBMP::WORD = %d", (int)sizeof(WORD));
    DbgMsg("CreateNullBMP::DWORD = %d", (int)sizeof(DWORD));
    DbgMsg("CreateNullBMP::LONG = %d", (int)sizeof(LONG));
    DbgMsg("CreateNullBMP::colorcount = %d", (int)colorcount);

    if (bitcount != 1 && bitcount != 4 && bitcount != 8 && bitcount != 24) {
        // No line rule and no palette exist for other depths.
        DbgMsg("CreateNullBMP::CreateNullBMP() Error");
        return FALSE;
    }
    // The line length is a WORD and the file sizes are DWORDs: refuse what
    // they cannot state rather than write a file whose headers lie.
    const int64_t trueLine = wide >= 0 && wide <= 0x7FFFFFFFL ? ((int64_t)bitcount * wide + 31) / 32 * 4 : -1;
    if (trueLine < 0 || trueLine > 0xFFFF || high < 0 || high > 0x7FFFFFFFL ||
        (trueLine > 0 && high > (int64_t)(0xFFFFFFFFu - bitoffset) / trueLine)) {
        DbgMsg("CreateNullBMP::image of %ld x %ld pixels out of range", wide, high);
        return FALSE;
    }
    const DWORD linelen = GetBMPBytesPerLine(bitcount, (LONG)wide);
    const DWORD datalen = linelen * (DWORD)high;

    BYTE* head = static_cast<BYTE*>(GlobalAlloc(0, (long)bitoffset));
    if (!head) {
        DbgMsg("CreateNullBMP::Allocation Memory Failed!");
        return FALSE;
    }
    BITMAPFILEHEADER fh = {BMP_TYPE, bitoffset + datalen, 0, 0, bitoffset};
    const LONG ppm = (LONG)(resol * 10000 / 254);
    BITMAPINFOHEADER bih = {BMP_INFOHEADER_SIZE, (LONG)wide, (LONG)high, 1, (WORD)bitcount, 0,
                            datalen, ppm, ppm, colorcount, colorcount};
    EncodeFileHeader(fh, head);
    EncodeInfoHeader(bih, head + BMP_FILEHEADER_SIZE);
    for (int i = 0; i < colorcount; ++i) {
        BYTE* q = head + BMP_FILEHEADER_SIZE + BMP_INFOHEADER_SIZE + BMP_RGBQUAD_SIZE * i;
        q[0] = q[1] = q[2] = PaletteGray(bitcount, i);
        q[3] = 0;
    }

    FILE* fp = fname ? fopen(fname, "w+b") : nullptr;
    if (!fp) {
        DbgMsg("CreateNullBMP::Open BMP File failed!");
        GlobalFree(head);
        return FALSE;
    }
    bool written = fwrite(head, 1, bitoffset, fp) == bitoffset;
    DbgMsg("CreateNullBMP::bitoffset = %d", (int)bitoffset);

    if (fillflag) {
        BYTE* data = static_cast<BYTE*>(GlobalAlloc(0, (long)datalen + 1));
        if (!data) {
            DbgMsg("CreateNullBMP::Allocation Memory Failed!");
            fclose(fp);
            GlobalFree(head);
            return FALSE;
        }
        DbgMsg("CreateNullBMP::datalen = %d", (int)datalen);
        // The caller's rows run top to bottom; BMP rows bottom to top.
        for (long i = 0; i < high; ++i) {
            BYTE* row = data + (size_t)(high - 1 - i) * linelen;
            memcpy(row, fillflag + (size_t)i * linelen, linelen);
            if (bitcount == 24) {
                for (long x = 0; x < wide; ++x)
                    std::swap(row[3 * x], row[3 * x + 2]);
            }
        }
        DbgMsg("CreateNullBMP::fwrite");
        written = fwrite(data, 1, datalen, fp) == datalen && written;
        GlobalFree(data);
        DbgMsg("CreateNullBMP::datalen = %d", (int)datalen);
    }
    written = fclose(fp) == 0 && written;
    GlobalFree(head);
    if (!written)
        DbgMsg("CreateNullBMP::Write BMP File failed!");
    DbgMsg("CreateNullBMP::rc = %d", written ? 1 : 0);
    return written ? TRUE : FALSE;
}

LPBYTE vlLoadDIBitmap(TCHAR* filename, BITMAPINFO** info, BITMAPFILEHEADER* header)
{
    DWORD tick = GetTickCount();
    BITMAPFILEHEADER local;
    if (!header)
        header = &local;
    LPBYTE block = nullptr;
    FILE* fp = filename ? fopen(filename, "rb") : nullptr;
    if (fp) {
        block = LoadFromStream(fp, header);
        fclose(fp);
    }
    if (info)
        *info = reinterpret_cast<BITMAPINFO*>(block);
    DbgMsg("vlLoadDIBitmap Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return block;
}

BOOL PasteImageFile(BYTE* lpbuf, int width, int height, TCHAR* bcFileName, int DstX, int DstY,
                    int position, int offsetX, int offsetY)
{
    BITMAPFILEHEADER fh;
    BITMAPINFO* info = nullptr;
    LPBYTE block = bcFileName ? vlLoadDIBitmap(bcFileName, &info, &fh) : nullptr;
    DWORD tick = GetTickCount();
    OneBitImage img;
    if (!lpbuf || !block || width <= 0 || height <= 0 ||
        !CheckOneBitImage("PasteImageFile", block, fh, &img)) {
        GlobalFree(block);
        DbgMsg("PasteImageFile Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
        return FALSE;
    }
    FlipRows(img.bits, img.height, img.stride);

    // 64-bit throughout: offsets and sizes from callers and files must not
    // wrap on their way to an address.
    const int64_t W = width, H = height, bw = img.width, bh = img.height;
    int64_t X, Y;
    if (position <= 0) {
        X = DstX;
        Y = DstY;
    } else {
        switch (position % 3) {
        case 0:
            X = 0;
            break;
        case 1:
            X = (W - (bw + 7)) / 2;
            break;
        default:
            X = W - (bw + 7);
            break;
        }
        if (position <= 2)
            Y = 0;
        else if (position <= 5)
            Y = (H - bh) / 2;
        else if (position <= 8)
            Y = H - bh;
        else
            Y = DstY;
        X += offsetX;
        Y += offsetY;
    }

    const int64_t dstLine = (W + 7) / 8;
    const int64_t dstRow = std::min(std::max(Y, (int64_t)0), H);
    const int64_t dstByte = std::min(std::max(X, (int64_t)0), W) / 8;
    int64_t srcByte = 0, srcRow = 0, w, h;
    if (X > 0) {
        w = std::min(W - X, bw);
    } else {
        srcByte = -X / 8;
        w = std::min(bw + X, W);
    }
    if (Y > 0) {
        h = std::min(H - Y, bh);
    } else {
        srcRow = -Y;
        h = std::min(bh + Y, H);
    }
    // Whole bytes only: the last w mod 8 pixels of a row stay as they were.
    const int64_t n = w / 8;
    for (int64_t r = 0; n > 0 && r < h; ++r) {
        BYTE* d = lpbuf + (dstRow + r) * dstLine + dstByte;
        const BYTE* s = img.bits + (srcRow + r) * img.stride + srcByte;
        for (int64_t b = 0; b < n; ++b)
            d[b] = (BYTE)~s[b];
    }

    GlobalFree(block);
    DbgMsg("PasteImageFile Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return TRUE;
}

BOOL PasteBarCode(TCHAR* SourceFileName, TCHAR* bcFileName, int position, int offsetX, int offsetY)
{
    BITMAPFILEHEADER fh;
    BITMAPINFO* info = nullptr;
    LPBYTE block = nullptr;
    if (SourceFileName && position >= 0 && position <= 8)
        block = vlLoadDIBitmap(SourceFileName, &info, &fh);
    DWORD tick = GetTickCount();
    BOOL rc = FALSE;
    OneBitImage img;
    FILE* fp = nullptr;
    if (block && CheckOneBitImage("PasteBarCode", block, fh, &img))
        fp = fopen("result.bmp", "wb");
    if (fp) {
        const int64_t P = (img.width + 7) / 8, L = img.stride;
        // As a packed page: top-down rows without padding.
        FlipRows(img.bits, img.height, L);
        for (int64_t r = 1; r < img.height; ++r)
            memmove(img.bits + r * P, img.bits + r * L, (size_t)P);
        if (PasteImageFile(img.bits, (int)img.width, (int)img.height, bcFileName, 0, 0, position,
                           offsetX, offsetY)) {
            for (int64_t r = img.height - 1; r >= 0; --r) {
                memmove(img.bits + r * L, img.bits + r * P, (size_t)P);
                memset(img.bits + r * L + P, 0, (size_t)(L - P));
            }
            FlipRows(img.bits, img.height, L);
            BYTE raw[BMP_FILEHEADER_SIZE];
            EncodeFileHeader(fh, raw);
            const size_t blockLen = fh.bfSize - BMP_FILEHEADER_SIZE;
            bool written = fwrite(raw, 1, sizeof raw, fp) == sizeof raw;
            written = fwrite(block, 1, blockLen, fp) == blockLen && written;
            written = fclose(fp) == 0 && written;
            fp = nullptr;
            if (!written)
                DbgMsg("PasteBarCode::Write result.bmp failed!");
            rc = written ? TRUE : FALSE;
        }
        if (fp)
            fclose(fp);
    }
    GlobalFree(block);
    DbgMsg("PasteBarCode Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return rc;
}
