// vlgdidecode: shows and checks a printer stream made by rastertoQuorin, and
// writes its pages as images.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "page_files.h"
#include "printer_stream.h"
#include "stream_parser.h"

namespace {

const char kUsage[] =
    "usage: vlgdidecode [options] [FILE | -]\n"
    "\n"
    "Reads a printer stream written by the rastertoQuorin filter (from FILE, or from\n"
    "standard input when FILE is - or absent), prints what it holds and checks it.\n"
    "\n"
    "options:\n"
    "  --png DIR         write each decoded page as DIR/page-NNN.png\n"
    "  --pbm DIR         write each decoded page as DIR/page-NNN.pbm\n"
    "  --pages-summary   print only one line per page, for scripts:\n"
    "                      page=N width=W height=H datasize=D compsize=C blackDots=B\n"
    "                      paper=P media=M tray=T black=SHARE\n"
    "                    (SHARE: black dots over width x height, six decimals)\n"
    "  --keep-going      report every violation instead of stopping at the first\n"
    "  --no-decode       do not decode the pages (no black-dot check, no images)\n"
    "  -h, --help        show this text\n"
    "\n"
    "checks, in stream order:\n"
    "  the 43-byte cancel prefix and a run of 512 zero bytes; the PJL header block\n"
    "  from the UEL sequence to \"@PJL ENTER LANGUAGE=VLGDI\" (lines of at most 255\n"
    "  characters, block of at most 1023); an optional JCL prefix; each page record:\n"
    "  ESC E, the 32-byte \"GDI\" page header, datasize = width/8 x height, compsize\n"
    "  within the stream, JBIG data ending 0xFF 0x02 that decodes to exactly the page,\n"
    "  blackDots equal to the black dots of the decoded page; and the 70-byte job\n"
    "  trailer as the last bytes.\n"
    "\n"
    "exit status: 0 the stream is sound; 1 a violation was found (reported on\n"
    "standard error with its byte offset); 2 bad usage, unreadable input or an\n"
    "image that could not be written.\n";

struct Options {
    std::string input;
    std::string pngDir, pbmDir;
    bool pagesSummary = false;
    bool keepGoing = false;
    bool decode = true;
};

int ParseArgs(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* dst) {
            if (i + 1 >= argc) {
                fprintf(stderr, "vlgdidecode: %s needs a directory\n", a.c_str());
                return false;
            }
            *dst = argv[++i];
            return true;
        };
        if (a == "-h" || a == "--help") {
            fputs(kUsage, stdout);
            return 0;
        } else if (a == "--png") {
            if (!value(&o->pngDir))
                return 2;
        } else if (a == "--pbm") {
            if (!value(&o->pbmDir))
                return 2;
        } else if (a == "--pages-summary") {
            o->pagesSummary = true;
        } else if (a == "--keep-going") {
            o->keepGoing = true;
        } else if (a == "--no-decode") {
            o->decode = false;
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "vlgdidecode: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (o->input.empty()) {
            o->input = a;
        } else {
            fprintf(stderr, "vlgdidecode: only one input file\n");
            return 2;
        }
    }
    return -1;
}

