#include "decoded_stream.h"

#include <cstdio>

#include "cups_sandbox.h"
#include "files.h"
#include "text_lines.h"

namespace {
bool ParseSummaryLine(const std::string& line, SummaryPage* p)
{
    return sscanf(line.c_str(),
                  "page=%u width=%u height=%u datasize=%*u compsize=%*u blackDots=%u paper=%u media=%u tray=%u "
                  "black=%lf",
                  &p->number, &p->width, &p->height, &p->blackDots, &p->paper, &p->media, &p->tray, &p->black) == 8;
}
} // namespace

DecodedStream DecodeStream(const std::string& stream, bool withBits, const std::string& pngDir)
{
    DecodedStream d;
    std::string dir = MakeSandboxDir("decode");
    std::string path = dir + "/stream.prn";
    WriteFile(path, stream);
    std::vector<std::string> argv = {"vlgdidecode", "--pages-summary"};
    if (withBits) {
        argv.push_back("--pbm");
        argv.push_back(dir);
    }
    if (!pngDir.empty()) {
        argv.push_back("--png");
        argv.push_back(pngDir);
    }
    argv.push_back(path);
    ProcessResult r = RunProgram(DecoderPath(), argv);
    d.status = r.status;
    d.problems = r.err;
    for (const std::string& line : SplitLines(r.out)) {
        SummaryPage p;
        if (!ParseSummaryLine(line, &p)) {
            d.status = 2;
            d.problems += "unreadable summary line: " + line + "\n";
            continue;
        }
        if (withBits) {
            char name[32];
            snprintf(name, sizeof name, "/page-%03u.pbm", p.number);
            Pbm pbm;
            if (!ReadPbm(dir + name, &pbm) || pbm.width != p.width || pbm.height != p.height) {
                d.status = 2;
                d.problems += std::string("no page image ") + name + "\n";
            }
            p.bits = std::move(pbm.bits);
            remove((dir + name).c_str());
        }
        d.pages.push_back(std::move(p));
    }
    remove(path.c_str());
    remove(dir.c_str());
    return d;
}

std::vector<uint8_t> MirroredBits(const SummaryPage& page)
{
    size_t line = (page.width + 7) / 8;
    std::vector<uint8_t> out(page.bits.size());
    for (size_t y = 0; y < page.height; ++y)
        for (size_t x = 0; x < line; ++x) {
            uint8_t b = page.bits[y * line + x], r = 0;
            for (int i = 0; i < 8; ++i)
                r |= (uint8_t)(((b >> i) & 1) << (7 - i));
            out[y * line + line - 1 - x] = r;
        }
    return out;
}
