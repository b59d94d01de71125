#!/usr/bin/env bash
# The one version, everywhere: the module carries it in its .comment section
# (read without loading it), each program's --version says it, and smdhost
# reads it from the module named with --module.
# Usage: check-version.sh VERSION_HEADER MODULE ELF_KIND PROGRAM... [-- EMULATOR...]
set -uo pipefail
header=$1 module=$2 kind=$3
shift 3
programs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do programs+=("$1"); shift; done
[ $# -gt 0 ] && shift
run=("$@")

version=$(sed -n 's/^#define QUILL_VERSION "\(.*\)"$/\1/p' "$header")
[ -n "$version" ] || { echo "no version in $header"; exit 1; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }

comment=$(readelf -p .comment "$module")
grep -qF "quillmarups $version" <<<"$comment" ||
    fail "the module's .comment lacks \"quillmarups $version\": $comment"
for program in "${programs[@]}"; do
    name=$(basename "$program")
    said=$("${run[@]}" "$program" --version | head -n 1)
    [ "$said" = "$name $version" ] || fail "$name --version says \"$said\", not \"$name $version\""
done
for program in "${programs[@]}"; do
    [ "$(basename "$program")" = smdhost ] || continue
    said=$("${run[@]}" "$program" --version --module "$module" | sed -n 2p)
    [ "$said" = "module $module: quillmarups $version, $kind" ] ||
        fail "smdhost --version --module says \"$said\""
done
[ $failed -eq 0 ] && echo "version $version in the module and every program"
exit $failed
