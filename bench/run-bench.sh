#!/bin/sh
# make bench (run-bench.sh BUILD [TODAY]): whole jobs of the filter alone,
# the whole CUPS chain and the driver's own step beside other drivers, jobs
# of 1 to 60 pages beside them, the per-stage benchmarks, and last the speed
# and memory targets as ratios of figures measured side by side in this run
# (the machine is shared: only ratios of neighbouring measurements mean
# much, and medians of three). TODAY is a build folder of the filter to
# compare with (main's, say: its rastertoQuorin and ppd/quorin.ppd), run
# side by side; without it the figures against it are left out.
set -eu
BUILD=${1:-build}
TODAY=${2:-}
BENCH=$(dirname "$0")
# shellcheck source=bench/median.sh
. "$BENCH/median.sh"
OUT="$BUILD/bench-jobs"
"$BENCH/bench-jobs.sh" "$BUILD"

# Runs a filter on OUT/job.ras; OUT/job.fig (OUT/job.today for TODAY's)
# gets "wall_s cpu_s peak_kib first_s".
run() { # job [today]
    filter="$BUILD/rastertoQuorin" fig="$OUT/$1.fig"
    [ -n "${2:-}" ] && filter="$TODAY/rastertoQuorin" fig="$OUT/$1.today"
    "$BUILD/measure" -o "$fig" "$filter" 1 bench "$1" 1 "" "$OUT/$1.ras" > "$OUT/$1.prn" 2> "$OUT/$1.log"
}

echo "== whole jobs: A4 at 600 dpi, 24-bit RGB, uncompressed raster file in, one run each =="
printf 'job        pages   wall s   CPU s  pages/s  peak RSS  first s  slots'
[ -n "$TODAY" ] && printf '   today: wall s  peak RSS  first s'
echo
for job in text-1 text-8 text-20 photo-1 photo-8 photo-20 mixed-20; do
    # Both filters read the job from the page cache, not the first from disk.
    cat "$OUT/$job.ras" > /dev/null
    run "$job"
    cp "$OUT/$job.fig" "$OUT/$job.table"
    slots=$(sed -n 's/^DEBUG: gMAX_THREAD = \([0-9]*\) .*/\1/p' "$OUT/$job.log" | tail -n 1)
    awk -v n="$job" -v p="${job#*-}" -v s="$slots" '{
        printf "%-10s %5d %8.2f %7.2f %8.2f %5.0f MiB %8.3f %6s", n, p, $1, $2, p / $1, $3 / 1024, $4, s }' \
        "$OUT/$job.fig"
    if [ -n "$TODAY" ]; then
        run "$job" today
        awk '{ printf "   %14.2f %5.0f MiB %8.3f", $1, $3 / 1024, $4 }' "$OUT/$job.today"
    fi
    echo
done

echo
"$BENCH/whole-chain.sh" "$BUILD" 3
echo
"$BENCH/driver-step.sh" "$BUILD" 3
echo
"$BENCH/stream-jobs.sh" "$BUILD" "${TODAY:+$TODAY/rastertoQuorin}" 3

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
cat > "$OUT/pbmtojbg.sh" <<'SH'
for f in "$@"; do
    h=$(head -n 2 "$f" | tail -n 1 | cut -d' ' -f2)
    pbmtojbg -q -s "$h" -o 0 -p 8 -m 0 "$f" /dev/null
