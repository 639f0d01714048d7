#!/bin/sh
# Runs a command under Xvfb with openbox managing its windows; returns its status.
set -eu
if [ "${1:-}" != "--inside" ]; then
    [ $# -gt 0 ] || { echo "usage: $0 <command> [arguments...]" >&2 && exit 2; }
    exec xvfb-run -a -s "-screen 0 1280x1024x24" /bin/sh "$0" --inside "$@"
fi
shift
log=$(mktemp "${TMPDIR:-/tmp}/tolvo-openbox.XXXXXX")
openbox --sm-disable >"$log" 2>&1 &
wm_pid=$!
trap 'kill "$wm_pid" 2>/dev/null || :; wait "$wm_pid" 2>/dev/null || :; rm -f "$log"' EXIT
trap 'exit 130' INT TERM
# The window manager is ready once it names its check window on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    kill -0 "$wm_pid" 2>/dev/null && [ $((tries += 1)) -lt 200 ] ||
        { echo "$0: the window manager did not start:"; cat "$log"; exit 1; } >&2
    sleep 0.05
done
# Not exec'd, so that the EXIT trap stops the window manager.
"$@"
