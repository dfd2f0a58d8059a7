#include "decoded_stream.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "cups_sandbox.h"

namespace {
bool ParseSummaryLine(const std::string& line, DecodedPage* p)
{
    return sscanf(line.c_str(),
                  "page=%u width=%u height=%u datasize=%*u compsize=%*u blackDots=%u paper=%u media=%u tray=%u "
                  "black=%lf",
                  &p->number, &p->width, &p->height, &p->blackDots, &p->paper, &p->media, &p->tray, &p->black) == 8;
}

// A binary PBM (P4) as the decoder writes it.
bool ReadPbm(const std::string& path, const DecodedPage& page, std::vector<uint8_t>* bits)
{
    std::ifstream f(path, std::ios::binary);
    std::string magic;
    unsigned w = 0, h = 0;
    f >> magic >> w >> h;
    f.get();
    if (!f || magic != "P4" || w != page.width || h != page.height)
        return false;
    bits->resize((size_t)(w + 7) / 8 * h);
    f.read((char*)bits->data(), (std::streamsize)bits->size());
    return (size_t)f.gcount() == bits->size();
}
} // namespace

DecodedStream DecodeStream(const std::string& stream, bool withBits, const std::string& pngDir)
{
    DecodedStream d;
    std::string dir = MakeSandboxDir("decode");
    std::string path = dir + "/stream.prn";
    std::ofstream(path, std::ios::binary) << stream;
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
    ProcessResult r = RunProgram(QUORIN_VLGDIDECODE, argv);
    d.status = r.status;
    d.problems = r.err;
    for (const std::string& line : SplitLines(r.out)) {
        DecodedPage p;
        if (!ParseSummaryLine(line, &p)) {
            d.status = 2;
            d.problems += "unreadable summary line: " + line + "\n";
            continue;
        }
        if (withBits) {
            char name[32];
            snprintf(name, sizeof name, "/page-%03u.pbm", p.number);
            if (!ReadPbm(dir + name, p, &p.bits)) {
                d.status = 2;
                d.problems += std::string("no page image ") + name + "\n";
            }
            remove((dir + name).c_str());
        }
        d.pages.push_back(std::move(p));
    }
    remove(path.c_str());
    remove(dir.c_str());
    return d;
}

std::vector<uint8_t> MirroredBits(const DecodedPage& page)
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
