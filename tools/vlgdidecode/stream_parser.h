// Reads a printer stream as the filter writes it (cancel prefix, zero run,
// PJL header block, optional JCL prefix, page records, trailer), checks its
// framing and decodes each page's JBIG data. Works on untrusted bytes: every
// length is checked against what is left, and pages of absurd size are
// refused before anything is allocated for them.
#ifndef VLGDI_STREAM_PARSER_H
#define VLGDI_STREAM_PARSER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct StreamPage {
    unsigned number = 0;    // 1-based, in stream order
    size_t offset = 0;      // of the record's 0x1B 0x45
    uint32_t width = 0, height = 0, datasize = 0, compsize = 0, blackDots = 0;
    uint8_t paper = 0, media = 0, tray = 0, outBin = 0, bits = 0, colors = 0, colorMode = 0, compMethod = 0;
    bool decoded = false;
    uint64_t decodedBlackDots = 0; // 1 bits of the decoded page, when decoded
};

struct StreamReport {
    size_t cancelLength = 0;           // bytes matching the cancel prefix
    size_t zeroRun = 0;                // zero bytes after it
    size_t headerOffset = 0, headerLength = 0;
    std::vector<std::string> pjlLines; // header block lines, without \r\n
    bool hasJcl = false;
    std::string jcl;                   // the JCL prefix bytes, ESC included
    std::vector<StreamPage> pages;
    bool hasTrailer = false;
    std::vector<std::string> trailerLines;
    std::vector<std::string> problems; // violations, in stream order
};

// Called with each page decoded without error; bitmap holds height rows of
// width/8 bytes, MSB leftmost, 1 = black. Return false to stop the walk.
typedef std::function<bool(const StreamPage&, const uint8_t* bitmap)> PageSink;

struct ParseOptions {
    bool keepGoing = false; // list every violation instead of stopping at the first
    bool decode = true;     // decode pages (needed for the black-dot check)
    PageSink onPage;
};

// Walks the stream; returns true when no violation was found.
bool ParsePrinterStream(const uint8_t* data, size_t len, const ParseOptions& options, StreamReport* report);

// Decodes one page's JBIG data (without BIH) into bitmap. On failure returns
// false with the reason in *why.
bool DecodePageData(const uint8_t* data, size_t len, uint32_t width, uint32_t height,
                    std::vector<uint8_t>* bitmap, std::string* why);

// Readable names of the codes in the page header ("A4", "plain", "auto").
const char* PaperName(uint8_t code);
const char* MediaName(uint8_t code);

// Non-printing bytes as \xNN, so a line can be shown safely.
std::string Printable(const std::string& bytes);

#endif
