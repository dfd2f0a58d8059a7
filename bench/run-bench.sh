#!/bin/sh
# make bench: whole jobs of the filter alone, the whole CUPS chain and the
# driver's own step beside other drivers, the per-stage benchmarks, and last
# the speed and memory targets as ratios of figures measured side by side in
# this run (the machine is shared: only ratios of neighbouring measurements
# mean much, and medians of three).
set -eu
BUILD=${1:-build}
BENCH=$(dirname "$0")
# shellcheck source=bench/median.sh
. "$BENCH/median.sh"
OUT="$BUILD/bench-jobs"
"$BENCH/bench-jobs.sh" "$BUILD"

# Runs the filter on OUT/job.ras; OUT/job.fig gets "wall_s cpu_s peak_kib".
run() {
    "$BUILD/measure" -o "$OUT/$1.fig" "$BUILD/rastertoQuorin" 1 bench "$1" 1 "" "$OUT/$1.ras" \
        > "$OUT/$1.prn" 2> "$OUT/$1.log"
}

echo "== whole jobs: A4 at 600 dpi, 24-bit RGB, uncompressed raster file in, one run each =="
echo "job        pages   wall s   CPU s  pages/s  peak RSS  slots"
for job in text-1 photo-1 text-20 photo-20 mixed-20; do
    run "$job"
    cp "$OUT/$job.fig" "$OUT/$job.table"
    slots=$(sed -n 's/^DEBUG: gMAX_THREAD = \([0-9]*\) .*/\1/p' "$OUT/$job.log" | tail -n 1)
    awk -v n="$job" -v p="${job#*-}" -v s="$slots" '{
        printf "%-10s %5d %8.2f %7.2f %8.2f %5.0f MiB %6s\n", n, p, $1, $2, p / $1, $3 / 1024, s }' "$OUT/$job.fig"
done

echo
"$BENCH/whole-chain.sh" "$BUILD" 3
echo
"$BENCH/driver-step.sh" "$BUILD" 3

# CPU time: single-threaded work, steadier than wall time on a busy machine.
stages="$OUT/stages.txt"
: > "$stages"
for b in bench_stages bench_image; do
    echo
    echo "== $b (median of 5) =="
    "$BUILD/$b" --benchmark_repetitions=5 --benchmark_min_time=0.1 --benchmark_report_aggregates_only=true \
        2> /dev/null | grep -E '^Benchmark|_median' | tee -a "$stages"
done
# The JBIG coders side by side on the same one-bit pages, their runs
# interleaved at random so that both meet the same machine.
echo
echo "== bench_jbig: built-in coder (coder:0) and JBIG-KIT (coder:1), median of 9 interleaved =="
"$BUILD/bench_jbig" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true 2> /dev/null | grep -E '^Benchmark|_median' |
    tee -a "$stages"
cpu() { awk -v b="$1_median" '$1 == b { print $4 }' "$stages"; } # ms

target() { printf '%-38s %6s   %-37s target %s\n' "$@"; } # what ratio figures goal

echo
echo "== targets (median of 3 side-by-side measurements) =="
for page in text photo; do
    # shellcheck disable=SC2046 # the median's three figures
    set -- $(for _ in 1 2 3; do
        run "$page-1"
        awk '{ printf "%.2f %.2f %.2f\n", $1 / ($2 + 0.05), $1, $2 + 0.05 }' "$OUT/$page-1.fig"
    done | median)
    target "one $page page: wall / (CPU + 50 ms)" "$1" "$2 s / $3 s" "<= 1.3"
done

# The same one-bit pages coded one after another by JBIG-KIT's own tool with
# the filter's parameters: our stream decodes to exactly the bits the filter
# coded, and pbmtojbg's output is the filter's JBIG data byte for byte behind
# a 20-byte image header.
mkdir -p "$OUT/pbm"
"$BUILD/vlgdidecode" --pbm "$OUT/pbm" "$OUT/photo-20.prn" > /dev/null
cat > "$OUT/pbmtojbg.sh" <<'SH'
for f in "$@"; do
    h=$(head -n 2 "$f" | tail -n 1 | cut -d' ' -f2)
    pbmtojbg -q -s "$h" -o 0 -p 8 -m 0 "$f" /dev/null
done
SH
# shellcheck disable=SC2046 # the median's three figures
set -- $(for _ in 1 2 3; do
    run photo-20
    "$BUILD/measure" -o "$OUT/pbmtojbg.fig" sh "$OUT/pbmtojbg.sh" "$OUT"/pbm/*.pbm
    paste -d' ' "$OUT/photo-20.fig" "$OUT/pbmtojbg.fig" | awk '{ printf "%.2f %.2f %.2f\n", $1 / $4, $1, $4 }'
done | median)
rm -rf "$OUT/pbm"
target "20 photo pages: wall / pbmtojbg's" "$1" "$2 s / $3 s" "<= 0.8"

# The filter's whole work on 20 text pages against JBIG-KIT's coder alone on
# the same pages, CPU time both.
mkdir -p "$OUT/pbm"
"$BUILD/vlgdidecode" --pbm "$OUT/pbm" "$OUT/text-20.prn" > /dev/null
# shellcheck disable=SC2046 # the median's three figures
set -- $(for _ in 1 2 3; do
    run text-20
    "$BUILD/measure" -o "$OUT/pbmtojbg.fig" sh "$OUT/pbmtojbg.sh" "$OUT"/pbm/*.pbm
    paste -d' ' "$OUT/text-20.fig" "$OUT/pbmtojbg.fig" | awk '{ printf "%.2f %.2f %.2f\n", $2 / $5, $2, $5 }'
done | median)
rm -rf "$OUT/pbm"
target "20 text pages: CPU / pbmtojbg's CPU" "$1" "$2 s / $3 s" "< 0.6"

for page in 0:text 1:gradient 2:photograph; do
    ours=$(cpu "BM_Jbig/coder:0/page:${page%%:*}") kit=$(cpu "BM_Jbig/coder:1/page:${page%%:*}")
    goal=$([ "${page#*:}" = text ] && echo ">= 4" || echo ">= 1.5")
    target "JBIG ${page#*:} page: JBIG-KIT / built-in" \
        "$(awk -v o="$ours" -v k="$kit" 'BEGIN { printf "%.2f", k / o }')" "$kit ms / $ours ms CPU, above" "$goal"
done

peak=$(for job in text-20 photo-20 mixed-20; do cut -d' ' -f3 "$OUT/$job.table"; done | sort -n | tail -n 1)
target "peak RSS of a 20-page job (MiB)" "$((peak / 1024))" "largest of the table's three" "<= 200"

for page in text photo; do
    p=$([ $page = photo ] && echo 1 || echo 0)
    r=$(cpu "BM_ReadConvert/photo:$p/compressed:0") c=$(cpu "BM_LibcupsRead/photo:$p/compressed:0")
    target "$page page: read + convert / libcups" "$(awk -v r="$r" -v c="$c" 'BEGIN { printf "%.2f", r / c }')" \
        "$r ms / $c ms CPU, stages above" "<= 2"
done
