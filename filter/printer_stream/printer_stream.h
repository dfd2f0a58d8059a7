// The printer stream as the printer reads it: the PJL frame of a job, the
// page record and its header, the page limits and the JBIG coding of a page.
// Constants only, with no dependencies, so that the filter, the stream
// decoder and the tests take every fact from here. The tests keep their own
// literal bytes as well, so a slip here cannot pass on both sides.
#ifndef QUORIN_PRINTER_STREAM_H
#define QUORIN_PRINTER_STREAM_H

#include <cstdint>

// ---- Job frame ------------------------------------------------------------
// Universal exit: leaves whatever language the printer is in.
#define PJL_UEL "\x1b%-12345X"
// Printer reset and a cancel of whatever job the printer is still inside.
#define PJL_CANCEL_PREFIX "\x1b" "E" PJL_UEL "@PJL CANCEL\r\n@PJL EOJ\r\n" PJL_UEL
#define PJL_CANCEL_LEN 43
// Zero bytes between the cancel prefix and the header block.
#define PJL_ZERO_RUN 512
#define PJL_LINE_SIZE 256   // a header line, CR LF included, holds at most 255 characters
#define PJL_BLOCK_SIZE 1024 // the header block at most 1023
// The header block's last line, without its CR LF: page records follow.
#define PJL_ENTER_LANGUAGE "@PJL ENTER LANGUAGE=VLGDI"
#define PJL_END_OF_JOB "\x1b" "E" PJL_UEL "@PJL\r\n"
#define PJL_TRAILER PJL_END_OF_JOB "@PJL SET TIMEOUT=5\r\n@PJL               EOJ\r\n" PJL_UEL
#define PJL_TRAILER_LEN 70

static_assert(sizeof PJL_CANCEL_PREFIX - 1 == PJL_CANCEL_LEN, "cancel prefix length");
static_assert(sizeof PJL_TRAILER - 1 == PJL_TRAILER_LEN, "trailer length");

// ---- Page record ----------------------------------------------------------
// One printed side: the lead-in, the page header, then the page's JBIG data.
#define PAGE_LEAD_IN "\x1b" "E"
#define PAGE_LEAD_IN_SIZE 2
#define PAGE_HEADER_SIZE 32
#define PAGE_RECORD_PREFIX (PAGE_LEAD_IN_SIZE + PAGE_HEADER_SIZE)
// The page header's idf: these three letters and a NUL.
#define PAGE_HEADER_IDF "GDI"
// SDNORM: the JBIG data of every page ends with these two bytes.
#define JBIG_DATA_END "\xff\x02"

// Offsets of the page header's fields; numbers are little-endian.
enum {
    PH_IDF = 0,
    PH_PAGE_WIDTH = 4,
    PH_PAGE_HEIGHT = 8,
    PH_DATASIZE = 12,
    PH_COMPSIZE = 16,
    PH_BLACKDOTS = 20,
    PH_PAPER_TYPE = 24,
    PH_MEDIA_TYPE = 25,
    PH_MEDIA_POSITION = 26,
    PH_OUTBIN = 27,
    PH_BITS = 28,
    PH_COLORS = 29,
    PH_COLORMODE = 30,
    PH_COMPMETHOD = 31,
};

// What every page header says in its last five bytes: one bit a pixel, one
// colour, JBIG-coded.
enum {
    PAGE_OUTBIN = 0,
    PAGE_BITS = 1,
    PAGE_COLORS = 1,
    PAGE_COLORMODE = 0,
    PAGE_COMPMETHOD = 1,
};

// ---- Page size ------------------------------------------------------------
// Pages are padded to whole multiples of 32 pixels both ways.
#define PAGE_ALIGN 32
// The largest page: the image processing keeps sizes in 16 bits.
#define MAX_PAGE_WIDTH 32736
#define MAX_PAGE_HEIGHT 65504

inline uint32_t PadToPageAlign(uint32_t pixels)
{
    return (pixels + PAGE_ALIGN - 1) & ~(uint32_t)(PAGE_ALIGN - 1);
}

static_assert(MAX_PAGE_WIDTH % PAGE_ALIGN == 0 && MAX_PAGE_HEIGHT % PAGE_ALIGN == 0, "padded limits");

// ---- JBIG coding ------------------------------------------------------------
// Every page is one plane, one layer, one stripe, order 0 and typical
// prediction only (JBIG-KIT's JBG_TPBON); the job header names the two
// values, and the 20-byte BIH that says so is not sent.
#define JBIG_PAGE_ORDER 0x00
#define JBIG_PAGE_OPTIONS 0x08
#define JBIG_BIH_SIZE 20

// The BIH the filter drops for a page of width x height pixels: put in front
// of a page's JBIG data it makes a complete BIE.
inline void MakePageBIH(unsigned long width, unsigned long height, unsigned char bih[JBIG_BIH_SIZE])
{
    auto put32 = [](unsigned char* p, unsigned long v) {
        p[0] = (unsigned char)(v >> 24);
        p[1] = (unsigned char)(v >> 16);
        p[2] = (unsigned char)(v >> 8);
        p[3] = (unsigned char)v;
    };
    bih[0] = 0; // DL
    bih[1] = 0; // D
    bih[2] = 1; // P
    bih[3] = 0;
    put32(bih + 4, width);
    put32(bih + 8, height);
    put32(bih + 12, height); // L0: one stripe
    bih[16] = 0;             // MX
    bih[17] = 0;             // MY
    bih[18] = JBIG_PAGE_ORDER;
    bih[19] = JBIG_PAGE_OPTIONS;
}

#endif
