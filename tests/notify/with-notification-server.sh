#!/bin/sh
# Runs a command inside a throwaway desktop: a virtual X display (Xvfb), a
# private session bus and a notification server (dunst) with the settings in
# this folder. Nothing of the user's own session or configuration is used.
#
#   with-notification-server.sh <command> [arguments...]
#
# The command's exit status is returned; the server is stopped afterwards.
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

owned() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
        grep -q true
}

tries=0
until owned; do
    tries=$((tries + 1))
    if ! kill -0 "$dunst_pid" 2>/dev/null || [ "$tries" -ge 200 ]; then
        echo "$0: the notification server did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.05
done

set +e
"$@"
status=$?
exit "$status"
