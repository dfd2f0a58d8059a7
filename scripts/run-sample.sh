#!/bin/sh
# The filter's main job on a bundled document: samples/multipage.pdf goes
# through CUPS's own chain (pdftopdf, gstoraster, rastertoQuorin) with the
# built printer description and the built filter, as a print server would
# run it; the printer stream is then decoded into PNG previews.
# Without cupsfilter it falls back to a generated raster job.
set -eu
BUILD=${1:-build}
DOC=${2:-samples/multipage.pdf}
OUT="$BUILD/sample"
rm -rf "$OUT"
mkdir -p "$OUT/png"
BUILD=$(cd "$BUILD" && pwd)
OUT="$BUILD/sample"

if command -v cupsfilter >/dev/null 2>&1 && [ -f "$BUILD/ppd/quorin.ppd" ]; then
    "$(dirname "$0")/private-serverbin.sh" "$BUILD" "$OUT"
    echo "Printing $DOC through cupsfilter (A4, density 3)"
    cupsfilter -c "$OUT/cups-files.conf" -p "$BUILD/ppd/quorin.ppd" -e -m printer/quorin \
        "$DOC" > "$OUT/sample.prn" 2> "$OUT/sample.log"
else
    echo "cupsfilter not found: printing a generated raster job instead"
    [ -x "$BUILD/testpagegen" ] || cmake --build "$BUILD" --target testpagegen
    "$BUILD/testpagegen" "$OUT/sample.ras" --pages 3 --photo
    "$BUILD/rastertoQuorin" 1 "$(id -un)" "Sample job" 1 "" "$OUT/sample.ras" \
        > "$OUT/sample.prn" 2> "$OUT/sample.log"
fi

"$BUILD/vlgdidecode" --png "$OUT/png" "$OUT/sample.prn" > "$OUT/summary.txt"
grep -E '^(page|result)' "$OUT/summary.txt"
echo "Printer stream: $OUT/sample.prn ($(wc -c < "$OUT/sample.prn") bytes)"
echo "Page previews:  $OUT/png/"
echo "Filter log:     $OUT/sample.log"
