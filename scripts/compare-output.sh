#!/bin/sh
# compare-output.sh OLD NEW [BUILD]: runs two builds of rastertoQuorin on the
# benchmark documents (bench/bench-jobs.sh), plus a spooled duplex job and
# filter-collated copies, and says for every job whether the two printer
# streams are byte-identical once the lines that differ from run to run are
# masked (job name tick, date, time, host name), or else whether they decode
# to the same pages. Exit status 0 only when every stream is identical.
#   scripts/compare-output.sh /tmp/old/rastertoQuorin build/rastertoQuorin
# When OLD's folder also holds its printer description (ppd/quorin.ppd, as a
# build folder does), photographs in the Photo mode go through cupsfilter's
# raster step with each side's description and through each side's filter.
# Their rasters differ (the Photo mode's raster changed), so each page's
# share of black dots is compared: within 2 points passes.
set -eu
[ $# -ge 2 ] || { echo "usage: $0 OLD NEW [BUILD]" >&2; exit 2; }
BUILD=${3:-build}
WORK="$BUILD/compare-output"
rm -rf "$WORK"
mkdir -p "$WORK/old" "$WORK/new"
# Both run as "rastertoQuorin", so the printer-name comment is the same.
ln -s "$(realpath "$1")" "$WORK/old/rastertoQuorin"
ln -s "$(realpath "$2")" "$WORK/new/rastertoQuorin"
"$(dirname "$0")/../bench/bench-jobs.sh" "$BUILD"
JOBS="$BUILD/bench-jobs"
"$BUILD/testpagegen" "$WORK/duplex-5.ras" --pages 5 --photo --duplex
"$BUILD/testpagegen" "$WORK/collated-5x2.ras" --pages 5 --photo --copies 2 --collate

mask() { # the stream with the per-run lines of its PJL header blanked
    perl -0777 -pe '
        my $end = index($_, "\@PJL ENTER LANGUAGE=VLGDI");
        if ($end >= 0) {
            my $head = substr($_, 0, $end);
            $head =~ s/(JOB NAME=")\d+/$1/;
            $head =~ s/(\@PJL COMMENT )\d+\/\d+\/\d+(\r\n\@PJL COMMENT )\d+:\d+:\d+/$1$2/;
            $head =~ s/(\@PJL COMMENT 0, 0, 1, 35\r\n(?:\@PJL COMMENT [^\r]*\r\n){2}\@PJL COMMENT )[^\r]*/$1/;
            substr($_, 0, $end) = $head;
        }' "$1"
}

# Decoded pages: one summary line each, and the bits.
pages_of() { # side name
    d="$WORK/$1/$2.pbm"
    mkdir -p "$d"
    "$BUILD/vlgdidecode" --pbm "$d" "$WORK/$1/$2.prn" > /dev/null 2>&1 || true
    "$BUILD/vlgdidecode" --pages-summary "$WORK/$1/$2.prn" 2>&1 || true
}

status=0
while read -r name ras copies opts; do # options "-" for none
    [ "$opts" = - ] && opts=""
    for side in old new; do
        rc=0
        PATH="$WORK/$side:$PATH" rastertoQuorin 1 compare "$name" "$copies" "$opts" "$ras" \
            < /dev/null > "$WORK/$side/$name.prn" 2> "$WORK/$side/$name.log" || rc=$?
        echo "$rc" > "$WORK/$side/$name.rc"
    done
    old_rc=$(cat "$WORK/old/$name.rc") new_rc=$(cat "$WORK/new/$name.rc")
    if [ "$old_rc" != 0 ] || [ "$new_rc" != 0 ]; then
        verdict="FAILED: exit status old $old_rc, new $new_rc"
    elif [ "$(mask "$WORK/old/$name.prn" | md5sum)" = "$(mask "$WORK/new/$name.prn" | md5sum)" ]; then
        verdict="identical ($(wc -c < "$WORK/new/$name.prn") bytes, header lines of the run masked)"
    elif [ "$(pages_of old "$name")" = "$(pages_of new "$name")" ] &&
        diff -r "$WORK/old/$name.pbm" "$WORK/new/$name.pbm" > /dev/null; then
        verdict="streams differ, decoded pages identical ($(find "$WORK/new/$name.pbm" -name '*.pbm' -type f | wc -l) pages)"
    else
        verdict="DIFFERENT: decoded pages differ (see $WORK/old and $WORK/new)"
    fi
    case $verdict in
    identical*) rm -rf "$WORK/old/$name.prn" "$WORK/new/$name.prn" ;;
    *) status=1 ;;
    esac
    printf '%-18s %s\n' "$name" "$verdict"
done <<JOBS
text-1 $JOBS/text-1.ras 1 -
photo-1 $JOBS/photo-1.ras 1 -
text-20 $JOBS/text-20.ras 1 -
photo-20 $JOBS/photo-20.ras 1 -
mixed-20 $JOBS/mixed-20.ras 1 -
duplex-5 $WORK/duplex-5.ras 1 -
collated-5x2 $WORK/collated-5x2.ras 2 Collate=True
JOBS

old_ppd="$(dirname "$(realpath "$1")")/ppd/quorin.ppd"
if [ -f "$old_ppd" ]; then
    for doc in "$(dirname "$0")/../bench/coffee.png" "$(dirname "$0")/../samples/photo.pdf"; do
        name="photo-mode-$(basename "${doc%.*}")"
        for side in old new; do
            ppd=$([ $side = old ] && echo "$old_ppd" || echo "$BUILD/ppd/quorin.ppd")
            cupsfilter -p "$ppd" -m application/vnd.cups-raster -o PageSize=A4 -o PrintMode=Photo "$doc" \
                > "$WORK/$side/$name.ras" 2> /dev/null
            "$WORK/$side/rastertoQuorin" 1 compare "$name" 1 "" "$WORK/$side/$name.ras" \
                > "$WORK/$side/$name.prn" 2> /dev/null || true
            "$BUILD/vlgdidecode" --pages-summary "$WORK/$side/$name.prn" 2> /dev/null |
                sed -n 's/.* black=\([0-9.]*\).*/\1/p' > "$WORK/$side/$name.black"
            rm -f "$WORK/$side/$name.ras"
        done
        verdict=$(paste -d' ' "$WORK/old/$name.black" "$WORK/new/$name.black" | awk '
            { n++; d = ($2 - $1) * 100; if (d < 0) d = -d; if (d > worst) worst = d
              s = s sprintf(" %.1f%% -> %.1f%%", $1 * 100, $2 * 100) }
            END { if (!n) { print "FAILED: no pages"; exit }
                  printf "%s (black share%s; largest change %.2f points)\n",
                         worst <= 2 ? "within 2 points" : "DIFFERENT", s, worst }')
        case $verdict in within*) ;; *) status=1 ;; esac
        printf '%-18s %s\n' "$name" "$verdict"
    done
fi
exit $status
