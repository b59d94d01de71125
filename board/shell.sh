#!/usr/bin/env bash
# The emulated board for trying things by hand: upssim answers on its ttyS1
# at 2400 bit/s (the scenario given, else a UPS on line) and the console is a
# shell on the board, with the module, smdhost and /etc/smdhost/*.json.
# Usage: board/shell.sh IMAGE_DIR UPSSIM [SCENARIO]
set -euo pipefail

usage="usage: $0 IMAGE_DIR UPSSIM [SCENARIO]"
image=${1:?$usage}
upssim=${2:?$usage}
scenario=${3:-}
link=$image/run/shell-ups

mkdir -p "$image/run"
rm -f "$link"
"$upssim" --link "$link" ${scenario:+--scenario "$scenario"} >"$image/run/shell-upssim.log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -e "$link" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$image/run/shell-upssim.log" >&2; exit 1; }
    sleep 0.05
done
echo "board: upssim on its ttyS1 (log: $image/run/shell-upssim.log); booting, about 10 s"
"$(dirname "$0")/boot.sh" "$image" "$link" shell
