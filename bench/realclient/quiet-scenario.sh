#!/usr/bin/env bash
# check-real-client.sh's quiet part: the real Claude Code CLI (../shared/real-claude) in a tmux
# pane that an xterm shows, under Xvfb with openbox, and a second pane beside it. With the CLI's
# pane the active one and its xterm the active window, its permission request must raise no
# notification; with the other pane active, it must. Prints when each request showed and what
# was notified (every Notify call, recorded with dbus-monitor). A FAILED: line for each check
# that failed, status 1 if any.
#
#   quiet-scenario.sh BUILD_DIR [REAL_CLAUDE_DIR]
set -euo pipefail
failures=()
build=$(realpath "${1:?usage: quiet-scenario.sh BUILD_DIR [REAL_CLAUDE_DIR]}")
here=$(cd "$(dirname "$0")" && pwd)
real=$(realpath "${2:-$here/../../../shared/real-claude}")
if [ -z "${TOLVO_QUIET_INSIDE:-}" ]; then
    TOLVO_QUIET_INSIDE=1 exec "$here/../../tests/notify/with-notification-server.sh" "$0" "$build" "$real"
fi
export CLAUDE_CLI_CACHE=${CLAUDE_CLI_CACHE:-$HOME/.cache/tolvo-real-claude}
session=$real/session.sh
dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvo-quiet.XXXXXX")
ctl=$build/bin/tolvoctl
sock=tolvo-real-claude-$(printf '%s' "$dir" | md5sum | cut -c1-8) # as session.sh names it
cleanup() {
    HOME=$dir/home "$session" stop "$dir" > /dev/null 2>&1 || :
    kill $(jobs -p) 2> /dev/null || :
    wait 2> /dev/null || :
    rm -rf -- "$dir"
}
trap cleanup EXIT
now() { date +%s%3N; }
when() { # MS COMMAND...: the time COMMAND first succeeds, empty after MS
    local until=$(($(now) + $1)); shift
    while [ "$(now)" -lt $until ]; do
        "$@" > /dev/null 2>&1 && { now; return; }
        sleep 0.05
    done
}
mkdir -p "$dir/home/.config/tolvo"
# Each prompt asks to run one command; Escape refuses it and ends the turn.
cat > "$dir/model.json" << 'JSON'
[{"tool_use": "Bash", "input": {"command": "rm -f first.txt", "description": "Remove first"}},
 {"tool_use": "Bash", "input": {"command": "rm -f second.txt", "description": "Remove second"}},
 {"text": "Done."}]
JSON

openbox --sm-disable > /dev/null 2>&1 &
until xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q '#'; do sleep 0.1; done
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    > "$dir/notify.log" 2>&1 &
HOME=$dir/home "$build/bin/tolvo" > "$dir/tolvo.log" 2>&1 &
until HOME=$dir/home "$ctl" status > /dev/null 2>&1; do sleep 0.1; done
HOME=$dir/home "$ctl" hooks install --no-status-line --settings "$dir/settings.json" > /dev/null
HOME=$dir/home "$session" start "$dir" "$dir/settings.json" "$dir/model.json" > /dev/null 2>&1
tmux -L "$sock" split-window -d -h -t cc:0.0 'sleep 1h'
xterm -e tmux -L "$sock" attach -t cc &
active() { a=$(xprop -root _NET_ACTIVE_WINDOW) && xprop -id "${a##* }" _NET_WM_PID | grep -q "= $1\$"; }
[ -n "$(when 20000 active $!)" ] || failures+=("the xterm showing the CLI's pane never became active")

notices() { grep -c 'Permission required' "$dir/notify.log" || :; }
dialog() { tmux -L "$sock" capture-pane -t cc:0.0 -p | grep -q 'Do you want to proceed'; }
ask() { # PANE WORD: the CLI's request with PANE active; prints when it showed and what was notified
    local before shown notified
    tmux -L "$sock" select-pane -t "cc:0.$1"
    before=$(notices)
    local sent=$(now)
    tmux -L "$sock" send-keys -t cc:0.0 "remove the $2 file"
    tmux -L "$sock" send-keys -t cc:0.0 Enter
    shown=$(when 30000 dialog)
    sleep 3 # well past the presence check and the notices' delivery delay
    notified=$(($(notices) - before))
    printf '  %-58s %s\n' "pane $1 active: prompt → the CLI's dialog" \
        "$([ -n "$shown" ] && echo "+$((shown - sent)) ms" || echo never)"
    printf '  %-58s %s\n' "pane $1 active: notifications of the request" "$notified"
    if [ "$notified" -gt 0 ] && [ -n "$shown" ]; then
        local at=$(awk '/^method call time=/ { t = $3 } /Permission required/ { last = t } END { sub("time=", "", last); printf "%.0f", last * 1000 }' "$dir/notify.log")
        printf '  %-58s %s\n' "pane $1 active: the CLI's dialog → Notify on the bus" "$((at - shown)) ms"
    fi
    tmux -L "$sock" send-keys -t cc:0.0 Escape
    sleep 1
    echo "$notified" > "$dir/notified-$1"
}
echo "Quiet for the session in front of you, with the real CLI in tmux under Xvfb:"
ask 0 first
[ "$(cat "$dir/notified-0")" = 0 ] || failures+=("the request of the pane in front raised a notification")
ask 1 second
[ "$(cat "$dir/notified-1")" -ge 1 ] || failures+=("the request with another pane active raised no notification")
grep -o 'Not shown: [^"]*' "$dir/tolvo.log" | sed 's/^/  Tolvo: /' | sort | uniq -c | sed 's/^ */  /' || :
for failure in "${failures[@]}"; do echo "FAILED: quiet: $failure"; done
[ ${#failures[@]} -eq 0 ]
