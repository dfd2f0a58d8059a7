// BMP file tools: write a page buffer as a BMP file, load a BMP file, and
// paste a one-bit image (a barcode, say) onto a one-bit page or BMP file.
//
// Files are little-endian and packed; the records below are the decoded
// form. Headers are encoded and decoded field by field, so the records'
// memory layout never has to match the file.
#ifndef VELORIN_BMP_TOOLS_H
#define VELORIN_BMP_TOOLS_H

#include "velorin.h"

#define BMP_TYPE 0x4D42          // "BM"
#define BMP_FILEHEADER_SIZE 14
#define BMP_INFOHEADER_SIZE 40
#define BMP_RGBQUAD_SIZE 4

struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// Writes fname: headers and palette for a wide x high image of bitcount (1, 4,
// 8 or 24) bits at resol dpi and, when fillflag is given, its pixels: high
// rows top to bottom of GetBMPBytesPerLine(bitcount, wide) bytes, 24-bit
// pixels as red, green, blue. Without fillflag only headers and palette are
// written (bfSize still counts the pixels). TRUE on success.
short CreateNullBMP(char* fname, short bitcount, short resol, long wide, long high, BYTE* fillflag);

// Loads a BMP file: the result is one block (release with GlobalFree) of
// exactly header->bfSize - 14 bytes, the file after its file header, in file
// byte order. *info points at its start; read the info header through
// vlReadInfoHeader. Null when the file is not a BMP, is shorter than bfSize
// says, or bfSize leaves no room for the info header.
LPBYTE vlLoadDIBitmap(TCHAR* filename, BITMAPINFO** info, BITMAPFILEHEADER* header);

// Decodes the little-endian info header at the start of a loaded block.
void vlReadInfoHeader(const BYTE* block, BITMAPINFOHEADER* bih);

// Pastes the one-bit BMP bcFileName, inverted (a BMP 0 bit becomes a page 1
// bit), onto the packed one-bit page lpbuf: height rows of (width + 7) / 8
// bytes. position 0 or below: at (DstX, DstY). 1 to 8: top centre, top right,
// middle left, middle centre, middle right, bottom left, bottom centre, bottom
// right, moved by the offsets; 9 and up: column by position mod 3, row DstY.
// Whole bytes are pasted and the image is cut at the page edges. FALSE for a
// bad argument or a file that is not a one-bit BMP whose data fits the file.
BOOL PasteImageFile(BYTE* lpbuf, int width, int height, TCHAR* bcFileName, int DstX, int DstY,
                    int position, int offsetX, int offsetY);

// Pastes bcFileName onto the one-bit BMP SourceFileName at position 0 to 8
// (as above) and writes the result to "result.bmp" in the current directory.
BOOL PasteBarCode(TCHAR* SourceFileName, TCHAR* bcFileName, int position, int offsetX, int offsetY);

#endif
