#!/usr/bin/env bash
# Unpacks Debian's mipsel builds of the libraries the module and its tests link
# (jsoncpp, Boost, Google Benchmark) into a sysroot inside the build tree, so that nothing foreign
# is installed system-wide. The C and C++ runtimes come with the cross
# toolchain in /usr/mipsel-linux-gnu. Given packages are unpacked instead of
# those (the emulated board's root). Does nothing when the sysroot already
# holds this package list. With --apart, each package goes to a folder of its
# own, SYSROOT/PACKAGE, with its control files (shlibs, symbols) in DEBIAN/,
# where dpkg-shlibdeps -S reads them.
# Usage: cmake/fetch-mipsel-sysroot.sh [--apart] [SYSROOT [PACKAGE...]]   (default build/sysroot-mipsel)
set -euo pipefail

apart=
if [ "${1:-}" = --apart ]; then
    apart=--apart
    shift
fi
sysroot=${1:-build/sysroot-mipsel}
shift $(($# > 0 ? 1 : 0))
packages=(
    libjsoncpp25 libjsoncpp-dev
    libboost1.74-dev
    libboost-date-time1.74.0 libboost-date-time1.74-dev
    libboost-thread1.74.0 libboost-thread1.74-dev
    libboost-atomic1.74.0 libboost-atomic1.74-dev
    libbenchmark1debian libbenchmark-dev
)
if [ $# -gt 0 ]; then
    packages=("$@")
fi
stamp="$sysroot/.packages"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$apart${apart:+ }${packages[*]}" ]; then
    exit 0
fi

# apt can only name a :mipsel package once the architecture is known and the
# package index for it has been read.
if ! apt-cache show libjsoncpp25:mipsel >/dev/null 2>&1; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "the mipsel package index is missing; as root, run:" >&2
        echo "  dpkg --add-architecture mipsel && apt-get update" >&2
        exit 1
    fi
    dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel
    echo "reading the package index for mipsel"
    apt-get -o DPkg::Lock::Timeout=300 update -qq
fi

debs="$sysroot/debs"
rm -rf "$debs"
mkdir -p "$debs"
echo "fetching into $sysroot: ${packages[*]}"
# apt's download user may not reach the build tree; root then fetches itself.
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
download() { (cd "$debs" && apt-get download -qq "${sandbox[@]}" "${packages[@]/%/:mipsel}"); }
# A stale package index names versions the archive no longer has: read it anew once.
if ! download; then
    [ "$(id -u)" -eq 0 ] || exit 1
    apt-get -o DPkg::Lock::Timeout=300 update -qq
    rm -f "$debs"/*.deb
    download
fi
for deb in "$debs"/*.deb; do
    if [ -n "$apart" ]; then
        package=$(basename "${deb%%_*}")
        rm -rf "${sysroot:?}/$package"
        dpkg -x "$deb" "$sysroot/$package"
        dpkg-deb -e "$deb" "$sysroot/$package/DEBIAN"
    else
        dpkg -x "$deb" "$sysroot"
    fi
done
rm -rf "$debs"
echo "$apart${apart:+ }${packages[*]}" >"$stamp"
