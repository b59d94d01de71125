#!/usr/bin/env bash
# Checks the board's module against its share of the board's flash: its size
# once stripped, as `cmake --install --strip` puts it there. Prints the size
# and exits 1 when it is over the budget.
# Usage: cmake/check-module-size.sh BUILD_DIR BUDGET_KB   (the module: BUILD_DIR/quillmarups.so)
set -euo pipefail

build=${1:?"usage: $0 BUILD_DIR BUDGET_KB"}
budget_kb=${2:?"usage: $0 BUILD_DIR BUDGET_KB"}
module=$build/quillmarups.so
[ -f "$module" ] || { echo "$module: no such file" >&2; exit 2; }
# The strip program of the build's own toolchain.
strip=$(sed -n 's/^CMAKE_STRIP:[A-Z]*=//p' "$build/CMakeCache.txt")

stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"${strip:-strip}" -o "$stripped" "$module"
bytes=$(stat -c %s "$stripped")
budget=$((budget_kb * 1024))
if [ "$bytes" -gt "$budget" ]; then
    echo "$module: $bytes bytes stripped, over the budget of $budget ($budget_kb KB)" >&2
    exit 1
fi
echo "$module: $bytes bytes stripped, within the budget of $budget ($budget_kb KB)"
