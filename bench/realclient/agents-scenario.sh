#!/usr/bin/env bash
# check-real-client.sh's Codex CLI and Gemini CLI: each real CLI runs offline in tmux against a
# stand-in model API (../shared/real-agents/codex.sh and gemini.sh) and reports to this build
# of Tolvo through the hooks that `tolvoctl hooks install --agent codex|gemini` wrote into the
# sandbox's home. Prints, for each step, how long after the terminal showed it (or after the
# first hook process of the session started) Tolvo's status followed, as `tolvoctl status
# --json --watch` sees it. For Codex also: two sessions of one background server in two tmux
# panes, and which pane `tolvoctl focus` selects for each. A FAILED: line for each check that
# failed, status 1 if any. The sandbox (Codex copies about 400 MB into it) is removed at the end.
#
#   agents-scenario.sh BUILD_DIR [REAL_AGENTS_DIR] [DIR]
#
# It starts Xvfb, a session bus and dunst of its own, and there a Tolvo with the sandbox's
# home. TOLVO_USER_HOME is the home whose npm settings and CLI cache (AGENT_CLI_CACHE) the CLIs
# come from (default: HOME). TOLVO_REAL_AGENTS_KEEP=1 keeps the sandbox's logs (all but
# Codex's copy of itself).
set -euo pipefail
build=$(realpath "${1:?usage: agents-scenario.sh BUILD_DIR [REAL_AGENTS_DIR] [DIR]}")
here=$(cd "$(dirname "$0")" && pwd)
agents=$(realpath "${2:-$here/../../../shared/real-agents}")
if [ -z "${TOLVO_AGENTS_INSIDE:-}" ]; then
    TOLVO_AGENTS_INSIDE=1 exec "$here/../../tests/notify/with-notification-server.sh" "$0" "$build" "$agents" "${3:-}"
fi
user_home=${TOLVO_USER_HOME:-$HOME}
export AGENT_CLI_CACHE=${AGENT_CLI_CACHE:-$user_home/.cache/tolvo-real-agents}
dir=${3:-}
[ -n "$dir" ] || dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvo-real-agents.XXXXXX")
mkdir -p "$dir"
dir=$(realpath "$dir")
ctl=$build/bin/tolvoctl
codex=$agents/codex.sh gemini=$agents/gemini.sh
# The CLIs' scripts keep the caller's home (npm, the CLI cache); Tolvo and tolvoctl the sandbox's.
cx() { HOME=$user_home "$codex" "$@"; }
gm() { HOME=$user_home "$gemini" "$@"; }
export HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME/tolvo"
project=$dir/code/webshop

now() { date +%s%3N; }
mark() { echo "$(now) $1" >> "$dir/marks"; }
failed() { echo "$1" >> "$dir/failures"; }
: > "$dir/marks"
: > "$dir/failures"
: > "$dir/focus"

# codex.sh's stop kills the background server and its updater, whose sockets (in a folder of
# their own under /tmp, named in the sandbox's links to them) are then left behind.
stop_codex() {
    local link target
    for link in "$dir"/home/.codex/app-server-control/*.sock "$dir"/home/.codex/app-server-daemon/*.sock; do
        target=$(readlink "$link" 2> /dev/null) || continue
        case $target in /tmp/codex-daemon-*/*) echo "$target" >> "$dir/codex-sockets" ;; esac
    done
    cx stop "$dir" > /dev/null 2>&1 || :
    if [ -f "$dir/codex-sockets" ]; then
        while IFS= read -r target; do rm -f -- "$target" "$target.lock"; done < "$dir/codex-sockets"
    fi
}
cleanup() {
    stop_codex
    gm stop "$dir" > /dev/null 2>&1 || :
    kill $(jobs -p) 2> /dev/null || :
    wait 2> /dev/null || :
    if [ -n "${TOLVO_REAL_AGENTS_KEEP:-}" ]; then
        rm -rf -- "$dir/home/.codex/packages"
    else
        rm -rf -- "$dir"
    fi
}
trap cleanup EXIT

QT_LOGGING_RULES='tolvo.events.debug=true' "$build/bin/tolvo" > "$dir/tolvo.log" 2>&1 &
tolvo_pid=$!
until "$ctl" status > /dev/null 2>&1; do sleep 0.1; done
"$ctl" status --json --watch | while IFS= read -r line; do
    echo "$(now) $line"
done > "$dir/statuses" &

