#!/usr/bin/env bash
# The manual page and bash completion that each program writes from its
# options table: the page sets without a warning, the completion offers every
# option --help lists and shows folders to go into, and the program's manual
# in docs/ names each of them. The pages point at the installed manuals, not
# at a source tree; a page with a CONFIGURATION (made from the table the
# configuration is read by) has each of its keys named in docs/ too. smdhist
# completes a zone from the zone database.
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
    grep -qF "/usr/share/doc/quillmarups-tools" <<<"$page" || fail "$name's manual page does not say where the manuals are"
    grep -qF "of its source" <<<"$page" && fail "$name's manual page points at a source tree"
    grep -qF "complete -o filenames -F _$name $name" <("$program" --bash-completion) ||
        fail "$name's completion does not complete folders as folders (-o filenames)"

    # The keys of the configuration: the terms of each "Keys of ..." part.
    keys=$("$program" --manual-page | awk '/^\.SH /{on = $2 == "CONFIGURATION"}
        on && previous == ".TP" {gsub(/\\f[BR]/, ""); print} {previous = $0}')
    for key in $keys; do
        grep -qF -- "\`$key\`" "$docs/$name.md" || fail "docs/$name.md does not name the configuration key $key"
    done
done

smdhist=$(printf '%s\n' "$@" | grep '/smdhist$' | head -n 1)
if [ -n "$smdhist" ] && [ -r /usr/share/zoneinfo/tzdata.zi ]; then
    zones=$(bash -c 'source <("$1" --bash-completion) || exit 1
        COMP_WORDS=(smdhist --zone Europe/Be); COMP_CWORD=2; _smdhist; printf "%s\n" "${COMPREPLY[@]}"' _ "$smdhist")
    grep -qxF Europe/Berlin <<<"$zones" || fail "smdhist --zone Europe/Be does not complete to Europe/Berlin: $zones"
fi
[ $failed -eq 0 ] && echo "manual pages, completions and docs/ agree with --help"
exit $failed
