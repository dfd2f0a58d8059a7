#!/bin/sh
# whole-chain.sh BUILD [RUNS]: the bundled samples through cupsfilter, PDF to
# printer stream, A4 at 600 dpi, with this driver and with the Debian drivers
# users would otherwise pick, each on the chain CUPS builds from its own PPD:
#   brlaser  Brother HL-L2300D   pdftopdf, gstoraster, rastertobrlaser
#   splix    Samsung ML-2160     pdftopdf, gstoraster, rastertoqpdl
#   foo2zjs  HP LaserJet 1020    pdftops, pstops, foomatic-rip (Ghostscript, foo2zjs)
# Prints the median wall time of RUNS runs (default 3) and, beside each peer,
# our time over its time. A peer that is not installed is skipped.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-3}
SRC=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/median.sh
. "$SRC/bench/median.sh"
OUT="$BUILD/bench-chain"
rm -rf "$OUT"
mkdir -p "$OUT/ppd" "$OUT/cache"
# One private set-up for all: the system's filters plus the one just built.
"$SRC/scripts/private-serverbin.sh" "$BUILD" "$OUT"
CONF="$OUT/cups-files.conf"
sys=$(cups-config --serverbin)

# One line a peer: name, PPD (from the package's driver, as lpinfo -m lists
# it), the program the chain needs, options beyond A4 ("-" for none).
cp "$BUILD/ppd/quorin.ppd" "$OUT/ppd/quorin.ppd"
: > "$OUT/ppd/quorin.options"
drivers=quorin
while read -r name uri program opts; do
    if [ -x "$program" ] && CUPS_CACHEDIR="$OUT/cache" "$sys/daemon/cups-driverd" cat "$uri" \
        > "$OUT/ppd/$name.ppd" 2> /dev/null; then
        drivers="$drivers $name"
        [ "$opts" = - ] || echo "-o $opts" > "$OUT/ppd/$name.options"
    else
        echo "$name: not installed ($program or $uri missing), skipped"
    fi
done <<PEERS
brlaser drv:///brlaser.drv/brl2300d.ppd $sys/filter/rastertobrlaser -
splix drv:///splix-samsung.drv/ml2160.ppd $sys/filter/rastertoqpdl -
foo2zjs foo2zjs:0/ppd/foo2zjs/HP-LaserJet_1020.ppd /usr/bin/foo2zjs Resolution=600x600dpi
PEERS

# Median wall time in seconds of RUNS chains, or "failed".
chain() { # driver document
    times=""
    for _ in $(seq "$RUNS"); do
        # shellcheck disable=SC2046 # the options split into words
        if "$BUILD/measure" -o "$OUT/fig" cupsfilter -c "$CONF" -p "$OUT/ppd/$1.ppd" -e -m printer/foo \
            -o PageSize=A4 $(cat "$OUT/ppd/$1.options" 2> /dev/null) "$2" \
            > "$OUT/$1.out" 2> "$OUT/$1.log" && [ -s "$OUT/$1.out" ]; then
            times="$times $(cut -d' ' -f1 "$OUT/fig")"
        else
            echo failed
            return
        fi
    done
    # shellcheck disable=SC2086 # one time a line
    printf '%s\n' $times | median
}

cell() { # seconds [our seconds]
    awk -v t="$1" -v o="${2:-}" 'BEGIN {
        num = "^[0-9.]+$"
        s = t !~ num ? t : o ~ num ? sprintf("%.2f (x%.1f)", t, o / t) : sprintf("%.2f", t)
        printf " %-15s", s }'
}

echo "== whole chain: cupsfilter, PDF to printer stream, A4 at 600 dpi" \
    "(median of $RUNS, s; x: ours over the peer's) =="
printf '%-15s %5s' document pages
for d in $drivers; do printf ' %-15s' "$d"; done
echo
for doc in "$SRC"/samples/*.pdf; do
    printf '%-15s %5s' "$(basename "$doc")" "$(pdfinfo "$doc" | awk '/^Pages:/ { print $2 }')"
    ours=$(chain quorin "$doc")
    cell "$ours"
    for d in $drivers; do
        [ "$d" = quorin ] || cell "$(chain "$d" "$doc")" "$ours"
    done
    echo
done
