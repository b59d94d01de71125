#!/usr/bin/env bash
# What `cmake --install` puts on a board: by default the module alone (the
# controller keeps its own host library); with --component tools the bench
# host and the stand-in host library in a folder of their own, where the
# bench host finds it from where it is.
# Usage: tests/board/install-components.sh BUILD_DIR
set -euo pipefail

build=${1:?"usage: $0 BUILD_DIR"}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

installed() { (cd "$root/$1" && find . -type f | sort | paste -sd' '); }
fail() { echo "$*" >&2; exit 1; }

cmake --install "$build" --prefix "$root/module" >/dev/null
cmake --install "$build" --prefix "$root/tools" --component tools >/dev/null

[ "$(installed module)" = ./lib/smd/modules/quillmarups.so ] ||
    fail "the default install holds $(installed module), not the module alone"
for file in bin/smdhost lib/smdhost/libsmd_framework.so share/smdhost/init.d/smdhost \
    lib/systemd/system/smdhost.service; do
    [ -f "$root/tools/$file" ] || fail "the tools component lacks $file: $(installed tools)"
done
[[ "$(installed tools)" != *quillmarups* ]] || fail "the tools component holds the module"
[ -x "$root/tools/share/smdhost/init.d/smdhost" ] || fail "the init script is not executable"
readelf -d "$root/tools/bin/smdhost" | grep -qF '[$ORIGIN/../lib/smdhost]' ||
    fail "smdhost does not look for its host library in ../lib/smdhost"
echo "the module alone by default, the tools as a component"
