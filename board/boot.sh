#!/usr/bin/env bash
# Boots the emulated board made by board/make-image.sh under
# qemu-system-mipsel -M malta. Its console (ttyS0) is this program's standard
# input and output; its second UART (ttyS1), where the bench host polls the
# UPS, is the serial device UPS: a pseudo-terminal where upssim answers.
# MODE is "run" (the board's run, then power off) or "shell" (a shell on the
# console). Further words go to the kernel's command line (board.cycles=N).
# Usage: board/boot.sh IMAGE_DIR UPS run|shell [KERNEL_ARGUMENT...]
set -euo pipefail

usage="usage: $0 IMAGE_DIR UPS run|shell [KERNEL_ARGUMENT...]"
image=${1:?$usage}
ups=${2:?$usage}
mode=${3:?$usage}
shift 3
for file in "$image/vmlinuz" "$image/initrd.cpio" "$ups"; do
    [ -e "$file" ] || { echo "$file: no such file" >&2; exit 2; }
done

case "$mode" in
# The run reads nothing from the console: qemu must not take the terminal.
run) console=(-serial stdio) ;;
# Ctrl-C goes to the board; Ctrl-A X leaves qemu, as does leaving the shell.
shell) console=(-serial mon:stdio) ;;
*) echo "$usage" >&2; exit 2 ;;
esac
[ "$mode" = run ] && exec </dev/null

# Without the recommended ROM packages qemu has no network or VGA firmware:
# the board needs neither. The emulated 16550 does not pace bytes; upssim does.
exec qemu-system-mipsel -M malta -m 256 -no-reboot \
    -nic none -vga none -display none \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.cpio" \
    -append "console=ttyS0 loglevel=1 board.mode=$mode $*" \
    "${console[@]}" \
    -chardev "serial,id=ups,path=$ups" -serial chardev:ups
