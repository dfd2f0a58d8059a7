// Per-page cost of each stage of the filter on A4 at 600 dpi (4960 x 7016,
// 24-bit RGB in): read + convert, the whole image processing of a worker,
// JBIG coding and the black-dot count, for a text-like and a photo-like page.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "jbig_adapter.h"
#include "page_pipeline.h"
#include "page_record.h"
#include "raster_reader.h"
#include "test_pages.h"

namespace {
const unsigned kWidth = 4960;
const unsigned kHeight = 7016;

// Raster files made once per process, in the build's temp folder.
const std::string& RasterFile(bool photo)
{
    static std::string paths[2];
    std::string& path = paths[photo];
    if (path.empty()) {
        cups_page_header2_t h = MakePageHeader(kWidth, kHeight);
        path = std::string(QUORIN_BENCH_TMP) + (photo ? "/bench-photo.ras" : "/bench-text.ras");
        WriteRasterFile(path, {photo ? MakePhotoPage(h) : MakeNumberedPage(h, 3)});
    }
    return path;
}

struct OpenRaster {
    int fd;
    cups_raster_t* ras;
};

OpenRaster ReadInto(JobInfo* slot, bool photo)
{
    OpenRaster r;
    r.fd = open(RasterFile(photo).c_str(), O_RDONLY);
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

void BM_ReadConvert(benchmark::State& state)
{
    Quiet();
    static JobInfo slot;
    for (auto _ : state)
        Close(&slot, ReadInto(&slot, state.range(0)));
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
} // namespace

BENCHMARK(BM_ReadConvert)->Apply(Pages);
BENCHMARK(BM_ProcessOnly)->Apply(Pages);
BENCHMARK(BM_ReadAndProcess)->Apply(Pages);
BENCHMARK(BM_Jbig)->Apply(Pages);
BENCHMARK(BM_BlackDots)->Apply(Pages);
BENCHMARK_MAIN();
