// Per-page cost of each stage of the filter on A4 at 600 dpi (4960 x 7016,
// 24-bit RGB in): libcups's own read, read + convert, the whole image
// processing of a worker, JBIG coding and the black-dot count, for a page of
// text and a photo-like page, made by bench/bench-jobs.sh. Reading is also
// timed on compressed rasters, which libcups must decode.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "jbig_adapter.h"
#include "page_pipeline.h"
#include "page_record.h"
#include "raster_reader.h"

namespace {
std::string RasterFile(bool photo, bool compressed = false)
{
    static const char* const names[2][2] = {{"text-1", "text-1-compressed"}, {"photo-1", "photo-1-compressed"}};
    return std::string(QUORIN_BENCH_TMP) + "/bench-jobs/" + names[photo][compressed] + ".ras";
}

struct OpenRaster {
    int fd;
    cups_raster_t* ras;
};

OpenRaster ReadInto(JobInfo* slot, bool photo, bool compressed = false)
{
    OpenRaster r;
    r.fd = open(RasterFile(photo, compressed).c_str(), O_RDONLY);
    r.ras = cupsRasterOpen(r.fd, CUPS_RASTER_READ);
    InitJobSlot(slot, 0);
    cupsRasterReadHeader2(r.ras, &slot->inheader);
    slot->inras = r.ras;
    GetCUPSPageData(slot);
    return r;
}

void Close(JobInfo* slot, OpenRaster r)
{
    free(slot->lpbuf.exchange(nullptr));
    cupsRasterClose(r.ras);
    close(r.fd);
}

// A worker's image processing on a whole gray page: the screen (with the
// edges reinforced on RGB pages) and the inversion the printer needs. The
// filter runs the same steps a band at a time.
void ProcessPageImage(JobInfo* slot)
{
    if (PageNeedsBorderQuality(&slot->inheader))
        DoBorderQuality(slot);
    else
        ApplyHalftone(slot);
    DoNegative(slot, 0);
}

// Quiet the trace: every stage logs, and the log is not what is measured.
void Quiet()
{
    static bool done = false;
    if (!done) {
        KeepPageBuffersInHeap();
        if (!freopen("/dev/null", "w", stderr))
            abort();
        done = true;
    }
}

// What the reader cannot go below: libcups handing over the lines.
void BM_LibcupsRead(benchmark::State& state)
{
    for (auto _ : state) {
        int fd = open(RasterFile(state.range(0), state.range(1)).c_str(), O_RDONLY);
        cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t h;
        cupsRasterReadHeader2(ras, &h);
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y)
            cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine);
        cupsRasterClose(ras);
        close(fd);
    }
}

void BM_ReadConvert(benchmark::State& state)
{
    Quiet();
    static JobInfo slot;
    for (auto _ : state)
        Close(&slot, ReadInto(&slot, state.range(0), state.range(1)));
}

void BM_ReadAndProcess(benchmark::State& state)
{
    Quiet();
    static JobInfo slot;
    for (auto _ : state) {
        OpenRaster r = ReadInto(&slot, state.range(0));
        ProcessPageImage(&slot);
        Close(&slot, r);
    }
}

void BM_ProcessOnly(benchmark::State& state)
{
    Quiet();
    static JobInfo slot;
    for (auto _ : state) {
        state.PauseTiming();
        OpenRaster r = ReadInto(&slot, state.range(0));
        state.ResumeTiming();
        ProcessPageImage(&slot);
        state.PauseTiming();
        Close(&slot, r);
        state.ResumeTiming();
    }
}

// One-bit pages as the compression thread receives them.
JobInfo* ProcessedPage(bool photo)
{
    static JobInfo slots[2];
    static bool made[2];
    if (!made[photo]) {
        OpenRaster r = ReadInto(&slots[photo], photo);
        ProcessPageImage(&slots[photo]);
        cupsRasterClose(r.ras);
        close(r.fd);
        made[photo] = true;
    }
    return &slots[photo];
}

void BM_Jbig(benchmark::State& state)
{
    Quiet();
    JobInfo* page = ProcessedPage(state.range(0));
    size_t room = (size_t)page->linebyte * page->page_height * 2 + 64;
    std::vector<unsigned char> out(room);
    long len = 0;
    for (auto _ : state) {
        long total = 0, calls = 0;
        len = Tarsel_JBIGCompression(page->page_width, page->page_height, SlotBuffer(page), out.data(),
                                     room, &total, &calls);
        benchmark::DoNotOptimize(len);
    }
    state.counters["bytes"] = (double)len;
}

void BM_BlackDots(benchmark::State& state)
{
    Quiet();
    JobInfo* page = ProcessedPage(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(Prnt_CountBlackDots(SlotBuffer(page), page->linebyte * page->page_height));
}

void Pages(benchmark::internal::Benchmark* b)
{
    b->ArgName("photo")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}

void PagesAndForms(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"photo", "compressed"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
}
} // namespace

BENCHMARK(BM_LibcupsRead)->Apply(PagesAndForms);
BENCHMARK(BM_ReadConvert)->Apply(PagesAndForms);
BENCHMARK(BM_ProcessOnly)->Apply(Pages);
BENCHMARK(BM_ReadAndProcess)->Apply(Pages);
BENCHMARK(BM_Jbig)->Apply(Pages);
BENCHMARK(BM_BlackDots)->Apply(Pages);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (bool photo : {false, true}) {
        for (bool compressed : {false, true}) {
            std::string path = RasterFile(photo, compressed);
            if (access(path.c_str(), R_OK) != 0) {
                fprintf(stderr, "bench_stages: %s is missing; make it with bench/bench-jobs.sh\n", path.c_str());
                return 1;
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
