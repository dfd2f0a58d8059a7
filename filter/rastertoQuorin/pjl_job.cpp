#include "pjl_job.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "header_fields.h"
#include "job_flags.h"
#include "job_setup.h"
#include "job_status.h"
#include "printer_output.h"

const char DrvCancelStr[] = PJL_CANCEL_PREFIX;
const char UELStr[] = PJL_UEL;
const char EndOfJobStr[] = PJL_END_OF_JOB;

namespace {

const size_t kMaxLine = PJL_LINE_SIZE - 1;
const size_t kMaxBlock = PJL_BLOCK_SIZE - 1;
const int kMaxLines = 32;
const int kMaxValues = 8;

// A text value from the command line or the machine. It lands inside a PJL
// line, so a control byte in it could end the line and start a command.
struct Value {
    char text[PJL_BLOCK_SIZE];
    size_t want;
    size_t keep;
};

// One line of the block: fixed head, up to two values joined by mid, tail.
// A head without values may carry several whole lines of fixed text.
struct Line {
    char head[PJL_LINE_SIZE];
    const char* mid;
    const char* tail;
    int nValues;
    Value* values[2];
};

struct Block {
    Line lines[kMaxLines];
    int nLines;
    Value values[kMaxValues];
    int nValues;
};

const char* OrEmpty(const char* s)
{
    return s ? s : "";
}

Line* AddLine(Block* b, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
Line* AddLine(Block* b, const char* fmt, ...)
{
    Line* l = &b->lines[b->nLines++];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(l->head, sizeof l->head, fmt, ap);
    va_end(ap);
    l->mid = "";
    l->tail = "";
    l->nValues = 0;
    return l;
}

void AddValue(Block* b, Line* l, const char* text, bool blankQuotes)
{
    Value* v = &b->values[b->nValues++];
    const unsigned char* src = reinterpret_cast<const unsigned char*>(OrEmpty(text));
    size_t n = 0;
    // Nothing longer than the block can be kept, so nothing longer is read.
    for (; n < kMaxBlock && src[n]; ++n) {
        unsigned char c = src[n];
        if (c < 0x20 || c == 0x7F || (blankQuotes && c == '"'))
            c = ' ';
        v->text[n] = (char)c;
    }
    v->text[n] = '\0';
    v->want = n;
    v->keep = n;
    l->values[l->nValues++] = v;
}

Line* AddValueLine(Block* b, const char* head, const char* text)
{
    Line* l = AddLine(b, "%s", head);
    AddValue(b, l, text, false);
    l->tail = "\r\n";
    return l;
}

size_t FixedLength(const Line* l)
{
    return strlen(l->head) + (l->nValues > 1 ? strlen(l->mid) : 0) + strlen(l->tail);
}

// Grants each value at most what it asks for within budget: values shorter
// than an equal share keep whole, the longer ones split what remains, so one
// huge title cannot crowd out the user name.
void ShareBudget(Value** v, int n, size_t budget)
{
    bool done[kMaxValues] = {};
    int open = n;
    size_t left = budget;
    while (open > 0) {
        size_t share = left / (size_t)open;
        bool progress = false;
        for (int i = 0; i < n; ++i) {
            if (!done[i] && v[i]->keep <= share) {
                left -= v[i]->keep;
                done[i] = true;
                --open;
                progress = true;
            }
        }
        if (progress)
            continue;
        size_t extra = left % (size_t)open;
        for (int i = 0; i < n; ++i) {
            if (done[i])
                continue;
            v[i]->keep = share + (extra > 0 ? 1 : 0);
            if (extra > 0)
                --extra;
        }
        break;
    }
}

// Lays the block out in buf; returns its length.
int Finish(Block* b, char* buf)
{
    size_t fixed = 0;
    for (int i = 0; i < b->nLines; ++i) {
        Line* l = &b->lines[i];
        size_t lineFixed = FixedLength(l);
        fixed += lineFixed;
        if (l->nValues > 0)
            ShareBudget(l->values, l->nValues, lineFixed < kMaxLine ? kMaxLine - lineFixed : 0);
    }
    Value* all[kMaxValues];
    for (int i = 0; i < b->nValues; ++i)
        all[i] = &b->values[i];
    ShareBudget(all, b->nValues, fixed < kMaxBlock ? kMaxBlock - fixed : 0);
    for (int i = 0; i < b->nValues; ++i) {
        Value* v = &b->values[i];
        // A cut must not split a UTF-8 sequence.
        if (v->keep < v->want)
            while (v->keep > 0 && ((unsigned char)v->text[v->keep] & 0xC0) == 0x80)
                --v->keep;
    }

    size_t len = 0;
    auto put = [&](const char* s, size_t n) {
        if (n > kMaxBlock - len) // only if the fixed text alone were too long
            n = kMaxBlock - len;
        memcpy(buf + len, s, n);
        len += n;
    };
    for (int i = 0; i < b->nLines; ++i) {
        const Line* l = &b->lines[i];
        put(l->head, strlen(l->head));
        for (int k = 0; k < l->nValues; ++k) {
            if (k > 0)
                put(l->mid, strlen(l->mid));
            put(l->values[k]->text, l->values[k]->keep);
        }
        put(l->tail, strlen(l->tail));
    }
    buf[len] = '\0';
    return (int)len;
}

void AddJobStart(Block* b, DWORD tick)
{
    AddLine(b, "%s", UELStr);
    // The printer shows the job name; it only needs to differ between jobs.
    AddLine(b, "@PJL\r\n@PJL JOB NAME=\"%d\"\r\n", (int)tick);
    AddLine(b, "@PJL SET TIMEOUT=%d\r\n", 300);
}

void AddSettings(Block* b, const cups_page_header2_t* h, const char* argvCopies, BOOL bDriverDoCollate)
{
    AddLine(b, "@PJL SET ECONOMODE=%s\r\n", h->cupsInteger[0] ? "ON" : "OFF");
    AddLine(b, "@PJL SET DENSITY=%u\r\n", h->cupsCompression + 1);
    AddLine(b, "@PJL SET AUTOSELECT=%s\r\n", h->MediaPosition == 250 ? "ON" : "OFF");
    AddLine(b, "@PJL SET DUPLEX=%s\r\n", HeaderValue(h->Duplex) ? "ON" : "OFF");
    AddLine(b, "@PJL SET DUPLEXTYPE=%s\r\n", HeaderValue(h->Tumble) ? "CALENDAR" : "BOOKLET");
    AddLine(b, "@PJL SET RESOLUTION=%u\r\n", h->HWResolution[0]);
    AddLine(b, "@PJL SET COPIES=%u\r\n", (unsigned)PrinterCopies(h, argvCopies, bDriverDoCollate));
    AddLine(b, "@PJL SET MEDIASOURCE=%s\r\n", "TRAY1");
    AddLine(b, "@PJL SET JUSTIFIED=%s\r\n", "LEFT");
    // Mirroring is done on the bitmap.
    AddLine(b, "@PJL SET MIRROR=%s\r\n", "OFF");
    AddLine(b, "@PJL SET MARGINS=%s\r\n", "NORMAL");
    AddLine(b, "@PJL SET BIDICOMM=%s\r\n", "OFF");
    AddLine(b, "@PJL SET ORIENTATION=%s\r\n", HeaderValue(h->Orientation) ? "LANDSCAPE" : "PORTRAIT");
    AddLine(b, "%s\r\n", PJL_ENTER_LANGUAGE);
}

// Cancel prefix, zero run, then the block, each in one write.
BOOL WriteJobHeader(const char* block, int len)
{
    static const char zeros[PJL_ZERO_RUN] = {};
    NoteJobHeaderWritten();
    if (!WritePrinterData(DrvCancelStr, PJL_CANCEL_LEN) || !WritePrinterData(zeros, sizeof zeros))
        return FALSE;
    gOutputSize += len;
    DbgMsg("PJL_WriteStartJobCmd gOutputSize = %d", gOutputSize);
    return WritePrinterData(block, (size_t)len);
}

} // namespace

int PJL_BuildStartJobBlock_Quorin(const cups_page_header2_t* inheader, const char* PrinterName,
                                  const char* UserName, const char* DocName, const char* HostName,
                                  const char* argvCopies, BOOL bDriverDoCollate, const struct tm* now,
                                  DWORD tick, char* block)
{
    Block b;
    b.nLines = 0;
    b.nValues = 0;
    AddJobStart(&b, tick);
    AddLine(&b, "@PJL COMMENT 0, 0, 1, 35\r\n");
    AddValueLine(&b, "@PJL COMMENT ", DocName);
    AddValueLine(&b, "@PJL COMMENT ", UserName);
    AddValueLine(&b, "@PJL COMMENT ", HostName);
    AddValueLine(&b, "@PJL COMMENT ", PrinterName);
    AddLine(&b, "@PJL COMMENT Unknown\r\n");
    AddLine(&b, "@PJL COMMENT \r\n");
    AddLine(&b, "@PJL COMMENT %d/%d/%d\r\n", now->tm_year + 1900, now->tm_mon + 1, now->tm_mday);
    AddLine(&b, "@PJL COMMENT %d:%d:%d\r\n", now->tm_hour, now->tm_min, now->tm_sec);
    AddLine(&b, "@PJL COMMENT JBIG,%02X,%02X\r\n", JBIG_PAGE_ORDER, JBIG_PAGE_OPTIONS);
    AddValueLine(&b, "@PJL COMMENT Copies,", argvCopies);
    AddLine(&b, "@PJL SET JOBNAME=\"CUPS\"\r\n");
    AddSettings(&b, inheader, argvCopies, bDriverDoCollate);
    return Finish(&b, block);
}

int PJL_BuildStartJobBlock(const cups_page_header2_t* inheader, const char* szUserName,
                           const char* szDocName, BOOL bDriverDoCollate, DWORD tick, char* block)
{
    Block b;
    b.nLines = 0;
    b.nValues = 0;
    AddJobStart(&b, tick);
    Line* l = AddLine(&b, "@PJL SET JOBNAME=\"");
    // A quote inside the value would end the PJL string early.
    AddValue(&b, l, szUserName, true);
    AddValue(&b, l, szDocName, true);
    l->mid = ":";
    l->tail = "\"\r\n";
    AddSettings(&b, inheader, nullptr, bDriverDoCollate);
    return Finish(&b, block);
}

int PJL_BuildCloseJobBlock(char* buf)
{
    return snprintf(buf, PJL_BLOCK_SIZE, "%s", PJL_TRAILER);
}

void PJL_GetHostName(char hostName[PJL_HOSTNAME_SIZE])
{
    memset(hostName, 0, PJL_HOSTNAME_SIZE);
    if (gethostname(hostName, PJL_HOSTNAME_SIZE) != 0)
        hostName[0] = '\0';
    // A name that fills the buffer comes without its NUL.
    hostName[PJL_HOSTNAME_SIZE - 1] = '\0';
}

BOOL PJL_WriteStartJobCmd_Quorin(cups_page_header2_t* inheader, int numUP, char* PrinterName,
                                 char* UserName, char* DocName, char* argvCopies, BOOL bDriverDoCollate)
{
    DWORD tick = GetTickCount();
    time_t t = time(nullptr);
    struct tm now;
    if (!localtime_r(&t, &now))
        memset(&now, 0, sizeof now);
    DbgMsg("PJL_WriteStartJobCmd In, numUP = %d, PrinterName = %s, UserName = %s, DocName = %s, "
           "argvCopies = %s",
           numUP, OrEmpty(PrinterName), OrEmpty(UserName), OrEmpty(DocName), OrEmpty(argvCopies));
    char hostName[PJL_HOSTNAME_SIZE];
    PJL_GetHostName(hostName);
    char block[PJL_BLOCK_SIZE];
    int len = PJL_BuildStartJobBlock_Quorin(inheader, PrinterName, UserName, DocName, hostName,
                                            argvCopies, bDriverDoCollate, &now, GetTickCount(), block);
    BOOL ok = WriteJobHeader(block, len);
    DbgMsg("PJL_WriteStartJobCmd Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return ok;
}

BOOL PJL_WriteStartJobCmd(cups_page_header2_t* inheader, int numUP, char* szUserName, char* szDocName,
                          char* szJsonFile, BOOL bDriverDoCollate)
{
    DWORD tick = GetTickCount();
    DbgMsg("PJL_WriteStartJobCmd In, numUP = %d, szUserName = %s, szDocName = %s, szJsonFile = %s",
           numUP, OrEmpty(szUserName), OrEmpty(szDocName), OrEmpty(szJsonFile));
    char block[PJL_BLOCK_SIZE];
    int len = PJL_BuildStartJobBlock(inheader, szUserName, szDocName, bDriverDoCollate, GetTickCount(), block);
    BOOL ok = WriteJobHeader(block, len);
    DbgMsg("PJL_WriteStartJobCmd Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return ok;
}

BOOL PJL_WriteCloseJobCmd(cups_page_header2_t* /*inheader*/)
{
    DWORD tick = GetTickCount();
    char buf[PJL_BLOCK_SIZE];
    int len = PJL_BuildCloseJobBlock(buf);
    gOutputSize += len;
    DbgMsg("PJL_WriteCloseJobCmd gOutputSize = %d", gOutputSize);
    BOOL ok = WritePrinterData(buf, (size_t)len);
    DbgMsg("PJL_WriteCloseJobCmd Out, Tick = %d", (int)(DWORD)(GetTickCount() - tick));
    return ok;
}

DWORD PrinterCopies(const cups_page_header2_t* h, const char* argvCopies, BOOL bDriverDoCollate)
{
    // Collated copies come from the spool replay, so the printer makes one.
    return bDriverDoCollate ? 1 : JobCopies(h->NumCopies, argvCopies);
}
