#include "stream_parser.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jbig.h>
}

#include "printer_stream.h"

namespace {

const char kCancel[] = PJL_CANCEL_PREFIX;
const char kUel[] = PJL_UEL;
const char kTrailer[] = PJL_TRAILER;
const char kRecordStart[] = PAGE_LEAD_IN PAGE_HEADER_IDF; // and a 0x00: the page header's idf
const char kEnterLanguage[] = PJL_ENTER_LANGUAGE;
const size_t kCancelLen = PJL_CANCEL_LEN;
const size_t kUelLen = sizeof kUel - 1;
const size_t kTrailerLen = PJL_TRAILER_LEN;
const size_t kRecordStartLen = sizeof kRecordStart; // NUL included
const size_t kTrailerLead = PAGE_LEAD_IN_SIZE + kUelLen; // ESC E UEL: the trailer, not a page
const size_t kZeroRun = PJL_ZERO_RUN;
const size_t kMaxLine = PJL_LINE_SIZE - 1;
const size_t kMaxBlock = PJL_BLOCK_SIZE - 1;
// Past this the header block is not PJL any more; stop looking for its end.
const size_t kHeaderSearchLimit = 64 * 1024;
const size_t kRecordPrefix = PAGE_RECORD_PREFIX;

uint32_t Le32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

bool StartsWith(const uint8_t* d, size_t n, size_t pos, const char* s, size_t len)
{
    return pos <= n && n - pos >= len && memcmp(d + pos, s, len) == 0;
}

// Position of the first record or trailer at or after from; n if none.
size_t FindNextFrame(const uint8_t* d, size_t n, size_t from)
{
    for (size_t p = from; p + PAGE_LEAD_IN_SIZE <= n; ++p) {
        if (memcmp(d + p, PAGE_LEAD_IN, PAGE_LEAD_IN_SIZE) != 0)
            continue;
        // A JCL text may itself reset the printer and send a UEL: only the
        // whole trailer ends it.
        if (StartsWith(d, n, p, kRecordStart, kRecordStartLen) || StartsWith(d, n, p, kTrailer, kTrailerLen))
            return p;
    }
    return n;
}

// Decodes into JBIG-KIT's own buffer and hands it to use, so a large page
// is held once.
bool DecodeAndUse(const uint8_t* data, size_t len, uint32_t width, uint32_t height, std::string* why,
                  const std::function<void(const uint8_t*)>& use)
{
    if (width == 0 || height == 0 || width % 8 != 0 || width > MAX_PAGE_WIDTH || height > MAX_PAGE_HEIGHT) {
        *why = "page size out of range";
        return false;
    }
    // The BIH the filter dropped.
    uint8_t bih[JBIG_BIH_SIZE];
    MakePageBIH(width, height, bih);

    struct jbg_dec_state dec;
    jbg_dec_init(&dec);
    jbg_dec_maxsize(&dec, width, height);
    size_t used = 0;
    int rc = jbg_dec_in(&dec, bih, sizeof bih, &used);
    if (rc == JBG_EAGAIN) {
        used = 0;
        rc = jbg_dec_in(&dec, const_cast<uint8_t*>(data), len, &used);
    }
    bool ok = false;
    if (rc == JBG_EAGAIN) {
        *why = "the data ends before the last line of the page";
    } else if (rc != JBG_EOK) {
        *why = jbg_strerror(rc);
    } else if (used != len) {
        *why = "the image ends after " + std::to_string(used) + " of " + std::to_string(len) + " bytes";
    } else if (jbg_dec_getwidth(&dec) != width || jbg_dec_getheight(&dec) != height ||
               jbg_dec_getsize(&dec) != (unsigned long)width / 8 * height) {
        *why = "the decoder produced a page of another size";
    } else {
        use(jbg_dec_getimage(&dec, 0));
        ok = true;
    }
    jbg_dec_free(&dec);
    return ok;
}

struct Walker {
    const uint8_t* d;
    size_t n;
    size_t pos;
    const ParseOptions* opt;
    StreamReport* r;
    bool ok;
    bool stop;

