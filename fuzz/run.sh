#!/bin/bash
# Runs one fuzz target for a while at the lowest priority, growing its corpus
# in BUILD/fuzz-corpus/<target> from the seeds of fuzz/seeds.sh. Findings go
# to BUILD/fuzz-findings/<target>/, the log to BUILD/fuzz-logs/<target>.log.
#   fuzz/run.sh build-fuzz fuzz_ini_file 600
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD_DIR TARGET [SECONDS]}
target=${2:?usage: fuzz/run.sh BUILD_DIR TARGET [SECONDS]}
seconds=${3:-600}
[ -d "$build/fuzz-seeds/$target" ] || "$(dirname "$0")/seeds.sh" "$build"
mkdir -p "$build/fuzz-corpus/$target" "$build/fuzz-findings/$target" "$build/fuzz-logs"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
exec nice -n 19 "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$target/" \
    "$build/fuzz-corpus/$target" "$build/fuzz-seeds/$target" >"$build/fuzz-logs/$target.log" 2>&1
