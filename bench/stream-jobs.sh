#!/bin/sh
# stream-jobs.sh BUILD [TODAY [RUNS]]: jobs of 1, 8, 20 and 60 A4 pages at
# 600 dpi through the driver step alone, beside the Debian drivers for other
# printers, each on the page its own chain hands it (bench/driver-step.sh's
# rasters of samples/prose.pdf and samples/photo.pdf; ours in the Photo mode
# for the photo). Prints the peak resident memory and the first page out
# (when the stream holds the whole first page: the moment the printer can
# start), medians of RUNS runs (default 3). Jobs of up to 20 pages are read
# from files made here (about 6 GB, removed at the end); 60 pages come
# through a pipe, for their memory only. TODAY is another build of
# rastertoQuorin (main's, say) run side by side; "" leaves it out.
# A peer's first page is whole once its stream is as long as its one-page
# job's less the job's end (64 bytes); ours is found in the stream itself.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
TODAY=${2:-}
RUNS=${3:-3}
SRC=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/median.sh
. "$SRC/bench/median.sh"
OUT="$BUILD/bench-stream"
STEP="$BUILD/bench-step"
PPDS="$BUILD/bench-chain/ppd"
mkdir -p "$OUT"
[ -s "$STEP/prose-quorin.ras" ] || "$SRC/bench/driver-step.sh" "$BUILD" 1 > /dev/null
sys=$(cups-config --serverbin)

drivers="quorin"
[ -n "$TODAY" ] && drivers="$drivers today"
for d in brlaser splix foo2zjs; do
    case $d in
    brlaser) p="$sys/filter/rastertobrlaser" ;;
    splix) p="$sys/filter/rastertoqpdl" ;;
    foo2zjs) p=$(command -v foo2zjs || echo /usr/bin/foo2zjs) ;;
    esac
    if [ -x "$p" ] && [ -s "$STEP/prose-$d.ras" ] || [ -s "$STEP/prose-$d.pbm" ]; then
        drivers="$drivers $d"
    else
        echo "$d: not installed, skipped"
    fi
done

# The input of a driver's job of n pages: a file for up to 20 pages.
input() { # driver doc pages
    case $1 in
    quorin | today) in="$STEP/$2-quorin.ras" ;;
    foo2zjs) in="$STEP/$2-foo2zjs.pbm" ;;
    *) in="$STEP/$2-$1.ras" ;;
    esac
    [ "$3" = 60 ] && return
    f="$OUT/$([ "$1" = today ] && echo quorin || echo "$1")-$2-$3.in"
    if [ ! -s "$f" ]; then
        if [ "$1" = foo2zjs ]; then
            for _ in $(seq "$3"); do cat "$in"; done > "$f"
        else
            "$BUILD/rasterjob" --uncompressed "$f" "$3" "$in"
        fi
    fi
    in=$f
}

# One job: a document's page `pages` times into a driver; OUT/fig gets
# "wall cpu peak_kib first_s", OUT/len the stream's length.
job() { # driver doc pages
    d=$1 doc=$2 n=$3 bytes=""
    [ "$d" = quorin ] || [ "$d" = today ] || [ ! -s "$OUT/$d-$doc.len1" ] ||
        bytes="-b $(($(cat "$OUT/$d-$doc.len1") - 64))"
    case $d in
    quorin) prog="$BUILD/rastertoQuorin" ppd=quorin ;;
    today) prog="$TODAY" ppd=quorin ;;
    brlaser) prog="$sys/filter/rastertobrlaser" ppd=brlaser ;;
    splix) prog="$sys/filter/rastertoqpdl" ppd=splix ;;
    foo2zjs) prog=$(command -v foo2zjs || echo /usr/bin/foo2zjs) ;;
    esac
    input "$d" "$doc" "$n"
    if [ "$d" = foo2zjs ]; then
        # shellcheck disable=SC2086 # -b and its figure, or nothing
        if [ "$n" = 60 ]; then for _ in $(seq "$n"); do cat "$in"; done; else cat "$in"; fi |
            "$BUILD/measure" -o "$OUT/fig" $bytes "$prog" -r600x600 -g4960x7016 -p9 2> /dev/null | wc -c > "$OUT/len"
    elif [ "$n" = 60 ]; then
        # shellcheck disable=SC2086
        "$BUILD/rasterjob" --uncompressed /dev/stdout "$n" "$in" |
            PPD="$PPDS/$ppd.ppd" "$BUILD/measure" -o "$OUT/fig" $bytes "$prog" 1 bench page 1 "" 2> /dev/null |
            wc -c > "$OUT/len"
    else
        # shellcheck disable=SC2086
        PPD="$PPDS/$ppd.ppd" "$BUILD/measure" -o "$OUT/fig" $bytes "$prog" 1 bench page 1 "" "$in" 2> /dev/null |
            wc -c > "$OUT/len"
    fi
    return 0
}

# A peer's one-page stream, once, to know when its first page is whole.
for doc in prose photo; do
    for d in $drivers; do
        [ "$d" = quorin ] || [ "$d" = today ] || { job "$d" "$doc" 1 && cp "$OUT/len" "$OUT/$d-$doc.len1"; }
    done
done

# Medians of RUNS jobs: "peak_mib first_s" of the job with the median first page.
figures() { # driver doc pages
    for _ in $(seq "$RUNS"); do
        job "$@"
        awk '{ printf "%.4f %.1f\n", $4, $3 / 1024 }' "$OUT/fig"
    done | median
}

# Every figure first, the jobs of one size side by side, so that the
# machine's load meets all drivers alike.
for doc in prose photo; do
    for n in 1 8 20 60; do
        for d in $drivers; do
            figures "$d" "$doc" "$n" > "$OUT/$d-$doc-$n.fig"
        done
    done
done

header() {
    printf '%-22s' "$1"
    for d in $drivers; do printf ' %-15s' "$d"; done
    echo
}
echo "== pages as a stream, driver step alone (A4, 600 dpi, median of $RUNS) =="
header "peak RSS, MiB"
for doc in prose photo; do
    for n in 1 8 20 60; do
        printf '%-22s' "$doc, $n pages"
        for d in $drivers; do printf ' %-15s' "$(cut -d' ' -f2 "$OUT/$d-$doc-$n.fig")"; done
        echo
    done
done
echo
header "first page out, s (x: over 1 page)"
for doc in prose photo; do
    for n in 1 8 20; do
        printf '%-22s' "$doc, $n pages"
        for d in $drivers; do
            one=$(cut -d' ' -f1 "$OUT/$d-$doc-1.fig") t=$(cut -d' ' -f1 "$OUT/$d-$doc-$n.fig")
            printf ' %-15s' "$(awk -v t="$t" -v o="$one" -v n="$n" 'BEGIN {
                printf n == 1 ? "%.3f" : "%.3f (x%.2f)", t, t / o }')"
        done
        echo
    done
done
rm -f "$OUT"/*.in
