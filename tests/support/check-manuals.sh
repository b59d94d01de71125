#!/usr/bin/env bash
# The manual page and bash completion that each program writes from its
# options table: the page sets without a warning, the completion offers every
# option --help lists, and the program's manual in docs/ names each of them.
# Usage: check-manuals.sh DOCS_DIR PROGRAM...
set -uo pipefail
docs=$1
shift
failed=0
fail() { echo "FAIL: $*"; failed=1; }

for program in "$@"; do
    name=$(basename "$program")
    options=$("$program" --help | grep -oE '^  (-[a-zA-Z], |    )--[a-z-]+' | grep -oE -- '--[a-z-]+')
    [ -n "$options" ] || fail "$name --help lists no option"

    warnings=$("$program" --manual-page | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$name's manual page: $warnings"
    page=$("$program" --manual-page | groff -man -Tutf8 -P-cbou 2>/dev/null)

    offered=$(bash -c 'source <("$1" --bash-completion) || exit 1
        COMP_WORDS=("$2" --); COMP_CWORD=1; "_$2"; printf "%s\n" "${COMPREPLY[@]}"' _ "$program" "$name")
    for option in $options; do
        grep -qxF -- "$option" <<<"$offered" || fail "$name's completion does not offer $option"
        grep -qF -- "$option" <<<"$page" || fail "$name's manual page lacks $option"
        grep -qF -- "$option" "$docs/$name.md" || fail "docs/$name.md does not name $option"
    done
done
[ $failed -eq 0 ] && echo "manual pages, completions and docs/ agree with --help"
exit $failed
