#!/usr/bin/env bash
# The demo: a simulated UPS walks through every alarm state while the bench
# host polls it through the built module, 20 cycles at the line's own 2400 bit/s.
# Usage: tools/smdhost/examples/demo.sh [BUILD_DIR]   (from the top of the checkout)
set -euo pipefail
build=${1:-build/dev}
work=$build/demo
cycles=20

rm -rf "$work"
mkdir -p "$work"
started=$SECONDS

echo "== upssim: a UPS on a pseudo-terminal, scenario sim/scenarios/demo.json"
"$build/bin/upssim" --scenario sim/scenarios/demo.json --link "$work/ups0" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -e "$work/ups0" ] && break
    sleep 0.05
done

echo "== smdhost: $build/quillmarups.so, $cycles cycles, config tools/smdhost/examples/demo.json"
echo "   (lines without a time are the module's own diagnostic lines)"
status=0
"$build/bin/smdhost" --config tools/smdhost/examples/demo.json --module "$build/quillmarups.so" \
    --port "$work/ups0" --state-dir "$work/state" --cycles "$cycles" || status=$?

echo "== done in $((SECONDS - started)) s; smdhost exit status $status" \
     "(1: some cycles failed, as the silent spell of the scenario intends)"
echo "   history: $(stat -c %s "$work/state/1001.history") bytes in $work/state/1001.history" \
     "(76 per completed cycle); cache: $work/state/1001.cache"
echo "== smdhist --summary: what the history holds"
"$build/bin/smdhist" --summary "$work/state/1001.history"
echo "== smdhist --plot: the history over time"
"$build/bin/smdhist" --plot "$work/history.png" "$work/state/1001.history"
[ "$status" -le 1 ]
