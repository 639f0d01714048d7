#!/bin/sh
# Runs every fuzz target of a TOLVO_FUZZ build for a bounded time each.
# usage: run-fuzzers.sh <build-dir> [seconds per target] [target...]
# New inputs go to <build-dir>/fuzz-corpus/, findings to <build-dir>/fuzz-findings/
# (and fail the script); FUZZ_OPTIONS adds libFuzzer options.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 <build-dir> [seconds] [target...]}" && pwd)
seconds=${2:-60}
[ $# -ge 2 ] && shift 2 || shift $#
failed=""
for target in ${*:-$(cd "$build/tests/fuzz" && find . -maxdepth 1 -type f -perm -u+x -name 'fuzz_*' | sed 's|^./||' | sort)}; do
    mkdir -p "$build/fuzz-corpus/$target" "$build/fuzz-findings"
    echo "== $target: $seconds s"
    QT_QPA_PLATFORM=offscreen "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=30 \
        -print_final_stats=1 ${FUZZ_OPTIONS:-} -artifact_prefix="$build/fuzz-findings/$target-" \
        "$build/fuzz-corpus/$target" "$here/corpus/$target" 2>"$build/fuzz-findings/$target.log" ||
        failed="$failed $target"
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|==[0-9]+==ERROR|broken:)' \
        "$build/fuzz-findings/$target.log" || :
done
[ -z "$failed" ] || { echo "findings in:$failed (see $build/fuzz-findings/)" >&2; exit 1; }
