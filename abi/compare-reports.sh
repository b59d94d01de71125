#!/usr/bin/env bash
# Compares two layout reports of the probe (abi/LayoutProbe.cpp) and says
# each difference in words, e.g.
#   SMDSPDevice::rx_len_ is at 4416 here and 4420 in the controller's headers
# Usage: abi/compare-reports.sh [--skip ATTRIBUTE,...] OURS THEIRS [OURS_WHERE THEIRS_WHERE]
#   OURS_WHERE, THEIRS_WHERE  where each report comes from, as the sentences
#                             say it (default "here", "in the controller's headers")
#   --skip                    attributes left out, e.g. size,align,offset
# Exit status: 0 when they agree, 1 when they differ, 2 when a report cannot be read.
set -euo pipefail

skip=
if [ "${1:-}" = "--skip" ]; then
    skip=${2:?"--skip needs a list of attributes"}
    shift 2
fi
if [ $# -ne 2 ] && [ $# -ne 4 ]; then
    echo "usage: $0 [--skip ATTRIBUTE,...] OURS THEIRS [OURS_WHERE THEIRS_WHERE]" >&2
    exit 2
fi
ours=$1
theirs=$2
ours_where=${3:-here}
theirs_where=${4:-"in the controller's headers"}

for report in "$ours" "$theirs"; do
    [ -r "$report" ] || { echo "$report: cannot read the report" >&2; exit 2; }
    bad=$(awk -F '\t' 'NF != 3 { print NR; exit }' "$report")
    [ -z "$bad" ] || { echo "$report:$bad: not a line of a layout report" >&2; exit 2; }
done

awk -F '\t' -v skip="$skip" -v ours_where="$ours_where" -v theirs_where="$theirs_where" '
    BEGIN {
        split(skip, skipped, ",")
        for (i in skipped) leave_out[skipped[i]] = 1
        # How a value reads first (with its verb) and second.
        first["offset"] = "is at %s";                  second["offset"] = "%s"
        first["size"] = "is %s bytes";                 second["size"] = "%s"
        first["align"] = "is aligned to %s bytes";     second["align"] = "to %s"
        first["slot"] = "is in virtual table slot %s"; second["slot"] = "in slot %s"
        first["vtable-slots"] = "has %s virtual table slots"; second["vtable-slots"] = "%s"
        first["signature"] = "is declared `%s`";       second["signature"] = "`%s`"
        first["type"] = "is of type `%s`";             second["type"] = "`%s`"
        first["destructor"] = "has a %s destructor";   second["destructor"] = "a %s one"
    }
    function phrase(attribute, value, leading) {
        if (value == "not-virtual") return leading ? "is not virtual" : "not virtual"
        if (!(attribute in first)) return leading ? "has " attribute " " value : value
        return sprintf(leading ? first[attribute] : second[attribute], value)
    }
    function say(subject, attribute, a, b) {
        differences++
        if (b == "missing" || a == "missing") {
            if (subject in named) return
            named[subject] = 1
            if (b == "missing") print subject " is missing " theirs_where
            else print subject " is missing " ours_where " but not " theirs_where
            return
        }
        if (a == "") { print subject " (" attribute ") is reported " theirs_where " only"; return }
        if (b == "") { print subject " (" attribute ") is reported " ours_where " only"; return }
        print subject " " phrase(attribute, a, 1) " " ours_where " and " phrase(attribute, b, 0) " " theirs_where
    }
    FNR == NR { if (!($2 in leave_out)) { key = $1 FS $2; value[key] = $3; order[++keys] = key } next }
    !($2 in leave_out) {
        key = $1 FS $2
        if (!(key in value)) { say($1, $2, "", $3); next }
        if (value[key] != $3) say($1, $2, value[key], $3)
        seen[key] = 1
    }
    END {
        for (i = 1; i <= keys; i++) {
            if (!(order[i] in seen)) { split(order[i], part, FS); say(part[1], part[2], value[order[i]], "") }
        }
        exit differences > 0
    }
' "$ours" "$theirs"
