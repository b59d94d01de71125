#!/usr/bin/env bash
# The Depends of one package of a build: the files of its component installed
# into a throwaway folder laid out as a package's build tree, and dpkg-shlibdeps
# on every ELF file among them. For the board (mipsel) dpkg-shlibdeps reads the
# shlibs and symbols files of Debian's mipsel runtime packages, unpacked apart
# into BUILD_DIR/runtime-packages (nothing is installed); a library it cannot
# find there stops it, naming the library, rather than leaving a dependency out.
# Usage: package/depends.sh ARCHITECTURE BUILD_DIR COMPONENT   (prints the Depends value)
set -euo pipefail

usage="usage: $0 ARCHITECTURE BUILD_DIR COMPONENT"
architecture=${1:?$usage}
build=$(cd "${2:?$usage}" && pwd)
component=${3:?$usage}
top=$(cd "$(dirname "$0")/.." && pwd)
# The libraries the board's files need, by their Debian packages.
board_runtime=(libc6 libstdc++6 libgcc-s1 libjsoncpp25)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/package
mkdir -p "$root/DEBIAN" "$work/debian"
: >"$work/debian/control"
cmake --install "$build" --component "$component" --prefix "$root/usr" >/dev/null

elf_files=()
while IFS= read -r -d '' file; do
    readelf -h "$file" >/dev/null 2>&1 && elf_files+=("$file")
done < <(find "$root/usr" -type f -print0 | sort -z)
[ ${#elf_files[@]} -gt 0 ] || { echo "$0: the $component component installs no ELF file" >&2; exit 1; }

options=()
if [ "$architecture" != "$(dpkg --print-architecture)" ]; then
    [ "$architecture" = mipsel ] || { echo "$0: no runtime packages known for $architecture" >&2; exit 2; }
    runtime=$build/runtime-packages
    "$top/cmake/fetch-mipsel-sysroot.sh" --apart "$runtime" "${board_runtime[@]}" >&2
    for package in "${board_runtime[@]}"; do
        options+=("-S$runtime/$package")
    done
    export DEB_HOST_ARCH=$architecture
fi

# The stand-in host library has no version in its name: it is the package's
# own, found through $ORIGIN, and needs no dependency, which is what this
# warning of dpkg-shlibdeps says.
(cd "$work" && dpkg-shlibdeps "${options[@]}" -O "${elf_files[@]}") 2> >(
    grep -v "can't extract name and version from library name 'libsmdhost_framework.so'" >&2) |
    sed -n 's/^shlibs:Depends=//p'
