#include "qm_encoder.h"

#include <cstring>

namespace {
const unsigned kEsc = 0xFF;  // a marker's first byte; in coded data always followed by kStuff
const unsigned kStuff = 0x00;

void PutStuffed(JbigSink* sink, unsigned b)
{
    JbigSinkPut(sink, b);
    if (b == kEsc)
        JbigSinkPut(sink, kStuff);
}

// No carry can reach the held byte any more: it goes out, then the 0xFF
// bytes held behind it, each stuffed.
void ReleaseHeld(QmEncoder* e)
{
    if (e->buffer >= 0)
        JbigSinkPut(e->sink, (unsigned)e->buffer);
    for (; e->sc; --e->sc) {
        JbigSinkPut(e->sink, kEsc);
        JbigSinkPut(e->sink, kStuff);
    }
}
} // namespace

void QmEncoderInit(QmEncoder* e, JbigSink* sink)
{
    e->c = 0;
    e->a = 0x10000;
    e->ct = 11;
    e->buffer = -1;
    e->sc = 0;
    e->sink = sink;
    for (uint32_t& s : e->st)
        s = kQmStep[0];
}

void QmByteOut(QmEncoder* e, unsigned long c)
{
    unsigned long top = c >> 19;
    if (top > 0xFF) {
        // A carry: it raises the buffered byte, and the 0xFF bytes behind it become 0x00.
        if (e->buffer >= 0)
            PutStuffed(e->sink, (unsigned)e->buffer + 1);
        for (; e->sc; --e->sc)
            JbigSinkPut(e->sink, 0x00);
        e->buffer = (int)(top & 0xFF);
    } else if (top == 0xFF) {
        // A later carry may still reach it.
        ++e->sc;
    } else {
        ReleaseHeld(e);
        e->buffer = (int)top;
    }
}

void QmFlush(QmEncoder* e)
{
    // The value in the final interval with the most trailing zero bits.
    unsigned long temp = (e->a - 1 + e->c) & 0xFFFF0000UL;
    e->c = temp < e->c ? temp + 0x8000 : temp;
    e->c <<= e->ct;
    if (e->c & 0xF8000000UL) {
        // One last carry.
        if (e->buffer >= 0)
            PutStuffed(e->sink, (unsigned)e->buffer + 1);
        if (e->c & 0x7FFF800UL)
            for (; e->sc; --e->sc)
                JbigSinkPut(e->sink, 0x00);
    } else {
        ReleaseHeld(e);
    }
    // The last bytes, only where they are not zero.
    if (e->c & 0x7FFF800UL) {
        PutStuffed(e->sink, (unsigned)(e->c >> 19 & 0xFF));
        if (e->c & 0x7F800UL)
            PutStuffed(e->sink, (unsigned)(e->c >> 11 & 0xFF));
    }
}
