#!/bin/sh
# Builds the libFuzzer targets with clang in their own build folder and runs
# each one for a bounded time from the seeds in fuzz/corpus/.
#
#   scripts/run-fuzz.sh [seconds-per-target] [target...]
#
# Defaults: 60 seconds (or $FUZZ_SECONDS), every target, build folder
# build-fuzz (or $BUILD_FUZZ). Inputs found along the way are kept in
# <build>/fuzz/corpus/<target>/ and reused by the next run; crashing inputs
# land in <build>/fuzz/artifacts/. Exits non-zero if any target failed.
set -eu
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-${FUZZ_SECONDS:-60}}
[ $# -gt 0 ] && shift
TARGETS=${*:-"fuzz_json_ticket fuzz_bmp_tools fuzz_raster_pipeline fuzz_jbig_coder"}
BUILD=${BUILD_FUZZ:-build-fuzz}
mkdir -p "$BUILD"
# Absolute paths: the BMP target works in a directory of its own.
BUILD=$(cd "$BUILD" && pwd)

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQUORIN_FUZZ=ON -DQUORIN_BUILD_TESTS=OFF -DQUORIN_BUILD_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD" -j 2 --target $TARGETS

status=0
for t in $TARGETS; do
    seeds=$PWD/fuzz/corpus/${t#fuzz_}
    work=$BUILD/fuzz/corpus/$t
    mkdir -p "$work" "$BUILD/fuzz/artifacts"
    echo "== $t: $SECONDS_EACH s"
    # libcups itself takes a line buffer of the header's size (up to 2 GiB,
    # never touched): allowed, so that only the filter's own allocations count.
    if ! "$BUILD/$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -malloc_limit_mb=4096 \
            -artifact_prefix="$BUILD/fuzz/artifacts/" "$work" "$seeds"; then
        echo "== $t FAILED: see $BUILD/fuzz/artifacts/" >&2
        status=1
    fi
done
exit $status
