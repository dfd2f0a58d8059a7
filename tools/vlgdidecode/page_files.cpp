#include "page_files.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>

namespace {
std::string ErrnoText(const std::string& path)
{
    return path + ": " + strerror(errno);
}
} // namespace

bool WritePbmPage(const std::string& path, uint32_t width, uint32_t height, const uint8_t* bitmap,
                  std::string* why)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *why = ErrnoText(path);
        return false;
    }
    // PBM's raw form has exactly our layout: 1 = black, MSB leftmost.
    size_t size = (size_t)width / 8 * height;
    bool ok = fprintf(f, "P4\n%u %u\n", width, height) > 0 && fwrite(bitmap, 1, size, f) == size;
    if (!ok)
        *why = ErrnoText(path);
    if (fclose(f) != 0 && ok) {
        *why = ErrnoText(path);
        ok = false;
    }
    return ok;
}

bool WritePngPage(const std::string& path, uint32_t width, uint32_t height, const uint8_t* bitmap,
                  std::string* why)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *why = ErrnoText(path);
        return false;
    }
    const size_t rowBytes = width / 8;
    uint8_t* row = static_cast<uint8_t*>(malloc(rowBytes ? rowBytes : 1));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!row || !png || !info) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        free(row);
        fclose(f);
        *why = path + ": out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        free(row);
        fclose(f);
        *why = path + ": libpng could not write the page";
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        // PNG gray: 0 is black, so the printer's black dots are inverted.
        const uint8_t* src = bitmap + (size_t)y * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i)
            row[i] = (uint8_t)~src[i];
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    free(row);
    if (fclose(f) != 0) {
        *why = ErrnoText(path);
        return false;
    }
    return true;
}