    void Report(bool fatal, size_t at, const char* fmt, ...) __attribute__((format(printf, 4, 5)))
    {
        char text[512];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(text, sizeof text, fmt, ap);
        va_end(ap);
        char line[600];
        snprintf(line, sizeof line, "offset %zu: %s", at, text);
        r->problems.push_back(line);
        ok = false;
        if (fatal || !opt->keepGoing)
            stop = true;
    }
};

void SplitCrlfLines(const uint8_t* d, size_t len, std::vector<std::string>* out)
{
    size_t start = 0;
    for (size_t i = 0; i + 1 < len; ++i) {
        if (d[i] == '\r' && d[i + 1] == '\n') {
            out->push_back(Printable(std::string((const char*)d + start, i - start)));
            start = i + 2;
            ++i;
        }
    }
    if (start < len)
        out->push_back(Printable(std::string((const char*)d + start, len - start)));
}

void ReadPrefix(Walker* w)
{
    size_t have = w->n < kCancelLen ? w->n : kCancelLen;
    size_t same = 0;
    while (same < have && w->d[same] == (uint8_t)kCancel[same])
        ++same;
    w->r->cancelLength = same;
    if (same < have) {
        w->Report(true, same, "the cancel prefix differs at byte %zu (0x%02x, expected 0x%02x)", same,
                  w->d[same], (uint8_t)kCancel[same]);
        return;
    }
    if (same < kCancelLen) {
        w->Report(true, w->n, "the stream ends inside the cancel prefix (%zu of %zu bytes)", same, kCancelLen);
        return;
    }
    w->pos = kCancelLen;
    while (w->pos < w->n && w->d[w->pos] == 0)
        ++w->pos;
    w->r->zeroRun = w->pos - kCancelLen;
    if (w->pos == w->n) {
        w->Report(true, w->n, "the stream ends after %zu zero bytes, before the PJL header", w->r->zeroRun);
        return;
    }
    if (w->r->zeroRun != kZeroRun)
        w->Report(false, kCancelLen, "the zero run is %zu bytes, expected %zu", w->r->zeroRun, kZeroRun);
}

void ReadHeaderBlock(Walker* w)
{
    StreamReport* r = w->r;
    r->headerOffset = w->pos;
    if (!StartsWith(w->d, w->n, w->pos, kUel, kUelLen)) {
        w->Report(true, w->pos, "the PJL header does not start with the UEL sequence");
        return;
    }
    size_t p = w->pos + kUelLen;
    const size_t limit = w->n - w->pos > kHeaderSearchLimit ? w->pos + kHeaderSearchLimit : w->n;
    for (;;) {
        size_t e = p;
        while (e + 1 < limit && !(w->d[e] == '\r' && w->d[e + 1] == '\n'))
            ++e;
        if (e + 1 >= limit) {
            if (limit == w->n)
                w->Report(true, p, "the stream ends inside the PJL header (no \"%s\" line)", kEnterLanguage);
            else
                w->Report(true, p, "no \"%s\" line within %zu bytes of PJL header", kEnterLanguage,
                          kHeaderSearchLimit);
            return;
        }
        std::string line((const char*)w->d + p, e - p);
        r->pjlLines.push_back(Printable(line));
        if (line.compare(0, 4, "@PJL") != 0)
            w->Report(false, p, "PJL header line does not start with @PJL: %s", Printable(line).c_str());
        else if (line.size() + 2 > kMaxLine)
            w->Report(false, p, "PJL header line is %zu characters long, more than %zu", line.size() + 2, kMaxLine);
        if (w->stop)
            return;
        p = e + 2;
        if (line == kEnterLanguage)
            break;
    }
    r->headerLength = p - w->pos;
    if (r->headerLength > kMaxBlock)
        w->Report(false, w->pos, "the PJL header block is %zu bytes long, more than %zu", r->headerLength, kMaxBlock);
    w->pos = p;
    if (w->stop)
        return;

    // Anything before the first record or the trailer is the PPD's JCL prefix.
    if (w->pos < w->n && w->d[w->pos] == 0x1B && !StartsWith(w->d, w->n, w->pos, kRecordStart, kRecordStartLen) &&
        !StartsWith(w->d, w->n, w->pos, kTrailer, kTrailerLead)) {
        size_t next = FindNextFrame(w->d, w->n, w->pos + 1);
        r->hasJcl = true;
        r->jcl.assign((const char*)w->d + w->pos, next - w->pos);
        if (next == w->n) {
            w->Report(true, w->pos, "no page record and no trailer follow the JCL prefix");
            return;
        }
        w->pos = next;
    }
}

void CheckPage(Walker* w, StreamPage* pg, const uint8_t* data)
{
    const size_t at = pg->offset;
    const unsigned num = pg->number;
    if (pg->bits != PAGE_BITS || pg->colors != PAGE_COLORS || pg->colorMode != PAGE_COLORMODE ||
        pg->compMethod != PAGE_COMPMETHOD || pg->outBin != PAGE_OUTBIN) {
        w->Report(false, at, "page %u: Bits %u, Colors %u, ColorMode %u, CompMethod %u, OutBin %u (expected %d, %d, %d, %d, %d)",
                  num, pg->bits, pg->colors, pg->colorMode, pg->compMethod, pg->outBin, PAGE_BITS, PAGE_COLORS,
                  PAGE_COLORMODE, PAGE_COMPMETHOD, PAGE_OUTBIN);
        if (w->stop)
            return;
    }
    if (pg->width == 0 || pg->height == 0) {
        w->Report(false, at, "page %u: empty page (%u x %u pixels)", num, pg->width, pg->height);
        return;
    }
    if (pg->width > MAX_PAGE_WIDTH || pg->height > MAX_PAGE_HEIGHT) {
        w->Report(false, at, "page %u: %u x %u pixels is beyond any page this printer takes (at most %u x %u); not decoded",
                  num, pg->width, pg->height, (unsigned)MAX_PAGE_WIDTH, (unsigned)MAX_PAGE_HEIGHT);
        return;
    }
    if (pg->width % PAGE_ALIGN != 0 || pg->height % PAGE_ALIGN != 0) {
        w->Report(false, at, "page %u: %u x %u pixels is not a multiple of %d in both directions", num, pg->width,
                  pg->height, PAGE_ALIGN);
        if (w->stop)
            return;
    }
    uint64_t expected = (uint64_t)pg->width / 8 * pg->height;
    if (pg->datasize != expected) {
        w->Report(false, at, "page %u: datasize %u, expected width/8 x height = %llu", num, pg->datasize,
                  (unsigned long long)expected);
        if (w->stop)
            return;
    }
    if (pg->compsize < 2 || memcmp(data + pg->compsize - 2, JBIG_DATA_END, 2) != 0) {
        w->Report(false, at + kRecordPrefix, "page %u: the JBIG data does not end with 0xFF 0x02", num);
        return;
    }
    if (!w->opt->decode || pg->width % 8 != 0)
        return;

    std::string why;
    bool decoded = DecodeAndUse(data, pg->compsize, pg->width, pg->height, &why, [&](const uint8_t* image) {
        uint64_t dots = 0;
        for (size_t i = 0, n = (size_t)pg->width / 8 * pg->height; i < n; ++i)
            dots += (uint64_t)__builtin_popcount(image[i]);
        pg->decoded = true;
        pg->decodedBlackDots = dots;
        if (dots != pg->blackDots)
            w->Report(false, at, "page %u: blackDots %u, but the decoded page has %llu black dots", num,
                      pg->blackDots, (unsigned long long)dots);
        if (w->opt->onPage && !w->opt->onPage(*pg, image))
            w->stop = true;
    });
    if (!decoded)
        w->Report(false, at + kRecordPrefix, "page %u: the JBIG data does not decode: %s", num, why.c_str());
}

void ReadRecords(Walker* w)
{
    StreamReport* r = w->r;
    while (!w->stop && w->pos < w->n) {
        const size_t at = w->pos;
        if (StartsWith(w->d, w->n, at, kTrailer, kTrailerLead))
            break;
        if (!StartsWith(w->d, w->n, at, kRecordStart, kRecordStartLen)) {
            if (w->n - at < kRecordStartLen && memcmp(w->d + at, kRecordStart, w->n - at) == 0)
                w->Report(true, at, "the stream ends inside a page record's lead-in");
            else
                w->Report(true, at, "unexpected byte 0x%02x where a page record or the trailer should start", w->d[at]);
            return;
        }
        StreamPage pg;
        pg.number = (unsigned)r->pages.size() + 1;
        pg.offset = at;
        if (w->n - at < kRecordPrefix) {
            w->Report(true, at, "page %u: the stream ends inside the page header (%zu of %zu bytes)", pg.number,
                      w->n - at, kRecordPrefix);
            return;
        }
        const uint8_t* h = w->d + at + PAGE_LEAD_IN_SIZE;
        pg.width = Le32(h + PH_PAGE_WIDTH);
        pg.height = Le32(h + PH_PAGE_HEIGHT);
        pg.datasize = Le32(h + PH_DATASIZE);
        pg.compsize = Le32(h + PH_COMPSIZE);
        pg.blackDots = Le32(h + PH_BLACKDOTS);
        pg.paper = h[PH_PAPER_TYPE];
        pg.media = h[PH_MEDIA_TYPE];
        pg.tray = h[PH_MEDIA_POSITION];
        pg.outBin = h[PH_OUTBIN];
        pg.bits = h[PH_BITS];
        pg.colors = h[PH_COLORS];
        pg.colorMode = h[PH_COLORMODE];
        pg.compMethod = h[PH_COMPMETHOD];
        size_t left = w->n - at - kRecordPrefix;
        if (pg.compsize > left) {
            r->pages.push_back(pg);
            w->Report(true, at, "page %u: compsize %u runs past the end of the stream (%zu bytes follow the header)",
                      pg.number, pg.compsize, left);
            return;
        }
        CheckPage(w, &pg, w->d + at + kRecordPrefix);
        r->pages.push_back(pg);
        w->pos = at + kRecordPrefix + pg.compsize;
    }
    if (w->stop)
        return;
    if (w->pos >= w->n) {
        w->Report(true, w->n, "the stream ends without the job trailer");
        return;
    }
    size_t have = w->n - w->pos < kTrailerLen ? w->n - w->pos : kTrailerLen;
    size_t same = 0;
    while (same < have && w->d[w->pos + same] == (uint8_t)kTrailer[same])
        ++same;
    if (same < have) {
        w->Report(true, w->pos + same, "the job trailer differs at its byte %zu", same);
        return;
    }
    if (same < kTrailerLen) {
        w->Report(true, w->n, "the stream ends inside the job trailer (%zu of %zu bytes)", same, kTrailerLen);
        return;
    }
    r->hasTrailer = true;
    SplitCrlfLines(w->d + w->pos, kTrailerLen, &r->trailerLines);
    w->pos += kTrailerLen;
    if (w->pos < w->n)
        w->Report(false, w->pos, "%zu bytes follow the job trailer", w->n - w->pos);
}

} // namespace

