#!/usr/bin/env bash
# package/compare.sh, which the reproducibility checks rely on to say what
# differs, on files that differ in known ways: a module with another version
# text names .comment and the text; archives name the gzip header, the member
# whose contents differ and the one dated otherwise; equal files pass.
# Usage: check-compare.sh COMPARE MODULE
set -uo pipefail

compare=${1:?"usage: $0 COMPARE MODULE"}
module=${2:?"usage: $0 COMPARE MODULE"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# CASE WANTED...: compare.sh on the case's two files fails, saying each WANTED.
expect() {
    local case=$1 said
    shift
    said=$("$compare" "$work/$case.a" "$work/$case.b") && { echo "FAIL: $case: found the same"; failed=1; return; }
    for wanted in "$@"; do
        [[ "$said" == *"$wanted"* ]] || { echo "FAIL: $case: \"$wanted\" not in: $said"; failed=1; }
    done
}

cp "$module" "$work/elf.a"
perl -0777 -pe 's/quillmarups 1\./quillmarups 9./' "$module" >"$work/elf.b"
expect elf "ELF sections that differ, in the file's order: .comment" "texts in one build only, e.g.: quillmarups "

# Two archives of one folder: one member changed, one dated otherwise, the
# second compressed with a name and a time.
mkdir -p "$work/tree/top"
echo one >"$work/tree/top/one"
echo two >"$work/tree/top/two"
tarred() { tar -C "$work/tree" --sort=name --owner=0 --group=0 --numeric-owner --format=gnu -cf - top; }
tarred | gzip -n >"$work/archive.a"
echo TWO >"$work/tree/top/two"
touch -d '2001-02-03 04:05:06' "$work/tree/top/one"
tarred >"$work/tree/archive.tar"
gzip -c "$work/tree/archive.tar" >"$work/archive.b"
expect archive "the gzip headers differ" "member top/two: the contents differ" \
    "member in the second: -rw-r--r-- 0/0" "2001-02-03 04:05 top/one"

cp "$work/archive.a" "$work/same.b"
"$compare" "$work/archive.a" "$work/same.b" >/dev/null || { echo "FAIL: a copy was found to differ"; failed=1; }
[ $failed -eq 0 ] && echo "compare.sh names the section, the header and the members that differ"
exit $failed
