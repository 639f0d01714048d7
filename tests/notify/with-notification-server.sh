#!/bin/sh
# Runs a command under Xvfb, a private session bus and dunst with ./dunstrc (or $TOLVO_DUNSTRC);
# returns its status.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != "--inside" ]; then
    [ $# -gt 0 ] || { echo "usage: $0 <command> [arguments...]" >&2 && exit 2; }
    exec xvfb-run -a -s "-screen 0 1280x1024x24" \
        dbus-run-session --config-file="$here/session-bus.conf" -- /bin/sh "$0" --inside "$@"
fi
shift
log=$(mktemp "${TMPDIR:-/tmp}/tolvo-dunst.XXXXXX")
dunst -config "${TOLVO_DUNSTRC:-$here/dunstrc}" >"$log" 2>&1 &
dunst_pid=$!
trap 'kill "$dunst_pid" 2>/dev/null || :; wait "$dunst_pid" 2>/dev/null || :; rm -f "$log"' EXIT
trap 'exit 130' INT TERM
tries=0
until dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null | grep -q true; do
    kill -0 "$dunst_pid" 2>/dev/null && [ $((tries += 1)) -lt 200 ] ||
        { echo "$0: the notification server did not start:"; cat "$log"; exit 1; } >&2
    sleep 0.05
done
# Not exec'd, so that the EXIT trap stops dunst; set -e passes on a failing command's status.
"$@"
