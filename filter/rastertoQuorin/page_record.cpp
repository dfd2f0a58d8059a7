#include "page_record.h"

#include "little_endian.h"

#include <cstdlib>
#include <cstring>

#include "jbig_adapter.h"

const PAPERFORMAT PaperFormat[PAPER_FORMAT_COUNT] = {
    {612, 792, ENG_LETTER},   {612, 1008, ENG_LEGAL},    {792, 1224, ENG_DLT},
    {842, 1191, ENG_ISO_A3},  {595, 842, ENG_ISO_A4},    {420, 595, ENG_ISO_A5},
    {729, 1032, ENG_JIS_B4},  {516, 729, ENG_JIS_B5},    {363, 516, ENG_JIS_B6},
    {297, 420, ENG_ISO_A6},   {612, 936, ENG_FOOLSCAP},  {284, 419, ENG_POSTCARD},
    {396, 612, ENG_ST_LEF},   {757, 1106, ENG_8K},       {553, 757, ENG_16K},
};

const short MediaType[MEDIA_TYPE_COUNT] = {
    ENG_MEDIA_PLAIN, ENG_MEDIA_CARDSTOCK,    ENG_MEDIA_THICK, ENG_MEDIA_LASER,    ENG_MEDIA_BOND,
    ENG_MEDIA_TRANSPARENCY, ENG_MEDIA_THIN, ENG_MEDIA_ENVELOPE, ENG_MEDIA_POSTCARD, ENG_MEDIA_AUTO,
};

namespace {
thread_local BOOL tInCoder = FALSE;

void FillBitCountTable(BYTE* table)
{
    for (int v = 0; v < 256; ++v) {
        BYTE count = 0;
        for (int rest = v, i = 0; i < 8 && rest != 0; ++i, rest >>= 1)
            count += (BYTE)(rest & 1);
        table[v] = count;
    }
}

// Runs the adapter into a fresh record buffer with `room` bytes for the data.
// Returns the buffer (NULL without memory); *compressSize is -1 when the data
// did not fit, with *needed the room it asks for.
BYTE* CompressInto(JobInfo* lpJob, BYTE* bitmap, size_t room, long* compressSize, long* needed)
{
    BYTE* outbuf = static_cast<BYTE*>(malloc(room + PAGE_RECORD_PREFIX));
    if (!outbuf)
        return nullptr;
    long TotalOutLen = 0;
    long OutJBGDataTimes = 0;
    tInCoder = TRUE;
    *compressSize = Tarsel_JBIGCompression(lpJob->page_width, lpJob->page_height, bitmap,
                                           outbuf + PAGE_RECORD_PREFIX, room, &TotalOutLen, &OutJBGDataTimes);
    tInCoder = FALSE;
    *needed = TotalOutLen;
    return outbuf;
}

} // namespace

BOOL InJbigCoder(void)
{
    return tInCoder;
}

BYTE PaperTypeFor(unsigned widthPt, unsigned heightPt)
{
    for (const PAPERFORMAT& f : PaperFormat)
        if ((unsigned)f.w == widthPt && (unsigned)f.h == heightPt)
            return (BYTE)(f.paper_type & 0xFF);
    return ENG_PAPER_CUSTOMER;
}

BYTE MediaTypeFor(unsigned cupsMediaType)
{
    // Media types the table does not know print as plain paper.
    if (cupsMediaType >= MEDIA_TYPE_COUNT)
        return ENG_MEDIA_PLAIN;
    return (BYTE)(MediaType[cupsMediaType] & 0xFF);
}

BOOL PJL_WritePageHeader(JobInfo* lpJob, char* outbuf, DWORD CompressSize)
{
    const cups_page_header2_t* h = &lpJob->inheader;
    BYTE* out = reinterpret_cast<BYTE*>(outbuf);
    memcpy(out + PH_IDF, PAGE_HEADER_IDF, sizeof PAGE_HEADER_IDF);

    DWORD datasize = lpJob->linebyte * lpJob->page_height;
    PutDword(out + PH_PAGE_WIDTH, lpJob->page_width);
    DbgMsg("PJL_WritePageHeader::width = %d", (int)lpJob->page_width);
    PutDword(out + PH_PAGE_HEIGHT, lpJob->page_height);
    DbgMsg("PJL_WritePageHeader::height = %d", (int)lpJob->page_height);
    PutDword(out + PH_DATASIZE, datasize);
    DbgMsg("PJL_WritePageHeader::datasize = %d", (int)datasize);
    DbgMsg("PJL_WritePageHeader::linebyte = %d", (int)lpJob->linebyte);
    PutDword(out + PH_COMPSIZE, CompressSize);
    DbgMsg("PJL_WritePageHeader::compsize = %d", (int)CompressSize);

    // Every byte counts, the padding added to reach a multiple of 32 too.
    DWORD blackDots = (DWORD)Prnt_CountBlackDots(SlotBuffer(lpJob), datasize);
    PutDword(out + PH_BLACKDOTS, blackDots);
    DbgMsg("PJL_WritePageHeader::blackDots = %d", (int)blackDots);

    BYTE paper = PaperTypeFor(h->PageSize[0], h->PageSize[1]);
    out[PH_PAPER_TYPE] = paper;
    DbgMsg("paper_type = %d", paper);
    BYTE media = MediaTypeFor(h->cupsMediaType);
    out[PH_MEDIA_TYPE] = media;
    DbgMsg("MediaType = %d", media);
    BYTE tray = h->MediaPosition == 250 ? 0 : (BYTE)(h->MediaPosition & 0xFF);
    out[PH_MEDIA_POSITION] = tray;
    DbgMsg("MediaPosition = %d", tray);

    out[PH_OUTBIN] = PAGE_OUTBIN;
    out[PH_BITS] = PAGE_BITS;
    out[PH_COLORS] = PAGE_COLORS;
    out[PH_COLORMODE] = PAGE_COLORMODE;
    out[PH_COMPMETHOD] = PAGE_COMPMETHOD;
    return TRUE;
}

