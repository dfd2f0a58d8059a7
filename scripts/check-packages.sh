#!/bin/bash
# check-packages.sh [DEB_DIR]: checks the Debian packages `make deb` built
# (build/deb by default), as root on Debian 12: lintian; then, installed with
# apt, the manual pages, the filter and driver through CUPS's own tools, the
# service unit and the application printing a job; then a purge that must
# leave none of their files behind. It leaves the machine as it found it.
set -euo pipefail

DEBS=$(cd "${1:-build/deb}" && pwd)
SRC=$(cd "$(dirname "$0")/.." && pwd)
PKGS=(quorin-tools quorin-printer-app printer-driver-quorin)
APP=/usr/sbin/quorin-printer-app
UNIT=/lib/systemd/system/quorin-printer-app.service
# What the server makes for itself, which only the purge removes.
STATE_FILES=(/var/lib/quorin-printer-app /var/lib/quorin-printer-app.state /var/spool/quorin-printer-app
             /run/quorin-printer-app.sock)
WORK=$(mktemp -d /tmp/quorin-packages-XXXXXX)
chmod 755 "$WORK"
CUPSD_PID="" APP_PID="" SINK_PID=""

step() { printf '\n== %s\n' "$*"; }
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# Installed, or removed with its configuration kept.
known() {
    local s
    s=$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null) && [ -n "$s" ] && [ "$s" != not-installed ]
}
# Polls until the command succeeds, for at most $1 seconds.
wait_for() {
    local limit=$1
    shift
    for _ in $(seq $((limit * 4))); do
        "$@" && return 0
        sleep 0.25
    done
    return 1
}
stop_pid() {
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null || return 0
    wait_for 60 eval "! kill -0 $1 2>/dev/null" || kill -KILL "$1" 2>/dev/null || true
}
purge() {
    local present=()
    for p in "${PKGS[@]}"; do known "$p" && present+=("$p"); done
    if [ ${#present[@]} -gt 0 ]; then
        apt-get purge -y -qq "${present[@]}" >/dev/null
    fi
}
cleanup() {
    local rc=$?
    stop_pid "$SINK_PID"
    stop_pid "$APP_PID"
    stop_pid "$CUPSD_PID"
    if [ $rc -ne 0 ]; then
        for log in "$WORK"/*.log "$WORK"/cups/log/*; do
            [ -s "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
        done
        purge || true
    fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" -eq 0 ] || fail "run as root: the check installs and purges the packages"
debs=("$DEBS"/printer-driver-quorin_*.deb "$DEBS"/quorin-printer-app_*.deb "$DEBS"/quorin-tools_*.deb)
for d in "${debs[@]}"; do [ -f "$d" ] || fail "no $d: run make deb first"; done
# A run that failed half-way must not leave its packages to this one.
purge

step "lintian"
rc=0
lintian --fail-on error,warning -I -E --pedantic --show-overrides --tag-display-limit 0 "$DEBS"/*.changes \
    >"$WORK/lintian.txt" 2>&1 || rc=$?
grep -v 'running with root privileges' "$WORK/lintian.txt" || true
[ $rc -eq 0 ] || fail "lintian found errors or warnings"
echo "lintian: no errors, no warnings"

step "install"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends "${debs[@]}" >"$WORK/apt.log" 2>&1 || fail "apt-get install"
for p in "${PKGS[@]}"; do dpkg -L "$p"; done | sort -u >"$WORK/files"
echo "$(wc -l <"$WORK/files") paths installed"

step "manual pages"
# Read from the packages, since a machine may keep dpkg from installing them.
for d in "${debs[@]}"; do dpkg-deb -x "$d" "$WORK/unpacked"; done
for page in rastertoQuorin vlgdidecode testpagegen quorin-printer-app; do
    file=$(grep -E "/man/man[18]/$page\.[18]\.gz\$" "$WORK/files") || fail "no manual page for $page"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$WORK/unpacked$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "groff warnings in $file: $warnings"
    if [ -e "$file" ]; then
        [ "$(man -w "$page")" = "$file" ] || fail "man $page does not find $file"
        echo "man $page: $file, $(MANWIDTH=80 man "$page" 2>/dev/null | wc -l) lines"
    else
        echo "man $page: $file renders, but dpkg left it out here (path-exclude)"
    fi
done

step "the bundled sample through cupsfilter, the installed filter and driver"
# The PPD as cups-driverd makes it from the installed driver source.
/usr/lib/cups/daemon/cups-driverd cat drv:///quorin.drv/quorin.ppd >"$WORK/quorin.ppd" 2>"$WORK/driverd.log" ||
    fail "cups-driverd cannot compile drv:///quorin.drv/quorin.ppd"
cupsfilter -e -p "$WORK/quorin.ppd" -m printer/quorin "$SRC/samples/multipage.pdf" \
    >"$WORK/sample.prn" 2>"$WORK/cupsfilter.log" || fail "cupsfilter"
grep -q 'rastertoQuorin' "$WORK/cupsfilter.log" || fail "cupsfilter did not run rastertoQuorin"
/usr/bin/vlgdidecode --pages-summary "$WORK/sample.prn" | tee "$WORK/sample.txt"
[ "$(grep -c '^page=' "$WORK/sample.txt")" -eq 5 ] || fail "multipage.pdf should print 5 pages"

step "lpinfo -m lists the model once (a private cupsd on the installed ServerBin and DataDir)"
mkdir -p "$WORK/cups/etc" "$WORK/cups/log" "$WORK/cups/client" "$WORK/cups/spool/tmp" "$WORK/cups/cache" \
    "$WORK/cups/state"
cat >"$WORK/cups/etc/cups-files.conf" <<EOF
ServerRoot $WORK/cups/etc
RequestRoot $WORK/cups/spool
TempDir $WORK/cups/spool/tmp
CacheDir $WORK/cups/cache
StateDir $WORK/cups/state
ServerBin /usr/lib/cups
DataDir /usr/share/cups
AccessLog $WORK/cups/log/access_log
ErrorLog $WORK/cups/log/error_log
PageLog $WORK/cups/log/page_log
EOF
cat >"$WORK/cups/etc/cupsd.conf" <<EOF
Listen $WORK/cups/cups.sock
Browsing No
DefaultAuthType None
EOF
cupsd -t -c "$WORK/cups/etc/cupsd.conf" -s "$WORK/cups/etc/cups-files.conf" >"$WORK/cupsd.log" 2>&1 ||
    fail "the private cupsd's configuration: $(cat "$WORK/cupsd.log")"
cupsd -f -c "$WORK/cups/etc/cupsd.conf" -s "$WORK/cups/etc/cups-files.conf" >"$WORK/cupsd.log" 2>&1 &
CUPSD_PID=$!
wait_for 30 test -S "$WORK/cups/cups.sock" || fail "the private cupsd did not start"
CUPS_SERVERROOT="$WORK/cups/client" lpinfo -h "$WORK/cups/cups.sock" -m >"$WORK/models"
grep -i quorin "$WORK/models" || true
[ "$(grep -ci quorin "$WORK/models")" -eq 1 ] || fail "lpinfo -m should list one Quorin model"
grep -q '^drv:///quorin.drv/quorin.ppd ' "$WORK/models" || fail "the model is not drv:///quorin.drv/quorin.ppd"
stop_pid "$CUPSD_PID"
CUPSD_PID=""

step "service unit"
if command -v systemd-analyze >/dev/null; then
    rc=0
    systemd-analyze verify "$UNIT" >"$WORK/verify.txt" 2>&1 || rc=$?
    cat "$WORK/verify.txt"
    [ $rc -eq 0 ] && [ ! -s "$WORK/verify.txt" ] || fail "systemd-analyze verify $UNIT"
    echo "systemd-analyze verify: no findings"
else
    echo "systemd-analyze is not installed: skipped"
fi
grep -q '^Restart=on-failure$' "$UNIT" || fail "the unit does not restart the server"

step "the installed application prints a job"
# The server as the unit starts it, the log in a file for this check; a
# machine running systemd has already started the service itself.
if [ -d /run/systemd/system ] && systemctl is-active --quiet quorin-printer-app; then
    echo "using the running service"
else
    read -r -a exec_start <<<"$(sed -n 's/^ExecStart=//p' "$UNIT")"
    "${exec_start[@]}" -o log-file="$WORK/app.log" -o log-level=debug &
    APP_PID=$!
fi
wait_for 30 test -S /run/quorin-printer-app.sock || fail "the server made no control socket"
# The printer: a socket that writes what it receives to a file.
perl -MIO::Socket::INET -e '
    my $l = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0, Listen => 1, ReuseAddr => 1)
        or die "listen: $!";
    open(my $p, ">", "$ARGV[0].tmp") or die; print $p $l->sockport, "\n"; close $p;
    rename("$ARGV[0].tmp", $ARGV[0]) or die;
    my $c = $l->accept or die "accept: $!";
    open(my $o, ">", $ARGV[1]) or die; binmode $o;
    while (sysread($c, my $buf, 65536)) { print $o $buf }
    close $o;' "$WORK/sink.port" "$WORK/app.prn" &
SINK_PID=$!
wait_for 10 test -s "$WORK/sink.port" || fail "no printer socket"
"$APP" add -d CI -m quorin -v "socket://127.0.0.1:$(cat "$WORK/sink.port")" || fail "add a printer"
"$APP" submit -d CI "$SRC/samples/text.pdf" || fail "submit a job"
wait_for 180 eval "! kill -0 $SINK_PID 2>/dev/null" || fail "the job did not reach the printer"
SINK_PID=""
/usr/bin/vlgdidecode --pages-summary "$WORK/app.prn" || fail "the application's stream does not decode"
"$APP" jobs -d CI
wait_for 30 test -s /var/lib/quorin-printer-app/quorin-printer-app.state || fail "no state saved in /var/lib/quorin-printer-app"
if [ -n "$APP_PID" ]; then
    stop_pid "$APP_PID"
    APP_PID=""
fi
ls -ld "${STATE_FILES[@]}" 2>/dev/null || true

step "purge"
purge
for p in "${PKGS[@]}"; do
    ! known "$p" || fail "$p is still known to dpkg after the purge"
done
left=()
while read -r path; do
    # Folders that other packages share stay; ours must go.
    if [ -d "$path" ]; then
        case "$path" in *quorin*) left+=("$path") ;; esac
    elif [ -e "$path" ] || [ -L "$path" ]; then
        left+=("$path")
    fi
done <"$WORK/files"
for path in "${STATE_FILES[@]}"; do
    if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done
while read -r path; do left+=("$path"); done < <(find /etc/systemd /var/lib/systemd -name '*quorin*' 2>/dev/null)
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"
echo "nothing left of $(wc -l <"$WORK/files") installed paths and the server's own files"

echo
echo "packages: all checks passed"