# When each hook helper started: "<ms since the epoch> <pid> <agent>". The kernel's process
# events tell each exec as it happens (root only); without them, /proc is looked at every
# 10 ms, with the start time the kernel keeps (10 ms steps), and a helper that lasts less
# than a look can be missed.
python3 -u - "$build/libexec/tolvo/tolvo-hook" > "$dir/helpers" <<'PY' &
import os, socket, struct, sys, time
ours = os.fsencode(sys.argv[1])  # not another build's, of another check that runs now
def helper(pid, when):
    try:
        words = b" ".join(open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")).split()
    except OSError:
        return False
    if any(w.strip(b"'") == ours for w in words):
        print(int(when * 1000), pid, words[-1].decode(errors="replace"))
        return True
try:
    events = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 11)  # NETLINK_CONNECTOR
    events.bind((os.getpid(), 1))  # CN_IDX_PROC
    listen = struct.pack("IIIIHHI", 1, 1, 0, 0, 4, 0, 1)  # PROC_CN_MCAST_LISTEN
    events.send(struct.pack("IHHII", 16 + len(listen), 3, 0, 0, os.getpid()) + listen)
except OSError:
    events = None
if events:
    while True:
        data = events.recv(4096)
        what, _, ns = struct.unpack_from("IIQ", data, 36)
        if what == 2:  # PROC_EVENT_EXEC, stamped with the monotonic clock
            helper(struct.unpack_from("i", data, 52)[0], time.time() - time.monotonic() + ns / 1e9)
tick = os.sysconf("SC_CLK_TCK")
done = set()
while True:
    uptime = time.clock_gettime(time.CLOCK_BOOTTIME)
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or pid in done:
            continue
        try:
            started = int(open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[19]) / tick
        except (OSError, IndexError, ValueError):
            continue
        # Until its exec a process shows its parent's command line: looked at again for a second.
        if helper(pid, time.time() - uptime + started) or uptime - started > 1:
            done.add(pid)
    time.sleep(0.01)
PY

# Tolvo's own installs, into the sandbox's home.
"$ctl" hooks install --agent codex > "$dir/install-codex" 2>&1 || failed "hooks install --agent codex: $(cat "$dir/install-codex")"
"$ctl" hooks install --agent gemini > "$dir/install-gemini" 2>&1 || failed "hooks install --agent gemini: $(cat "$dir/install-gemini")"
# codex.sh copies the file it is given over ~/.codex/hooks.json, then trusts each hook there as
# the CLI's "Trust all" does: it is given a copy of what Tolvo wrote, so Tolvo's hooks are used.
cp "$HOME/.codex/hooks.json" "$dir/codex-hooks.json"

# What the terminal shows, straight from the script's tmux server (named as the script names it).
sock() { echo "tolvo-real-$1-$(printf '%s' "$dir" | md5sum | cut -c1-8)"; }
screen() { tmux -L "$(sock "$agent")" capture-pane -t "${pane:-$window}" -p 2> /dev/null || :; }
keys() { tmux -L "$(sock "$agent")" send-keys -t "${pane:-$window}" "$@"; }
# Text, then Enter on its own: keys arriving in one burst are taken as a paste, whose Enter
# (on a busy machine) is a new line in the input box.
type_line() { keys -l "$1"; sleep 0.3; keys Enter; }
until_screen() { # TEXT MARK: marks when the terminal shows TEXT (within 30 s)
    local until=$(($(now) + 30000))
    while [ "$(now)" -lt $until ]; do
        screen | grep -q -- "$1" && { mark "$2"; return; }
        sleep 0.01
    done
    failed "the $agent terminal never showed '$1'"
    screen > "$dir/screen-$2"
    return 1
}
until_gone() { # TEXT MARK: marks when the terminal no longer shows TEXT (within 10 s)
    local until=$(($(now) + 10000))
    while [ "$(now)" -lt $until ]; do
        screen | grep -q -- "$1" || { mark "$2"; return; }
        sleep 0.01
    done
}
ids() { # AGENT: the ids of its sessions that Tolvo lists, one a line
    "$ctl" status --json | python3 -c '
import json, sys
for s in json.load(sys.stdin):
    if s["agent"] == sys.argv[1]:
        print(s["id"])' "$1"
}
new_id() { # AGENT OLD-IDS: the id of its session listed since OLD-IDS (within 10 s)
    local id until=$(($(now) + 10000))
    while [ "$(now)" -lt $until ]; do
        id=$(ids "$1" | grep -vxF -f <(printf '%s\n' "$2") | head -1 || :)
        [ -n "$id" ] && { echo "$id"; return; }
        sleep 0.05
    done
}

