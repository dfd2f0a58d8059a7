// Where a coded page goes: a caller's buffer of fixed room. Bytes past the
// room are only counted, so one run tells how much room a page needs.
// Zero bytes are held back until a non-zero byte follows: a stripe's coded
// data never ends in zeros (the decoder reads missing bytes as zeros).
#ifndef QUORIN_JBIG_SINK_H
#define QUORIN_JBIG_SINK_H

#include <cstddef>

struct JbigSink {
    unsigned char* base; // the caller's buffer
    size_t room;         // bytes it holds; nothing is written at base[room] or beyond
    size_t length;       // bytes put so far, written or not; held zeros not included
    size_t zerosHeld;    // zero bytes put after the last non-zero one, not yet written
    unsigned last;       // the last non-zero byte put (0 before any)
};

void JbigSinkInit(JbigSink* sink, unsigned char* base, size_t room);

// Writes the held zeros and then b (b != 0).
void JbigSinkPutNonZero(JbigSink* sink, unsigned b);

inline void JbigSinkPut(JbigSink* sink, unsigned b)
{
    if (b == 0)
        ++sink->zerosHeld;
    else
        JbigSinkPutNonZero(sink, b);
}

// Ends the stripe: drops the held zeros (restuffing a 0xFF left last, which
// must never stand alone) and writes the end marker 0xFF 0x02 (SDNORM).
void JbigSinkEndStripe(JbigSink* sink);

inline bool JbigSinkOverflowed(const JbigSink* sink)
{
    return sink->length > sink->room;
}

#endif
