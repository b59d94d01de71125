#!/usr/bin/env bash
# The unaligned-access probe's two accesses must be the FPU's own word moves
# through the pointer (lwc1, swc1): code that splits them into lwl/lwr or
# byte moves never traps, and the board's count could not move.
# Usage: tests/board/probe-instructions.sh OBJDUMP PROBE
set -euo pipefail

objdump=${1:?"usage: $0 OBJDUMP PROBE"}
probe=${2:?"usage: $0 OBJDUMP PROBE"}
code=$("$objdump" -d --no-show-raw-insn "$probe" |
    awk '/^[0-9a-f]+ <_ZN12_GLOBAL__N_1[0-9]+(LoadThrough|StoreTripled)[^>]*>:$/,/^$/')
through() { grep -qE "$1[[:space:]]+\\\$f[0-9]+,0\\(a0\\)" <<<"$code"; }

through lwc1 || { echo "no lwc1 through the pointer in:"; echo "$code"; exit 1; }
through swc1 || { echo "no swc1 through the pointer in:"; echo "$code"; exit 1; }
echo "lwc1 and swc1 through the pointer"