model() { # FILE TOOL INPUT: the model asks for the tool twice (refused, then approved), then answers
    echo "[{\"tool_use\": \"$2\", \"input\": $3}, {\"tool_use\": \"$2\", \"input\": $3}, {\"text\": \"Removed.\"}]" > "$1"
}
model "$dir/codex-model.json" exec_command '{"cmd": "rm -f notes.txt"}'
model "$dir/gemini-model.json" run_shell_command '{"command": "rm -f notes.txt", "description": "Remove the notes file"}'

approve() { # NAME DIALOG-TEXT KEY: approves, and again each request that follows, until the reply
    local until=$(($(now) + 30000)) screen asked=0
    keys "$3"
    mark "$1-approved"
    while [ "$(now)" -lt $until ]; do
        screen=$(screen)
        grep -q 'Removed\.' <<< "$screen" && { mark "$1-reply-shown"; return; }
        if grep -q -- "$2" <<< "$screen"; then
            [ $asked = 1 ] && { sleep 0.5; keys "$3"; asked=0; echo "$1" >> "$dir/asked-again"; }
        else
            asked=1
        fi
        sleep 0.01
    done
    failed "the $agent terminal never showed the reply"
    screen > "$dir/screen-$1-reply"
}

# One session: the prompt, Escape at the approval prompt, the prompt again, approved, /quit.
# Marks are prefixed with NAME.
one_session() { # NAME DIALOG-TEXT APPROVE-KEY
    local name=$1 dialog=$2 approve=$3
    type_line 'remove the notes file'
    mark "$name-prompt-entered"
    until_screen "$dialog" "$name-dialog-shown" || return 0
    sleep 2
    keys Escape
    mark "$name-escape-pressed"
    until_gone "$dialog" "$name-escape-dialog-gone"
    sleep 3
    echo hi > "$project/notes.txt"
    type_line 'remove the notes file'
    mark "$name-second-prompt-entered"
    until_screen "$dialog" "$name-second-dialog-shown" || return 0
    sleep 1
    approve "$name" "$dialog" "$approve"
    sleep 1
    keys -l /quit
    sleep 0.3
    keys Enter
    mark "$name-quit-entered"
    sleep 3
}

### Codex, each session in its TUI's own process (--no-daemon).
agent=codex window=cx pane=
mark codex-started
CODEX_ARGS=--no-daemon cx start "$dir" "$dir/codex-hooks.json" "$dir/codex-model.json" > "$dir/codex-start.log" 2>&1 ||
    failed "codex.sh start: $(tail -3 "$dir/codex-start.log")"
cmp -s "$HOME/.codex/hooks.json" "$dir/codex-hooks.json" || failed "~/.codex/hooks.json is not the one Tolvo wrote"
"$ctl" hooks status --agent codex > "$dir/status-codex" 2>&1 || :
mark codex-prompt-shown
one_session codex 'Would you like to run the following command' y
stop_codex

### Codex, two sessions of one background server (the default), in two panes of one window,
### and a third pane that neither runs.
mark daemon-started
cx start "$dir" "$dir/codex-hooks.json" > "$dir/daemon-start.log" 2>&1 ||
    failed "codex.sh start (daemon): $(tail -3 "$dir/daemon-start.log")"
js=$AGENT_CLI_CACHE/@openai/codex@0.169.0/node_modules/@openai/codex/bin/codex.js
tmux -L "$(sock codex)" split-window -t cx -h \
    "cd '$project' && HOME='$HOME' CODEX_HOME='$HOME/.codex' exec node '$js'"
