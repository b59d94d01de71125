#!/usr/bin/env bash
# NEWS.md, the list of what each version brought, for the packages.
#   --check SOURCE_DIR [VERSION]
#       fails unless NEWS.md's newest version is VERSION (by default the one
#       project() in CMakeLists.txt gives): a release says what it brings
#       before it is packaged.
#   --changelog SOURCE_DIR PACKAGE VERSION MAINTAINER OUTPUT
#       writes NEWS.md as PACKAGE's Debian changelog, compressed (gzip -9n):
#       one entry per version, newest first, each item as NEWS words it. The
#       newest is dated SOURCE_DATE_EPOCH (else the last commit); an older one
#       by the last commit whose project() carried its version, where git can
#       tell, else as the newest.
#   --commit-time SOURCE_DIR
#       the seconds since 1970 of the commit the sources are: git's, else what
#       a source export (git archive) wrote in package/export-commit, else
#       NEWS.md's own time (with a warning).
set -euo pipefail

usage="usage: $0 --check SOURCE_DIR [VERSION] | --changelog SOURCE_DIR PACKAGE VERSION MAINTAINER OUTPUT | --commit-time SOURCE_DIR"
mode=${1:?$usage}
source_dir=${2:?$usage}
news=$source_dir/NEWS.md

# The versions NEWS.md names, newest first.
versions() { sed -n 's/^## \([0-9][0-9A-Za-z.~+-]*\)[[:space:]]*$/\1/p' "$news"; }

check() {
    local version=$1 newest
    [ -f "$news" ] || { echo "package: error: $news is missing: it tells what each version brought" >&2; exit 1; }
    newest=$(versions | head -n 1)
    if [ "$newest" != "$version" ]; then
        echo "package: error: NEWS.md does not name version $version as its newest" \
            "(${newest:-no version}): add what $version brings under \"## $version\" at its top" >&2
        exit 1
    fi
}

# Seconds since 1970 of the last commit: git's (only in a checkout of its own,
# never of a checkout the sources lie in), a source export's, or NEWS.md's.
last_commit() {
    local exported
    if [ -e "$source_dir/.git" ] && git -C "$source_dir" log -1 --format=%ct 2>/dev/null; then
        return
    fi
    exported=$(sed -n 's/^[0-9a-f]\{40\} \([0-9][0-9]*\)$/\1/p' "$source_dir/package/export-commit" 2>/dev/null)
    if [ -n "$exported" ]; then
        echo "$exported"
        return
    fi
    echo "package: warning: $source_dir is no git checkout and no source export (git archive):" \
        "NEWS.md's time dates the packages, and the version names no commit" >&2
    stat -c %Y "$news"
}

# The date of an older version: the parent of the commit that took its
# version out of project().
released() {
    local version=$1 newest=$2 change
    [ -e "$source_dir/.git" ] && change=$(git -C "$source_dir" log -1 --format=%H -S"VERSION $version " -- CMakeLists.txt 2>/dev/null) &&
        [ -n "$change" ] && git -C "$source_dir" log -1 --format=%ct "$change^" 2>/dev/null && return
    echo "$newest"
}

# The items of one version's section, each on one line, without markup.
items() {
    awk -v version="$1" '
        /^## / { inside = ($2 == version); next }
        !inside { next }
        /^- / { if (item != "") print item; item = substr($0, 3); next }
        /^  +[^ ]/ && item != "" { sub(/^ +/, ""); item = item " " $0; next }
        { if (item != "") print item; item = "" }
        END { if (item != "") print item }' "$news" | tr -d '`'
}

# One item as a changelog line: "  * " and the words wrapped at 78 columns.
bullet() {
    fold -s -w 74 <<<"$1" | sed -e 's/ *$//' -e '1s/^/  * /' -e '2,$s/^/    /'
}

changelog() {
    local package=$1 version=$2 maintainer=$3 newest date first=true
    newest=${SOURCE_DATE_EPOCH:-$(last_commit)}
    for each in $(versions); do
        date=$newest
        $first || date=$(released "$each" "$newest")
        $first || echo
        first=false
        printf '%s (%s) unstable; urgency=medium\n\n' "$package" "$each"
        while IFS= read -r item; do
            bullet "$item"
        done < <(items "$each")
        printf '\n -- %s  %s\n' "$maintainer" "$(LC_ALL=C date -u -R -d "@$date")"
    done
}

case "$mode" in
--check)
    check "${3:-$(sed -n 's/^project([A-Za-z]* VERSION \([^ )]*\).*/\1/p' "$source_dir/CMakeLists.txt")}"
    ;;
--commit-time)
    last_commit
    ;;
--changelog)
    package=${3:?$usage} version=${4:?$usage} maintainer=${5:?$usage} output=${6:?$usage}
    check "$version"
    mkdir -p "$(dirname "$output")"
    changelog "$package" "$version" "$maintainer" | gzip -9 -n >"$output.new"
    chmod 0644 "$output.new"
    mv "$output.new" "$output"
    ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
