#!/usr/bin/env bash
# Assembles the emulated board in IMAGE_DIR from the board's build:
#   vmlinuz      Debian's Malta kernel for mipsel;
#   initrd.cpio  its root file system: busybox, the C and C++ runtimes and
#                jsoncpp from Debian's mipsel packages (unpacked, not
#                installed), the module and the tools as `cmake --install`
#                puts them, the unaligned-access probe when it is built (the
#                test's run uses it), board/init, and the bench host's
#                configurations in /etc/smdhost.
# A CONFIG file given goes to /etc/smdhost as well, for trying it on the board.
# Usage: board/make-image.sh MIPSEL_BUILD IMAGE_DIR [CONFIG]
set -euo pipefail

build=${1:?"usage: $0 MIPSEL_BUILD IMAGE_DIR [CONFIG]"}
image=${2:?"usage: $0 MIPSEL_BUILD IMAGE_DIR [CONFIG]"}
config=${3:-}
top=$(cd "$(dirname "$0")/.." && pwd)
fetch=$top/cmake/fetch-mipsel-sysroot.sh

[ -f "$build/CMakeCache.txt" ] || { echo "$build: no build tree (make mipsel)" >&2; exit 2; }
probe=$build/tests/board/unaligned_probe
[ -z "$config" ] || [ -f "$config" ] || { echo "$config: no such file" >&2; exit 2; }

# The userland first: it makes sure apt knows the mipsel packages, which
# naming the kernel behind Debian's metapackage needs.
"$fetch" "$image/userland" busybox-static libc6 libstdc++6 libgcc-s1 libjsoncpp25
kernel=$(apt-cache depends linux-image-4kc-malta:mipsel |
    sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p' | head -n 1)
[ -n "$kernel" ] || { echo "no kernel package behind linux-image-4kc-malta:mipsel" >&2; exit 1; }
"$fetch" "$image/kernel" "$kernel"
# Only the kernel itself boots the board; its modules are not loaded.
rm -rf "$image/kernel/lib/modules"
cp "$image/kernel/boot/vmlinuz-"* "$image/vmlinuz"

root=$image/root
rm -rf "$root"
mkdir -p "$root"
# Documentation and character set converters are of no use on the board.
tar -C "$image/userland" --exclude=./.packages --exclude=./usr/share \
    --exclude=./usr/lib/mipsel-linux-gnu/gconv -c . | tar -C "$root" -x
mkdir -p "$root"/{proc,sys,dev,tmp,root,var/lib,usr/bin,usr/sbin,sbin,etc/smdhost}

cmake --install "$build" --prefix "$root/usr" --strip >/dev/null
cmake --install "$build" --prefix "$root/usr" --strip --component tools >/dev/null
[ ! -x "$probe" ] || install -m 0755 "$probe" "$root/usr/bin/unaligned-probe"
install -m 0755 "$top/board/init" "$root/init"
# The bench host's service, as the tools component ships it.
install -D -m 0755 "$root/usr/share/smdhost/init.d/smdhost" "$root/etc/init.d/S50smdhost"
install -m 0644 "$top/tools/smdhost/examples/demo.json" "$top/board/smdhost.json" \
    ${config:+"$config"} "$root/etc/smdhost/"

(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$image/initrd.cpio"
echo "board: $image/vmlinuz ($kernel), $image/initrd.cpio ($(du -k "$image/initrd.cpio" | cut -f1) KB)"
