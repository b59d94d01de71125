#!/usr/bin/env bash
# Makes the release again from a clone of the commit in another folder, later,
# in another time zone and with another umask, and compares each of its files
# with those in PACKAGES (build/packages): the board's archive, its debug
# files, the Debian packages and SHA256SUMS must be the same byte for byte.
# package/compare.sh names the member or ELF section that differs. The
# checkout must hold no uncommitted change, which the clone would lack.
# Usage: package/check-reproducible.sh PACKAGES
set -uo pipefail

packages=$(cd "${1:?"usage: $0 PACKAGES"}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
    echo "FAIL: the checkout has uncommitted changes, which a clone lacks: commit them, then make test-package"
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clone=$work/elsewhere/quillmarups-again
git clone -q --no-checkout "$top" "$clone" && git -C "$clone" checkout -q --detach "$(git -C "$top" rev-parse HEAD)" ||
    { echo "FAIL: could not clone $top"; exit 1; }
# The same Debian packages of the board's libraries, copied rather than fetched again.
mkdir -p "$clone/build/release-mipsel"
cp -a "$top/build/sysroot-mipsel" "$clone/build/"
[ ! -d "$top/build/release-mipsel/runtime-packages" ] ||
    cp -a "$top/build/release-mipsel/runtime-packages" "$clone/build/release-mipsel/"

started=$SECONDS
(cd "$clone" && umask 0002 && TZ=Pacific/Kiritimati make package) >"$work/package.log" 2>&1 ||
    { tail -n 30 "$work/package.log"; echo "FAIL: make package failed in the clone $clone"; exit 1; }
echo "made again in $clone in $((SECONDS - started)) s"

failed=0
again=$clone/build/packages
if ! cmp -s <(cd "$packages" && ls) <(cd "$again" && ls); then
    echo "FAIL: the two releases hold other files: $(cd "$packages" && ls | paste -sd' ') / $(cd "$again" && ls | paste -sd' ')"
    failed=1
fi
for file in "$packages"/*; do
    name=$(basename "$file")
    [ -f "$again/$name" ] || continue
    if "$top/package/compare.sh" "$file" "$again/$name" >"$work/compare.txt"; then
        echo "same: $name"
    else
        echo "FAIL: $name differs:"
        sed 's/^/  /' "$work/compare.txt"
        failed=1
    fi
done
[ $failed -eq 0 ] && echo "the release is the same, byte for byte, made from a clone in another folder"
exit $failed
