// JBIG coding of one A4 page at 600 dpi, the built-in coder beside JBIG-KIT
// on the same bitmaps: a page of text, the generated gradient and a real
// photograph, each as the filter screens it (bench/bench-jobs.sh makes them
// in BUILD/bench-jobs/pages/). Run with --benchmark_enable_random_interleaving
// so that the two coders share the machine's moods; bench/run-bench.sh
// prints the ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "jbig_adapter.h"

namespace {
const char* const kPages[] = {"text", "gradient", "coffee"};

struct Page {
    unsigned long width = 0, height = 0;
    std::vector<unsigned char> bits;
};

// A binary PBM (P4) as vlgdidecode writes it: "P4\n<w> <h>\n" and the rows.
bool ReadPbm(const std::string& path, Page* page)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bool ok = fscanf(f, "P4 %lu %lu", &page->width, &page->height) == 2 && fgetc(f) != EOF;
    if (ok) {
        page->bits.resize((page->width + 7) / 8 * page->height);
        ok = fread(page->bits.data(), 1, page->bits.size(), f) == page->bits.size();
    }
    fclose(f);
    return ok;
}

std::vector<Page> gPages(3);

void BM_Jbig(benchmark::State& state)
{
    const Page& page = gPages[state.range(1)];
    JbigCoder coder = state.range(0) ? JBIG_CODER_JBIGKIT : JBIG_CODER_BUILTIN;
    std::vector<unsigned char> in = page.bits, out(page.bits.size() * 2 + 64);
    long len = 0;
    for (auto _ : state) {
        long total = 0, calls = 0;
        len = JbigCompressWith(coder, page.width, page.height, in.data(), out.data(), out.size(), &total, &calls);
        benchmark::DoNotOptimize(len);
    }
    state.counters["bytes"] = (double)len;
}
} // namespace

// coder: 0 built-in, 1 JBIG-KIT; page: 0 text, 1 gradient, 2 photograph.
BENCHMARK(BM_Jbig)
    ->ArgNames({"coder", "page"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (int i = 0; i < 3; ++i) {
        std::string path = std::string(QUORIN_BENCH_TMP) + "/bench-jobs/pages/" + kPages[i] + ".pbm";
        if (!ReadPbm(path, &gPages[i])) {
            fprintf(stderr, "bench_jbig: cannot read %s; make it with bench/bench-jobs.sh\n", path.c_str());
            return 1;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
