#!/bin/sh
# Prints the bundled sample job to a file, as the scheduler would run the filter.
set -eu
BUILD=${1:-build}
mkdir -p "$BUILD/sample"
"$BUILD/testpagegen" "$BUILD/sample/sample.ras" --pages 3 --photo
"$BUILD/rastertoQuorin" 1 "$(id -un)" "Sample job" 1 "" "$BUILD/sample/sample.ras" \
    > "$BUILD/sample/sample.prn" 2> "$BUILD/sample/sample.log"
echo "Printer stream: $BUILD/sample/sample.prn ($(wc -c < "$BUILD/sample/sample.prn") bytes)"
echo "Filter log:     $BUILD/sample/sample.log"
