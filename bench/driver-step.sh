#!/bin/sh
# driver-step.sh BUILD [RUNS]: the driver's own step alone, CPU time, beside
# the Debian drivers for other printers: each driver's program on the page
# its chain hands it (A4, 600 dpi, made once by cupsfilter or Ghostscript),
# the median of RUNS runs (default 3):
#   quorin   rastertoQuorin on CUPS raster (24-bit RGB; 8-bit gray for photo.pdf)
#   (JBIG-KIT) the same with QUORIN_JBIG_CODER=jbigkit: what it was
#   brlaser  rastertobrlaser on CUPS raster
#   splix    rastertoqpdl on CUPS raster
#   foo2zjs  foo2zjs on Ghostscript's one-bit page (JBIG-KIT codes it)
# The text page is samples/prose.pdf, the photo page samples/photo.pdf. A
# peer that is not installed is skipped.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-3}
SRC=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/median.sh
. "$SRC/bench/median.sh"
OUT="$BUILD/bench-step"
mkdir -p "$OUT"
sys=$(cups-config --serverbin)
ppds="$BUILD/bench-chain/ppd" # whole-chain.sh's copies of each driver's PPD
[ -f "$ppds/quorin.ppd" ] || "$SRC/bench/whole-chain.sh" "$BUILD" 1 > /dev/null

# Median CPU seconds of RUNS runs of a command; "failed" when one fails.
cpu() {
    for _ in $(seq "$RUNS"); do
        "$BUILD/measure" -o "$OUT/fig" "$@" > /dev/null 2> "$OUT/log" || { echo failed; return; }
        cut -d' ' -f2 "$OUT/fig"
    done | median
}

echo "== driver step alone: CPU s for one A4 page at 600 dpi (median of $RUNS; x: ours over the peer's) =="
printf '%-10s %-15s %-15s %-15s %-15s %-15s\n' page quorin "(JBIG-KIT)" brlaser splix foo2zjs
for doc in prose:text photo:photo; do
    pdf="$SRC/samples/${doc%%:*}.pdf"
    line=$(printf '%-10s' "${doc#*:}")
    ours=
    for d in quorin jbigkit brlaser splix foo2zjs; do
        in="$OUT/${doc%%:*}-$d"
        [ "$d" = jbigkit ] && in="$OUT/${doc%%:*}-quorin"
        case $d in
        quorin | jbigkit) prog="$BUILD/rastertoQuorin" opt="-o PrintMode=$([ "${doc#*:}" = photo ] && echo Photo || echo TextGraphics)" ;;
        brlaser) prog="$sys/filter/rastertobrlaser" opt= ;;
        splix) prog="$sys/filter/rastertoqpdl" opt= ;;
        foo2zjs) prog=$(command -v foo2zjs || echo /usr/bin/foo2zjs) ;;
        esac
        if [ ! -x "$prog" ]; then
            line="$line $(printf '%-15s' 'not installed')"
            continue
        fi
        if [ "$d" = foo2zjs ]; then
            [ -s "$in.pbm" ] || gs -q -dBATCH -dSAFER -dNOPAUSE -sPAPERSIZE=a4 -r600 -sDEVICE=pbmraw \
                -sOutputFile="$in.pbm" "$pdf"
            # shellcheck disable=SC2016 # expanded by the inner shell
            t=$(cpu sh -c 'exec "$0" -r600x600 -g4960x7016 -p9 < "$1"' "$prog" "$in.pbm")
        else
            # shellcheck disable=SC2086 # the option is one word or none
            [ -s "$in.ras" ] || cupsfilter -p "$ppds/$d.ppd" -m application/vnd.cups-raster -o PageSize=A4 $opt \
                "$pdf" > "$in.ras" 2> /dev/null
            coder=builtin ppd=$d
            [ "$d" = jbigkit ] && coder=jbigkit ppd=quorin
            t=$(QUORIN_JBIG_CODER=$coder PPD="$ppds/$ppd.ppd" cpu "$prog" 1 bench page 1 "" "$in.ras")
        fi
        [ "$d" = quorin ] && ours=$t
        line="$line $(awk -v t="$t" -v o="$ours" -v d="$d" 'BEGIN {
            s = t !~ /^[0-9.]+$/ ? t : d == "quorin" ? sprintf("%.3f", t) : sprintf("%.3f (x%.1f)", t, o / t)
            printf "%-15s", s }')"
    done
    echo "$line"
done
