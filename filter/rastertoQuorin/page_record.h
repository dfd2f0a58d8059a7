// One printed side as the printer receives it: 0x1B 0x45, a 32-byte
// little-endian PageHeader, then the page's JBIG data ending 0xFF 0x02.
#ifndef QUORIN_PAGE_RECORD_H
#define QUORIN_PAGE_RECORD_H

#include "jbig_adapter.h"
#include "job_info.h"
#include "printer_stream.h"

// The printer's media codes.
enum EngMediaType {
    ENG_MEDIA_AUTO = 0,
    ENG_MEDIA_CARDSTOCK = 1,
    ENG_MEDIA_TRANSPARENCY = 2,
    ENG_MEDIA_ENVELOPE = 3,
    ENG_MEDIA_LETTERHEAD = 4,
    ENG_MEDIA_POSTCARD = 5,
    ENG_MEDIA_LABELS = 6,
    ENG_MEDIA_COATED = 7,
    ENG_MEDIA_PLAIN = 8,
    ENG_MEDIA_PREPRINTED = 9,
    ENG_MEDIA_BOND = 10,
    ENG_MEDIA_RECYCLED = 11,
    ENG_MEDIA_VELLUM = 12,
    ENG_MEDIA_ROUGH = 13,
    ENG_MEDIA_COLOR = 14,
    ENG_MEDIA_PREPUNCHED = 15,
    ENG_MEDIA_2NDSIDE = 16,
    ENG_MEDIA_THICK = 17,
    ENG_MEDIA_HIGHQUALITY = 18,
    ENG_MEDIA_THIN = 19,
    ENG_MEDIA_LASER = 20,
    ENG_MEDIA_CUSTOM3 = 21,
    ENG_MEDIA_XRAY = 22,
    ENG_MEDIA_CUSTOM5 = 23,
    ENG_MEDIA_CUSTOM6 = 24,
    ENG_MEDIA_CUSTOM7 = 25,
    ENG_MEDIA_CUSTOM8 = 26,
    ENG_MEDIA_CUSTOM2 = 27,
};

// The printer's paper codes.
enum EngPaperType {
    ENG_INVALID = 0,
    ENG_ISO_A3 = 1,
    ENG_ISO_A4 = 2,
    ENG_ISO_A5 = 3,
    ENG_ISO_A6 = 4,
    ENG_ISO_B4 = 5,
    ENG_ISO_B5 = 6,
    ENG_ISO_B6 = 7,
    ENG_ISO_C4 = 8,
    ENG_ISO_C5 = 9,
    ENG_ISO_C6 = 10,
    ENG_JIS_B4 = 11,
    ENG_JIS_B5 = 12,
    ENG_JIS_B6 = 13,
    ENG_ST = 14,
    ENG_LETTER = 15,
    ENG_LEGAL = 16,
    ENG_FOOLSCAP = 17,
    ENG_FOLIO = 18,
    ENG_TABLOID = 19,
    ENG_EXECUTIVE = 20,
    ENG_COM6 = 21,
    ENG_MONARCH = 22,
    ENG_COM9 = 23,
    ENG_COM10 = 24,
    ENG_DL = 25,
    ENG_JIS_HAGAKI = 26,
    ENG_JIS_OUFUKI = 27,
    ENG_POSTCARD = 28,
    ENG_BUSINESS = 29,
    ENG_DLT = 30,
    ENG_8K = 31,
    ENG_16K = 32,
    ENG_YOUKEI2 = 33,
    ENG_YOUKEI4 = 34,
    ENG_A3WIDE = 35,
    ENG_A4WIDE = 36,
    ENG_RESERVED_1 = 37,
    ENG_RESERVED_2 = 38,
    ENG_RESERVED_3 = 39,
    ENG_AUTO = 40,
    ENG_PAPER_CUSTOMER = 96,
    ENG_UNKNOWN = 128,
    ENG_ISO_A3_LEF = 129,
    ENG_ISO_A4_LEF = 130,
    ENG_ISO_A5_LEF = 131,
    ENG_ISO_A6_LEF = 132,
    ENG_ISO_B4_LEF = 133,
    ENG_ISO_B5_LEF = 134,
    ENG_ISO_B6_LEF = 135,
    ENG_ISO_C4_LEF = 136,
    ENG_ISO_C5_LEF = 137,
    ENG_ISO_C6_LEF = 138,
    ENG_JIS_B4_LEF = 139,
    ENG_JIS_B5_LEF = 140,
    ENG_JIS_B6_LEF = 141,
    ENG_ST_LEF = 142,
    ENG_LETTER_LEF = 143,
    ENG_LEDGER = 147,
    ENG_POSTCARD_LEF = 156,
    ENG_16K_LEF = 160,
    ENG_A3WIDE_LEF = 163,
    ENG_A4WIDE_LEF = 164,
};

// Page size in points (portrait) and the paper code the printer knows it by.
struct PAPERFORMAT {
    short w;
    short h;
    short paper_type;
};

#define PAPER_FORMAT_COUNT 15
#define MEDIA_TYPE_COUNT 10
extern const PAPERFORMAT PaperFormat[PAPER_FORMAT_COUNT];
// Media code for each cupsMediaType the PPD offers.
extern const short MediaType[MEDIA_TYPE_COUNT];

// Paper code for a page size in points; ENG_PAPER_CUSTOMER without a match.
BYTE PaperTypeFor(unsigned widthPt, unsigned heightPt);
// Media code for a cupsMediaType; ENG_MEDIA_PLAIN beyond the table.
BYTE MediaTypeFor(unsigned cupsMediaType);

// Fills the 32 bytes at outbuf for the slot's page. Always TRUE.
BOOL PJL_WritePageHeader(JobInfo* lpJob, char* outbuf, DWORD CompressSize);

// Number of 1 bits in the first ByteNo bytes; 0 for a NULL buffer.
long Prnt_CountBlackDots(unsigned char* inbuf, DWORD ByteNo);

// A fresh 256-entry table of bit counts (caller frees); NULL without memory.
BYTE* Prnt_CreateBkDotsTbl(void);

// TRUE on a thread while it runs the JBIG coder (which aborts when it finds
// no memory). Async-signal-safe.
BOOL InJbigCoder(void);

// Compresses the slot's one-bit page and returns the whole page record
// (malloc'd, caller frees) with its length in *recordLen; NULL when memory
// for it could not be had or the slot holds no usable page.
BYTE* BuildPageRecord(JobInfo* lpJob, DWORD* recordLen);

// A page record coded while its page is screened: line by line as the
// lines become final, with the built-in coder.
struct PageRecordCoder {
    JobInfo* slot;
    BOOL lineByLine;     // FALSE: the whole page is coded at the end (JBIG-KIT, or no memory)
    JbigLineCoder coder;
    BYTE* outbuf;        // the record: prefix, then room bytes for the data
    size_t room;
    DWORD coded;         // lines given to the coder
    DWORD tick;
};
// TRUE when the lines can be coded as they come; otherwise FinishPageRecord
// codes the whole page.
BOOL StartPageRecord(JobInfo* lpJob, PageRecordCoder* c);
// Codes the slot's one-bit lines up to (not including) line upTo.
void CodeRecordLines(PageRecordCoder* c, DWORD upTo);
// Once every line is final: the record, as BuildPageRecord returns it.
BYTE* FinishPageRecord(PageRecordCoder* c, DWORD* recordLen);
// The page will not be printed.
void DropPageRecord(PageRecordCoder* c);

#endif
