#!/usr/bin/env bash
# Checks a release's files (build/packages) as a user meets them:
#  - lintian on each Debian package finds no error (what else it says is shown);
#  - the build machine's two packages, installed with dpkg as a user would but
#    into a throwaway root with a database of its own (dpkg --root), leave the
#    machine as it was; apt could satisfy their Depends here (--simulate);
#    each program answers --version with the module's version, smdhost loads
#    the stand-in host library from the package, polls upssim through the
#    packaged module, and smdhist reads the history it wrote;
#  - the board's archive: its SHA256SUMS right, the files README names there,
#    its module the mipsel package's, every member root's and dated the
#    commit's time, gzip without a name or time;
#  - the release's own SHA256SUMS.
# Usage: package/check-packages.sh PACKAGES
set -uo pipefail

packages=$(cd "${1:?"usage: $0 PACKAGES"}" && pwd)
work=$(mktemp -d)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
one() { compgen -G "$packages/$1" | head -n 1; }
native=$(dpkg --print-architecture)
module_deb=$(one "quillmarups_*_$native.deb")
tools_deb=$(one "quillmarups-tools_*_$native.deb")
archive=$(one "quillmarups-*-mipsel.tar.gz")
[ -n "$module_deb" ] && [ -n "$tools_deb" ] && [ -n "$archive" ] ||
    { echo "FAIL: $packages lacks a package or the board's archive (make package)"; exit 1; }

echo "== lintian"
for deb in "$packages"/*.deb; do
    lintian --display-info --pedantic --fail-on error "$deb" >"$work/lintian.txt" 2>&1 ||
        fail "lintian finds errors in $(basename "$deb")"
    grep -v 'running with root privileges' "$work/lintian.txt" | sed "s/^/   $(basename "$deb"): /"
done

echo "== the build machine's packages, installed into a throwaway root"
apt-get install --simulate --no-install-recommends "$module_deb" "$tools_deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt cannot satisfy the packages' Depends here"; }
before=$(dpkg-query -W -f='${Status}\n' quillmarups quillmarups-tools 2>&1)
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
# The root's database has none of the libraries, which apt found above.
dpkg --root="$root" --log=/dev/null --force-depends -i "$module_deb" "$tools_deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg could not install the packages into $root"; }
[ "$(dpkg-query -W -f='${Status}\n' quillmarups quillmarups-tools 2>&1)" = "$before" ] ||
    fail "installing into the throwaway root changed this machine's package database"
dpkg-query --root="$root" -W -f='   ${Package} ${Version} ${Architecture}: ${Status}\n' quillmarups quillmarups-tools

bin=$root/usr/bin
module=$root/usr/lib/smd/modules/quillmarups.so
version=$(readelf -p .comment "$module" | sed -n 's/.*quillmarups \([^ ]*\)$/\1/p')
[ "${version%%+*}" = "$(dpkg-deb -f "$module_deb" Version)" ] ||
    fail "the module says version $version, its package $(dpkg-deb -f "$module_deb" Version)"
for program in smdhost smdhist upssim; do
    said=$("$bin/$program" --version | head -n 1)
    [ "$said" = "$program $version" ] || fail "$program --version says \"$said\", not \"$program $version\""
done
said=$("$bin/smdhost" --version --module "$module" | sed -n 2p)
[[ "$said" == "module $module: quillmarups $version, "* ]] || fail "smdhost --version --module says \"$said\""
# upsdrvctl finds the driver in /lib/nut, and the driver its module beside it.
[ "$(realpath "$root/usr/lib/nut/smdhost")" = "$bin/smdhost" ] ||
    fail "/usr/lib/nut/smdhost is not a link to /usr/bin/smdhost"
said=$("$root/usr/lib/nut/smdhost" --version | sed -n 2p)
[[ "$said" == "module $module: quillmarups $version, "* ]] ||
    fail "smdhost started from /usr/lib/nut finds no module of its own: \"$said\""
library=$(ldd "$bin/smdhost" | sed -n 's/.*libsmdhost_framework.so => \([^ ]*\).*/\1/p')
[ -n "$library" ] && [ "$(realpath "$library")" = "$root/usr/lib/smdhost/libsmdhost_framework.so" ] ||
    fail "smdhost loads its host library from \"$library\", not from its package"
