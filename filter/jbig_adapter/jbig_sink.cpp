#include "jbig_sink.h"

#include <cstring>

namespace {
void Write(JbigSink* sink, unsigned b)
{
    if (sink->length < sink->room)
        sink->base[sink->length] = (unsigned char)b;
    ++sink->length;
}
} // namespace

void JbigSinkInit(JbigSink* sink, unsigned char* base, size_t room)
{
    sink->base = base;
    sink->room = base ? room : 0;
    sink->length = 0;
    sink->zerosHeld = 0;
    sink->last = 0;
}

void JbigSinkPutNonZero(JbigSink* sink, unsigned b)
{
    if (sink->zerosHeld) {
        if (sink->length < sink->room) {
            size_t fit = sink->room - sink->length;
            memset(sink->base + sink->length, 0, sink->zerosHeld < fit ? sink->zerosHeld : fit);
        }
        sink->length += sink->zerosHeld;
        sink->zerosHeld = 0;
    }
    Write(sink, b);
    sink->last = b;
}

void JbigSinkEndStripe(JbigSink* sink)
{
    sink->zerosHeld = 0;
    if (sink->last == 0xFF)
        Write(sink, 0x00);
    Write(sink, 0xFF);
    Write(sink, 0x02);
    sink->last = 0;
}
