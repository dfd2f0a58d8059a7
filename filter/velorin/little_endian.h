// Multi-byte numbers in files and in the printer stream are little-endian,
// whatever the host: written and read a byte at a time.
#ifndef VELORIN_LITTLE_ENDIAN_H
#define VELORIN_LITTLE_ENDIAN_H

#include "velorin.h"

inline void PutWord(BYTE* p, WORD v)
{
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
}

inline void PutDword(BYTE* p, DWORD v)
{
    p[0] = (BYTE)v;
    p[1] = (BYTE)(v >> 8);
    p[2] = (BYTE)(v >> 16);
    p[3] = (BYTE)(v >> 24);
}

inline WORD GetWord(const BYTE* p)
{
    return (WORD)(p[0] | (p[1] << 8));
}

inline DWORD GetDword(const BYTE* p)
{
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

#endif
