#!/bin/sh
# Runs every fuzz target of a TOLVO_FUZZ build for a bounded time each.
# usage: run-fuzzers.sh <build-dir> [seconds per target] [target...]
# New inputs go to <build-dir>/fuzz-corpus/<target>/; the committed corpus in
# tests/fuzz/corpus/<target>/ is read, never written. A finding is saved as
# <build-dir>/fuzz-findings/<target>-crash-<hash> and makes the script fail.
# FUZZ_OPTIONS adds libFuzzer options, e.g. FUZZ_OPTIONS=-only_ascii=1.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 <build-dir> [seconds] [target...]}" && pwd)
seconds=${2:-60}
[ $# -ge 2 ] && shift 2 || shift $#
targets=${*:-$(cd "$build/tests/fuzz" && ls fuzz_* | grep -v '\.')}

mkdir -p "$build/fuzz-findings"
failed=""
for target in $targets; do
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    echo "== $target: $seconds s"
    if ! QT_QPA_PLATFORM=offscreen "$build/tests/fuzz/$target" \
        -max_total_time="$seconds" -timeout=30 -print_final_stats=1 ${FUZZ_OPTIONS:-} \
        -artifact_prefix="$build/fuzz-findings/$target-" \
        "$corpus" "$here/corpus/$target" 2>"$build/fuzz-findings/$target.log"; then
        failed="$failed $target"
    fi
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|==[0-9]+==ERROR|broken:)' \
        "$build/fuzz-findings/$target.log" || :
done
if [ -n "$failed" ]; then
    echo "findings in:$failed (see $build/fuzz-findings/)" >&2
    exit 1
fi
