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

namespace {
// Inlined into each caller below, so that it takes the caller's instructions.
inline __attribute__((always_inline)) long CountBitsIn(const BYTE* p, DWORD n)
{
    long count = 0;
    DWORD i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, sizeof w);
        count += __builtin_popcountll(w);
    }
    for (; i < n; ++i)
        count += __builtin_popcount(p[i]);
    return count;
}

long CountBitsPlain(const BYTE* p, DWORD n)
{
    return CountBitsIn(p, n);
}

#if defined(__x86_64__)
// The same with the machine's own bit count.
__attribute__((target("popcnt"))) long CountBitsPopcnt(const BYTE* p, DWORD n)
{
    return CountBitsIn(p, n);
}
#endif

long CountBits(const BYTE* p, DWORD n)
{
#if defined(__x86_64__)
    static const bool popcnt = __builtin_cpu_supports("popcnt");
    if (popcnt)
        return CountBitsPopcnt(p, n);
#endif
    return CountBitsPlain(p, n);
}
} // namespace

long Prnt_CountBlackDots(unsigned char* inbuf, DWORD ByteNo)
{
    if (!inbuf)
        return 0;
    DWORD tick = GetTickCount();
    DbgMsg("Prnt_CountBlackDots Start, ByteNo = %d", (int)ByteNo);
    long count = CountBits(inbuf, ByteNo);
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

namespace {
// Puts the lead-in and the page header in front of the coded data.
BYTE* CompleteRecord(JobInfo* lpJob, BYTE* outbuf, long CompressSize, DWORD tick, DWORD* recordLen)
{
    DbgMsg("JbigThread::Tarsel_JBIGCompression Finish, using %f sec", TickSeconds(tick));
    DbgMsg("JbigThread::Tarsel_JBIGCompression CompressSize = %d", (int)CompressSize);
    DWORD outsize = (DWORD)CompressSize + PAGE_RECORD_PREFIX;
    DbgMsg("JbigThread::page data outsize = %d", (int)outsize);
    memcpy(outbuf, PAGE_LEAD_IN, PAGE_LEAD_IN_SIZE);
    PJL_WritePageHeader(lpJob, reinterpret_cast<char*>(outbuf) + PAGE_LEAD_IN_SIZE, (DWORD)CompressSize);
    *recordLen = outsize;
    // The room was the bitmap's size; the heap takes the rest back.
    BYTE* kept = static_cast<BYTE*>(realloc(outbuf, outsize));
    return kept ? kept : outbuf;
}

bool SlotHasOneBitPage(JobInfo* lpJob)
{
    // The coder reads height rows of width/8 bytes from the bitmap.
    if (SlotBuffer(lpJob) && lpJob->page_height != 0 && PageIsOneBit(lpJob))
        return true;
    DbgMsg("JbigThread::page %d has no one-bit bitmap (width %d, height %d, linebyte %d)", (int)lpJob->PageIndex,
           (int)lpJob->page_width, (int)lpJob->page_height, (int)lpJob->linebyte);
    return false;
}

void TraceCodingStart(JobInfo* lpJob, size_t room)
{
    DbgMsg("main::outsize %d", (int)(room + PAGE_RECORD_PREFIX));
    DbgMsg("JbigThread::Tarsel_JBIGCompression start");
    DbgMsg("JbigThread::Tarsel_JBIGCompression page_width %d", (int)lpJob->page_width);
    DbgMsg("JbigThread::Tarsel_JBIGCompression page_height %d", (int)lpJob->page_height);
}

// The whole page coded into `room` bytes, and once more into the room the
// data turned out to need.
BYTE* CodeWholePage(JobInfo* lpJob, size_t room, DWORD tick, DWORD* recordLen)
{
    BYTE* bitmap = SlotBuffer(lpJob);
    long CompressSize = 0, needed = 0;
    BYTE* outbuf = CompressInto(lpJob, bitmap, room, &CompressSize, &needed);
    if (outbuf && CompressSize < 0 && needed > 0) {
        // Noise-like pages code larger than the bitmap. Coding is
        // deterministic, so the measured length always fits the second time.
        DbgMsg("JbigThread::page data needs %d bytes, more than %d; coding again", (int)needed, (int)room);
        free(outbuf);
        outbuf = CompressInto(lpJob, bitmap, (size_t)needed, &CompressSize, &needed);
    }
    if (!outbuf) {
        DbgMsg("JbigThread::no memory for the page's coded data");
        return nullptr;
    }
    if (CompressSize < 0) {
        if (needed == 0)
            DbgMsg("JbigThread::the JBIG coder found no memory for its lines");
        else
            DbgMsg("JbigThread::page data still did not fit");
        free(outbuf);
        return nullptr;
    }
    return CompleteRecord(lpJob, outbuf, CompressSize, tick, recordLen);
}
} // namespace

BYTE* BuildPageRecord(JobInfo* lpJob, DWORD* recordLen)
{
    if (!SlotHasOneBitPage(lpJob))
        return nullptr;
    size_t room = (size_t)lpJob->linebyte * lpJob->page_height;
    DWORD tick = GetTickCount();
    TraceCodingStart(lpJob, room);
    return CodeWholePage(lpJob, room, tick, recordLen);
}

BOOL StartPageRecord(JobInfo* lpJob, PageRecordCoder* c)
{
    c->slot = lpJob;
    c->outbuf = nullptr;
    c->coded = 0;
    c->tick = GetTickCount();
    c->lineByLine = FALSE;
    if (!SlotHasOneBitPage(lpJob) || JbigDefaultCoder() != JBIG_CODER_BUILTIN)
        return FALSE;
    c->room = (size_t)lpJob->linebyte * lpJob->page_height;
    TraceCodingStart(lpJob, c->room);
    // Only the bytes the data takes are ever touched.
    c->outbuf = static_cast<BYTE*>(malloc(c->room + PAGE_RECORD_PREFIX));
    if (!c->outbuf)
        return FALSE;
    if (!JbigLineCoderStart(&c->coder, lpJob->page_width, lpJob->page_height, c->outbuf + PAGE_RECORD_PREFIX,
                            c->room)) {
        free(c->outbuf);
        c->outbuf = nullptr;
        return FALSE;
    }
    c->lineByLine = TRUE;
    return TRUE;
}

void CodeRecordLines(PageRecordCoder* c, DWORD upTo)
{
    if (!c->lineByLine)
        return;
    const BYTE* bits = SlotBuffer(c->slot);
    const DWORD linebyte = c->slot->linebyte;
    for (; c->coded < upTo; ++c->coded)
        JbigLineCoderLine(&c->coder, bits + (size_t)c->coded * linebyte);
}

BYTE* FinishPageRecord(PageRecordCoder* c, DWORD* recordLen)
{
    JobInfo* lpJob = c->slot;
    if (!c->lineByLine) {
        // JBIG-KIT takes the whole page at once; so does a page whose line
        // coder found no memory.
        if (!SlotHasOneBitPage(lpJob))
            return nullptr;
        size_t room = (size_t)lpJob->linebyte * lpJob->page_height;
        if (!c->outbuf)
            TraceCodingStart(lpJob, room);
        return CodeWholePage(lpJob, room, c->tick, recordLen);
    }
    CodeRecordLines(c, lpJob->page_height);
    long needed = 0;
    long CompressSize = JbigLineCoderFinish(&c->coder, &needed);
    c->lineByLine = FALSE;
    if (CompressSize >= 0)
        return CompleteRecord(lpJob, c->outbuf, CompressSize, c->tick, recordLen);
    free(c->outbuf);
    c->outbuf = nullptr;
    DbgMsg("JbigThread::page data needs %d bytes, more than %d; coding again", (int)needed, (int)c->room);
    return CodeWholePage(lpJob, (size_t)needed, c->tick, recordLen);
}

void DropPageRecord(PageRecordCoder* c)
{
    if (c->lineByLine)
        JbigLineCoderDrop(&c->coder);
    c->lineByLine = FALSE;
    free(c->outbuf);
    c->outbuf = nullptr;
}
