#!/usr/bin/env bash
# Fuzzes one target for a bounded time. Any crash, sanitizer report, leak or
# timeout fails the run; libFuzzer leaves the input that caused it in
# BUILD/fuzz/artifacts/TARGET/, to replay with: BUILD/fuzz/fuzz_TARGET FILE
# New inputs go to BUILD/fuzz/corpus/TARGET/, where the next run starts from
# them; with --fresh to BUILD/fuzz/fresh/TARGET/, emptied first, so that the
# run starts from the seeds alone as on a new machine. The seeds in
# fuzz/corpus/ are only read.
# Usage: fuzz/run-fuzz.sh BUILD_DIR TARGET SECONDS [--fresh]
set -euo pipefail

build=$1 target=$2 seconds=$3 fresh=${4:-}
here=$(cd "$(dirname "$0")" && pwd)

options=()
case "$target" in
receive | answer) options+=(-max_len=8192 -dict="$here/ups.dict") ;;
cache)    options+=(-max_len=256) ;;
settings) options+=(-max_len=4096 -dict="$here/settings.dict") ;;
*) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac

corpus=$build/fuzz/corpus/$target
if [ "$fresh" = --fresh ]; then
    corpus=$build/fuzz/fresh/$target
    rm -rf "$corpus"
fi
artifacts=$build/fuzz/artifacts/$target
log=$build/fuzz/$target.log
mkdir -p "$corpus" "$artifacts"

status=0
"$build/fuzz/fuzz_$target" "${options[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$here/corpus/$target" >"$log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_$target FAILED (exit $status); reproducer in $artifacts/:" >&2
    ls -l "$artifacts" >&2
    exit 1
fi
inputs=$(find "$corpus" -type f | wc -l)
echo "fuzz_$target: ${runs:-?} executions in $seconds s, $inputs inputs in its corpus, no finding"
