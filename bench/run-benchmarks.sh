#!/bin/sh
# Runs every benchmark program of a build tree and prints one table, with the
# machine and its load, ready to paste into docs/BENCHMARKS.md. The programs'
# own diagnostics go to <build>/bench.log.
#
#   bench/run-benchmarks.sh <build directory>
set -eu
build=${1:?usage: $0 <build directory>}
here=$(cd "$(dirname "$0")" && pwd)
log=$build/bench.log
: >"$log"

rows=$(mktemp "${TMPDIR:-/tmp}/tolvo-bench.XXXXXX")
trap 'rm -f "$rows"' EXIT

model=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')

run() {
    echo "== $*" >>"$log"
    "$@" 2>>"$log" | tee -a "$log" >>"$rows" || echo "| $1 failed (see $log) | | | no |" >>"$rows"
}
run "$build/bench/hook/bench_hook"
run "$build/bench/statusline/bench_statusline"
run "$build/bench/intake/bench_intake"
run "$build/bench/relay/bench_relay"
run "$build/bench/relay/bench_relay_latency"
# Hook cost, answer, intake and relay latency once more with the CPU guaranteed (where chrt is
# allowed): the difference is time spent waiting for a CPU that other
# processes hold.
if chrt -f 10 true 2>/dev/null; then
    run chrt -f 10 "$build/bench/hook/bench_hook" 40
    run chrt -f 10 "$build/bench/intake/bench_intake" latency
    run chrt -f 10 "$build/bench/relay/bench_relay_latency" 400 0
fi
run "$build/bench/events/bench_events"
run "$here/../tests/notify/with-notification-server.sh" "$build/bench/ui/bench_ui"

echo "Date: $started"
echo "Machine: $model, $(nproc) cores; load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after"
echo
echo "| Measure | Result | Goal | Met |"
echo "|---|---|---|---|"
grep '^|' "$rows"
echo
grep '^  ' "$rows" | sed 's/^  /- /'
