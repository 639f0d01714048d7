#!/bin/sh
# with-notification-server.sh <command> [arguments...]: runs the command in a throwaway desktop
# (Xvfb, a private session bus, dunst with this folder's settings), nothing of the user's own
# session used, and returns its exit status; the server is stopped afterwards.
set -eu

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != "--inside" ]; then
    if [ $# -eq 0 ]; then
        echo "usage: $0 <command> [arguments...]" >&2
        exit 2
    fi
    exec xvfb-run -a -s "-screen 0 1280x1024x24" \
        dbus-run-session --config-file="$here/session-bus.conf" -- /bin/sh "$0" --inside "$@"
fi
shift

log=$(mktemp "${TMPDIR:-/tmp}/tolvo-dunst.XXXXXX")
dunst -config "$here/dunstrc" >"$log" 2>&1 &
dunst_pid=$!
trap 'kill "$dunst_pid" 2>/dev/null || :; wait "$dunst_pid" 2>/dev/null || :; rm -f "$log"' EXIT
trap 'exit 130' INT TERM

tries=0
until dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
    grep -q true; do
    tries=$((tries + 1))
    if ! kill -0 "$dunst_pid" 2>/dev/null || [ "$tries" -ge 200 ]; then
        echo "$0: the notification server did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.05
done

# Under set -e a failing command ends the script with its status; the EXIT trap keeps it.
"$@"
