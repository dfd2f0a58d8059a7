// The gray lines main reads, on their way to the screen: a small ring of
// bands, so that no page is ever held whole in gray. Main fills bands in
// page order and the screen takes them in the same order.
#ifndef QUORIN_GRAY_BANDS_H
#define QUORIN_GRAY_BANDS_H

#include "job_info.h"

#define GRAY_BANDS 4
#define GRAY_BAND_BYTES (256 * 1024)

enum GrayBandKind {
    BAND_LINES,        // lines of a page; the page ends with its last line
    BAND_PAGE_DROPPED, // the page's lines stop here: it will not be printed
    BAND_INPUT_END,    // no page follows
};

struct GrayBand {
    GrayBandKind kind;
    JobInfo* slot;      // the page (not for BAND_INPUT_END)
    DWORD first, lines; // the sheet lines held, first .. first + lines - 1
    BYTE* gray;         // lines of slot->page_width bytes, back to back
    size_t room;        // bytes allocated at gray
};

// Sheet lines a band holds for pages of this width.
DWORD BandLines(DWORD pageWidth);

// Bytes the ring takes for a page of width x height pixels: bands hold no
// more than the page.
unsigned long long GrayRingBytes(DWORD pageWidth, DWORD pageHeight);

// Starts the job's ring, with no band memory yet.
void OpenGrayBands(void);

// Main: the next band to fill, once the screen has given it back, with room
// for `bytes` (at most GRAY_BAND_BYTES). NULL when the job was abandoned
// meanwhile, or there was no memory (then *noMemory is set).
GrayBand* NextEmptyBand(size_t bytes, BOOL* noMemory);
// Main: hands the filled band on.
void PassBand(GrayBand* band);

// The screen: the next filled band. NULL when the job was abandoned.
GrayBand* NextFilledBand(void);
// The screen: gives the band back to main.
void ReturnBand(GrayBand* band);
// TRUE while a filled band waits for the screen.
BOOL BandWaiting(void);

#endif
