// Times the per-page image functions on an A4 page at 600 dpi (4960 x 7040
// pixels after padding): a text-like page and a photo-like page.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "job_info.h"

namespace {
const DWORD kWidth = 4960;
const DWORD kHeight = 7040;

// Dark strokes on white in rows of "glyphs", with a few gray boxes.
std::vector<BYTE> TextPage()
{
    std::vector<BYTE> page(kWidth * kHeight, 255);
    for (DWORD line = 300; line + 60 < kHeight - 300; line += 100) {
        for (DWORD x = 300; x + 40 < kWidth - 300; x += 42) {
            unsigned glyph = (line * 31 + x * 17) % 7;
            if (glyph == 6)
                continue; // a space
            for (DWORD y = line; y < line + 60; ++y) {
                for (DWORD dx = 0; dx < 30; ++dx) {
                    bool stem = dx < 6 || (glyph & 1 && dx >= 24);
                    bool bar = (y - line) < 6 || (glyph & 2 && (y - line) >= 27 && (y - line) < 33) ||
                               (glyph & 4 && (y - line) >= 54);
                    if (stem || bar)
                        page[y * kWidth + x + dx] = 0;
                }
            }
        }
    }
    for (DWORD y = 1000; y < 1400; ++y)
        for (DWORD x = 3000; x < 4200; ++x)
            page[y * kWidth + x] = 160;
    return page;
}

// Smooth ramps, a dark disc and fine ripples: no two lines alike.
std::vector<BYTE> PhotoPage()
{
    std::vector<BYTE> page(kWidth * kHeight);
    for (DWORD y = 0; y < kHeight; ++y) {
        for (DWORD x = 0; x < kWidth; ++x) {
            double v = 255.0 * x / kWidth * 0.6 + 100.0 * y / kHeight + 20.0 * sin(x * 0.05 + y * 0.03);
            double dx = (double)x - 2500, dy = (double)y - 3500;
            if (dx * dx + dy * dy < 1200.0 * 1200.0)
                v *= 0.35;
            page[y * kWidth + x] = (BYTE)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
    return page;
}

const std::vector<BYTE>& Page(int kind)
{
    static const std::vector<BYTE> text = TextPage();
    static const std::vector<BYTE> photo = PhotoPage();
    return kind == 0 ? text : photo;
}

struct Slot {
    JobInfo job{};
    std::vector<BYTE> buffer;
    explicit Slot(int kind) : buffer(Page(kind)) { Reset(kind); }
    void Reset(int kind)
    {
        memcpy(buffer.data(), Page(kind).data(), buffer.size());
        job.page_width = kWidth;
        job.page_height = kHeight;
        job.linebyte = kWidth;
        job.pagesize = kWidth * kHeight;
        job.inheader.cupsCompression = 3;
        job.inheader.cupsBitsPerPixel = 24;
        job.lpbuf.store(buffer.data());
    }
};

double Fastest(const std::vector<double>& v)
{
    double m = v.empty() ? 0 : v[0];
    for (double x : v)
        m = x < m ? x : m;
    return m;
}

void SetLabel(benchmark::State& state)
{
    state.SetLabel(state.range(0) == 0 ? "text" : "photo");
}

// Screening and border quality change the page, so each pass starts from the
// gray page; only the step itself is timed.
template <typename Step>
void TimeOnFreshPage(benchmark::State& state, Step step)
{
    int kind = (int)state.range(0);
    Slot slot(kind);
    for (auto _ : state) {
        state.PauseTiming();
        slot.Reset(kind);
        state.ResumeTiming();
        step(slot);
        benchmark::DoNotOptimize(slot.buffer.data());
    }
    SetLabel(state);
}

void BM_ApplyHalftone(benchmark::State& state)
{
    TimeOnFreshPage(state, [](Slot& slot) { ApplyHalftone(&slot.job); });
}

void BM_DoBorderQuality(benchmark::State& state)
{
    TimeOnFreshPage(state, [](Slot& slot) { DoBorderQuality(&slot.job); });
}

// What the page worker does to a 24-bit page: border quality, then inversion.
void BM_BorderQualityAndNegative(benchmark::State& state)
{
    TimeOnFreshPage(state, [](Slot& slot) {
        DoBorderQuality(&slot.job);
        DoNegative(&slot.job, 0);
    });
}

void BM_ApplyFilter3x3(benchmark::State& state)
{
    TimeOnFreshPage(state, [](Slot& slot) {
        int kernel[9] = {2, 1, 2, 1, -12, 1, 2, 1, 2};
        ApplyFilter3x3(&slot.job, slot.buffer.data(), 8, kernel, 3);
    });
}

void BM_GrayToLineart(benchmark::State& state)
{
    TimeOnFreshPage(state, [](Slot& slot) { GrayToLineart(&slot.job, slot.buffer.data(), 220); });
}

// Negative and mirror work on the screened page; each is its own inverse.
void BM_DoNegative(benchmark::State& state)
{
    int kind = (int)state.range(0);
    Slot slot(kind);
    ApplyHalftone(&slot.job);
    for (auto _ : state)
        DoNegative(&slot.job, 0);
    benchmark::DoNotOptimize(slot.buffer.data());
    SetLabel(state);
}

void BM_DoMirror(benchmark::State& state)
{
    int kind = (int)state.range(0);
    Slot slot(kind);
    ApplyHalftone(&slot.job);
    for (auto _ : state)
        DoMirror(&slot.job);
    benchmark::DoNotOptimize(slot.buffer.data());
    SetLabel(state);
}
} // namespace

// With --benchmark_repetitions=N the "min" row is the least disturbed run
// on a shared machine.
void Pages(benchmark::internal::Benchmark* b)
{
    b->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
}

BENCHMARK(BM_ApplyHalftone)->Apply(Pages);
BENCHMARK(BM_ApplyFilter3x3)->Apply(Pages);
BENCHMARK(BM_GrayToLineart)->Apply(Pages);
BENCHMARK(BM_DoBorderQuality)->Apply(Pages);
BENCHMARK(BM_BorderQualityAndNegative)->Apply(Pages);
BENCHMARK(BM_DoNegative)->Apply(Pages);
BENCHMARK(BM_DoMirror)->Apply(Pages);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Every call traces to standard error; keep the figures readable.
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0)
        dup2(devnull, 2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
