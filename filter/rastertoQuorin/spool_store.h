// The spool file: finished page records kept for jobs whose pages leave in
// another order (duplex pairs) or more than once (collated copies made here).
//
// Layout, all numbers little-endian: an 8-byte SpoolRecHeader, then for every
// page a 4-byte SpoolPageHeader (the record length) followed by the page
// record exactly as it would have gone to standard output.
#ifndef QUORIN_SPOOL_STORE_H
#define QUORIN_SPOOL_STORE_H

#include <climits>
#include <cstdio>

#include "velorin.h"

#define SPOOL_FILE_HEADER_SIZE 8
#define SPOOL_PAGE_HEADER_SIZE 4

struct SpoolRecHeader {
    DWORD pages;     // page records in the file
    DWORD bfOffBits; // offset of the first record: always 8
};

struct SpoolPageHeader {
    DWORD dataLen; // length of the record that follows
};

// Path of this job's spool file; empty while there is none.
extern char gSpolFileName[PATH_MAX];
// The same path for a signal handler, which may run on any thread and take
// no lock: null while there is no spool file.
const char* SpoolPathForSignal(void);
extern FILE* gSpoolFileHandle;
// In-memory copy of the file header. The compression thread raises pages
// while main reads it: touch it only through the functions below while both
// threads run.
extern SpoolRecHeader gSpoolFileHeader;

// Creates this job's spool file in $TMPDIR, else in /tmp, under a fresh
// name, never through an existing file or link, and sets gSaveToFile. FALSE,
// with the job failed, when neither folder takes it.
BOOL CreateSpoolFile(void);

// Appends one record and raises the page count once it is wholly written.
// *pagesAfter (when given) receives the new count.
BOOL SpoolAppend(const void* record, DWORD len, DWORD* pagesAfter = nullptr);

// The compression thread's append of a finished page record, with its trace.
BOOL SpoolPageRecord(const void* record, DWORD len);

// Body length of record index (0-based); 0 for a bad index or a failed read.
DWORD GetPageDataSize(DWORD index);

// Copies record index into lpOutBuf. FALSE for a bad index, a buffer smaller
// than the record (left untouched) or a failed read.
BOOL GetPageData(DWORD index, DWORD outBufSize, char* lpOutBuf);

// Records in the file now.
DWORD SpoolPageCount(void);

// Closes and removes this job's spool file, if any; safe to call on every path.
void RemoveSpoolFile(void);

// A spool read or write failed: the pages in the file can no longer be
// trusted, and the job stops.
void NoteSpoolFailure(const char* what);
BOOL SpoolFailed(void);

#endif
