#!/usr/bin/env bash
# `make check-real-client`: the real Claude Code CLI (run offline in tmux against a
# stand-in Messages API by ../shared/real-claude/session.sh) reports to this build of Tolvo
# through the installed hooks. Prints, for each step, how long after the terminal showed it
# Tolvo's status followed (negative: before), as `tolvoctl status --watch` sees it, and which
# notifications appeared. Then answers permission requests every way there is (the
# notification's buttons, tolvoctl, Enter and Escape in the terminal, Tolvo killed while one
# waits) and prints how long each answer took to show. Last, remote-scenario.sh runs the CLI
# on "devbox", an account behind a loopback ssh server, and answers its request from Tolvo.
# Then agents-scenario.sh does the same for the real Codex CLI and Gemini CLI
# (../shared/real-agents), and statusline-scenario.sh checks that Tolvo's install keeps the
# user's own status line on screen while Tolvo gets the usage. A line for each check that failed; the status is 1 if any did. Needs npm the first time (the
# CLIs are fetched once). Not part of `make test`.
#
#   check-real-client.sh BUILD_DIR [REAL_CLAUDE_DIR]
set -euo pipefail
build=$(realpath "${1:?usage: check-real-client.sh BUILD_DIR [REAL_CLAUDE_DIR]}")
here=$(cd "$(dirname "$0")" && pwd)
real=$(realpath "${2:-$here/../../../shared/real-claude}")
if [ -z "${TOLVO_REAL_CLIENT_DIR:-}" ]; then
    # Xvfb, a private session bus and dunst, so that tolvoctl and notifications work. dunst's
    # context menu ("dmenu") is pick-action.sh, which clicks the button the check names.
    dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvo-real-client.XXXXXX")
    { cat "$here/../../tests/notify/dunstrc"; printf "    dmenu = \"'%s' '%s'\"\n" "$here/pick-action.sh" "$dir"; } > "$dir/dunstrc"
    TOLVO_REAL_CLIENT_DIR=$dir TOLVO_DUNSTRC=$dir/dunstrc \
        exec "$here/../../tests/notify/with-notification-server.sh" "$0" "$build" "$real"
fi

session=$real/session.sh
export CLAUDE_CLI_CACHE=${CLAUDE_CLI_CACHE:-$HOME/.cache/tolvo-real-claude}
user_home=$HOME
dir=$TOLVO_REAL_CLIENT_DIR
export HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME/tolvo"
printf '[General]\nnotifyOnIdle=true\n' > "$XDG_CONFIG_HOME/tolvo/tolvo.ini"
project=$dir/code/webshop
# The first session's model asks for Bash twice (refused, then approved), then answers.
bash='{"tool_use": "Bash", "input": {"command": "rm -f notes.txt", "description": "Remove notes"}}'
echo "[$bash, $bash, {\"text\": \"Removed.\"}]" > "$dir/model.json"
# The second session's model asks for a tool six times; each request is answered another way.
python3 - "$dir/answers.json" "$project" <<'PY'
import json, sys
path, project = sys.argv[1:3]
def bash(command, description):
    return {"tool_use": "Bash", "input": {"command": command, "description": description}}
def write(name):
    return {"tool_use": "Write", "input": {"file_path": f"{project}/{name}", "content": name + "\n"}}
# The CLI folds refusals in a row into one line without their reasons: the two are apart.
# Once edits are allowed for the session, touch would be too, but not python3.
json.dump([bash("touch clicked.txt", "Create the clicked file"),
           bash("touch denied.txt", "Create the denied file"),
           write("first.txt"),
           write("second.txt"),
           bash("python3 -c \"open('refused.txt', 'w')\"", "Create the refused file"),
           bash("python3 -c \"open('orphan.txt', 'w')\"", "Create the orphan file"),
           {"text": "All done."}], open(path, "w"))
PY
now() { date +%s%3N; }
mark() { echo "$(now) $1" >> "$dir/marks"; }
failed() { echo "$1" >> "$dir/failures"; }
: > "$dir/marks"
: > "$dir/failures"

# Every call to and signal from the notification server, and every answer on the bus (for the
# ids it gives).
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications'" \
    "type='signal',interface='org.freedesktop.Notifications'" "type='method_return'" > "$dir/bus" 2>&1 &
