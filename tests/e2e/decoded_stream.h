// A captured printer stream as the decoder vlgdidecode sees it: whether it is
// sound, and each page record's header with the page's bitmap.
#ifndef QUORIN_DECODED_STREAM_H
#define QUORIN_DECODED_STREAM_H

#include <cstdint>
#include <string>
#include <vector>

#include "page_bits.h"

struct SummaryPage {
    unsigned number = 0, width = 0, height = 0, blackDots = 0, paper = 0, media = 0, tray = 0;
    double black = 0; // share of black dots on the page
    std::vector<uint8_t> bits; // when asked for: width / 8 bytes a line, leftmost pixel in
                               // the most significant bit, 1 = black

    bool Black(size_t x, size_t y) const { return OneBitPixel(bits.data(), width / 8, x, y); }
};

struct DecodedStream {
    int status = -1;     // the decoder's: 0 sound, 1 a violation, 2 could not run
    std::string problems; // its standard error
    std::vector<SummaryPage> pages;
};

// Runs the decoder on the stream. withBits: also fetch each page's bitmap
// (4.4 MB an A4 page). pngDir, when given, receives the pages as PNG images
// for a person to look at.
DecodedStream DecodeStream(const std::string& stream, bool withBits = false, const std::string& pngDir = "");

// The page with every line mirrored left to right.
std::vector<uint8_t> MirroredBits(const SummaryPage& page);

#endif
