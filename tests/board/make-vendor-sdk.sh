#!/usr/bin/env bash
# Lays out Debian's mipsel cross toolchain as a board vendor ships one, in a
# folder of its own: GCC relocates itself by where its programs lie, so the
# compiler, its own headers and libraries, the C++ library's headers, and a
# sysroot with the C library, the C++ runtime, jsoncpp and Boost's headers
# are all found under SDK, and nothing of the build machine's cross folders
# (/usr/mipsel-linux-gnu, /usr/lib/gcc-cross) is read. Like a vendor's, the
# sysroot keeps its libraries in usr/lib (lib is a link to it), holds no CMake
# package files and no compiled Boost library. Files are hard links where the
# file system allows (copies otherwise); the C library's linker script is
# rewritten to name its files inside the sysroot.
# Usage: tests/board/make-vendor-sdk.sh SDK LIBRARY_SYSROOT   (LIBRARY_SYSROOT: make mipsel-deps)
set -euo pipefail

usage="usage: $0 SDK LIBRARY_SYSROOT"
sdk=${1:?$usage}
libraries=${2:?$usage}
triple=mipsel-linux-gnu
gcc_dir=$(dirname "$("$triple-gcc" -print-libgcc-file-name)")   # /usr/lib/gcc-cross/TRIPLE/VERSION
version=$(basename "$gcc_dir")
runtime=/usr/$triple
[ -d "$runtime/lib" ] && [ -d "$libraries/usr/include/boost" ] ||
    { echo "$0: no $runtime or no $libraries/usr/include/boost (make mipsel-deps)" >&2; exit 2; }

# Links FROM to TO (files and trees), copying where a hard link cannot go.
place() { cp -al "$1" "$2" 2>/dev/null || cp -a "$1" "$2"; }

rm -rf "$sdk"
mkdir -p "$sdk/bin" "$sdk/lib/gcc-cross/$triple" "$sdk/$triple/bin" "$sdk/$triple/include" \
    "$sdk/sysroot/usr/include" "$sdk/sysroot/usr/lib"

# The compiler: its drivers and binutils under the vendor's prefix, its own
# programs, headers, start files and libgcc where the drivers look for them.
for tool in gcc g++ cpp gcc-ar gcc-nm gcc-ranlib; do
    place "$(readlink -f "/usr/bin/$triple-$tool")" "$sdk/bin/$triple-$tool"
done
for tool in addr2line ar as ld nm objcopy objdump ranlib readelf strip; do
    place "$(readlink -f "/usr/bin/$triple-$tool")" "$sdk/bin/$triple-$tool"
done
place "$sdk/bin/$triple-as" "$sdk/$triple/bin/as"
place "$sdk/bin/$triple-ld" "$sdk/$triple/bin/ld"
place "$gcc_dir" "$sdk/lib/gcc-cross/$triple/$version"
# The C++ runtime and its kin belong to the sysroot, as in a vendor's SDK:
# left beside the compiler, its static copy would be found before the
# sysroot's shared one.
runtime_libraries=(libstdc++ libsupc++ libstdc++fs libatomic libgomp)
for library in "${runtime_libraries[@]}"; do
    for file in "$sdk/lib/gcc-cross/$triple/$version/$library".*; do
        [ -L "$file" ] || place "$file" "$sdk/sysroot/usr/lib/"
        rm -f "$file"
    done
done
place "$runtime/include/c++" "$sdk/$triple/include/c++"

# The sysroot: the C library's headers and jsoncpp's and Boost's, the runtimes
# and jsoncpp's library.
for entry in "$runtime"/include/*; do
    [ "$(basename "$entry")" = c++ ] || place "$entry" "$sdk/sysroot/usr/include/"
done
place "$libraries/usr/include/boost" "$sdk/sysroot/usr/include/boost"
place "$libraries/usr/include/jsoncpp" "$sdk/sysroot/usr/include/jsoncpp"
for entry in "$runtime"/lib/*; do
    [ "$(basename "$entry")" = libc.so ] || place "$entry" "$sdk/sysroot/usr/lib/"
done
sed "s|$runtime/lib/|/usr/lib/|g" "$runtime/lib/libc.so" >"$sdk/sysroot/usr/lib/libc.so"
for link in libstdc++.so:libstdc++.so.6 libatomic.so:libatomic.so.1 libgomp.so:libgomp.so.1; do
    ln -s "${link#*:}" "$sdk/sysroot/usr/lib/${link%%:*}"
done
place "$libraries/usr/lib/$triple/libjsoncpp.so.25" "$sdk/sysroot/usr/lib/"
place "$(readlink -f "$libraries/usr/lib/$triple/libjsoncpp.so.25")" "$sdk/sysroot/usr/lib/"
ln -s libjsoncpp.so.25 "$sdk/sysroot/usr/lib/libjsoncpp.so"
ln -s usr/lib "$sdk/sysroot/lib"
echo "$0: $sdk: bin/$triple-g++ (GCC $version), sysroot/"
