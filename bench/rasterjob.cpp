// rasterjob [--uncompressed] OUTPUT.ras PAGES INPUT.ras...: writes a raster
// job of PAGES pages, page k being the first page of input k modulo the
// number of inputs. Builds long benchmark jobs from pages rendered once,
// compressed unless asked, so that 100 MB pages need not sit on disk for
// every copy.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

namespace {
// Copies the first page of the input to the output, line by line.
bool CopyFirstPage(const char* path, cups_raster_t* out)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    cups_raster_t* in = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    bool ok = in && cupsRasterReadHeader2(in, &h) && cupsRasterWriteHeader2(out, &h);
    std::vector<unsigned char> line(ok ? h.cupsBytesPerLine : 0);
    for (unsigned y = 0; ok && y < h.cupsHeight; ++y)
        ok = cupsRasterReadPixels(in, line.data(), h.cupsBytesPerLine) == h.cupsBytesPerLine &&
             cupsRasterWritePixels(out, line.data(), h.cupsBytesPerLine) == h.cupsBytesPerLine;
    if (in)
        cupsRasterClose(in);
    close(fd);
    return ok;
}
} // namespace

int main(int argc, char** argv)
{
    bool uncompressed = argc > 1 && strcmp(argv[1], "--uncompressed") == 0;
    argc -= uncompressed;
    argv += uncompressed;
    int pages = argc >= 4 ? atoi(argv[2]) : 0;
    if (pages < 1) {
        fputs("usage: rasterjob [--uncompressed] OUTPUT.ras PAGES INPUT.ras...\n", stderr);
        return 2;
    }
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    cups_raster_t* out =
        fd < 0 ? nullptr : cupsRasterOpen(fd, uncompressed ? CUPS_RASTER_WRITE : CUPS_RASTER_WRITE_COMPRESSED);
    bool ok = out != nullptr;
    for (int k = 0; ok && k < pages; ++k) {
        const char* in = argv[3 + k % (argc - 3)];
        ok = CopyFirstPage(in, out);
        if (!ok)
            fprintf(stderr, "rasterjob: cannot copy a page from %s\n", in);
    }
    if (out)
        cupsRasterClose(out);
    if (fd >= 0 && close(fd) != 0)
        ok = false;
    if (!ok)
        fprintf(stderr, "rasterjob: %s not written\n", argv[1]);
    return ok ? 0 : 1;
}
