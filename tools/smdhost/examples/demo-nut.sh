#!/usr/bin/env bash
# The demo seen through Network UPS Tools, run as NUT runs its drivers:
# upssim plays the demo scenario at 2400 bit/s, upsdrvctl starts smdhost as the
# driver of the UPS ups-demo of a private ups.conf (whose driverpath is the
# build's), a private upsd serves it (its own folders and port, never the
# system's), and upsc shows the UPS whenever its status changes: the whole
# listing first, then what changed. upsdrvctl stops the driver at the end and
# shows what `upsdrvctl shutdown` says. Run as root, upsd and the driver run as
# nut, as on Debian; otherwise as you.
# With DEMO_NUT_SCREENSHOT=FILE.png (root, chromium and nut-cgi installed) the
# upsstats page of the UPS at the end of the scenario is drawn to FILE.png.
# Usage: tools/smdhost/examples/demo-nut.sh [BUILD_DIR]   (from the top of the checkout)
set -euo pipefail
build=$(realpath "${1:-build/dev}")
top=$(pwd)
work=$build/demo-nut
ups=ups-demo
screenshot=${DEMO_NUT_SCREENSHOT:-}

# As Debian: upsd and the drivers are nut, /run/nut is root's and nut's, 0770.
if [ "$(id -u)" = 0 ]; then
    user=nut group=nut account=""
    # nut must pass through to its folders, as it does to /run and /var/lib.
    runuser -u nut -- test -x "$build" || work=$(mktemp -d /tmp/quill-demo-nut-XXXXXX)
else
    user=$(id -un) group=$(id -gn) account="user = $user
group = $group
"
fi
rm -rf "$work"
mkdir -p "$work/etc" "$work/run"
chmod 0711 "$work"
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT

# A loopback port nobody listens on, from `from`.
free_port() {
    local port=$1
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    echo "$port"
}
port=$(free_port 34930)

chgrp "$group" "$work/run" && chmod 0770 "$work/run"

cat >"$work/etc/ups.conf" <<EOF
driverpath = $build/bin
${account}[$ups]
	driver = smdhost
	port = $work/ups0
	desc = "The demo's UPS"
	data_id = 1001
	pollinterval = 1
	answer_timeout = 1.5
	settings = $top/tools/smdhost/examples/ups-settings.json
	state_dir = $work/state
	default.battery.voltage.high = 54.6
	default.battery.voltage.low = 45
	override.ups.model = "upssim demo, 3 phases"
EOF
echo "LISTEN 127.0.0.1 $port" >"$work/etc/upsd.conf"
printf '[monitor]\n  password = demo\n  upsmon primary\n' >"$work/etc/upsd.users"
chgrp "$group" "$work/etc/"* && chmod 0640 "$work/etc/"*
echo "== NUT's files in $work/etc: ups.conf, upsd.conf, upsd.users"
sed 's/^/   /' "$work/etc/ups.conf"

export NUT_CONFPATH=$work/etc NUT_STATEPATH=$work/run
echo "== upsd -u $user: $work/run, 127.0.0.1:$port"
/lib/nut/upsd -u "$user" -F >"$work/upsd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    upsc -l "127.0.0.1:$port" >/dev/null 2>&1 && break
    sleep 0.1
done

echo "== upssim: scenario sim/scenarios/demo.json on $work/ups0"
"$build/bin/upssim" --scenario sim/scenarios/demo.json --link "$work/ups0" >"$work/upssim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -e "$work/ups0" ] && break
    sleep 0.05
done

echo "== upsdrvctl start $ups"
started=$SECONDS
upsdrvctl start "$ups" 2>&1 | sed 's/^/   /'
pid=$(cat "$work/run/smdhost-$ups.pid")
echo "   smdhost runs in the background as user $(ps -o user= -p "$pid"), pid $pid" \
     "in $work/run/smdhost-$ups.pid; its log goes to syslog"

# The upsstats page, served by a small web server in a mount namespace whose
# /etc/nut holds hosts.conf (Debian's CGI reads it there whatever
# NUT_CONFPATH says), drawn by headless chromium.
draw_page() {
    local www=$work/www http
    mkdir -p "$www/cgi-bin" "$work/cgi-etc"
    cp /usr/lib/cgi-bin/nut/upsstats.cgi /usr/lib/cgi-bin/nut/upsimage.cgi "$www/cgi-bin/"
    cp /etc/nut/upsstats.html /etc/nut/upsstats-single.html "$work/cgi-etc/"
    echo "MONITOR $ups@127.0.0.1:$port \"The demo's UPS\"" >"$work/cgi-etc/hosts.conf"
    http=$(free_port 38080)
    env -u NUT_CONFPATH unshare -m sh -c 'mount --bind "$1" /etc/nut && cd "$2" && exec python3 -m http.server --cgi --bind 127.0.0.1 "$3"' \
        sh "$work/cgi-etc" "$www" "$http" >"$work/http.log" 2>&1 &
    pids+=($!)
    sleep 1
    chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
        --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
        --user-data-dir="$work/chromium" --screenshot="$screenshot" --window-size=1240,545 \
        "http://127.0.0.1:$http/cgi-bin/upsstats.cgi?host=$ups@127.0.0.1:$port" >"$work/chromium.log" 2>&1 &&
        echo "   the upsstats page drawn to $screenshot" ||
        echo "   chromium could not draw the page: $work/chromium.log"
}

previous=""
last_status=""
seen_stale=false
while [ $((SECONDS - started)) -lt 60 ]; do
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
        [ "$status" != "Error: Data stale" ] || [ -z "$previous" ] || seen_stale=true
        # The scenario ends on line after its silent spell.
        if $seen_stale && [ "$status" = OL ]; then
            break
        fi
    fi
    sleep 0.2
done

if [ -n "$screenshot" ]; then
    echo "== the upsstats page of $ups"
    draw_page
fi

echo "== upsdrvctl stop $ups"
upsdrvctl stop "$ups" 2>&1 | sed 's/^/   /'
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
echo "   socket and pid file gone: $(ls "$work/run" | grep "smdhost-$ups" || echo yes)"
echo "== upsdrvctl shutdown $ups (what the shutdown hook runs once upsmon has shut the machine down)"
upsdrvctl shutdown "$ups" 2>&1 | sed 's/^/   /' || true
echo "== done in $((SECONDS - started)) s; the history: $work/state/1001.history" \
     "($(stat -c %s "$work/state/1001.history") bytes, 76 per completed cycle)"
