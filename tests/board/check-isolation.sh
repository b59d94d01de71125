#!/usr/bin/env bash
# Shows where a build of the module took its headers and libraries from: the
# compiler's dependency files of the module's objects and, when given, the
# link map of the module. Every header and every library must lie under one of
# the ROOTs (the vendor's toolchain and sysroot) or be the project's own;
# paths are taken as the compiler and the linker opened them, with "." and
# ".." resolved but symbolic links not followed.
# Prints how many of each came from where; names each one from elsewhere and
# exits 1 if there is any.
# Usage: tests/board/check-isolation.sh BUILD_DIR MAP|- ROOT...
set -euo pipefail

usage="usage: $0 BUILD_DIR MAP|- ROOT..."
build=$(cd "${1:?$usage}" && pwd)
map=${2:?$usage}
shift 2
[ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
roots=()
for root in "$@"; do
    roots+=("$(realpath -m -s "$root")")
done
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
objects=$build/CMakeFiles/quillmarups_objects.dir
[ -d "$objects" ] || { echo "$objects: no objects of the module" >&2; exit 2; }

# Each path once, absolute and normalised, from the make rules of the dependency files.
headers() {
    find "$objects" -name '*.o.d' -exec cat {} + |
        tr ' \\' '\n\n' | grep -v -e ':$' -e '^$' | (cd "$build" && xargs realpath -m -s) | sort -u
}

# The input files of the link: what the map says it loaded.
link_inputs() {
    [ "$map" != - ] || return 0
    sed -n 's/^LOAD \(.*\)$/\1/p' "$map" | (cd "$build" && xargs realpath -m -s) | sort -u
}

outside=0
# Sorts the paths of one kind (standard input) by where they lie: the ROOTs,
# the project's own (its sources and the headers its build makes, such as
# the version, but not what its build folders hold otherwise, such as the
# fetched build/sysroot-mipsel), or elsewhere. KIND.
tell() {
    awk -v kind="$1" -v sources="$source_dir/" -v made="$build/generated/" -v roots="${roots[*]}" '
        BEGIN { n = split(roots, root, " ") }
        {
            total++
            for (i = 1; i <= n; i++) if (index($0, root[i] "/") == 1) next
            if (index($0, made) == 1) { own++; next }
            if (index($0, sources) == 1 && index($0, sources "build/") != 1) { own++; next }
            stray[++strays] = $0
        }
        END {
            if (strays == 0) {
                printf "isolation: %d %s, %d of them the project'"'"'s own, all others from %s\n", total, kind, own, roots
                exit 0
            }
            printf "isolation: %d of %d %s from outside %s, e.g.:\n", strays, total, kind, roots
            for (i = 1; i <= strays && i <= 10; i++) print "  " stray[i]
            exit 1
        }'
}

headers | tell "headers of the module's sources" || outside=1
if [ "$map" != - ]; then
    # The build's own objects, and what link-time optimisation compiles at the link.
    link_inputs | grep -v -E -e "^$build/" -e '/cc[[:alnum:]]+\.(ltrans[0-9]+\.ltrans|debug\.temp)\.o$' |
        tell "libraries and start files of the link" || outside=1
fi
[ "$outside" -eq 0 ]