bool ReadAll(const std::string& name, std::vector<uint8_t>* data)
{
    FILE* f = (name.empty() || name == "-") ? stdin : fopen(name.c_str(), "rb");
    if (!f) {
        fprintf(stderr, "vlgdidecode: %s: %s\n", name.c_str(), strerror(errno));
        return false;
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data->insert(data->end(), buf, buf + n);
    bool ok = !ferror(f);
    if (!ok)
        fprintf(stderr, "vlgdidecode: %s: read error\n", name.empty() ? "standard input" : name.c_str());
    if (f != stdin)
        fclose(f);
    return ok;
}

bool EnsureDir(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    fprintf(stderr, "vlgdidecode: %s: %s\n", dir.c_str(), strerror(errno));
    return false;
}

std::string PagePath(const std::string& dir, unsigned number, const char* ext)
{
    char name[32];
    snprintf(name, sizeof name, "/page-%03u.%s", number, ext);
    return dir + name;
}

double BlackShare(const StreamPage& p)
{
    double area = (double)p.width * p.height;
    return area > 0 ? p.blackDots / area : 0.0;
}

void PrintPageLine(const StreamPage& p)
{
    printf("page=%u width=%u height=%u datasize=%u compsize=%u blackDots=%u paper=%u media=%u tray=%u black=%.6f\n",
           p.number, p.width, p.height, p.datasize, p.compsize, p.blackDots, p.paper, p.media, p.tray,
           BlackShare(p));
}

void PrintReport(const StreamReport& r)
{
    printf("cancel prefix   %zu bytes\n", r.cancelLength);
    printf("zero run        %zu bytes\n", r.zeroRun);
    if (!r.pjlLines.empty()) {
        printf("PJL header      %zu bytes at offset %zu (UEL, then %zu lines)\n", r.headerLength, r.headerOffset,
               r.pjlLines.size());
        for (const std::string& l : r.pjlLines)
            printf("  %s\n", l.c_str());
    }
    if (r.hasJcl)
        printf("JCL prefix      %zu bytes: %s\n", r.jcl.size(), Printable(r.jcl).c_str());
    for (const StreamPage& p : r.pages) {
        printf("page %-10u offset %zu: %u x %u pixels, datasize %u, compsize %u, blackDots %u (%.2f%%)", p.number,
               p.offset, p.width, p.height, p.datasize, p.compsize, p.blackDots, 100.0 * BlackShare(p));
        printf(", paper %u (%s), media %u (%s), tray %u%s\n", p.paper, PaperName(p.paper), p.media,
               MediaName(p.media), p.tray, p.tray == 0 ? " (automatic)" : "");
    }
    if (r.hasTrailer) {
        printf("trailer         %d bytes\n", PJL_TRAILER_LEN);
        for (const std::string& l : r.trailerLines)
            printf("  %s\n", l.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    int rc = ParseArgs(argc, argv, &o);
    if (rc >= 0)
        return rc;
    std::vector<uint8_t> data;
    if (!ReadAll(o.input, &data))
        return 2;
    if ((!o.pngDir.empty() && !EnsureDir(o.pngDir)) || (!o.pbmDir.empty() && !EnsureDir(o.pbmDir)))
        return 2;

    bool writeFailed = false;
    ParseOptions po;
    po.keepGoing = o.keepGoing;
    po.decode = o.decode;
    if (!o.pngDir.empty() || !o.pbmDir.empty()) {
        po.onPage = [&](const StreamPage& p, const uint8_t* bitmap) {
            std::string why;
            if ((!o.pngDir.empty() && !WritePngPage(PagePath(o.pngDir, p.number, "png"), p.width, p.height, bitmap, &why)) ||
                (!o.pbmDir.empty() && !WritePbmPage(PagePath(o.pbmDir, p.number, "pbm"), p.width, p.height, bitmap, &why))) {
                fprintf(stderr, "vlgdidecode: %s\n", why.c_str());
                writeFailed = true;
                return false;
            }
            return true;
        };
    }
    StreamReport report;
    bool ok = ParsePrinterStream(data.data(), data.size(), po, &report);
    if (o.pagesSummary) {
        for (const StreamPage& p : report.pages)
            PrintPageLine(p);
    } else {
        PrintReport(report);
    }
    for (const std::string& problem : report.problems)
        fprintf(stderr, "vlgdidecode: %s\n", problem.c_str());
    if (writeFailed)
        return 2;
    if (!o.pagesSummary) {
        if (ok)
            printf("result          OK: %zu page%s\n", report.pages.size(), report.pages.size() == 1 ? "" : "s");
        else
            printf("result          FAILED: %zu problem%s (see standard error)\n", report.problems.size(),
                   report.problems.size() == 1 ? "" : "s");
    }
    return ok ? 0 : 1;
}
