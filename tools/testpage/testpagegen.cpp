// Writes sample CUPS raster jobs: numbered text-like pages and photo-like
// pages, with the header fields a print job would carry.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "test_pages.h"

static void Usage(FILE* to)
{
    fputs("usage: testpagegen OUTPUT.ras [--pages N] [--size WxH] [--dpi N] [--photo | --all-photo]\n"
          "                   [--duplex] [--tumble] [--copies N] [--collate] [--density N]\n"
          "                   [--bits 24|32|8|1] [--gray-k]\n"
          "Page k carries k bars at its top so that page order can be checked;\n"
          "--photo makes every second page photo-like, --all-photo every page.\n",
          to);
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        }
    // An option in place of the output would become a file of that name.
    if (argc < 2 || argv[1][0] == '-') {
        Usage(stderr);
        return 2;
    }
    std::string out = argv[1];
    unsigned pages = 1, width = 4960, height = 7016, dpi = 600, copies = 1, density = 3, bits = 24;
    bool photo = false, allPhoto = false, duplex = false, tumble = false, collate = false, grayK = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                Usage(stderr);
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--pages")
            pages = (unsigned)atoi(next());
        else if (a == "--size") {
            if (sscanf(next(), "%ux%u", &width, &height) != 2) {
                Usage(stderr);
                return 2;
            }
        } else if (a == "--dpi")
            dpi = (unsigned)atoi(next());
        else if (a == "--photo")
            photo = true;
        else if (a == "--all-photo")
            allPhoto = true;
        else if (a == "--duplex")
            duplex = true;
        else if (a == "--tumble")
            tumble = true;
        else if (a == "--copies")
            copies = (unsigned)atoi(next());
        else if (a == "--collate")
            collate = true;
        else if (a == "--density")
            density = (unsigned)atoi(next());
        else if (a == "--bits")
            bits = (unsigned)atoi(next());
        else if (a == "--gray-k")
            grayK = true;
        else {
            Usage(stderr);
            return 2;
        }
    }
    cups_cspace_t cs = bits == 24 ? CUPS_CSPACE_RGB
                       : bits == 32 ? CUPS_CSPACE_RGBW
                       : grayK      ? CUPS_CSPACE_K
                                    : CUPS_CSPACE_SW;
    cups_page_header2_t h = MakePageHeader(width, height, bits, cs, dpi);
    h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
    h.Tumble = tumble ? CUPS_TRUE : CUPS_FALSE;
    h.NumCopies = copies;
    h.Collate = collate ? CUPS_TRUE : CUPS_FALSE;
    h.cupsCompression = density;
    std::vector<TestPage> job;
    for (unsigned k = 1; k <= pages; ++k)
        job.push_back(allPhoto || (photo && k % 2 == 0) ? MakePhotoPage(h) : MakeNumberedPage(h, k));
    if (!WriteRasterFile(out, job)) {
        fprintf(stderr, "testpagegen: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
