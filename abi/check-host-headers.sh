#!/usr/bin/env bash
# Checks the controller's own headers against the host declarations the
# module is built against (framework/, plugin/Provider.h), where it matters to
# the binary: class sizes, the offsets of the host members the module uses,
# the virtual table slots and the signatures of the host's operations.
#
# Builds the layout probe (abi/LayoutProbe.cpp) on the controller's headers
#  - for the board, runs it there (under qemu-mipsel by default) and compares
#    its report with abi/host-abi.mipsel.txt, the one the module was built
#    against;
#  - for the build machine, and compares its types, slots and signatures with
#    the reference's: that finds what the board's 32-bit types hide (a
#    std::size_t where we have an unsigned int).
# Prints each difference in words.
#
# Usage: abi/check-host-headers.sh [OPTION...] DIR [HEADER...]
#   DIR        the folder the controller's headers are included from (-I DIR)
#   HEADER...  the headers that declare the host's device and provider classes,
#              ttime and get_ttime, relative to DIR (default: our names,
#              framework/SMDSPDevice.h framework/ttime.h plugin/Provider.h)
# Options, or the environment variable in brackets:
#   --board-cxx CXX        (BOARD_CXX) the board's compiler; default mipsel-linux-gnu-g++
#   --board-flags FLAGS    (BOARD_CXXFLAGS) flags added to the board's defaults, e.g.
#                          "-I DIR" for a folder the controller's headers include from
#   --board-base-flags FLAGS  (BOARD_BASE_CXXFLAGS) replaces those defaults: -static, and
#                          the Boost and jsoncpp headers of build/sysroot-mipsel
#                          (make mipsel-deps); e.g. "-static --sysroot=SDK/sysroot
#                          -I SDK/sysroot/usr/include/jsoncpp" for a vendor's toolchain
#   --board-run COMMAND    (BOARD_RUN) runs a program for the board; default qemu-mipsel,
#                          empty on a machine that runs them itself
#   --build-cxx CXX        (BUILD_CXX) the build machine's compiler; default c++
#   --build-flags FLAGS    (BUILD_CXXFLAGS) flags added to its defaults
#   --build-base-flags FLAGS  (BUILD_BASE_CXXFLAGS) replaces those: -I/usr/include/jsoncpp
# Exit status: 0 when the headers agree with ours, 1 when they differ, 2 when
# the probe cannot be built or run on them (the compiler's message is shown;
# an include it cannot find is named).
set -euo pipefail

abi=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$abi")
sysroot=$root/build/sysroot-mipsel
board_cxx=${BOARD_CXX:-mipsel-linux-gnu-g++}
board_added=${BOARD_CXXFLAGS-}
board_base=${BOARD_BASE_CXXFLAGS-}
board_run=${BOARD_RUN-qemu-mipsel}
build_cxx=${BUILD_CXX:-c++}
build_added=${BUILD_CXXFLAGS-}
build_base=${BUILD_BASE_CXXFLAGS-"-I/usr/include/jsoncpp"}
default_headers=(framework/SMDSPDevice.h framework/ttime.h plugin/Provider.h)

usage() {
    sed -n '/^# Usage:/,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}

refuse() {
    echo "check-host-headers: $*" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --board-* | --build-*) [ $# -ge 2 ] || refuse "$1 needs a value" ;;
    esac
    case "$1" in
    --board-cxx) board_cxx=$2; shift 2 ;;
    --board-flags) board_added=$2; shift 2 ;;
    --board-base-flags) board_base=$2; shift 2 ;;
    --board-run) board_run=$2; shift 2 ;;
    --build-cxx) build_cxx=$2; shift 2 ;;
    --build-flags) build_added=$2; shift 2 ;;
    --build-base-flags) build_base=$2; shift 2 ;;
    -h | --help) usage ;;
    -*) refuse "unknown option $1 (see --help)" ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || usage
[ -d "$1" ] || refuse "$1: no such folder"
dir=$(cd "$1" && pwd)
shift
headers=("$@")

# The probe includes our header names itself; other names are forced in.
forced=()
for header in "${headers[@]}"; do
    [ -f "$dir/$header" ] || refuse "$dir holds no $header"
    forced+=(-include "$dir/$header")
