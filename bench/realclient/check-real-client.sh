#!/usr/bin/env bash
# `make check-real-client`: the real Claude Code CLI (run offline in tmux against a
# stand-in Messages API by ../shared/real-claude/session.sh) reports to this build of Tolvo
# through the installed hooks. Prints, for each step, how long after the terminal showed it
# Tolvo's status followed (negative: before), as `tolvoctl status --watch` sees it, and which
# notifications appeared. Needs npm the first time (the CLI is fetched once). Not part of
# `make test`.
#
#   check-real-client.sh BUILD_DIR [REAL_CLAUDE_DIR]
set -euo pipefail
build=$(realpath "${1:?usage: check-real-client.sh BUILD_DIR [REAL_CLAUDE_DIR]}")
here=$(cd "$(dirname "$0")" && pwd)
real=$(realpath "${2:-$here/../../../shared/real-claude}")
if [ -z "${TOLVO_REAL_CLIENT_INSIDE:-}" ]; then
    # Xvfb, a private session bus and dunst, so that tolvoctl and notifications work.
    TOLVO_REAL_CLIENT_INSIDE=1 exec "$here/../../tests/notify/with-notification-server.sh" "$0" "$build" "$real"
fi

session=$real/session.sh
export CLAUDE_CLI_CACHE=${CLAUDE_CLI_CACHE:-$HOME/.cache/tolvo-real-claude}
dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvo-real-client.XXXXXX")
export HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME/tolvo"
printf '[General]\nnotifyOnIdle=true\n' > "$XDG_CONFIG_HOME/tolvo/tolvo.ini"
# The model asks for Bash twice (refused, then approved), then answers.
bash='{"tool_use": "Bash", "input": {"command": "rm -f notes.txt", "description": "Remove notes"}}'
echo "[$bash, $bash, {\"text\": \"Removed.\"}]" > "$dir/model.json"
now() { date +%s%3N; }
mark() { echo "$(now) $1" >> "$dir/marks"; }

"$build/bin/tolvo" > "$dir/tolvo.log" 2>&1 &
trap '"$session" stop "$dir" || :; kill $(jobs -p) 2>/dev/null || :; wait 2>/dev/null || :' EXIT
"$build/bin/tolvoctl" hooks install --settings "$dir/settings.json" > /dev/null
until "$build/bin/tolvoctl" status > /dev/null 2>&1; do sleep 0.1; done
"$build/bin/tolvoctl" status --json --watch | while IFS= read -r line; do
    echo "$(now) $line"
done > "$dir/statuses" &

until_screen() {
    for _ in $(seq 6000); do
        "$session" screen "$dir" | grep -q "$1" && { mark "$2"; return; }
        sleep 0.01
    done
    echo "the terminal never showed '$1'" >&2 && exit 1
}

mark cli-started
"$session" start "$dir" "$dir/settings.json" "$dir/model.json"
mark prompt-shown
"$session" keys "$dir" 'remove the notes file' Enter
until_screen 'Do you want to proceed' dialog-shown
sleep 2
dunstctl close-all # into the history, so that the report lists them
"$session" keys "$dir" Escape
mark escape-pressed
sleep 2
"$session" keys "$dir" 'remove the notes file' Enter
until_screen 'Do you want to proceed' second-dialog-shown
sleep 0.5
dunstctl close-all
"$session" keys "$dir" Enter
mark approved
until_screen 'Removed' reply-shown
# The CLI's idle notice comes about a minute after the turn.
for _ in $(seq 120); do
    dunstctl close-all # dunstctl history lists closed notifications only
    dunstctl history | grep -q 'Claude Code is now idle' && break
    sleep 1
done
mark idle-waited
"$session" keys "$dir" '/exit' Enter
mark exit-typed
sleep 3
dunstctl close-all
dunstctl history > "$dir/notifications"

python3 - "$dir" <<'PY'
import json, sys
d = sys.argv[1]
marks = {name: int(t) for t, name in (l.split() for l in open(f"{d}/marks"))}
states = []
for line in open(f"{d}/statuses"):
    t, _, text = line.partition(" ")
    live = [s for s in json.loads(text) if s["pid"] > 0] if text.startswith("[") else []
    if live:
        states.append((int(t), "exited" if live[0]["exited"] else live[0]["status"]))
def first(state, after, before=None):
    for t, s in states:
        if s == state and t >= after and (before is None or t < before):
            return t
def row(label, state, mark, window_from, window_to=None):
    t = first(state, marks[window_from], marks.get(window_to))
    print(f"{label:55} {'never' if t is None else f'{t - marks[mark]:+6d} ms'}")
print(f"{'CLI started → its prompt shown':55} {marks['prompt-shown'] - marks['cli-started']:+6d} ms")
row("prompt shown → session listed", "ready", "prompt-shown", "cli-started")
row("permission dialog shown → waiting", "waiting", "dialog-shown", "prompt-shown", "escape-pressed")
row("Escape pressed → ready", "ready", "escape-pressed", "escape-pressed")
row("second dialog shown → waiting", "waiting", "second-dialog-shown", "escape-pressed", "approved")
row("approved → working", "working", "approved", "approved")
row("reply shown → ready", "ready", "reply-shown", "approved")
row("/exit typed → exited", "exited", "exit-typed", "exit-typed")
shown = [n["body"]["data"] for n in json.load(open(f"{d}/notifications"))["data"][0]]
print("notifications, oldest first:")
for body in reversed(shown):
    print("  " + body.replace("\n", " / "))
print("idle notice:", "yes" if "Claude Code is now idle" in shown else "NO")
print('bare "Notification" body:', "YES" if "Notification" in shown else "none")
PY
