#include "app_documents.h"

#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "files.h"
#include "filter_process.h"
#include "text_lines.h"

namespace {
const unsigned kImageWidth = 300, kImageHeight = 400;

std::vector<uint8_t> HalfBlack()
{
    std::vector<uint8_t> pixels((size_t)kImageWidth * kImageHeight, 255);
    memset(pixels.data(), 0, pixels.size() / 2);
    return pixels;
}
} // namespace

cups_page_header2_t GrayPageHeader(const char* pwgMedia, unsigned dpi)
{
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG(pwgMedia), "sgray_8", (int)dpi, (int)dpi, "one-sided", nullptr);
    return h;
}

std::vector<TestPage> AsRgbPages(const std::vector<TestPage>& gray)
{
    std::vector<TestPage> rgb;
    for (const TestPage& g : gray) {
        TestPage p;
        p.header = MakePageHeader(g.header.cupsWidth, g.header.cupsHeight);
        p.pixels.resize((size_t)g.pixels.size() * 3);
        for (size_t i = 0; i < g.pixels.size(); ++i)
            p.pixels[3 * i] = p.pixels[3 * i + 1] = p.pixels[3 * i + 2] = g.pixels[i];
        rgb.push_back(std::move(p));
    }
    return rgb;
}

bool WriteHalfBlackJpeg(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = kImageWidth;
    c.image_height = kImageHeight;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> pixels = HalfBlack();
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = pixels.data() + (size_t)c.next_scanline * kImageWidth;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return fclose(f) == 0;
}

bool WriteHalfBlackPng(const std::string& path)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = kImageWidth;
    image.height = kImageHeight;
    image.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> pixels = HalfBlack();
    return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

bool WriteRepeatedPdf(const std::string& path, const std::string& pdf, int times)
{
    std::vector<std::string> argv = {"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
                                     "-sOutputFile=" + path};
    for (int i = 0; i < times; ++i)
        argv.push_back(pdf);
    return RunProgram(QUORIN_GHOSTSCRIPT, argv).status == 0;
}

std::string CutShort(const std::string& bytes, double share)
{
    return bytes.substr(0, (size_t)((double)bytes.size() * share));
}

std::string WithBigEndian(std::string bytes, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes.at(offset + i) = (char)(value >> (24 - 8 * i));
    return bytes;
}

std::string PngClaiming(uint32_t width, uint32_t height)
{
    auto chunk = [](const char* type, const std::string& data) {
        std::string c = WithBigEndian(std::string(4, '\0'), 0, (uint32_t)data.size()) + type + data;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(c.data() + 4), (uInt)(c.size() - 4));
        return c + WithBigEndian(std::string(4, '\0'), 0, (uint32_t)crc);
    };
    std::string ihdr = WithBigEndian(WithBigEndian(std::string(8, '\0'), 0, width), 4, height) + std::string("\x08\0\0\0\0", 5);
    // Rows of zeros, deflated: a few bytes for gigabytes.
    std::string rows(1 << 16, '\0'), packed(compressBound((uLong)rows.size()), '\0');
    uLongf size = (uLongf)packed.size();
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(rows.data()), rows.size());
    packed.resize(size);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", packed) + chunk("IEND", "");
}