QT_LOGGING_RULES='tolvo.events.debug=true' "$build/bin/tolvo" > "$dir/tolvo.log" 2>&1 &
tolvo=$!
trap '"$session" stop "$dir" || :; kill $(jobs -p) 2>/dev/null || :; wait 2>/dev/null || :' EXIT
"$build/bin/tolvoctl" hooks install --settings "$dir/settings.json" > /dev/null
until "$build/bin/tolvoctl" status > /dev/null 2>&1; do sleep 0.1; done
"$build/bin/tolvoctl" status --json --watch | while IFS= read -r line; do
    echo "$(now) $line"
done > "$dir/statuses" &

# What the terminal shows. Straight from session.sh's tmux server (the socket is named as
# session.sh names it), as starting session.sh takes a tenth of a second on a busy machine.
sock=tolvo-real-claude-$(printf '%s' "$(realpath -m "$dir")" | md5sum | cut -c1-8)
screen() { tmux -L "$sock" capture-pane -t cc -p 2>/dev/null || "$session" screen "$dir"; }

until_screen() { # TEXT MARK: marks when the terminal shows TEXT (within 30 s)
    local until=$(($(now) + 30000))
    while [ "$(now)" -lt $until ]; do
        screen | grep -q -- "$1" && { mark "$2"; return; }
        sleep 0.01
    done
    echo "the terminal never showed '$1'" >&2 && exit 1
}

