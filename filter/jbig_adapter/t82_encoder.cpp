#include "t82_encoder.h"

#include <cstdlib>
#include <cstring>

#include "t82_context.h"

namespace {
// Zero bytes on either side of a line buffer: pixels left of the page and
// right of it read as white, and 8-byte loads never leave the buffer.
const size_t kMargin = 8;
// The context of a line's typical-prediction decision (T.82's TPB context
// for the three-line template); it shares the table with the pixels'.
const unsigned kTypicalContext = 0x0E5;

inline uint64_t Be64(const unsigned char* p)
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

// Pixels 64k .. 64k+63 of a line, the first in bit 63, and the same pixels
// of the line moved right (pixel j-n at bit j's place) or left.
struct Word {
    uint64_t x, prev, next;
    explicit Word(const unsigned char* p) : x(Be64(p)), prev(p[-1]), next(p[8]) {}
    uint64_t Right(int n) const { return x >> n | prev << (64 - n); }
    uint64_t Left(int n) const { return x << n | next >> (8 - n); }
};

// 1 for each pixel of the 64 that is black or has a black pixel among its
// ten neighbours: the pixels that are not plain white runs.
inline uint64_t BusyWord(const unsigned char* up2, const unsigned char* up1, const unsigned char* cur, size_t k)
{
    Word a(up2 + 8 * k), b(up1 + 8 * k), c(cur + 8 * k);
    return a.x | a.Right(1) | a.Left(1) | b.x | b.Right(1) | b.Right(2) | b.Left(1) | b.Left(2) | c.x |
           c.Right(1) | c.Right(2);
}

// n white pixels, each with all ten neighbours white (context 0).
inline void EncodeWhiteRun(QmPass& qm, unsigned long n)
{
    // Until context 0 expects white, every pixel is a decision of its own.
    while (n && QmMps(qm.st[0])) {
        qm.Encode(0, 0);
        --n;
    }
    qm.EncodeMpsRun(0, n);
}

// The first n pixels of a byte, one decision each.
inline void EncodeByte(QmPass& qm, const ByteContexts& b, unsigned n = 8)
{
#pragma GCC unroll 8
    for (unsigned i = 0; i < 8; ++i)
        if (i < n)
            qm.EncodeLane(b.Lane(i));
}

// Codes the line in lines[2] and moves the buffers on.
void EncodeBufferedLine(T82Encoder* e)
{
    const unsigned char* up2 = e->lines[0];
    const unsigned char* up1 = e->lines[1];
    const unsigned char* cur = e->lines[2];
    QmPass qm(&e->qm);

    // Typical prediction: a line equal to the one above is one decision.
    bool typical = memcmp(cur, up1, e->bytesPerLine) == 0;
    qm.Encode(kTypicalContext, typical == e->typicalBefore);
    e->typicalBefore = typical;

    if (!typical) {
        // A byte with a pixel that is black or has a black neighbour is coded
        // pixel by pixel (its white pixels are decisions in context 0 too);
        // between such bytes, white runs.
        unsigned long white = 0;
        const size_t lastByte = e->bytesPerLine - 1;
        for (size_t k = 0; k < e->words; ++k) {
            uint64_t busy = BusyWord(up2, up1, cur, k);
            if (k == e->words - 1 && e->width % 64)
                busy &= ~0ULL << (64 - e->width % 64); // nothing past the page's edge
            if (!busy) {
                white += 64;
                continue;
            }
            for (unsigned byte = 0; byte < 8; ++byte) {
                if (!(busy >> (56 - 8 * byte) & 0xFF)) {
                    white += 8;
                    continue;
                }
                if (white) {
                    EncodeWhiteRun(qm, white);
                    white = 0;
                }
                size_t at = 8 * k + byte;
                ByteContexts b(up2, up1, cur, at);
                if (at == lastByte && e->width % 8) {
                    EncodeByte(qm, b, e->width % 8);
                    white = 8 - e->width % 8; // not coded: taken off below
                } else {
                    EncodeByte(qm, b);
                }
            }
        }
        // The pixels past the width were counted as white: they are not coded.
        EncodeWhiteRun(qm, white - (64 * e->words - e->width));
    }
    qm.Save();

    e->lines[0] = e->lines[1];
    e->lines[1] = e->lines[2];
    e->lines[2] = const_cast<unsigned char*>(up2);
    ++e->line;
}
} // namespace

bool T82EncoderStart(T82Encoder* e, unsigned long width, unsigned long height, JbigSink* sink)
{
    e->width = width;
    e->height = height;
    e->bytesPerLine = (width + 7) / 8;
    e->words = (width + 63) / 64;
    e->line = 0;
    e->typicalBefore = false;
    size_t lineSize = kMargin + 8 * e->words + kMargin;
    e->memory = static_cast<unsigned char*>(calloc(3, lineSize));
    if (!e->memory)
        return false;
    for (int i = 0; i < 3; ++i)
        e->lines[i] = e->memory + i * lineSize + kMargin;
    QmEncoderInit(&e->qm, sink);
    return true;
}

void T82EncodeLine(T82Encoder* e, const unsigned char* line)
{
    if (e->line >= e->height)
        return;
    unsigned char* cur = e->lines[2];
    memcpy(cur, line, e->bytesPerLine);
    if (e->width % 8)
        cur[e->bytesPerLine - 1] &= (unsigned char)(0xFF00 >> (e->width % 8));
    EncodeBufferedLine(e);
}

void T82EncoderFinish(T82Encoder* e)
{
    // Lines never given are white.
    while (e->line < e->height) {
        memset(e->lines[2], 0, e->bytesPerLine);
        EncodeBufferedLine(e);
    }
    QmFlush(&e->qm);
    JbigSinkEndStripe(e->qm.sink);
}

void T82EncoderFree(T82Encoder* e)
{
    free(e->memory);
    e->memory = nullptr;
}

bool T82EncodePage(unsigned long width, unsigned long height, const unsigned char* bits, JbigSink* sink)
{
    T82Encoder e;
    if (!T82EncoderStart(&e, width, height, sink))
        return false;
    for (unsigned long y = 0; y < height; ++y)
        T82EncodeLine(&e, bits + y * e.bytesPerLine);
    T82EncoderFinish(&e);
    T82EncoderFree(&e);
    return true;
}
