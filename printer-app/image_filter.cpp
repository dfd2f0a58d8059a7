#include "image_filter.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <png.h>
#include <string>
#include <vector>

#include "raster_bridge.h"

namespace {
struct GrayImage {
    std::vector<unsigned char> pixels;
    unsigned width = 0, height = 0;
    int ppi = 0; // 0: unknown
    std::string error; // why it could not be read
};

bool TooLarge(GrayImage* img, unsigned long width, unsigned long height)
{
    if (width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
        width * height <= kMaxImagePixels)
        return false;
    img->error = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels; the printer takes up to " + std::to_string(kMaxImageSide) + " on a side and " +
                 std::to_string(kMaxImagePixels / 1000000) + " million in all";
    return true;
}

struct JpegErrors {
    jpeg_error_mgr mgr;
    jmp_buf escape;
    int warnings = 0;
    char message[JMSG_LENGTH_MAX] = "";
};

void JpegFail(j_common_ptr c)
{
    JpegErrors* e = reinterpret_cast<JpegErrors*>(c->err);
    (*c->err->format_message)(c, e->message);
    longjmp(e->escape, 1);
}

// libjpeg makes up the rest of a cut-off image and only warns: that is a
// damaged document here.
void JpegMessage(j_common_ptr c, int level)
{
    JpegErrors* e = reinterpret_cast<JpegErrors*>(c->err);
    if (level < 0 && e->warnings++ == 0)
        (*c->err->format_message)(c, e->message);
}

void ReadJpeg(FILE* f, GrayImage* img)
{
    jpeg_decompress_struct d;
    JpegErrors e;
    d.err = jpeg_std_error(&e.mgr);
    e.mgr.error_exit = JpegFail;
    e.mgr.emit_message = JpegMessage;
    jpeg_create_decompress(&d);
    if (setjmp(e.escape)) {
        img->error = e.message;
        jpeg_destroy_decompress(&d);
        return;
    }
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    if (TooLarge(img, d.image_width, d.image_height)) {
        jpeg_destroy_decompress(&d);
        return;
    }
    d.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&d);
    img->width = d.output_width;
    img->height = d.output_height;
    img->pixels.resize((size_t)img->width * img->height);
    while (d.output_scanline < d.output_height && e.warnings == 0) {
        JSAMPROW row = img->pixels.data() + (size_t)d.output_scanline * img->width;
        jpeg_read_scanlines(&d, &row, 1);
    }
    if (e.warnings == 0)
        jpeg_finish_decompress(&d);
    if (e.warnings > 0)
        img->error = std::string("it is damaged or cut off (") + e.message + ")";
    if (d.density_unit == 1)
        img->ppi = d.X_density;
    else if (d.density_unit == 2)
        img->ppi = d.X_density * 254 / 100;
    jpeg_destroy_decompress(&d);
}

void ReadPng(const char* path, GrayImage* img)
{
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path) && !TooLarge(img, png.width, png.height)) {
        png.format = PNG_FORMAT_GRAY;
        img->width = png.width;
        img->height = png.height;
        img->pixels.resize((size_t)img->width * img->height);
        png_color white = {255, 255, 255};
        if (png_image_finish_read(&png, &white, img->pixels.data(), 0, nullptr))
            return;
    }
    if (img->error.empty())
        img->error = png.message;
    png_image_free(&png);
}

bool PrintImage(pappl_job_t* job, pappl_device_t* device, const char* kind, const GrayImage& img)
{
    if (!img.error.empty()) {
        papplJobSetMessage(job, "The %s image could not be read: %s.", kind, img.error.c_str());
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    if (!options)
        return false;
    // The filter makes the copies: PAPPL would render the image once for
    // each, and the bridge would drop all but the first.
    bool ok = BridgeStartJob(job, options, device);
    options->copies = 1;
    // PAPPL divides by the image's size on the page at that resolution,
    // which must not come out as zero pixels.
    int ppi = img.ppi > 0 && img.ppi <= 600 ? img.ppi : 0;
    ok = ok && papplJobFilterImage(job, device, options, img.pixels.data(), (int)img.width, (int)img.height, 1, ppi,
                                   true);
    if (papplJobGetData(job)) // PAPPL did not get as far as ending the job
        ok = BridgeEndJob(job, options, device) && ok;
    papplJobDeletePrintOptions(options);
    return ok;
}
} // namespace

bool PrintJpeg(pappl_job_t* job, pappl_device_t* device)
{
    GrayImage img;
    FILE* f = fopen(papplJobGetFilename(job), "rb");
    if (!f)
        img.error = strerror(errno);
    else {
        ReadJpeg(f, &img);
        fclose(f);
    }
    return PrintImage(job, device, "JPEG", img);
}

bool PrintPng(pappl_job_t* job, pappl_device_t* device)
{
    GrayImage img;
    ReadPng(papplJobGetFilename(job), &img);
    return PrintImage(job, device, "PNG", img);
}
