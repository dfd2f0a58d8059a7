// Reads a printer stream back into page bitmaps, for tests that check what
// the printer would print.
#ifndef QUORIN_DECODED_JOB_H
#define QUORIN_DECODED_JOB_H

#include <string>
#include <vector>

#include "page_bits.h"
#include "stream_parser.h"

struct DecodedPage {
    StreamPage info;
    std::vector<uint8_t> bits; // height rows of width/8 bytes, MSB leftmost, 1 = black

    bool Black(unsigned x, unsigned y) const { return OneBitPixel(bits.data(), info.width / 8, x, y); }
};

struct DecodedJob {
    StreamReport report;
    std::vector<DecodedPage> pages;
    bool ok = false; // the stream passed every check of the decoder
};

DecodedJob DecodeJob(const std::string& stream);

// Black bars a numbered test page of cupsWidth pixels carries at its top (see
// MakeNumberedPage): runs of lines black over the whole bar span; the text
// strokes below them always have gaps.
int CountBars(const StreamPage& page, const uint8_t* bitmap, unsigned cupsWidth);
inline int CountBars(const DecodedPage& page, unsigned cupsWidth)
{
    return CountBars(page.info, page.bits.data(), cupsWidth);
}

// The pages of a printer stream by their bar counts (0: a blank page), in
// stream order, -1 for a page that did not decode; the stream's problems
// (framing, trailer) in *problems.
std::vector<int> PageOrder(const std::string& stream, unsigned cupsWidth,
                           std::vector<std::string>* problems = nullptr);

#endif
