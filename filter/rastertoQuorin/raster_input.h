// Where libcups reads the job's raster from. Reading through this record lets
// the filter tell a clean end of the stream from a cut, a read error or input
// that is no raster at all, and lets the fuzzer read from memory.
#ifndef QUORIN_RASTER_INPUT_H
#define QUORIN_RASTER_INPUT_H

#include <cstddef>
#include <sys/types.h>
#include <cups/raster.h>

#include "velorin.h"

struct RasterInput {
    int fd;                       // descriptor read from; -1 for memory
    BOOL regular;                 // fd is a regular file, which never stalls
    const BYTE* data;             // memory input, when fd is -1
    size_t size;                  // its length
    size_t pos;                   // bytes of it handed out
    unsigned long long delivered; // bytes handed to libcups so far
    BYTE sync[4];                 // the stream's first bytes
    DWORD headerSize;             // a page header's length for that sync word
    BOOL sawEof;                  // a read found the end of the input
    int readErrno;                // errno of the first failed read; 0 if none
    // What the reads of one header read asked and got (see ReadRasterHeader).
    BOOL watching;
    int calls;
    size_t firstAsked;
    ssize_t firstGot;
};

void RasterInputFromFd(RasterInput* in, int fd);
void RasterInputFromMemory(RasterInput* in, const void* data, size_t size);

enum RasterOpenResult {
    RASTER_OPEN_OK,
    RASTER_OPEN_EMPTY,      // no byte at all: a job without pages
    RASTER_OPEN_NOT_RASTER, // bytes, but no raster sync word
    RASTER_OPEN_READ_ERROR, // the input could not be read (readErrno)
};

// The raster stream over the input; NULL unless *result is RASTER_OPEN_OK.
cups_raster_t* OpenRasterInput(RasterInput* in, RasterOpenResult* result);

enum RasterHeaderResult {
    RASTER_HEADER_OK,
    RASTER_HEADER_END,        // the input ended cleanly after a whole page
    RASTER_HEADER_CUT,        // the input ended inside a page header
    RASTER_HEADER_DAMAGED,    // a whole header that libcups refused
    RASTER_HEADER_READ_ERROR, // the input could not be read (readErrno)
};

// Reads the next page header and says why when there is none.
RasterHeaderResult ReadRasterHeader(RasterInput* in, cups_raster_t* ras, cups_page_header2_t* h);

#endif
