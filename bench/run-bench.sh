#!/bin/sh
# Runs every benchmark of a build folder; repetitions give a "min" row that
# is the least disturbed run on a shared machine.
set -eu
BUILD=${1:-build}
for b in "$BUILD"/bench_*; do
    [ -x "$b" ] || continue
    echo "== $b"
    "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
