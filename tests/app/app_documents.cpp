#include "app_documents.h"

#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <png.h>

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

cups_page_header2_t GrayPageHeader(const char* pwgMedia)
{
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG(pwgMedia), "sgray_8", 600, 600, "one-sided", nullptr);
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
