#!/bin/sh
# Whole-job figures: A4 at 600 dpi, 24-bit RGB in, printer stream out.
# Prints wall time, pages per second and peak memory for 1- and 20-page jobs
# of text-like, photo-like and mixed pages, then the per-stage benchmarks.
set -eu
BUILD=${1:-build}
OUT="$BUILD/bench-jobs"
mkdir -p "$OUT"

job() { # name pages generator-options...
    name=$1; pages=$2; shift 2
    ras="$OUT/$name.ras"
    [ -f "$ras" ] || "$BUILD/testpagegen" "$ras" --pages "$pages" "$@"
    /usr/bin/time -f "%e %M" -o "$OUT/$name.time" \
        "$BUILD/rastertoQuorin" 1 bench "$name" 1 "" "$ras" > "$OUT/$name.prn" 2> "$OUT/$name.log"
    read -r secs kib < "$OUT/$name.time"
    slots=$(sed -n 's/^DEBUG: gMAX_THREAD = \([0-9]*\) .*/\1/p' "$OUT/$name.log" | tail -n 1)
    awk -v n="$name" -v p="$pages" -v s="$secs" -v k="$kib" -v t="$slots" 'BEGIN {
        printf "%-14s %3d pages  %7.2f s  %6.2f pages/s  peak RSS %5.0f MiB  slots %s\n", n, p, s, p / s, k / 1024, t }'
}

echo "== whole jobs (A4, 600 dpi, 24-bit RGB) =="
job text-1 1
job photo-1 1 --all-photo
job text-20 20
job photo-20 20 --all-photo
job mixed-20 20 --photo

# Five repetitions, median shown: steadier on a shared machine.
for b in "$BUILD"/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b") (median of 5) =="
    "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
        grep -E '^Benchmark|_median'
done