tmux -L "$(sock codex)" split-window -t cx -v -l 3 'exec sleep 100000'
panes=($(tmux -L "$(sock codex)" list-panes -t cx -F '#{pane_id}'))
pane=${panes[1]}
until_screen 'for agents' daemon-second-shown || :
daemon_session() { # INDEX: prompt in that pane, approved; its session's id into daemon-id-INDEX
    local old
    pane=${panes[$1]}
    old=$(ids codex)
    echo hi > "$project/notes.txt"
    type_line 'remove the notes file'
    mark "daemon$1-prompt-entered"
    until_screen 'Would you like to run the following command' "daemon$1-dialog-shown" || return 0
    new_id codex "$old" > "$dir/daemon-id-$1"
    sleep 1
    approve "daemon$1" 'Would you like to run the following command' y
}
daemon_session 0
daemon_session 1
sleep 1
"$ctl" status --json > "$dir/daemon-rows"
# `tolvoctl focus` for each session, with the third pane selected before: which pane is
# selected after it?
for i in 0 1; do
    id=$(cat "$dir/daemon-id-$i" 2> /dev/null || :)
    [ -n "$id" ] || continue
    tmux -L "$(sock codex)" select-pane -t "${panes[2]}"
    said=$("$ctl" focus "$id" 2>&1) && status=0 || status=$?
    sleep 1.5
    selected=$(tmux -L "$(sock codex)" display-message -p -t cx '#{pane_id}')
    echo "$i ${panes[$i]} $selected ${panes[2]} $status $id $said" >> "$dir/focus"
done
for i in 0 1; do
    pane=${panes[$i]}
    keys -l /quit
    sleep 0.3
    keys Enter
    mark "daemon$i-quit-entered"
done
sleep 3
mark daemon-stopped
stop_codex
sleep 2
# 400 MB the Gemini part has no use for.
rm -rf -- "$HOME/.codex/packages"
pane=

### Gemini.
agent=gemini window=gm
mark gemini-started
gm start "$dir" "$HOME/.gemini/settings.json" "$dir/gemini-model.json" > "$dir/gemini-start.log" 2>&1 ||
    failed "gemini.sh start: $(tail -3 "$dir/gemini-start.log")"
"$ctl" hooks status --agent gemini > "$dir/status-gemini" 2>&1 || :
mark gemini-prompt-shown
one_session gemini 'Allow execution of' Enter
gm stop "$dir" > /dev/null 2>&1 || :
sleep 0.5

### Codex with "Answer Codex permission requests in Tolvo" on: Tolvo again, with the setting.
kill "$tolvo_pid" 2> /dev/null || :
wait "$tolvo_pid" 2> /dev/null || :
printf 'holdCodexRequests=true\n' >> "$XDG_CONFIG_HOME/tolvo/tolvo.ini"
QT_LOGGING_RULES='tolvo.events.debug=true' "$build/bin/tolvo" > "$dir/tolvo-held.log" 2>&1 &
until "$ctl" status > /dev/null 2>&1; do sleep 0.1; done
agent=codex window=cx pane=
echo hi > "$project/notes.txt"
CODEX_ARGS=--no-daemon cx start "$dir" "$dir/codex-hooks.json" "$dir/codex-model.json" > "$dir/held-start.log" 2>&1 ||
    failed "codex.sh start (held): $(tail -3 "$dir/held-start.log")"