long Prnt_CountBlackDots(unsigned char* inbuf, DWORD ByteNo)
{
    if (!inbuf)
        return 0;
    BYTE* table = static_cast<BYTE*>(malloc(256));
    if (!table)
        return 0;
    DWORD tick = GetTickCount();
    DbgMsg("Prnt_CountBlackDots Start, ByteNo = %d", (int)ByteNo);
    FillBitCountTable(table);
    long count = 0;
    for (DWORD i = 0; i < ByteNo; ++i)
        count += table[inbuf[i]];
    free(table);
    DbgMsg("Prnt_CountBlackDots Out, using %f sec, count = %d", TickSeconds(tick), (int)count);
    return count;
}

BYTE* Prnt_CreateBkDotsTbl(void)
{
    DWORD tick = GetTickCount();
    DbgMsg("Prnt_CreateBkDotsTbl In");
    BYTE* table = static_cast<BYTE*>(malloc(256));
    if (table)
        FillBitCountTable(table);
    DbgMsg("Prnt_CreateBkDotsTbl Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return table;
}

BYTE* BuildPageRecord(JobInfo* lpJob, DWORD* recordLen)
{
    BYTE* bitmap = SlotBuffer(lpJob);
    DWORD width = lpJob->page_width, height = lpJob->page_height;
    // The coder reads height rows of width/8 bytes from the bitmap.
    if (!bitmap || height == 0 || !PageIsOneBit(lpJob)) {
        DbgMsg("JbigThread::page %d has no one-bit bitmap (width %d, height %d, linebyte %d)",
               (int)lpJob->PageIndex, (int)width, (int)height, (int)lpJob->linebyte);
        return nullptr;
    }
    unsigned long long room = (unsigned long long)lpJob->linebyte * height;
    DWORD outsize = (DWORD)(room + PAGE_RECORD_PREFIX);
    DWORD tick = GetTickCount();
    DbgMsg("main::outsize %d", (int)outsize);
    DbgMsg("JbigThread::Tarsel_JBIGCompression start");
    DbgMsg("JbigThread::Tarsel_JBIGCompression page_width %d", (int)width);
    DbgMsg("JbigThread::Tarsel_JBIGCompression page_height %d", (int)height);

    long CompressSize = 0, needed = 0;
    BYTE* outbuf = CompressInto(lpJob, bitmap, room, &CompressSize, &needed);
    if (outbuf && CompressSize < 0) {
        // Noise-like pages code larger than the bitmap. Coding is
        // deterministic, so the measured length always fits the second time.
        DbgMsg("JbigThread::page data needs %d bytes, more than %d; coding again",
               (int)needed, (int)room);
        free(outbuf);
        outbuf = CompressInto(lpJob, bitmap, (size_t)needed, &CompressSize, &needed);
    }
    if (!outbuf)
        return nullptr;
    if (CompressSize < 0) {
        DbgMsg("JbigThread::page data still did not fit");
        free(outbuf);
        return nullptr;
    }
    DbgMsg("JbigThread::Tarsel_JBIGCompression Finish, using %f sec", TickSeconds(tick));
    DbgMsg("JbigThread::Tarsel_JBIGCompression CompressSize = %d", (int)CompressSize);
    outsize = (DWORD)CompressSize + PAGE_RECORD_PREFIX;
    DbgMsg("JbigThread::page data outsize = %d", (int)outsize);

    memcpy(outbuf, PAGE_LEAD_IN, PAGE_LEAD_IN_SIZE);
    PJL_WritePageHeader(lpJob, reinterpret_cast<char*>(outbuf) + PAGE_LEAD_IN_SIZE, (DWORD)CompressSize);
    *recordLen = outsize;
    return outbuf;
}
