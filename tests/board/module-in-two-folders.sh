#!/usr/bin/env bash
# Builds the board's module from two copies of the sources (the files git
# tracks or would, as they are now) in folders of different names and depths, one
# after the other, the second in another time zone, with another umask and
# its sources touched at another time, and checks the two modules are the
# same byte for byte; when not, package/compare.sh names the sections that
# differ and texts found in one only.
# Usage: tests/board/module-in-two-folders.sh SOURCE_DIR LIBRARY_SYSROOT
set -euo pipefail

usage="usage: $0 SOURCE_DIR LIBRARY_SYSROOT"
source_dir=${1:?$usage}
sysroot=${2:?$usage}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

copy() {
    mkdir -p "$1"
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | tar --null -T - --ignore-failed-read -cf -) | tar -C "$1" -xf -
}

build() {
    local source=$1 build=$1/build/module
    cmake -S "$source" -B "$build" --preset mipsel -DQUILL_MIPSEL_SYSROOT="$sysroot" \
        -DQUILL_BUILD_TOOLS=OFF -DQUILL_BUILD_TESTS=OFF >"$work/configure.log" 2>&1 &&
        cmake --build "$build" --target quillmarups >"$work/build.log" 2>&1 ||
        { cat "$work/configure.log" "$work/build.log"; echo "FAILED: the module did not build in $source"; exit 1; }
}

first=$work/a/src
second=$work/another-folder/deeper/quillmarups-copy
copy "$first"
copy "$second"
build "$first"
find "$second" -type f -exec touch -d '2001-02-03 04:05:06' {} +
(umask 0002 && TZ=Pacific/Kiritimati build "$second")

if ! "$source_dir/package/compare.sh" "$first/build/module/quillmarups.so" \
    "$second/build/module/quillmarups.so"; then
    echo "FAILED: the module built in $first and in $second differs"
    exit 1
fi
echo "the module is the same built in two folders: $(sha256sum <"$first/build/module/quillmarups.so" | cut -c1-16)…"