done
SH
# Median of three: a job's figure (field 1 wall, 2 CPU) over pbmtojbg's on
# the job's own one-bit pages, then both figures.
against_pbmtojbg() { # job field
    mkdir -p "$OUT/pbm"
    "$BUILD/vlgdidecode" --pbm "$OUT/pbm" "$OUT/$1.prn" > /dev/null
    for _ in 1 2 3; do
        run "$1"
        "$BUILD/measure" -o "$OUT/pbmtojbg.fig" sh "$OUT/pbmtojbg.sh" "$OUT"/pbm/*.pbm
        paste -d' ' "$OUT/$1.fig" "$OUT/pbmtojbg.fig" |
            awk -v f="$2" '{ printf "%.2f %.2f %.2f\n", $f / $(f + 4), $f, $(f + 4) }'
    done | median
    rm -rf "$OUT/pbm"
}
# shellcheck disable=SC2046 # the median's three figures
set -- $(against_pbmtojbg photo-20 1)
target "20 photo pages: wall / pbmtojbg's" "$1" "$2 s / $3 s" "<= 0.8"

# The filter's whole work on 20 text pages against JBIG-KIT's coder alone on
# the same pages, CPU time both.
# shellcheck disable=SC2046
set -- $(against_pbmtojbg text-20 2)
target "20 text pages: CPU / pbmtojbg's CPU" "$1" "$2 s / $3 s" "< 0.6"

for page in 0:text 1:gradient 2:photograph; do
    ours=$(cpu "BM_Jbig/coder:0/page:${page%%:*}") kit=$(cpu "BM_Jbig/coder:1/page:${page%%:*}")
    goal=$([ "${page#*:}" = text ] && echo ">= 4" || echo ">= 1.5")
    target "JBIG ${page#*:} page: JBIG-KIT / built-in" \
        "$(awk -v o="$ours" -v k="$kit" 'BEGIN { printf "%.2f", k / o }')" "$kit ms / $ours ms CPU, above" "$goal"
done

peak=$(for job in text-20 photo-20 mixed-20; do cut -d' ' -f3 "$OUT/$job.table"; done | sort -n | tail -n 1)
target "peak RSS of a 20-page job (MiB)" "$((peak / 1024))" "largest of the table's three" "<= 200"
peak=$(cat "$BUILD"/bench-stream/quorin-*-[0-9]*.fig | cut -d' ' -f2 | sort -n | tail -n 1)
target "peak RSS of 1, 8, 20, 60 pages (MiB)" "$peak" "largest of stream-jobs's 8, text and photo" "<= 48"

# The first page out of longer jobs with the same first page, interleaved.
for page in text photo; do
    for n in 8 20; do
        # shellcheck disable=SC2046 # the median's three figures
        set -- $(for _ in 1 2 3; do
            run "$page-1"
            run "$page-$n"
            paste -d' ' "$OUT/$page-$n.fig" "$OUT/$page-1.fig" | awk '{ printf "%.2f %.3f %.3f\n", $4 / $8, $4, $8 }'
        done | median)
        target "$page: first page out, $n pages / 1" "$1" "$2 s / $3 s" "<= 1.25"
    done
done

if [ -n "$TODAY" ]; then
    # The same jobs through TODAY's filter, interleaved with ours.
    for job in text-1 photo-1 text-20 photo-20 mixed-20; do
        cat "$OUT/$job.ras" > /dev/null
        # shellcheck disable=SC2046 # the median's three figures
        set -- $(for _ in 1 2 3; do
            run "$job"
            run "$job" today
            paste -d' ' "$OUT/$job.fig" "$OUT/$job.today" | awk '{ printf "%.2f %.3f %.3f\n", $1 / $5, $1, $5 }'
        done | median)
        case $job in *-1) goal="<= 0.8" ;; *) goal="<= 1" ;; esac
        target "$job: wall / today's" "$1" "$2 s / $3 s" "$goal"
    done
fi

# The Photo mode against the text mode on a photo, through the whole chain:
# both ask the raster step for 24-bit RGB now (it used to be 8-bit gray,
# which Ghostscript writes slower for photographs; a PNG goes through
# imagetoraster instead).
chainsec() { # build-folder mode document: wall seconds of one chain
    dir="$OUT/chain-$(basename "$1")"
    [ -f "$dir/cups-files.conf" ] || "$BENCH/../scripts/private-serverbin.sh" "$1" "$dir"
    "$BUILD/measure" -o "$dir/fig" cupsfilter -c "$dir/cups-files.conf" -p "$1/ppd/quorin.ppd" -e \
        -m printer/quorin -o PageSize=A4 -o PrintMode="$2" "$3" > /dev/null 2>&1
    cut -d' ' -f1 "$dir/fig"
}
for doc in "$OUT/coffee.pdf" "$BENCH/coffee.png" "$BENCH/../samples/photo.pdf"; do
    for b in "$BUILD" ${TODAY:+"$TODAY"}; do
        # shellcheck disable=SC2046 # the median's three figures
        set -- $(for _ in 1 2 3 4 5; do
            p=$(chainsec "$b" Photo "$doc") t=$(chainsec "$b" TextGraphics "$doc")
            awk -v p="$p" -v t="$t" 'BEGIN { printf "%.2f %.3f %.3f\n", p / t, p, t }'
        done | median)
        who=$([ "$b" = "$BUILD" ] && echo "" || echo " (today)")
        target "$(basename "$doc")$who: Photo / text mode" "$1" "$2 s / $3 s, cupsfilter, of 5" "<= 1.05"
    done
done
rm -rf "$OUT"/chain-*

for page in text photo; do
    p=$([ $page = photo ] && echo 1 || echo 0)
    r=$(cpu "BM_ReadConvert/photo:$p/compressed:0") c=$(cpu "BM_LibcupsRead/photo:$p/compressed:0")
    target "$page page: read + convert / libcups" "$(awk -v r="$r" -v c="$c" 'BEGIN { printf "%.2f", r / c }')" \
        "$r ms / $c ms CPU, stages above" "<= 2"
done
