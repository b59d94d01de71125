#!/usr/bin/env bash
# Runs README's command for a board vendor's toolchain, as written, on a
# vendor-style SDK made of Debian's cross toolchain (tests/board/make-vendor-sdk.sh:
# its own folder, a sysroot with libraries in usr/lib, no CMake package files,
# Boost's headers only). Then checks that
#  - every compile of the module used the SDK's compiler, its sysroot and the
#    ABI flags, and none made warnings errors;
#  - every header and library of the module came from the SDK or the sources
#    (the compiler's dependency files and the link map: tests/board/check-isolation.sh);
#  - the module's float ABI is its C library's, and it passes the symbol check;
#  - a change of the ABI flags in that build folder is refused, naming a new folder;
#  - the header check, given the SDK's compiler and sysroot as docs/abi.md
#    shows, builds its probe with them and finds our headers agree with ours.
# Usage: tests/board/vendor-toolchain.sh SOURCE_DIR LIBRARY_SYSROOT
set -euo pipefail

source_dir=${1:?"usage: $0 SOURCE_DIR LIBRARY_SYSROOT"}
library_sysroot=${2:?"usage: $0 SOURCE_DIR LIBRARY_SYSROOT"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sdk=$work/board-sdk
build=$work/build
fail() { echo "FAILED: $*" >&2; exit 1; }

"$source_dir/tests/board/make-vendor-sdk.sh" "$sdk" "$library_sysroot" >/dev/null
[ -z "$(find "$sdk" -name '*.cmake' -print -quit)" ] || fail "the SDK holds CMake package files"
[ -z "$(find "$sdk" -name 'libboost_*' -print -quit)" ] || fail "the SDK holds compiled Boost libraries"

# README's block that starts with `cmake --preset board-sdk`, for this SDK and
# build folder, the link map asked for besides.
commands=$(awk '/^    cmake --preset board-sdk/ { on = 1 } on && !/^    / { exit } on { print substr($0, 5) }' \
    "$source_dir/README.md")
[ -n "$commands" ] || fail "README has no command that starts with 'cmake --preset board-sdk'"
commands=${commands//\/opt\/board-sdk/$sdk}
commands=${commands//build\/board-sdk/$build}
commands=${commands/cmake --preset board-sdk/cmake --preset board-sdk \"-DCMAKE_MODULE_LINKER_FLAGS=-Wl,-Map,$work/module.map\"}
(cd "$source_dir" && eval "$commands") >"$work/readme.log" 2>&1 ||
    { cat "$work/readme.log"; fail "README's command for a vendor's toolchain failed"; }

abi_flags=$(sed -n 's/^QUILL_MIPSEL_ABI_FLAGS:[A-Z]*=//p' "$build/CMakeCache.txt")
compiles=$(grep -c '"command":' "$build/compile_commands.json")
for wanted in "$sdk/bin/mipsel-linux-gnu-g++ " "--sysroot=$sdk/sysroot " "$abi_flags "; do
    used=$(grep '"command":' "$build/compile_commands.json" | grep -cF -- "$wanted" || true)
    [ "$used" -eq "$compiles" ] || fail "only $used of $compiles compiles used '$wanted'"
done
! grep -q -- '-Werror' "$build/compile_commands.json" || fail "warnings are errors in a vendor's build"

"$source_dir/tests/board/check-isolation.sh" "$build" "$work/module.map" "$sdk"

float_abi() { "$sdk/bin/mipsel-linux-gnu-readelf" -A "$1" | sed -n 's/^FP ABI: *//p'; }
[ "$(float_abi "$build/quillmarups.so")" = "$(float_abi "$sdk/sysroot/usr/lib/libc.so.6")" ] ||
    fail "the module's float ABI, $(float_abi "$build/quillmarups.so"), is not its C library's"

if cmake -S "$source_dir" -B "$build" -DQUILL_MIPSEL_ABI_FLAGS=-msoft-float >"$work/again.log" 2>&1; then
    fail "the build folder took other ABI flags"
fi
grep -q "Configure a new build folder" "$work/again.log" ||
    { cat "$work/again.log"; fail "changed ABI flags were refused without naming a new folder"; }
"$source_dir/abi/check-host-headers.sh" --board-cxx "$sdk/bin/mipsel-linux-gnu-g++" \
    --board-base-flags "-static --sysroot=$sdk/sysroot -I$sdk/sysroot/usr/include/jsoncpp" \
    "$source_dir" >"$work/headers.log" 2>&1 ||
    { cat "$work/headers.log"; fail "the header check did not run with the SDK's compiler"; }
echo "the module built by README's command with the vendor's prefix, sysroot and ABI flags ($abi_flags)," \
    "float ABI $(float_abi "$build/quillmarups.so"); changed flags refused; the header check runs with its compiler"
echo "isolation not checked: the compiler's own programs (cc1plus, as, ld, lto1) are the build" \
    "machine's, hard-linked into the SDK, and run on its libraries"
