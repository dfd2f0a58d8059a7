#!/bin/sh
# bench-jobs.sh BUILD: makes the benchmark documents in BUILD/bench-jobs, once.
# The text page is samples/prose.pdf rendered by Ghostscript through CUPS's
# own chain with the built PPD; the photo page is a generated full-page
# gradient. Jobs are uncompressed raster files, as Ghostscript hands pages to
# the filter in the chain (about 100 MB a page: 20-page jobs take 2 GB, the
# whole set 8 GB):
#   text-1 photo-1    one page
#   text-8 photo-8    eight pages
#   text-20 photo-20  twenty pages
#   mixed-20          text and photo pages in turn
#   coffee-1          a real photograph (bench/coffee.png, scikit-image's
#                     sample data, CC0) in the photo print mode
#   coffee.pdf        the photograph as a PDF (CUPS's imagetopdf), which
#                     Ghostscript renders in the chain
# and the one-page jobs compressed too (text-1-compressed, photo-1-compressed).
# pages/{text,gradient,coffee}.pbm are those pages as the filter codes them
# (its stream decoded), the coder benchmark's input.
# shellcheck disable=SC3013 # -nt: dash and bash have it
set -eu
BUILD=${1:-build}
OUT="$BUILD/bench-jobs"
SRC=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$OUT"

text="$OUT/text-1.ras"
if [ ! "$text" -nt "$SRC/samples/prose.pdf" ]; then
    cupsfilter -p "$BUILD/ppd/quorin.ppd" -m application/vnd.cups-raster "$SRC/samples/prose.pdf" \
        > "$text.tmp" 2> "$OUT/text-1.log"
    mv "$text.tmp" "$text"
fi
photo="$OUT/photo-1-compressed.ras"
[ -f "$photo" ] || "$BUILD/testpagegen" "$photo" --all-photo

coffee="$OUT/coffee-1.ras"
if [ ! "$coffee" -nt "$SRC/bench/coffee.png" ] || [ ! "$coffee" -nt "$BUILD/ppd/quorin.ppd" ]; then
    cupsfilter -p "$BUILD/ppd/quorin.ppd" -m application/vnd.cups-raster -o PrintMode=Photo -o PageSize=A4 \
        "$SRC/bench/coffee.png" > "$coffee.tmp" 2> "$OUT/coffee-1.log"
    mv "$coffee.tmp" "$coffee"
fi

[ "$OUT/coffee.pdf" -nt "$SRC/bench/coffee.png" ] ||
    cupsfilter -m application/pdf -o PageSize=A4 -o fit-to-page "$SRC/bench/coffee.png" > "$OUT/coffee.pdf" 2> /dev/null

job() { # name compressed|uncompressed pages page-rasters...
    name=$1; flag=; [ "$2" = uncompressed ] && flag=--uncompressed
    shift 2
    # shellcheck disable=SC2086
    [ "$OUT/$name.ras" -nt "$text" ] || "$BUILD/rasterjob" $flag "$OUT/$name.ras" "$@"
}
job text-1-compressed compressed 1 "$text"
job photo-1 uncompressed 1 "$photo"
job text-8 uncompressed 8 "$text"
job photo-8 uncompressed 8 "$photo"
job text-20 uncompressed 20 "$text"
job photo-20 uncompressed 20 "$photo"
job mixed-20 uncompressed 20 "$text" "$photo"

# The one-bit pages: each one-page job through the filter, its stream decoded.
mkdir -p "$OUT/pages"
for page in text:text-1 gradient:photo-1 coffee:coffee-1; do
    pbm="$OUT/pages/${page%%:*}.pbm" ras="$OUT/${page#*:}.ras"
    [ "$pbm" -nt "$ras" ] && continue
    "$BUILD/rastertoQuorin" 1 bench page 1 "" "$ras" > "$OUT/pages/page.prn" 2> /dev/null
    rm -rf "$OUT/pages/tmp"
    "$BUILD/vlgdidecode" --pbm "$OUT/pages/tmp" "$OUT/pages/page.prn" > /dev/null
    mv "$OUT/pages/tmp/page-001.pbm" "$pbm"
    rm -rf "$OUT/pages/tmp" "$OUT/pages/page.prn"
done
