#!/usr/bin/env bash
# The demo seen through Network UPS Tools: upssim plays the demo scenario at
# 2400 bit/s, smdhost polls it through the module and serves it to a private
# upsd (its own folder and port, never the system's), and upsc shows the UPS
# whenever its status changes: the whole listing first, then what changed.
# Usage: tools/smdhost/examples/demo-nut.sh [BUILD_DIR]   (from the top of the checkout)
set -euo pipefail
build=${1:-build/dev}
work=$build/demo-nut
cycles=20
ups=ups-demo

rm -rf "$work"
mkdir -p "$work/etc" "$work/nut"
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT

# A loopback port nobody listens on.
port=34930
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done

"$build/bin/smdhost" --config tools/smdhost/examples/demo.json --port "$work/ups0" \
    --print-ups-conf > "$work/etc/ups.conf"
echo "LISTEN 127.0.0.1 $port" > "$work/etc/upsd.conf"
printf '[monitor]\n  password = demo\n  upsmon primary\n' > "$work/etc/upsd.users"
chmod 0600 "$work/etc/"*
echo "== NUT's files in $work/etc: ups.conf (from smdhost --print-ups-conf), upsd.conf, upsd.users"
sed 's/^/   /' "$work/etc/ups.conf"

echo "== upsd: $work/nut, 127.0.0.1:$port"
# upsd leaves the current folder: its folders are given whole.
NUT_CONFPATH=$(realpath "$work/etc") NUT_STATEPATH=$(realpath "$work/nut") \
    /lib/nut/upsd -u "$(id -un)" -F \
    > "$work/upsd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    upsc -l "127.0.0.1:$port" > /dev/null 2>&1 && break
    sleep 0.1
done

echo "== upssim: scenario sim/scenarios/demo.json; smdhost: $cycles cycles, serving $ups to upsd"
"$build/bin/upssim" --scenario sim/scenarios/demo.json --link "$work/ups0" > "$work/upssim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -e "$work/ups0" ] && break
    sleep 0.05
done
started=$SECONDS
"$build/bin/smdhost" --config tools/smdhost/examples/demo.json --module "$build/quillmarups.so" \
    --port "$work/ups0" --state-dir "$work/state" --cycles "$cycles" --nut "$work/nut" \
    --module-output /dev/null > "$work/smdhost.log" 2>&1 &
host=$!

previous=""
last_status=""
while kill -0 "$host" 2>/dev/null; do
    listing=$(upsc "$ups@127.0.0.1:$port" 2>&1 | grep -v '^Init SSL' || true)
    status=$(printf '%s\n' "$listing" | sed -n 's/^ups\.status: //p')
    [ -n "$status" ] || status=$(printf '%s\n' "$listing" | tail -1)
    if [ "$status" != "$last_status" ]; then
        echo "== $((SECONDS - started)) s: upsc $ups@127.0.0.1:$port"
        if [ -z "$previous" ] || [ -z "$(printf '%s\n' "$listing" | grep 'ups.status')" ]; then
            printf '%s\n' "$listing" | sed 's/^/   /'
        else
            diff <(printf '%s\n' "$previous") <(printf '%s\n' "$listing") | sed -n 's/^> /   /p' || true
            comm -23 <(printf '%s\n' "$previous" | cut -d: -f1) \
                <(printf '%s\n' "$listing" | cut -d: -f1) | sed 's/.*/   & (gone)/' || true
        fi
        last_status=$status
        [ -z "$(printf '%s\n' "$listing" | grep 'ups.status')" ] || previous=$listing
    fi
    sleep 0.2
done
status=0
wait "$host" || status=$?
echo "== done in $((SECONDS - started)) s; smdhost exit status $status" \
     "(1: some cycles failed, as the silent spell of the scenario intends)"
echo "   smdhost's own output: $work/smdhost.log; upsd's: $work/upsd.log"
[ "$status" -le 1 ]
