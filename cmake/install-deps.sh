#!/usr/bin/env bash
# Installs the Debian packages a make target needs, when any is missing.
# Usage: cmake/install-deps.sh GROUP...
#   (groups: base bench mipsel clang valgrind coverage plot tsdb board nut crash package)
set -euo pipefail

packages_of() {
    case "$1" in
    # locales: localedef makes the decimal-comma locale of the unit tests;
    # tzdata: the zone database smdhist's --zone names are looked up in;
    # groff-base: the manual pages are checked by setting them.
    base) echo "cmake make g++ libgtest-dev libjsoncpp-dev libboost-date-time-dev libboost-thread-dev locales tzdata groff-base" ;;
    # The side-by-side benchmark runs NUT's nutdrv_qx and upsd (nut-server),
    # and counts system calls with strace.
    bench) echo "libbenchmark-dev valgrind nut-server strace" ;;
    # The board's target libraries come from cmake/fetch-mipsel-sysroot.sh.
    mipsel) echo "cmake make libgtest-dev g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user" ;;
    # Sanitizers and libFuzzer come with clang's runtime libraries.
    clang) echo "clang libclang-rt-14-dev" ;;
    valgrind) echo "valgrind" ;;
    coverage) echo "gcovr" ;;
    # The history tool's plots.
    plot) echo "gnuplot-nox" ;;
    # The history tool's time series, taken in by the real databases in the
    # tests: promtool (prometheus), influxd (influxdb), and curl to talk to it.
    # Each is started privately by the test; no service of theirs is used.
    tsdb) echo "prometheus influxdb curl" ;;
    # The emulated board: a whole mipsel system under qemu; its packages are
    # unpacked, not installed.
    board) echo "qemu-system-mips cpio" ;;
    # Network UPS Tools' upsd, upsdrvctl, upsc, upsmon and upsstats.cgi: the
    # peers of the bench host's NUT server and driver in its tests and demo,
    # which start their own upsd.
    nut) echo "nut-server nut-client nut-cgi" ;;
    # The durability tests: strace kills the bench host at each flush, and
    # mkfs.ext4 makes the file system whose image a power loss copies.
    crash) echo "strace e2fsprogs" ;;
    # Releases: dpkg-shlibdeps (dpkg-dev) for the packages' Depends, lintian
    # to check them, git for the commit's time and the clone that is built
    # again to compare.
    package) echo "dpkg-dev lintian git" ;;
    *) echo "unknown package group: $1" >&2; exit 2 ;;
    esac
}

wanted=()
for group in "$@"; do
    for package in $(packages_of "$group"); do
        wanted+=("$package")
    done
done

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages; as root, run:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
# The servers among them (upsd, prometheus, influxd) are the tests' peers,
# each started privately by its test: the packages' own services are not
# started on install (invoke-rc.d and deb-systemd-invoke ask policy-rc.d).
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 0755 "$policy"
    trap 'rm -f "$policy"' EXIT
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
