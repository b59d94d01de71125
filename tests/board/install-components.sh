#!/usr/bin/env bash
# What `cmake --install` puts on a board: by default the module alone (the
# controller keeps its own host library), the very file the build made; with
# --component tools the bench host and the stand-in host library in a folder
# of their own, where the bench host finds it from where it is; with
# --component debug the debug files, found by build id, which turn an address
# in the stripped module into a source line.
# Usage: tests/board/install-components.sh BUILD_DIR READELF ADDR2LINE
set -euo pipefail

usage="usage: $0 BUILD_DIR READELF ADDR2LINE"
build=${1:?$usage}
readelf=${2:?$usage}
addr2line=${3:?$usage}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

installed() { (cd "$root/$1" && find . -type f | sort | paste -sd' '); }
fail() { echo "$*" >&2; exit 1; }
build_id() { "$readelf" -n "$1" | sed -n 's/^ *Build ID: *//p'; }

cmake --install "$build" --prefix "$root/module" >/dev/null
cmake --install "$build" --prefix "$root/tools" --component tools >/dev/null
cmake --install "$build" --prefix "$root/debug" --component debug >/dev/null

module=$root/module/lib/smd/modules/quillmarups.so
[ "$(installed module)" = ./lib/smd/modules/quillmarups.so ] ||
    fail "the default install holds $(installed module), not the module alone"
cmp -s "$build/quillmarups.so" "$module" ||
    fail "the installed module is not the file the build made, which README says to copy"
"$source_dir/cmake/check-module-symbols.sh" --target mipsel "$module" >/dev/null
for file in bin/smdhost bin/smdhist bin/upssim lib/smdhost/libsmdhost_framework.so \
    share/man/man1/smdhost.1.gz share/bash-completion/completions/smdhist \
    share/smdhost/init.d/smdhost lib/systemd/system/smdhost.service; do
    [ -f "$root/tools/$file" ] || fail "the tools component lacks $file: $(installed tools)"
done
[[ "$(installed tools)" != *quillmarups* ]] || fail "the tools component holds the module"
[ -x "$root/tools/share/smdhost/init.d/smdhost" ] || fail "the init script is not executable"
readelf -d "$root/tools/bin/smdhost" | grep -qF '[$ORIGIN/../lib/smdhost]' ||
    fail "smdhost does not look for its host library in ../lib/smdhost"
readelf -d "$root/tools/bin/smdhost" | grep -qF '[libsmdhost_framework.so]' ||
    fail "smdhost does not ask for the stand-in host library by its own name"

# Stripped, and each debug file where its build id says.
for file in "$module" "$root"/tools/bin/* "$root"/tools/lib/smdhost/*; do
    ! "$readelf" -S "$file" | grep -qE '\.(debug_info|symtab)' || fail "$file is not stripped"
    id=$(build_id "$file")
    [ -n "$id" ] || fail "$file has no build id"
    [ -f "$root/debug/lib/debug/.build-id/${id:0:2}/${id:2}.debug" ] ||
        fail "no debug file for $file by its build id $id: $(installed debug)"
done

# A crash address in the module, as an offset in the file: that of get_providers.
id=$(build_id "$module")
address=$("$readelf" --dyn-syms --wide "$module" | awk '$8 == "get_providers" { print $2 }')
line=$("$addr2line" -e "$root/debug/lib/debug/.build-id/${id:0:2}/${id:2}.debug" "0x$address")
[[ "$line" == *plugin/Entry.cpp:[0-9]* ]] ||
    fail "address 0x$address of get_providers reads as $line, not a line of plugin/Entry.cpp"
echo "the module alone by default, the tools as a component, debug files by build id" \
    "(0x$address is $line)"
