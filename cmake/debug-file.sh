#!/usr/bin/env bash
# The debug information of a binary in a file of its own, found by build id.
#   link OBJCOPY STRIP COMMAND...   runs the link COMMAND, then splits its -o FILE:
#                                   FILE's debug information to FILE.debug, FILE stripped
#   install READELF FILE DEBUG_DIR  FILE.debug to DEBUG_DIR/.build-id/XX/YYYY.debug
# The stripped file keeps its build id and gets no link to its debug file, whose
# name and checksum would tie it to the build.
set -euo pipefail

usage="usage: $0 link OBJCOPY STRIP COMMAND... | install READELF FILE DEBUG_DIR"
action=${1:?$usage}
case "$action" in
link)
    objcopy=${2:?$usage} strip=${3:?$usage}
    shift 3
    file= previous=
    for word in "$@"; do
        [ "$previous" != -o ] || file=$word
        previous=$word
    done
    [ -n "$file" ] || { echo "$0: the link command names no -o FILE: $*" >&2; exit 2; }
    "$@"
    "$objcopy" --only-keep-debug "$file" "$file.debug.new"
    mv "$file.debug.new" "$file.debug"
    "$strip" "$file"
    ;;
install)
    readelf=${2:?$usage} file=${3:?$usage} dir=${4:?$usage}
    id=$("$readelf" -n "$file" | sed -n 's/^ *Build ID: *\([0-9a-f]*\)$/\1/p')
    [ ${#id} -gt 2 ] || { echo "$file: no build id" >&2; exit 1; }
    [ -f "$file.debug" ] || { echo "$file.debug: no such file (is QUILL_SPLIT_DEBUG on?)" >&2; exit 1; }
    target=$dir/.build-id/${id:0:2}/${id:2}.debug
    echo "-- Installing: $target ($(basename "$file"))"
    mkdir -p "$(dirname "$target")"
    install -m 0644 "$file.debug" "$target"
    ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
