#!/usr/bin/env bash
# Whether two builds of a file are the same, byte for byte, and if not, what
# differs: in an ELF file its sections (and texts found in one only, such as
# a folder's name), in a .tar.gz, .tar or .deb its members, each compared the
# same way. For a closer look: diffoscope FILE_A FILE_B.
# Usage: package/compare.sh FILE_A FILE_B   (status 0: the same; 1: they differ)
set -uo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=0

# Says where two files differ, prefixed with what holds them.
compare() {
    local a=$1 b=$2 where=$3
    cmp -s "$a" "$b" && return 0
    if readelf -h "$a" >/dev/null 2>&1 && readelf -h "$b" >/dev/null 2>&1; then
        elf "$a" "$b" "$where"
    elif gzip -t "$a" 2>/dev/null && gzip -t "$b" 2>/dev/null; then
        gzipped "$a" "$b" "$where"
    elif tar -tf "$a" >/dev/null 2>&1 && tar -tf "$b" >/dev/null 2>&1; then
        archive tar "$a" "$b" "$where"
    elif ar t "$a" >/dev/null 2>&1 && ar t "$b" >/dev/null 2>&1; then
        archive ar "$a" "$b" "$where"
    else
        echo "$where: the contents differ (sizes $(stat -c %s "$a") and $(stat -c %s "$b"))"
    fi
    return 1
}

# Section names in the file's order.
sections() { readelf -SW "$1" 2>/dev/null | sed -n 's/^ *\[ *[0-9]*\] \([^ ]*\) .*/\1/p'; }

elf() {
    local a=$1 b=$2 where=$3 differing=() name only
    while read -r name; do
        [ -n "$name" ] || continue
        cmp -s <(readelf -x "$name" "$a" 2>&1 | tail -n +2) <(readelf -x "$name" "$b" 2>&1 | tail -n +2) ||
            differing+=("$name")
    done < <(cat <(sections "$a") <(sections "$b") | awk '!seen[$0]++')
    echo "$where: ELF sections that differ, in the file's order: ${differing[*]:-none (the headers do)}"
    # Paths first: a folder of the build is the usual cause.
    only=$(diff <(strings -n 8 "$a" | sort -u) <(strings -n 8 "$b" | sort -u) | sed -n 's/^[<>] //p' |
        awk '/\// { print; next } { rest[++n] = $0 } END { for (i = 1; i <= n; i++) print rest[i] }' |
        head -n 4)
    [ -z "$only" ] || echo "$where: texts in one build only, e.g.: $(paste -sd'|' <<<"$only")"
}

gzipped() {
    local a=$1 b=$2 where=$3 n=$((++count))
    # The header: bytes 3 (flags: a name stored) and 4-7 (the time).
    cmp -s <(head -c 8 "$a") <(head -c 8 "$b") ||
        echo "$where: the gzip headers differ (a name or time stored: gzip -n leaves them out)"
    gzip -dc "$a" >"$work/$n.a"
    gzip -dc "$b" >"$work/$n.b"
    compare "$work/$n.a" "$work/$n.b" "$where (uncompressed)"
}

archive() {
    local kind=$1 a=$2 b=$3 where=$4 n=$((++count)) member members
    mkdir -p "$work/$n.a" "$work/$n.b"
    if [ "$kind" = tar ]; then
        # Owners, modes and times are in the listing; the contents are compared below.
        diff <(tar --numeric-owner -tvf "$a" | LC_ALL=C sort -k6) \
            <(tar --numeric-owner -tvf "$b" | LC_ALL=C sort -k6) |
            sed -n "s|^< |$where: member in the first: |p; s|^> |$where: member in the second: |p"
        cmp -s <(tar -tf "$a") <(tar -tf "$b") || echo "$where: the members are in another order"
        tar -C "$work/$n.a" -xf "$a" && tar -C "$work/$n.b" -xf "$b"
        members=$(tar -tf "$a")
    else
        (cd "$work/$n.a" && ar x "$a") && (cd "$work/$n.b" && ar x "$b")
        cmp -s <(ar tv "$a") <(ar tv "$b") || echo "$where: the ar members' list, owners or times differ"
        members=$(ar t "$a")
    fi
    while read -r member; do
        [ -f "$work/$n.a/$member" ] && [ -f "$work/$n.b/$member" ] || continue
        compare "$work/$n.a/$member" "$work/$n.b/$member" "$where: member $member"
    done <<<"$members"
}

usage="usage: $0 FILE_A FILE_B"
a=$(realpath "${1:?$usage}") b=$(realpath "${2:?$usage}")
compare "$a" "$b" "$(basename "$1")" && exit 0
exit 1
