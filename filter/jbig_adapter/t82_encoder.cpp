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

// n white pixels, each with all ten neighbours white (context 0); n may be 0.
inline void EncodeWhiteRun(QmPass& qm, unsigned long n)
{
    // Until context 0 expects white, every pixel is a decision of its own.
    while (QmMps(qm.st[0]) && n) {
        qm.Encode(0, 0);
        --n;
    }
    qm.EncodeMpsRun(0, n);
}

// Finds the bytes of the line in lines[2] that hold a pixel that is black
// or has a black neighbour, into e->busy; returns how many. Branch-free but
// for the words without any. (Their contexts come as they are coded: text
// has few busy bytes among those of a busy word.)
size_t FindBusyBytes(T82Encoder* e)
{
    const unsigned char* up2 = e->lines[0];
    const unsigned char* up1 = e->lines[1];
    const unsigned char* cur = e->lines[2];
    size_t* out = e->busy;
    size_t n = 0;
    for (size_t k = 0; k < e->words; ++k) {
        uint64_t busy = BusyWord(up2, up1, cur, k);
        if (k == e->words - 1 && e->width % 64)
            busy &= ~0ULL << (64 - e->width % 64); // nothing past the page's edge
        if (!busy)
            continue;
        for (unsigned byte = 0; byte < 8; ++byte) {
            out[n] = 8 * k + byte;
            n += (busy >> (56 - 8 * byte) & 0xFF) != 0;
        }
    }
    return n;
}

// The first n pixels of a byte given as its lanes (t82_context.h), one
// decision each.
inline void EncodeBytePixels(QmPass& qm, uint64_t lo, uint64_t hi, unsigned n)
{
#pragma GCC unroll 8
    for (unsigned i = 0; i < 8; ++i)
        if (i < n)
            qm.EncodeLane((unsigned)((i < 4 ? lo : hi) >> (16 * (i % 4))) & 0xFFFF);
}

// Codes the line in lines[2] and moves the buffers on.
void EncodeBufferedLine(T82Encoder* e)
{
    QmPass qm(&e->qm);

    // Typical prediction: a line equal to the one above is one decision.
    bool typical = memcmp(e->lines[2], e->lines[1], e->bytesPerLine) == 0;
    qm.Encode(kTypicalContext, typical == e->typicalBefore);
    e->typicalBefore = typical;

    if (!typical) {
        // Busy bytes are coded pixel by pixel (their white pixels are
        // decisions in context 0 too); the bytes between them are white runs.
        size_t busy = FindBusyBytes(e);
        size_t next = 0; // the first byte not coded yet
        for (size_t i = 0; i < busy; ++i) {
            size_t at = e->busy[i];
            ByteContexts b(e->lines[0], e->lines[1], e->lines[2], at);
            EncodeWhiteRun(qm, 8 * (at - next));
            next = at + 1;
            if (next == e->bytesPerLine && e->width % 8) {
                EncodeBytePixels(qm, b.lo, b.hi, e->width % 8);
                next = e->words * 8; // the rest is past the width
            } else {
                EncodeBytePixels(qm, b.lo, b.hi, 8);
            }
        }
        EncodeWhiteRun(qm, next < e->words * 8 ? e->width - 8 * next : 0);
    }
    qm.Save();

    unsigned char* spare = e->lines[0];
    e->lines[0] = e->lines[1];
    e->lines[1] = e->lines[2];
    e->lines[2] = spare;
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
    e->memory = static_cast<unsigned char*>(calloc(1, 3 * lineSize + 8 * e->words * sizeof(size_t)));
    if (!e->memory)
        return false;
    e->busy = reinterpret_cast<size_t*>(e->memory + 3 * lineSize);
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