done
[ ${#forced[@]} -eq 0 ] || forced=(-DQUILL_FORCED_HOST_HEADERS "${forced[@]}")
for header in "${default_headers[@]}"; do
    [ ${#headers[@]} -gt 0 ] || [ -f "$dir/$header" ] || refuse "$dir holds no $header;" \
        "name the headers that declare the host's classes: $0 DIR HEADER..."
done

command -v "$board_cxx" >/dev/null ||
    refuse "no compiler for the board: $board_cxx (make mipsel-deps installs it, or give --board-cxx)"
[ -z "$board_run" ] || command -v "${board_run%% *}" >/dev/null ||
    refuse "cannot run programs for the board: no ${board_run%% *} (make mipsel-deps, or give --board-run)"
command -v "$build_cxx" >/dev/null || refuse "no compiler for the build machine: $build_cxx"
if [ -z "$board_base" ]; then
    [ -d "$sysroot/usr/include/boost" ] || refuse "no Boost or jsoncpp headers for the board in" \
        "$sysroot: run make mipsel-deps, or give --board-base-flags"
    board_base="-static -isystem $sysroot/usr/include -isystem $sysroot/usr/include/jsoncpp"
fi
board_flags="$board_base $board_added"
build_flags="$build_base $build_added"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Builds the probe: NAME CXX FLAGS [FORCED...]. Unresolved symbols are let
# through: a function our headers make virtual and theirs do not has its
# address taken, and reads as not virtual.
build_probe() {
    local name=$1 cxx=$2 flags=$3
    shift 3
    # shellcheck disable=SC2086 # the flags are a list of words
    "$cxx" -std=c++17 $flags -I "$dir" "$@" "$abi/LayoutProbe.cpp" \
        -Wl,--unresolved-symbols=ignore-all -o "$work/$name" >"$work/$name.log" 2>&1
}

# Explains a probe that did not build: NAME WHERE.
not_built() {
    local missing
    missing=$(sed -n 's/^\(.*\):\([0-9]*\):[0-9]*: fatal error: \(.*\): No such file or directory$/\3 (included from \1:\2)/p' \
        "$work/$1.log" | head -n 1)
    if [ -n "$missing" ]; then
        echo "The compiler $2 finds no $missing: give the folder it is in with" \
            "--$1-flags \"-I DIR\" (the headers themselves were not compared)." >&2
        exit 2
    fi
    echo "The probe does not build against the headers in $dir $2; the compiler says:" >&2
    { grep -m 20 -E 'error|undefined reference' "$work/$1.log" || cat "$work/$1.log"; } |
        sed 's/^/  /' >&2
    echo "The probe needs VDeviceInterface, SMDVDevice, SMDSPDevice, Provider," \
        "SMDSPDeviceProvider, SMDController, ttime, rule_value, EnumParity and get_ttime" \
        "declared: name every header that holds one of them." >&2
    exit 2
}

# Runs a built probe: NAME RUNNER... (its report goes to NAME.txt).
run_probe() {
    local name=$1
    shift
    "$@" "$work/$name" "$work/$name.txt" 2>"$work/$name.log" || {
        echo "The probe built for $name did not run with '$*':" >&2
        sed 's/^/  /' "$work/$name.log" >&2
        exit 2
    }
}

# Both builds at once.
build_probe board "$board_cxx" "$board_flags" "${forced[@]}" &
board_build=$!
build_probe build "$build_cxx" "$build_flags" "${forced[@]}" &
build_build=$!
wait "$board_build" || not_built board "for the board ($board_cxx)"
wait "$build_build" || not_built build "for the build machine ($build_cxx)"

# shellcheck disable=SC2086 # the runner is a command with its arguments
run_probe board $board_run
run_probe build

# Compares a report with ours and says how they differ:
# TITLE [--skip ATTRIBUTES] OURS THEIRS. Answers 1 when they differ.
compare() {
    local title=$1 status=0 count
    shift
    "$abi/compare-reports.sh" "$@" >"$work/said" || status=$?
    [ "$status" -le 1 ] || exit 2
    [ "$status" -eq 1 ] || return 0
    count=$(wc -l <"$work/said")
    echo "$title: $count difference$([ "$count" -eq 1 ] || echo s)"
    sed 's/^/  /' "$work/said"
    cat "$work/said" >>"$work/all-said"
    return 1
}

# The facts of REPORT whose subject and attribute are not in KEYS: KEYS REPORT.
without() { awk -F '\t' 'FILENAME == ARGV[1] { said[$0]; next } !(($1 FS $2) in said)' "$1" "$2"; }

reference=$abi/host-abi.mipsel.txt
board_differs=0
compare "On the board ($board_cxx, against abi/host-abi.mipsel.txt)" "$reference" "$work/board.txt" ||
    board_differs=1
# The build machine's slots, signatures and types are the board's (the tests
# hold our headers to that); what the board has said already is not said again.
awk -F '\t' 'NR == FNR { ours[$1 FS $2] = $3; next } ours[$1 FS $2] != $3 { print $1 FS $2 }' \
    "$reference" "$work/board.txt" >"$work/board.keys"
without "$work/board.keys" "$reference" >"$work/reference.rest"
without "$work/board.keys" "$work/build.txt" >"$work/build.rest"
build_differs=0
compare "On the build machine ($build_cxx), besides" --skip size,align,offset \
    "$work/reference.rest" "$work/build.rest" || build_differs=1

# Names are ours where the host's are not known: say what a missing one may mean.
if grep -q " is missing in the controller's headers" "$work/all-said" 2>/dev/null; then
    echo "A member missing there may be named otherwise or private: the module still reads," \
        "writes or destroys what lies at its place. docs/abi.md lists which of our declarations" \
        "are guesses; the controller's own headers replace them (build the module against them)."
fi
if [ "$board_differs" -eq 1 ]; then
    echo "The controller's headers in $dir differ from ours on the board:" \
        "a module built against ours would misread the controller's objects."
    exit 1
fi
if [ "$build_differs" -eq 1 ]; then
    echo "The controller's headers in $dir agree with ours on the board but not on the build" \
        "machine: they declare other types, which the board's 32-bit types hide."
    exit 1
fi
echo "The controller's headers in $dir agree with ours: $(wc -l <"$reference") facts on the" \
    "board ($board_cxx) and on the build machine ($build_cxx)."
