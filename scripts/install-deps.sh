#!/bin/sh
# Installs the Debian packages needed to build, test and try the driver.
# As root it runs apt-get; otherwise it only reports what is missing.
set -eu

PACKAGES="build-essential cmake pkg-config
libcups2-dev libjbig-dev jbigkit-bin libpng-dev
libgtest-dev libbenchmark-dev
libpappl-dev cups-ipp-utils libjpeg-dev
cups cups-client cups-ppdc cups-filters ghostscript poppler-utils
clang libclang-rt-14-dev
debhelper lintian man-db"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
else
    echo "Missing packages:$missing" >&2
    echo "Install them with: sudo apt-get install$missing" >&2
    exit 1
fi
