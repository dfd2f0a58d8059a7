// Win32-named portability functions used across the filter.
#include "velorin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
// Large page buffers are filled and moved in bounded pieces.
const DWORD kPieceSize = 60000;
}

HFILE _lopen(LPCTSTR fname, int flag)
{
    return open(fname, flag);
}

HFILE _lcreat(LPCTSTR fname, int /*flag*/)
{
    return creat(fname, 0600);
}

void FillMemory(void* dest, DWORD count, short fbyte)
{
    BYTE* p = static_cast<BYTE*>(dest);
    for (DWORD done = 0; done < count;) {
        DWORD n = count - done < kPieceSize ? count - done : kPieceSize;
        memset(p + done, (BYTE)fbyte, n);
        done += n;
    }
}

void ZeroMemory(void* dest, DWORD count)
{
    FillMemory(dest, count, 0);
}

void MoveMemory(void* dest, const void* src, DWORD count)
{
    BYTE* d = static_cast<BYTE*>(dest);
    const BYTE* s = static_cast<const BYTE*>(src);
    for (DWORD done = 0; done < count;) {
        DWORD n = count - done < kPieceSize ? count - done : kPieceSize;
        memmove(d + done, s + done, n);
        done += n;
    }
}

void CopyMemory(void* dest, const void* src, DWORD count)
{
    MoveMemory(dest, src, count);
}

void Sleep(DWORD msec)
{
    usleep((useconds_t)(DWORD)(msec * 1000u));
}

BOOL DeleteFile(const char* fname)
{
    return remove(fname) == 0 ? TRUE : FALSE;
}

HGLOBAL GlobalAlloc(int /*dummy*/, long msize)
{
    return malloc(msize);
}

void* GlobalLock(HGLOBAL hmem)
{
    return hmem;
}

BOOL GlobalUnlock(HGLOBAL hmem)
{
    return hmem != nullptr ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hmem)
{
    free(hmem);
    return nullptr;
}

DWORD GetTickCount(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (DWORD)tv.tv_sec * 1000u + (DWORD)(tv.tv_usec / 1000);
}

WORD GetBMPBytesPerLine(LONG bitcolor, LONG width)
{
    switch (bitcolor) {
    case 1:
        return (WORD)((((width + 7) / 8) + 3) / 4 * 4);
    case 4:
        return (WORD)((((width + 1) / 2) + 3) / 4 * 4);
    case 8:
        return (WORD)((width + 3) / 4 * 4);
    case 24:
        return (WORD)((3 * width + 3) / 4 * 4);
    default:
        return 0;
    }
}
