// libFuzzer target: the BMP loader and both pastes over arbitrary files,
// plus a write-and-load round trip of CreateNullBMP.
//
// Input: 10 parameter bytes, then the file.
//   0-1  page width - 1 (low 10 bits), 2 page height - 1
//   3    position (signed), 4-5 and 6-7 X and Y (signed 16-bit, used both
//        as DstX/DstY and as offsets), 8 bit count selector, 9 created size
// The page is allocated at its exact size, so AddressSanitizer sees any
// write beside it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "bmp_tools.h"

namespace {
std::string gDir;

void RemoveWorkDir()
{
    for (const char* f : {"in.bmp", "made.bmp", "result.bmp"})
        unlink((gDir + "/" + f).c_str());
    rmdir(gDir.c_str());
}

// PasteBarCode writes "result.bmp" into the current directory: give every
// fuzzing process a private one.
void EnterWorkDir()
{
    char tmpl[] = "/tmp/quorin-fuzz-bmp-XXXXXX";
    if (!mkdtemp(tmpl) || chdir(tmpl) != 0)
        abort();
    gDir = tmpl;
    atexit(RemoveWorkDir);
}

void WriteFile(const char* name, const uint8_t* data, size_t size)
{
    FILE* fp = fopen(name, "wb");
    if (!fp)
        abort();
    if (size && fwrite(data, 1, size, fp) != size)
        abort();
    fclose(fp);
}

// CreateNullBMP must write a file the loader takes back with the same rows.
void RoundTrip(short bits, long wide, long high, const uint8_t* data, size_t size)
{
    const size_t line = GetBMPBytesPerLine(bits, wide);
    const bool valid = bits == 1 || bits == 4 || bits == 8 || bits == 24;
    const bool fill = valid && line * (size_t)high <= size;
    char name[] = "made.bmp";
    short rc = CreateNullBMP(name, bits, 600, wide, high, fill ? const_cast<uint8_t*>(data) : nullptr);
    if (rc != (valid ? TRUE : FALSE))
        abort();
    if (!fill)
        return;
    BITMAPFILEHEADER fh;
    BITMAPINFO* info = nullptr;
    LPBYTE block = vlLoadDIBitmap(name, &info, &fh);
    if (!block || fh.bfSize - 14 < fh.bfOffBits - 14 + line * high)
        abort();
    const BYTE* stored = block + fh.bfOffBits - 14;
    for (long r = 0; r < high; ++r) {
        const BYTE* src = data + (size_t)r * line;
        const BYTE* dst = stored + (size_t)(high - 1 - r) * line;
        for (size_t b = 0; b < line; ++b) {
            // 24-bit pixels turn from red, green, blue into blue, green, red.
            size_t from = b;
            if (bits == 24 && b < 3 * (size_t)wide && b % 3 != 1)
                from = b % 3 == 0 ? b + 2 : b - 2;
            if (dst[b] != src[from])
                abort();
        }
    }
    GlobalFree(block);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (gDir.empty())
        EnterWorkDir();
    if (size < 10)
        return 0;
    const int width = 1 + (data[0] | (data[1] & 3) << 8);
    const int height = 1 + data[2];
    const int position = (int8_t)data[3];
    const int x = (int16_t)(data[4] | data[5] << 8);
    const int y = (int16_t)(data[6] | data[7] << 8);
    static const short kBits[] = {1, 4, 8, 24, 1, 16, 0, -1};
    const short bits = kBits[data[8] & 7];
    const long wide = data[9] & 0x3F, high = data[9] >> 6 | (data[8] >> 3 & 0x1C);
    const uint8_t* file = data + 10;
    const size_t fileSize = size - 10;

    char name[] = "in.bmp";
    WriteFile(name, file, fileSize);
    BITMAPFILEHEADER fh;
    BITMAPINFO* info = nullptr;
    LPBYTE block = vlLoadDIBitmap(name, &info, &fh);
    if (block) {
        // The loader promises exactly bfSize - 14 bytes, info header included.
        if (fh.bfSize < 54 || fh.bfSize > fileSize || (LPBYTE)info != block)
            abort();
        BITMAPINFOHEADER bih;
        vlReadInfoHeader(block, &bih);
        GlobalFree(block);
    }

    const size_t pageSize = (size_t)(width + 7) / 8 * height;
    BYTE* page = static_cast<BYTE*>(malloc(pageSize));
    memset(page, 0x55, pageSize);
    PasteImageFile(page, width, height, name, x, y, position, x, y);
    free(page);

    PasteBarCode(name, name, position, x, y);

    RoundTrip(bits, wide, high, file, fileSize);
    return 0;
}