# The hook helpers running now (the shell the CLI starts each in, too).
helpers() { pgrep -f 'libexec/tolvo/tolvo-hook' | tr '\n' ' ' || :; }
gone() { # PID... : none runs (an exited one that is not reaped yet counts as gone)
    local pid stat
    for pid; do
        stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
        stat=${stat##*) }
        [ "${stat%% *}" = Z ] || return 1
    done
}

# Waits until Tolvo lists the request the dialog asks (its helper then waits for the answer);
# sets $sid to the session's id and $waiting to the helpers running.
until_request() {
    local until=$(($(now) + 20000))
    while [ "$(now)" -lt $until ]; do
        sid=$("$build/bin/tolvoctl" status --json | python3 -c '
import json, sys
print(next((s["id"] for s in json.load(sys.stdin) if s["pid"] > 0 and not s["exited"] and s["requests"]), ""))')
        if [ -n "$sid" ]; then
            waiting=$(helpers)
            [ -n "$waiting" ] || failed "no hook helper ran while Tolvo listed the request"
            return
        fi
        sleep 0.05
    done
    echo "Tolvo never listed the request" >&2 && exit 1
}

# After an answer: marks NAME-dialog-gone when the dialog that shows the line DIALOG has
# closed (not watched without DIALOG) and NAME-helper-gone when the helpers in $waiting have
# ended (within 10 s).
until_answered() {
    local name=$1 dialog=${2:-} shown=1 running=1 screen until
    [ -n "$dialog" ] || shown=0
    until=$(($(now) + 10000))
    while [ "$(now)" -lt $until ]; do
        if [ $shown = 1 ]; then
            screen=$(screen)
            grep -q 'Do you want to' <<< "$screen" && grep -q -- "$dialog" <<< "$screen" ||
                { shown=0; mark "$name-dialog-gone"; }
        fi
        [ $running = 1 ] && gone $waiting && { running=0; mark "$name-helper-gone"; }
        [ $shown$running = 00 ] && return
        sleep 0.01
    done
}

# Clicks the button ACTION of the newest notification that has one, once it is shown.
click() {
    rm -f "$dir/clicked"
    echo "$1" > "$dir/pick"
    for _ in $(seq 50); do
        dunstctl context
        for _ in $(seq 10); do
            [ -f "$dir/clicked" ] && { rm -f "$dir/pick"; echo "$(cat "$dir/clicked") $2" >> "$dir/marks"; return; }
            sleep 0.02
        done
    done
    rm -f "$dir/pick"
    echo "no notification offered '$1'" >&2 && exit 1
}

until_file() { # NAME MARK: marks when the project holds the file NAME (within 10 s)
    local until=$(($(now) + 10000))
    while [ "$(now)" -lt $until ]; do
        [ -e "$project/$1" ] && { mark "$2"; return; }
        sleep 0.01
    done
    failed "the tool did not run: $1 was not created"
}

### The first session: Escape and Enter in the terminal.
mark cli-started
"$session" start "$dir" "$dir/settings.json" "$dir/model.json"
mark prompt-shown
"$session" keys "$dir" 'remove the notes file' Enter
until_screen 'Do you want to proceed' dialog-shown
until_request
sleep 2
"$session" keys "$dir" Escape
mark escape-pressed
until_answered escape 'Remove notes'
sleep 2
mark second-prompt-typed
"$session" keys "$dir" 'remove the notes file' Enter
until_screen 'Do you want to proceed' second-dialog-shown
until_request
sleep 0.5
"$session" keys "$dir" Enter
mark approved
until_answered enter 'Remove notes'
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
"$session" stop "$dir"

### The second session: answers from Tolvo, then Tolvo killed while a request waits.
mark second-cli-started
"$session" start "$dir" "$dir/settings.json" "$dir/answers.json"
"$session" keys "$dir" 'create the files' Enter
until_screen 'Create the clicked file' clicked-dialog-shown
until_request
click allow allow-clicked
until_answered allow 'Create the clicked file'
until_file clicked.txt allow-ran

until_screen 'Create the denied file' denied-dialog-shown
until_request
click deny deny-clicked
until_screen 'Reason: Denied from Tolvo' deny-reason-shown
screen | grep -q 'permission denied' || failed 'the terminal did not say "permission denied" after Deny'

until_screen 'Do you want to create first.txt' always-dialog-shown
until_request
mark always-sent
"$build/bin/tolvoctl" allow --always "$sid" > /dev/null
# The next Write is allowed by what the first one's answer allowed: nothing may ask for it.
until=$(($(now) + 10000))
while [ "$(now)" -lt $until ]; do
    screen=$(screen)
    grep -q 'Do you want to create second.txt' <<< "$screen" && { failed 'the Write after "allow --always" was asked in the terminal'; break; }
    [ -e "$project/second.txt" ] && { mark second-write-done; break; }
    sleep 0.01
done

until_screen 'Create the refused file' refused-dialog-shown
until_request
mark deny-sent
"$build/bin/tolvoctl" deny --reason 'Not in this check' "$sid" > /dev/null
until_screen 'Reason: Not in this check' refuse-reason-shown

until_screen 'Create the orphan file' orphan-dialog-shown
until_request
mark tolvo-killed
{ kill -9 "$tolvo" && wait "$tolvo"; } 2> /dev/null || : # without a word about it
until_answered kill
screen | grep -q 'Do you want to proceed' || failed 'the dialog closed when Tolvo was killed'
sleep 0.5
"$session" keys "$dir" Enter
mark orphan-approved
until_file orphan.txt orphan-ran
until_screen 'All done' orphan-reply-shown
sleep 1
left=$(helpers)
[ -z "$left" ] || ps -o pid=,args= -p "${left// /,}" > "$dir/left" || :
"$session" keys "$dir" '/exit' Enter
sleep 1

report=0
python3 - "$dir" <<'PY' || report=1
import json, os, re, sys
d = sys.argv[1]
marks = {name: int(t) for t, name in (l.split() for l in open(f"{d}/marks"))}
failures = [l.rstrip("\n") for l in open(f"{d}/failures")]
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
def took(label, start, end, bound=None):
    t = marks.get(end)
    print(f"{label:55} {'never' if t is None else f'{t - marks[start]:+6d} ms'}")
    if t is None:
        failures.append(f"{label.strip()}: never")
    elif bound is not None and t - marks[start] > bound:
        failures.append(f"{label.strip()}: not within {bound} ms")
print(f"{'CLI started → its prompt shown':55} {marks['prompt-shown'] - marks['cli-started']:+6d} ms")
row("prompt shown → session listed", "ready", "prompt-shown", "cli-started")
row("permission dialog shown → waiting", "waiting", "dialog-shown", "prompt-shown", "escape-pressed")
row("Escape pressed → ready", "ready", "escape-pressed", "escape-pressed")
# From the second prompt on: the row stays "waiting" after Escape until the transcript tells.
row("second dialog shown → waiting", "waiting", "second-dialog-shown", "second-prompt-typed", "approved")
row("approved → working", "working", "approved", "approved")
row("reply shown → ready", "ready", "reply-shown", "approved")
row("/exit typed → exited", "exited", "exit-typed", "exit-typed", "second-cli-started")
shown = [n["body"]["data"] for n in json.load(open(f"{d}/notifications"))["data"][0]]
print("notifications, oldest first:")
for body in reversed(shown):
    print("  " + body.replace("\n", " / "))
print("idle notice:", "yes" if "Claude Code is now idle" in shown else "NO")
print('bare "Notification" body:', "YES" if "Notification" in shown else "none")

# The bus: which notifications offered "allow" (a request's), and when each was closed.
calls, returns = {}, {}
blocks = re.split(r"\n(?=\S)", open(f"{d}/bus").read())
for block in blocks:
    head = block.split("\n", 1)[0]
    t = re.search(r"time=(\d+)\.(\d+)", head)
    if not t:
        continue
    t = int(t[1]) * 1000 + int(t[2]) // 1000
    field = lambda name: (re.search(name + r"=(\S+?);?(?:\s|$)", head) or [None, None])[1]
    if head.startswith("method call"):
        calls[(field("sender"), field("serial"))] = (t, field("member"), block)
    elif head.startswith("method return"):
        returns[(field("destination"), field("reply_serial"))] = block
    elif head.startswith("signal") and field("member") == "ActionInvoked":
        calls[("signal", t)] = (t, "ActionInvoked", block)
requests, closed, invoked = set(), [], []
for key, (t, member, block) in calls.items():
    if member == "Notify" and '"allow"' in block and key in returns:
        requests.add(int(re.search(r"uint32 (\d+)", returns[key])[1]))
    elif member == "CloseNotification":
        closed.append((t, int(re.search(r"uint32 (\d+)", block)[1])))
    elif member == "ActionInvoked":
        invoked.append(t)
def closed_after(start, name):
    t = next((t for t, n in sorted(closed) if t >= marks[start] and n in requests), None)
    if t is not None:
        marks[name] = t

print("answered in the terminal:")
for key, label in (("escape", "Escape pressed"), ("enter", "Enter pressed")):
    start = key + "-pressed" if key == "escape" else "approved"
    closed_after(start, key + "-closed")
    took(f"  {label} → dialog gone", start, key + "-dialog-gone")
    took(f"  {label} → notification closed", start, key + "-closed", 1000)
    took(f"  {label} → helper gone", start, key + "-helper-gone", 1000)
print("answered from Tolvo:")
marks["allow-invoked"] = next((t for t in sorted(invoked) if t >= marks["allow-clicked"]), None)
took("  Allow clicked → dunst sent ActionInvoked", "allow-clicked", "allow-invoked")
took("  Allow clicked → dialog gone", "allow-clicked", "allow-dialog-gone", 1000)
took("  Allow clicked → helper gone", "allow-clicked", "allow-helper-gone", 1000)
took("  Allow clicked → the tool's file written", "allow-clicked", "allow-ran")
took("  Deny clicked → \"permission denied\", reason shown", "deny-clicked", "deny-reason-shown")
took("  `tolvoctl deny --reason` → reason shown", "deny-sent", "refuse-reason-shown")
took("  `tolvoctl allow --always` → next Write done, unasked", "always-sent", "second-write-done")
log = open(f"{d}/tolvo.log", errors="replace").read()
asked = [l for l in log.splitlines() if "Received event" in l and "PermissionRequest" in l and "second.txt" in l]
print(f"{'  PermissionRequest for that next Write':55} {'RECEIVED' if asked else 'none'}")
if asked:
    failures.append('the Write after "allow --always" sent a PermissionRequest')
print("Tolvo killed (kill -9) while a request waits:")
took("  killed → helper gone", "tolvo-killed", "kill-helper-gone", 1000)
took("  Enter pressed then → the tool's file written", "orphan-approved", "orphan-ran")
left = open(f"{d}/left").read().strip() if os.path.exists(f"{d}/left") else ""
print(f"{'  hook processes left':55} {left.replace(chr(10), '; ') or 'none'}")
if left:
    failures.append("hook processes were left after Tolvo was killed")
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
PY

### A session on another machine, through a relay: Tolvo again, as the last one was killed.
"$build/bin/tolvo" > "$dir/tolvo-remote.log" 2>&1 &
until "$build/bin/tolvoctl" status > /dev/null 2>&1; do sleep 0.1; done
"$here/remote-scenario.sh" "$build" "$real" "$dir" || report=1

### Codex CLI and Gemini CLI, on a bus and with a Tolvo of their own.
env -u TOLVO_DUNSTRC TOLVO_USER_HOME="$user_home" "$here/agents-scenario.sh" "$build" || report=1

### The user's own status line kept, and the usage it reports, on a bus of its own.
env -u TOLVO_DUNSTRC HOME="$user_home" "$here/statusline-scenario.sh" "$build" "$real" || report=1

### No notice for the session in front of the user: the CLI's tmux pane in an xterm.
env -u TOLVO_DUNSTRC HOME="$user_home" "$here/quiet-scenario.sh" "$build" "$real" || report=1
exit $report
