// Codes a one-bit page in the printer's fixed JBIG parameters and keeps only
// the stripe data: the printer learns width and height from the page header,
// so the 20-byte BIH the encoder emits first is dropped. Two coders give the
// same bytes: the built-in one (t82_encoder.h), and JBIG-KIT, kept as the
// reference and to fall back to.
#ifndef QUORIN_JBIG_ADAPTER_H
#define QUORIN_JBIG_ADAPTER_H

#include <cstddef>

#include "printer_stream.h"
#include "t82_encoder.h"

// Compresses a bitmap of height rows of (width + 7) / 8 bytes (MSB leftmost,
// 1 = black; bits past width are ignored) into outbuf, which holds
// outbufSize bytes. *TotalOutLen and *OutJBGDataTimes count bytes and output
// calls; both should be 0 on entry.
// Returns the data length (also left in *TotalOutLen), or -1 when the data
// did not fit: nothing is written past outbuf + outbufSize, and *TotalOutLen
// then holds the room the data needs, so a second call with a buffer of
// max(*TotalOutLen, JBIG_BIH_SIZE) bytes succeeds (-1 with *TotalOutLen 0:
// the built-in coder had no memory). Threads may compress at the same time:
// each has a sink of its own. The coder is JbigDefaultCoder().
long Tarsel_JBIGCompression(unsigned long width, unsigned long height, unsigned char* inbuf,
                            unsigned char* outbuf, unsigned long outbufSize, long* TotalOutLen,
                            long* OutJBGDataTimes);

enum JbigCoder {
    JBIG_CODER_BUILTIN,
    JBIG_CODER_JBIGKIT,
};

// The build's choice (CMake's QUORIN_JBIG_CODER), unless the environment
// variable QUORIN_JBIG_CODER says "builtin" or "jbigkit"; read once.
JbigCoder JbigDefaultCoder();

// Tarsel_JBIGCompression with the coder named. Either way the data arrives
// as JBIG-KIT hands it over: the BIH first, then pieces of at most 3999
// bytes, each counted in *OutJBGDataTimes.
long JbigCompressWith(JbigCoder coder, unsigned long width, unsigned long height, unsigned char* inbuf,
                      unsigned char* outbuf, unsigned long outbufSize, long* TotalOutLen, long* OutJBGDataTimes);

// The built-in coder fed a line at a time, so that a page is coded while it
// is screened: the same stripe data as Tarsel_JBIGCompression's into outbuf,
// which holds outbufSize bytes (nothing is written past it).
struct JbigLineCoder {
    T82Encoder encoder;
    JbigSink sink;
};
// False without memory (nothing to finish then).
bool JbigLineCoderStart(JbigLineCoder* c, unsigned long width, unsigned long height, unsigned char* outbuf,
                        unsigned long outbufSize);
// The next line: (width + 7) / 8 bytes, MSB leftmost, 1 = black.
void JbigLineCoderLine(JbigLineCoder* c, const unsigned char* line);
// Ends the stripe (lines never given are white) and frees the coder. The
// data length, or -1 when it did not fit; *needed is the room it needs.
long JbigLineCoderFinish(JbigLineCoder* c, long* needed);
// Frees the coder of a page given up.
void JbigLineCoderDrop(JbigLineCoder* c);

// JBIG-KIT's data sink; outBuf (the library's context pointer) is unused.
void OutJBIGData(unsigned char* start, size_t len, void* outBuf);

// Decodes a complete BIE (BIH included) and copies the first imageSize bytes
// of the decoded page to image. Returns the JBIG-KIT result (0 = JBG_EOK).
// Messages go to standard error: standard output carries the printer stream.
int Tarsel_BIEDecoding(char* image, char* inBuf, unsigned long imageSize, unsigned long inBufLen);

#endif