type_line 'remove the notes file'
mark held-prompt-entered
held_request() { # the id of the request Tolvo holds (within 10 s)
    local until=$(($(now) + 10000)) id
    while [ "$(now)" -lt $until ]; do
        id=$("$ctl" status --json | python3 -c '
import json, sys
print(next((r["id"] for s in json.load(sys.stdin) for r in s.get("requests", [])), ""))')
        [ -n "$id" ] && { echo "$id"; return; }
        sleep 0.02
    done
}
request=$(held_request)
mark held-request-listed
sleep 2
screen | grep -q 'Would you like to run the following command' && echo shown > "$dir/held-dialog" || echo hidden > "$dir/held-dialog"
if [ -n "$request" ]; then
    "$ctl" allow "$request" > "$dir/held-allow" 2>&1 || failed "tolvoctl allow: $(cat "$dir/held-allow")"
    mark held-allowed
    until=$(($(now) + 10000))
    while [ -e "$project/notes.txt" ] && [ "$(now)" -lt $until ]; do sleep 0.01; done
    [ -e "$project/notes.txt" ] || mark held-file-removed
    # The model asks for the tool once more before it answers: allowed from Tolvo too.
    request=$(held_request)
    [ -z "$request" ] || "$ctl" allow "$request" > /dev/null 2>&1 || :
    until_screen 'Removed\.' held-reply-shown || :
else
    failed "Tolvo held no Codex request with the setting on"
fi
stop_codex

python3 - "$dir" <<'PY'
import json, os, sys
d = sys.argv[1]
marks = {name: int(t) for t, name in (l.split() for l in open(f"{d}/marks"))}
failures = [l.rstrip("\n") for l in open(f"{d}/failures")]
helpers = [(int(t), agent) for t, _, agent in (l.split() for l in open(f"{d}/helpers"))]
timeline = []  # (time, {id: (agent, state)})
for line in open(f"{d}/statuses"):
    t, _, text = line.partition(" ")
    if text.startswith("["):
        timeline.append((int(t), {s["id"]: (s["agent"], "exited" if s["exited"] else s["status"])
                                  for s in json.loads(text)}))

def listed(agent, after):  # the first session of the agent listed after `after`: (time, id)
    known = set()
    for t, rows in timeline:
        fresh = [i for i, (a, _) in rows.items() if a == agent and i not in known]
        if t >= after and fresh:
            return t, fresh[0]
        known |= set(rows)
    return None, None
def first(sid, state, after, before=None):
    for t, rows in timeline:
        if t >= after and (before is None or t < before) and rows.get(sid, (0, None))[1] == state:
            return t
def left_waiting(sid, after):
    return next((t for t, rows in timeline if after is not None and t >= after and
                 rows.get(sid, (0, None))[1] not in ("waiting", None)), None)
def state_at(sid, when):
    current = None
    for t, rows in timeline:
        if t > when:
            break
        current = rows.get(sid, (0, None))[1]
    return current
def show(label, start, t, bound=None, must=True):
    text = "never" if t is None or start is None else f"{t - start:+6d} ms"
    print(f"  {label:60} {text}")
    if must and (t is None or start is None):
        failures.append(f"{label}: never")
    elif bound is not None and t - start > bound:
        failures.append(f"{label}: not within {bound} ms")
def m(name):
    return marks.get(name)

def session(agent, name, ready_after_quit):
    start = m(f"{name}-started")
    shown, sid = listed(agent, start)
    hook = next((t for t, a in helpers if a == agent and t >= start), None)
    show("first hook helper started → session listed", hook, shown, 1000)
    if sid is None:
        return None
    show("prompt entered → working", m(f"{name}-prompt-entered"), first(sid, "working", m(f"{name}-prompt-entered") or 0))
    show("approval prompt shown → waiting", m(f"{name}-dialog-shown"),
         first(sid, "waiting", m(f"{name}-prompt-entered") or 0, m(f"{name}-escape-pressed")), 1000)
    return sid

print(f"Codex CLI (--no-daemon), hooks as installed: {open(f'{d}/status-codex').read().strip()}")
sid = session("codex", "codex", True)
if sid:
    esc = m("codex-escape-pressed")
    show("Escape pressed → approval prompt gone", esc, m("codex-escape-dialog-gone"), must=False)
    show("Escape pressed → next hook helper started (Interrupt)", esc,
         next((t for t, a in helpers if a == "codex" and t >= esc), None), must=False)
    show("Escape pressed → ready (Interrupt)", esc, first(sid, "ready", esc or 0, m("codex-second-prompt-entered")), 1000)
    print(f"  {'state 3 s after Escape':60} {state_at(sid, (esc or 0) + 3000)}")
    show("Escape pressed → no longer waiting", esc, left_waiting(sid, esc), must=False)
    show("second approval prompt shown → waiting", m("codex-second-dialog-shown"),
         first(sid, "waiting", m("codex-second-prompt-entered") or 0, m("codex-approved")), 1000)
    show("approved → no longer waiting", m("codex-approved"), left_waiting(sid, m("codex-approved")))
    show("approved → working (PostToolUse; Stop can follow at once)", m("codex-approved"),
         first(sid, "working", m("codex-approved") or 0, m("codex-quit-entered")), must=False)
    show("reply shown → ready", m("codex-reply-shown"), first(sid, "ready", m("codex-approved") or 0))
    show("/quit entered → exited", m("codex-quit-entered"), first(sid, "exited", m("codex-quit-entered") or 0), 1500)

print("Codex CLI, two sessions of one background server in two tmux panes:")
ids = [open(f"{d}/daemon-id-{i}").read().strip() if os.path.exists(f"{d}/daemon-id-{i}") else "" for i in (0, 1)]
hook = next((t for t, a in helpers if a == "codex" and t >= m("daemon-started")), None)
show("first hook helper started → session listed", hook, listed("codex", m("daemon-started"))[0], 1000)
for i, sid in enumerate(ids):
    if not sid:
        failures.append(f"the session in pane {i} was never listed")
        continue
    show(f"pane {i}: approval prompt shown → waiting", m(f"daemon{i}-dialog-shown"),
         first(sid, "waiting", m(f"daemon{i}-prompt-entered") or 0), 1000)
    show(f"pane {i}: reply shown → ready", m(f"daemon{i}-reply-shown"), first(sid, "ready", m(f"daemon{i}-approved") or 0))
rows = [s for s in json.load(open(f"{d}/daemon-rows")) if s["agent"] == "codex" and not s["exited"]]
print(f"  {'rows of running Codex sessions':60} {len(rows)} (pids {sorted({s['pid'] for s in rows})})")
if len({s["id"] for s in rows} & set(ids)) != 2:
    failures.append(f"the two Codex sessions are not two rows: {[s['id'] for s in rows]}")
for line in open(f"{d}/focus"):
    i, own, selected, neutral, status, sid, said = (line.rstrip("\n").split(" ", 6) + [""])[:7]
    verdict = "none selected" if selected == neutral else "its own pane" if selected == own else f"ANOTHER pane ({selected})"
    print(f"  {'pane ' + i + ': tolvoctl focus → ' + verdict:60} status {status}: {said}")
    if verdict.startswith("ANOTHER"):
        failures.append(f"tolvoctl focus for the session in pane {i} selected another pane")
    elif verdict == "none selected" and status == "0":
        failures.append(f"tolvoctl focus for the session in pane {i} said it went to a terminal")
for i, sid in enumerate(ids):
    if sid:
        q = m(f"daemon{i}-quit-entered")
        print(f"  {f'pane {i}: state 3 s after /quit (SessionEnd comes 60 s later)':60} {state_at(sid, q + 3000)}")
        show(f"pane {i}: server stopped → exited", m("daemon-stopped"), first(sid, "exited", m("daemon-stopped")), must=False)

print("Codex CLI (--no-daemon), \"Answer Codex permission requests in Tolvo\" on:")
show("prompt entered → request held in Tolvo", m("held-prompt-entered"), m("held-request-listed"), 3000)
dialog = open(f"{d}/held-dialog").read().strip() if os.path.exists(f"{d}/held-dialog") else "?"
print(f"  {'approval prompt in the terminal while Tolvo holds it':60} {dialog}")
if dialog != "hidden":
    failures.append("the terminal showed its approval prompt while Tolvo held the request")
show("tolvoctl allow → the command ran (file removed)", m("held-allowed"), m("held-file-removed"), 3000)
show("tolvoctl allow → reply shown", m("held-allowed"), m("held-reply-shown"), must=False)

print(f"Gemini CLI, hooks as installed: {open(f'{d}/status-gemini').read().strip()}")
sid = session("gemini", "gemini", True)
if sid:
    esc, again = m("gemini-escape-pressed"), m("gemini-second-prompt-entered")
    show("Escape pressed → approval prompt gone", esc, m("gemini-escape-dialog-gone"), must=False)
    quiet = sum(1 for t, a in helpers if a == "gemini" and esc <= t < again)
    print(f"  {'hook helpers from Escape to the next prompt':60} {quiet}")
    print(f"  {'state just before the next prompt (' + str(again - esc) + ' ms after Escape)':60} {state_at(sid, again)}")
    show("Escape pressed → ready (its chat file says \"Request cancelled.\")", esc, first(sid, "ready", esc, again), 1000)
    show("next prompt entered → working", again, first(sid, "working", again, m("gemini-approved")), must=False)
    show("second approval prompt shown → waiting", m("gemini-second-dialog-shown"),
         first(sid, "waiting", again, m("gemini-approved")), 1000)
    show("approved → no longer waiting", m("gemini-approved"), left_waiting(sid, m("gemini-approved")))
    show("approved → working", m("gemini-approved"), first(sid, "working", m("gemini-approved") or 0))
    show("reply shown → ready", m("gemini-reply-shown"), first(sid, "ready", m("gemini-approved") or 0))
    show("/quit entered → exited", m("gemini-quit-entered"), first(sid, "exited", m("gemini-quit-entered") or 0), 1500)
try:
    again = open(f"{d}/asked-again").read().split()
except OSError:
    again = []
if again:
    print("asked again after approving (the model's next turn asked for the tool again):", " ".join(sorted(set(again))))
for failure in failures:
    print("FAILED: agents:", failure)
sys.exit(1 if failures else 0)
PY
