// The QM arithmetic coder of ITU-T T.82 (clause 6.8), encoder side, as
// JBIG-KIT runs it: the same registers, the same byte-out with carry
// propagation and 0xFF stuffing, the same flush, so that its bytes are
// JBIG-KIT's. The decisions are inline; only bytes leaving C call out.
#ifndef QUORIN_QM_ENCODER_H
#define QUORIN_QM_ENCODER_H

#include <cstdint>

#include "jbig_sink.h"
#include "qm_tables.h"

// Contexts of the three-line template: ten neighbour pixels.
#define QM_CONTEXTS 1024

struct QmEncoder {
    unsigned long c;        // register C: the interval's base, its top byte ready at bits 19-26, a carry at 27
    unsigned long a;        // register A: the interval's size, at least 0x8000 between decisions
    int ct;                 // shifts of C left before its next byte leaves
    int buffer;             // the last byte out that a carry may still raise; -1 before the first
    unsigned long sc;       // 0xFF bytes held behind buffer; a carry turns them into 0x00
    JbigSink* sink;         // where bytes go
    uint8_t st[QM_CONTEXTS]; // per context: the MPS in bit 7, the estimation state in bits 0-6
};

void QmEncoderInit(QmEncoder* e, JbigSink* sink);

// C's top byte leaves: called when ct reaches 0 during a renormalisation.
void QmByteOut(QmEncoder* e);

// Moves the rest of C out, as few bytes as can be decoded right.
void QmFlush(QmEncoder* e);

// Doubles A (and C) until A is at least 0x8000 again.
inline void QmRenormalize(QmEncoder* e)
{
    int shift = __builtin_clzl(e->a) - (int)(sizeof(unsigned long) * 8 - 16);
    if (shift < e->ct) {
        e->a <<= shift;
        e->c <<= shift;
        e->ct -= shift;
        return;
    }
    do {
        e->a <<= 1;
        e->c <<= 1;
        if (--e->ct == 0)
            QmByteOut(e);
    } while (e->a < 0x8000);
}

// Codes pixel pix (0 or 1) in context cx.
inline void QmEncode(QmEncoder* e, unsigned cx, unsigned pix)
{
    unsigned s = e->st[cx];
    uint32_t step = kQmStep[s];
    unsigned long qe = QmQe(step);
    e->a -= qe;
    if (pix == s >> 7) {
        if (e->a >= 0x8000)
            return;
        // Where the LPS's interval has become the larger, the two swap.
        if (e->a < qe) {
            e->c += e->a;
            e->a = qe;
        }
        e->st[cx] = (uint8_t)QmAfterMps(step);
    } else {
        if (e->a >= qe) {
            e->c += e->a;
            e->a = qe;
        }
        e->st[cx] = (uint8_t)QmAfterLps(step);
    }
    QmRenormalize(e);
}

// Codes n pixels equal to the MPS of context cx, one after the other: A falls
// by Qe for each until it drops below 0x8000, so a run costs one step per
// renormalisation instead of one per pixel.
inline void QmEncodeMpsRun(QmEncoder* e, unsigned cx, unsigned long n)
{
    while (n) {
        unsigned s = e->st[cx];
        uint32_t step = kQmStep[s];
        unsigned long qe = QmQe(step);
        unsigned long room = e->a - 0x8000;
        if (n * qe <= room) {
            e->a -= n * qe;
            return;
        }
        unsigned long free = room / qe; // decisions that leave A >= 0x8000
        e->a -= (free + 1) * qe;
        n -= free + 1;
        if (e->a < qe) {
            e->c += e->a;
            e->a = qe;
        }
        e->st[cx] = (uint8_t)QmAfterMps(step);
        QmRenormalize(e);
    }
}

#endif
