#!/usr/bin/env bash
# Builds the module with a board vendor's toolchain as README tells: a
# compiler under its own prefix, its own sysroot and extra ABI flags. The
# vendor's toolchain here is Debian's cross toolchain under another name,
# with its runtimes laid out as a vendor's sysroot, and -march=mips32 for
# flags. Checks that every compile of the module used all three and that the
# module passes the symbol check.
# Usage: tests/board/vendor-toolchain.sh SOURCE_DIR LIBRARY_SYSROOT
set -euo pipefail

source_dir=${1:?"usage: $0 SOURCE_DIR LIBRARY_SYSROOT"}
library_sysroot=${2:?"usage: $0 SOURCE_DIR LIBRARY_SYSROOT"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin" "$work/sysroot/usr"
for tool in gcc g++ gcc-ar gcc-nm gcc-ranlib ar ranlib nm objdump readelf strip; do
    printf '#!/bin/sh\nexec mipsel-linux-gnu-%s "$@"\n' "$tool" >"$work/bin/board-linux-$tool"
    chmod +x "$work/bin/board-linux-$tool"
done
ln -s /usr/mipsel-linux-gnu/include "$work/sysroot/usr/include"
ln -s /usr/mipsel-linux-gnu/lib "$work/sysroot/usr/lib"
ln -s /usr/mipsel-linux-gnu/lib "$work/sysroot/lib"

cmake -S "$source_dir" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mipsel.cmake" \
    -DQUILL_MIPSEL_PREFIX="$work/bin/board-linux-" \
    -DQUILL_MIPSEL_TOOLCHAIN_SYSROOT="$work/sysroot" \
    -DQUILL_MIPSEL_ABI_FLAGS=-march=mips32 \
    -DQUILL_MIPSEL_SYSROOT="$library_sysroot" \
    -DQUILL_BUILD_TESTS=OFF -DQUILL_BUILD_TOOLS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$work/build" --target quillmarups >/dev/null

compiles=$(grep -c '"command":' "$work/build/compile_commands.json")
for wanted in "$work/bin/board-linux-g++ " "--sysroot=$work/sysroot " "-march=mips32 "; do
    used=$(grep '"command":' "$work/build/compile_commands.json" | grep -cF -- "$wanted" || true)
    if [ "$used" -ne "$compiles" ]; then
        echo "only $used of $compiles compiles used '$wanted'" >&2
        exit 1
    fi
done
"$source_dir/cmake/check-module-symbols.sh" --target mipsel "$work/build/quillmarups.so" >/dev/null
echo "the module built with the vendor's prefix, sysroot and ABI flags"