for file in usr/share/man/man1/smdhost.1.gz usr/share/bash-completion/completions/smdhist \
    usr/share/smdhost/init.d/smdhost usr/lib/systemd/system/smdhost.service \
    usr/share/doc/quillmarups-tools/changelog.gz usr/share/doc/quillmarups/copyright \
    usr/share/doc/quillmarups-tools/field-guide.md usr/share/doc/quillmarups-tools/examples/smdhost.json; do
    [ -f "$root/$file" ] || fail "the packages do not install /$file"
done

"$bin/smdhost" --config "$root/usr/share/doc/quillmarups-tools/examples/smdhost.json" --print-ups-conf \
    >/dev/null 2>"$work/example.err" || fail "the packaged example configuration is refused: $(cat "$work/example.err")"

# A sample history: four cycles of upssim through the packaged module.
cat >"$work/scenario.json" <<'EOF'
{"steps": [{"name": "on line", "polls": 2}, {"name": "mains fails", "flags": {"SUF": 1, "SBM": 1}}]}
EOF
cat >"$work/smdhost.json" <<EOF
{"module": "$module", "state_dir": "$work/state",
 "devices": [{"name": "ups-1", "data_id": 2001, "port": "$work/ups0", "poll_interval": 0,
              "settings": {"appSetting": {"b_mode": 1}}}]}
EOF
"$bin/upssim" --fast --scenario "$work/scenario.json" --link "$work/ups0" >"$work/upssim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -e "$work/ups0" ] && break; sleep 0.05; done
"$bin/smdhost" --config "$work/smdhost.json" --cycles 4 --brief >"$work/smdhost.out" 2>"$work/smdhost.err" ||
    { cat "$work/smdhost.err"; fail "smdhost did not complete four cycles with the packaged module"; }
grep -qF "smdhost: version $version; module quillmarups $version" "$work/smdhost.err" ||
    fail "smdhost did not name the versions at start: $(head -n 2 "$work/smdhost.err")"
summary=$("$bin/smdhist" --summary "$work/state/2001.history" 2>&1)
echo "$summary" | sed -n '1p; /^suf/,+1p' | sed 's/^/   /'
[[ "$summary" == "data id 2001: 4 blocks from "* ]] || fail "smdhist does not read four blocks: $summary"
[[ "$summary" == *"suf 08001"* ]] || fail "smdhist shows no mains failure in the history: $summary"
rm -rf "$root"

echo "== the board's archive"
name=$(basename "$archive" .tar.gz)
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$(dirname "$0")" log -1 --format=%ct)}
mkdir -p "$work/board"
tar -C "$work/board" -xzf "$archive"
(cd "$work/board/$name" && sha256sum --quiet -c SHA256SUMS) || fail "the archive's SHA256SUMS do not match its files"
for file in README NEWS.md usr/lib/smd/modules/quillmarups.so usr/bin/smdhost usr/bin/smdhist usr/bin/upssim \
    usr/lib/smdhost/libsmdhost_framework.so usr/share/smdhost/init.d/smdhost \
    usr/share/man/man1/upssim.1.gz usr/share/bash-completion/completions/smdhost; do
    [ -f "$work/board/$name/$file" ] || fail "the archive lacks $name/$file"
done
grep -q '@[A-Z_]*@' "$work/board/$name/README" && fail "the archive's README has a blank left: $(grep '@[A-Z_]*@' "$work/board/$name/README")"
dpkg-deb --fsys-tarfile "$(one 'quillmarups_*_mipsel.deb')" | tar -xOf - ./usr/lib/smd/modules/quillmarups.so |
    cmp -s - "$work/board/$name/usr/lib/smd/modules/quillmarups.so" ||
    fail "the archive's module is not the mipsel package's"
strangers=$(tar --numeric-owner --full-time -tvzf "$archive" |
    awk -v top="$name" -v date="$(date -u -d "@$epoch" '+%F %T')" \
        '$2 != "0/0" || $4 " " $5 != date || index($6, top) != 1')
[ -z "$strangers" ] || fail "members not root's, not dated $(date -u -d "@$epoch"), or outside $name/: $strangers"
[ "$(od -An -tx1 -j3 -N5 "$archive" | tr -d ' ')" = 0000000000 ] ||
    fail "the archive's gzip header holds a name or a time"

echo "== SHA256SUMS"
(cd "$packages" && sha256sum -c SHA256SUMS | sed 's/^/   /') || fail "the release's SHA256SUMS do not match"
[ $failed -eq 0 ] && echo "the packages pass lintian, install and run from a throwaway root, the archive is whole"
exit $failed
