#!/bin/sh
# private-serverbin.sh BUILD DIR: a cupsfilter set-up below DIR that runs the
# filter just built: a private ServerBin holding the system's filters plus
# BUILD/rastertoQuorin, and DIR/cups-files.conf pointing at it. Use it as
#   cupsfilter -c DIR/cups-files.conf -p BUILD/ppd/quorin.ppd -e -m printer/quorin doc.pdf
set -eu
BUILD=$(cd "$1" && pwd)
mkdir -p "$2"
DIR=$(cd "$2" && pwd)
sys=$(cups-config --serverbin)
bin="$DIR/serverbin"
rm -rf "$bin"
mkdir -p "$bin/filter" "$DIR/etc" "$DIR/spool/tmp" "$DIR/log"
for f in "$sys"/*; do [ "$(basename "$f")" = filter ] || ln -s "$f" "$bin/"; done
for f in "$sys"/filter/*; do ln -s "$f" "$bin/filter/"; done
ln -sf "$BUILD/rastertoQuorin" "$bin/filter/rastertoQuorin"
cat > "$DIR/cups-files.conf" <<CONF
ServerRoot $DIR/etc
RequestRoot $DIR/spool
TempDir $DIR/spool/tmp
ServerBin $bin
DataDir $(cups-config --datadir)
ErrorLog $DIR/log/error_log
CONF
