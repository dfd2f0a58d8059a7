// A JBIG (ITU-T T.82) coder for exactly the printer's case: one plane, one
// layer, the whole page as one stripe, the three-line template with the
// adaptive pixel never moved, typical prediction on, no deterministic
// prediction. Its stripe data is byte for byte JBIG-KIT's for the same
// bitmap and parameters, made several times faster:
//   - a line equal to the one above costs one decision (typical prediction);
//   - white pixels whose ten neighbours are white are found 64 at a time,
//     and runs of them cost a step per renormalisation (QmPass::EncodeMpsRun);
//   - the bytes with other pixels are coded pixel by pixel, the contexts of
//     eight pixels coming from four table lookups (t82_context.h).
// Lines go in one at a time, so a page can be coded while it is made.
#ifndef QUORIN_T82_ENCODER_H
#define QUORIN_T82_ENCODER_H

#include <cstddef>
#include <cstdint>

#include "jbig_sink.h"
#include "qm_encoder.h"
#include "t82_context.h"

struct T82Encoder {
    unsigned long width;        // pixels a line
    unsigned long height;       // lines in the page
    size_t bytesPerLine;        // bytes of an input line, (width + 7) / 8
    size_t words;               // 64-pixel words a line buffer holds
    unsigned long line;         // lines coded so far
    bool typicalBefore;         // whether the last line coded was typical (equal to its line above)
    unsigned char* memory;      // one allocation for the line buffers and busy bytes
    unsigned char* lines[3];    // two lines above and the current one, each with zero margins
    size_t* busy;               // the current line's bytes with a pixel that is black or has a black neighbour
    QmEncoder qm;               // the arithmetic coder and its 1024 contexts
};

// Sets up a page of width x height pixels whose data goes to sink. False
// without memory (nothing to free then).
bool T82EncoderStart(T82Encoder* e, unsigned long width, unsigned long height, JbigSink* sink);

// Codes the next line: bytesPerLine bytes, the leftmost pixel in the most
// significant bit, 1 = black. Bits past width in the last byte are ignored.
void T82EncodeLine(T82Encoder* e, const unsigned char* line);

// After the last line: flushes the coder and ends the stripe (0xFF 0x02).
void T82EncoderFinish(T82Encoder* e);

void T82EncoderFree(T82Encoder* e);

// The whole page in one call: height lines of bytesPerLine bytes back to
// back. False without memory.
bool T82EncodePage(unsigned long width, unsigned long height, const unsigned char* bits, JbigSink* sink);

#endif
