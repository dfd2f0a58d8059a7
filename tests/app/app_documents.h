// Documents the app tests print: raster pages that carry their number as
// bars (see MakeNumberedPage), images, and PDFs.
#ifndef QUORIN_APP_DOCUMENTS_H
#define QUORIN_APP_DOCUMENTS_H

#include <cups/cups.h>
#include <cups/raster.h>
#include <string>
#include <vector>

#include "raster_job.h"
#include "test_pages.h"

// An 8-bit gray page header (sgray_8) for a PWG media size, at 600 dpi the
// layout the app asks of clients.
cups_page_header2_t GrayPageHeader(const char* pwgMedia, unsigned dpi = 600);

// The same pages as the printer description's 24-bit RGB raster, which
// is what the filter gets from CUPS.
std::vector<TestPage> AsRgbPages(const std::vector<TestPage>& gray);

// A gray image whose upper half is black, as JPEG or PNG.
bool WriteHalfBlackJpeg(const std::string& path);
bool WriteHalfBlackPng(const std::string& path);

// A PDF of the given one repeated `times` times, made with Ghostscript.
bool WriteRepeatedPdf(const std::string& path, const std::string& pdf, int times);

// Damaged documents: the first share of a document; a PNG that is only a
// header claiming width x height pixels; a document with the 32-bit
// big-endian number at offset replaced.
std::string CutShort(const std::string& bytes, double share);
std::string PngClaiming(uint32_t width, uint32_t height);
std::string WithBigEndian(std::string bytes, size_t offset, uint32_t value);

#endif
