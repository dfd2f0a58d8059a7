// The QM arithmetic coder of ITU-T T.82 (clause 6.8), encoder side, as
// JBIG-KIT runs it: the same registers, the same byte-out with carry
// propagation and 0xFF stuffing, the same flush, so that its bytes are
// JBIG-KIT's. Decisions are coded through a QmPass, which holds the
// registers in local variables while a line is coded; only bytes leaving C
// call out.
#ifndef QUORIN_QM_ENCODER_H
#define QUORIN_QM_ENCODER_H

#include <cstdint>

#include "jbig_sink.h"
#include "qm_tables.h"

// Contexts of the three-line template: ten neighbour pixels.
#define QM_CONTEXTS 1024

struct QmEncoder {
    unsigned long c;         // register C: the interval's base, its next byte at bits 19-26, a carry at 27
    unsigned long a;         // register A: the interval's size, at least 0x8000 between decisions
    int ct;                  // shifts of C left before its next byte leaves
    int buffer;              // the last byte out that a carry may still raise; -1 before the first
    unsigned long sc;        // 0xFF bytes held behind buffer; a carry turns them into 0x00
    JbigSink* sink;          // where bytes go
    uint32_t st[QM_CONTEXTS]; // per context: its state's kQmStep word
};

void QmEncoderInit(QmEncoder* e, JbigSink* sink);

// C's byte at bits 19-26 (with its carry) leaves; the caller then keeps
// only C's low 19 bits and sets ct to 8.
void QmByteOut(QmEncoder* e, unsigned long c);

// Moves the rest of C out, as few bytes as decode right.
void QmFlush(QmEncoder* e);

// The coder's registers in locals for a stretch of decisions: make one,
// code, then Save(). Nothing else may touch the encoder meanwhile.
struct QmPass {
    QmEncoder* e;    // the encoder, for bytes out and Save()
    uint32_t* st;    // its context states
    unsigned long a; // register A, as in QmEncoder
    unsigned long c; // register C
    int ct;          // shifts before C's next byte leaves

    explicit QmPass(QmEncoder* enc) : e(enc), st(enc->st), a(enc->a), c(enc->c), ct(enc->ct) {}

    void Save()
    {
        e->a = a;
        e->c = c;
        e->ct = ct;
    }

    // Doubles A (and C) until A is at least 0x8000 again: shift times, at
    // most 15. C's byte leaves when ct reaches 0 on the way, a second one
    // when 8 more shifts follow.
    void Renormalize()
    {
        int shift = __builtin_clzl(a) - (int)(sizeof a * 8 - 16);
        a <<= shift;
        if (shift < ct) {
            c <<= shift;
            ct -= shift;
            return;
        }
        c <<= ct;
        shift -= ct;
        QmByteOut(e, c);
        c &= 0x7FFFF;
        if (shift >= 8) {
            c <<= 8;
            shift -= 8;
            QmByteOut(e, c);
            c &= 0x7FFFF;
        }
        c <<= shift;
        ct = 8 - shift;
    }

    // Codes pixel pix (0 or 1) in context cx.
    void Encode(unsigned cx, unsigned pix) { EncodeLane(cx | pix << 15); }

    // Codes a pixel given as a lane: the context in bits 0-9, the pixel in
    // bit 15, where the state word keeps the MPS.
    void EncodeLane(unsigned lane)
    {
        unsigned cx = lane & (QM_CONTEXTS - 1);
        uint32_t step = st[cx];
        unsigned long qe = QmQe(step);
        a -= qe;
        if (!((lane ^ step) & 0x8000)) {
            if (a >= 0x8000)
                return;
            // Where the LPS's interval has become the larger, the two swap.
            if (a < qe) {
                c += a;
                a = qe;
            }
            st[cx] = QmAfterMps(step);
        } else {
            if (a >= qe) {
                c += a;
                a = qe;
            }
            st[cx] = QmAfterLps(step);
        }
        Renormalize();
    }

    // Codes n pixels equal to the MPS of context cx, one after the other: A
    // falls by Qe for each until it drops below 0x8000, so a run costs one
    // step per renormalisation instead of one per pixel.
    void EncodeMpsRun(unsigned cx, unsigned long n)
    {
        while (n) {
            uint32_t step = st[cx];
            unsigned long qe = QmQe(step);
            unsigned long room = a - 0x8000;
            if (n * qe <= room) {
                a -= n * qe;
                return;
            }
            unsigned long free = room / qe; // decisions that leave A >= 0x8000
            a -= (free + 1) * qe;
            n -= free + 1;
            if (a < qe) {
                c += a;
                a = qe;
            }
            st[cx] = QmAfterMps(step);
            Renormalize();
        }
    }
};

#endif
