// Support library: Windows-style type names, portability shims, debug log,
// image processing and BMP tools shared by the filter and its tools.
#ifndef VELORIN_H
#define VELORIN_H

#include <cstdint>
#include <cstddef>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef char TCHAR;
typedef BYTE* LPBYTE;
typedef const char* LPCTSTR;
typedef int32_t HANDLE;
typedef HANDLE HFILE;
typedef void* HGLOBAL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// ---- Debug log ---------------------------------------------------------
// Directory whose existence switches the file log on, and the file in it.
// Test builds compile the log with a private directory and a small bound.
#ifndef VL_LOG_DIR
#define VL_LOG_DIR "/tmp/VlxPrinter"
#endif
#define VL_LOG_NAME "VlxPrinterLog.log"
#define VL_LOG_FILE VL_LOG_DIR "/" VL_LOG_NAME
// Past this size the file is moved aside to VL_LOG_FILE ".old".
#ifndef VL_LOG_MAX_SIZE
#define VL_LOG_MAX_SIZE (4L << 20)
#endif

// printf-style trace line: "DEBUG: <msg> ---------->" on standard error, and a
// time-stamped line in the log file while its directory exists, is a real
// directory owned by root or this user and writable by nobody else.
void DbgMsg(const char* szMsgFormat, ...) __attribute__((format(printf, 1, 2)));

// ---- Platform shims ----------------------------------------------------
HFILE _lopen(LPCTSTR fname, int flag);
HFILE _lcreat(LPCTSTR fname, int flag);
void FillMemory(void* dest, DWORD count, short fbyte);
void ZeroMemory(void* dest, DWORD count);
void MoveMemory(void* dest, const void* src, DWORD count);
void CopyMemory(void* dest, const void* src, DWORD count);
void Sleep(DWORD msec);
BOOL DeleteFile(const char* fname);
HGLOBAL GlobalAlloc(int dummy, long msize);
void* GlobalLock(HGLOBAL hmem);
BOOL GlobalUnlock(HGLOBAL hmem);
HGLOBAL GlobalFree(HGLOBAL hmem);
DWORD GetTickCount(void);

// Stored bytes of one bitmap line, padded to a multiple of 4; 0 for an
// unsupported bit count.
WORD GetBMPBytesPerLine(LONG bitcolor, LONG width);

// Elapsed milliseconds as the log lines print them: "%f sec".
inline float TickSeconds(DWORD startTick)
{
    return (float)(DWORD)(GetTickCount() - startTick) / 1000.0f;
}

// The scheduler acts on lines that start with STATE:, ATTR:, PAGE:, ...: no
// byte of a text bound for standard error may start a new line there.
inline void BlankControlBytes(char* text)
{
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p)
        if (*p < 0x20 || *p == 0x7F)
            *p = ' ';
}

// TRUE when all n bytes are 0xFF: a line of white paper, in gray or RGB.
inline bool AllBytesWhite(const BYTE* p, size_t n)
{
    uint64_t all = ~(uint64_t)0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        __builtin_memcpy(&w, p + i, sizeof w);
        all &= w;
    }
    for (; i < n; ++i)
        all &= (uint64_t)p[i] | ~(uint64_t)0xFF;
    return all == ~(uint64_t)0;
}

// ---- Image processing on a page slot -----------------------------------
// Thin adapters over the kernels on a page view (halftone.h,
// border_quality.h, negative_mirror.h); the slot record is job_info.h.
struct JobInfo;

BOOL ApplyHalftone(JobInfo* lpJob);
BOOL DoBorderQuality(JobInfo* lpJob);
WORD ApplyFilter3x3(JobInfo* lpJob, BYTE* lpbuf, WORD bits, int* filterArray, short filterArrayWidth);
void GrayToLineart(JobInfo* lpJob, BYTE* lpbuf, int threshold);
void DoNegative(JobInfo* lpJob, int InvertHalfImage);
void DoMirror(JobInfo* lpJob);
void ReverseBuf(BYTE* lpbuf, long len);

#endif