bool ParsePrinterStream(const uint8_t* data, size_t len, const ParseOptions& options, StreamReport* report)
{
    *report = StreamReport();
    Walker w{data, len, 0, &options, report, true, false};
    if (len == 0) {
        w.Report(true, 0, "the stream is empty (a job without pages writes nothing)");
        return false;
    }
    ReadPrefix(&w);
    if (!w.stop)
        ReadHeaderBlock(&w);
    if (!w.stop)
        ReadRecords(&w);
    return w.ok;
}

bool DecodePageData(const uint8_t* data, size_t len, uint32_t width, uint32_t height, std::vector<uint8_t>* bitmap,
                    std::string* why)
{
    return DecodeAndUse(data, len, width, height, why, [&](const uint8_t* image) {
        bitmap->assign(image, image + (size_t)width / 8 * height);
    });
}

const char* PaperName(uint8_t code)
{
    switch (code) {
    case 1: return "A3";
    case 2: return "A4";
    case 3: return "A5";
    case 4: return "A6";
    case 11: return "B4 (JIS)";
    case 12: return "B5 (JIS)";
    case 13: return "B6 (JIS)";
    case 15: return "Letter";
    case 16: return "Legal";
    case 17: return "Foolscap";
    case 28: return "Postcard";
    case 30: return "Ledger";
    case 31: return "8K";
    case 32: return "16K";
    case 96: return "custom";
    case 142: return "Statement (long edge first)";
    default: return "unknown";
    }
}

const char* MediaName(uint8_t code)
{
    static const char* const names[] = {
        "auto",    "cardstock", "transparency", "envelope",  "letterhead", "postcard", "labels",
        "coated",  "plain",     "preprinted",   "bond",      "recycled",   "vellum",   "rough",
        "colour",  "prepunched", "second side", "thick",     "high quality", "thin",   "laser",
        "custom3", "x-ray",     "custom5",      "custom6",   "custom7",    "custom8",  "custom2",
    };
    return code < sizeof names / sizeof names[0] ? names[code] : "unknown";
}

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += (char)c;
        }
    }
    return out;
}
