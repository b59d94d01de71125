#!/usr/bin/env bash
# A release's files, from the build machine's release build and the board's
# (the release and release-mipsel presets), into OUT:
#   quillmarups-V-mipsel.tar.gz        the board's archive: README, NEWS.md,
#                                      SHA256SUMS and usr/ as on the board's root
#   quillmarups-V-mipsel-debug.tar.gz  the debug files of its binaries, by build id
#   *.deb                              quillmarups (the module) and quillmarups-tools,
#                                      for each architecture, made by CPack
#   SHA256SUMS                         of all of these
# The same commit gives the same archives: members sorted by name, owned by
# root, dated SOURCE_DATE_EPOCH (by default the last commit's time), modes
# without the builder's umask, gzip without a name or time. A version that
# NEWS.md does not name is refused.
# Usage: package/make-packages.sh OUT NATIVE_BUILD BOARD_BUILD
set -euo pipefail

usage="usage: $0 OUT NATIVE_BUILD BOARD_BUILD"
out=${1:?$usage}
native=$(cd "${2:?$usage}" && pwd)
board=$(cd "${3:?$usage}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "package: error: $*" >&2; exit 1; }

# CPack gives the members of a .deb's outer archive the modes of the files it
# writes, which the umask decides.
umask 022

cached() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }
full_version() { sed -n 's/^#define QUILL_VERSION "\(.*\)"$/\1/p' "$1/generated/QuillVersion.h"; }
version=$(cached CMAKE_PROJECT_VERSION "$native")
full=$(full_version "$native")
[ -n "$version" ] && [ -n "$full" ] || fail "$native is no release build (cmake --preset release)"
[ "$(full_version "$board")" = "$full" ] ||
    fail "$native is $full and $board is $(full_version "$board"): build both from one commit"
"$top/package/news-to-changelog.sh" --check "$top" "$version"
if [ -e "$top/.git" ] && [ -n "$(git -C "$top" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    echo "package: warning: the checkout has changes no commit holds; the packages say $full" >&2
fi
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$("$top/package/news-to-changelog.sh" --commit-time "$top")}
export SOURCE_DATE_EPOCH

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)

# FOLDER (inside the work folder) as OUT/NAME.
archive() {
    tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
        --mode=u+rwX,go=rX --format=gnu -cf - "$1" | gzip -9 -n >"$out/$2"
}

# The libraries FILES need and the newest version they ask of each runtime.
needs() {
    local libraries newest
    libraries=$(for file in "$@"; do readelf -dW "$file"; done |
        sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^libsmdhost_framework' | LC_ALL=C sort -u | paste -sd' ')
    newest=$(for file in "$@"; do readelf -VW "$file"; done |
        sed -n 's/.*Name: \([A-Z]*_\)\([0-9.]*\) .*/\1 \2/p' | sort -k1,1 -k2,2V |
        awk '{ last[$1] = $1 $2 } END { for (k in last) print last[k] }' | LC_ALL=C sort | paste -sd' ')
    echo "$libraries; newest versions $newest"
}

# ---- The board's archive and its debug files ------------------------------------
name=quillmarups-$version-mipsel
stage=$work/$name
cmake --install "$board" --prefix "$stage/usr" >/dev/null
cmake --install "$board" --prefix "$stage/usr" --component tools >/dev/null
module_needs=$("$top/cmake/check-module-symbols.sh" --target mipsel "$stage/usr/lib/smd/modules/quillmarups.so" |
    sed -n 's/.*: needs //p')
tools_need=$(needs "$stage"/usr/bin/* "$stage"/usr/lib/smdhost/*)
sed -e "s|@VERSION@|$version|g" -e "s|@FULL_VERSION@|$full|g" -e "s|@MODULE_NEEDS@|$module_needs|" \
    -e "s|@TOOLS_NEED@|$tools_need|" "$top/package/README.board" >"$stage/README"
cp "$top/NEWS.md" "$stage/NEWS.md"
(cd "$stage" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum >"$work/SHA256SUMS" &&
    mv "$work/SHA256SUMS" SHA256SUMS)
archive "$name" "$name.tar.gz"

cmake --install "$board" --prefix "$work/$name-debug/usr" --component debug >/dev/null
archive "$name-debug" "$name-debug.tar.gz"

# ---- The Debian packages ------------------------------------------------------------
for build in "$native" "$board"; do
    (cd "$build" && cpack -B "$work/cpack" >"$work/cpack.log" 2>&1) ||
        { cat "$work/cpack.log" >&2; fail "cpack failed in $build"; }
    mv "$work"/cpack/*.deb "$out/"
    rm -rf "$work/cpack"
done

(cd "$out" && sha256sum -- *.tar.gz *.deb >SHA256SUMS)
echo "package: quillmarups $full in $out:"
(cd "$out" && for file in *; do printf '  %-44s %8d bytes\n' "$file" "$(stat -c %s "$file")"; done)
