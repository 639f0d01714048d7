#!/usr/bin/env bash
# check-real-client.sh's remote: the real Claude Code CLI runs as the local account
# tolvo-remote-test, which a loopback OpenSSH server lets in the way tests/support/sshserver.cpp
# does, and reports to the running Tolvo through `tolvoctl remote add`'s relay. Prints how long
# after the terminal showed the permission dialog Tolvo listed the session as waiting, and how
# long after `tolvoctl allow` the tool ran on the remote; a FAILED: line for each miss, status 1
# if any. Without root or sshd it says why it skipped and succeeds.
#
#   remote-scenario.sh BUILD_DIR REAL_CLAUDE_DIR DIR
#
# Tolvo must be running with the sandbox's HOME (DIR/home) and a session bus; CLAUDE_CLI_CACHE
# holds the CLI (check-real-client.sh's local sessions fetched it).
set -euo pipefail
build=$1 real=$2 dir=$3
user=tolvo-remote-test
ctl=$build/bin/tolvoctl
session=$real/session.sh
version=${CLAUDE_CLI_VERSION:-2.1.328}
cli=${CLAUDE_CLI_CACHE:-$HOME/.cache/tolvo-real-claude}/$version/node_modules/@anthropic-ai/claude-code-linux-x64/claude

skip() {
    echo "remote: skipped: $1"
    exit 0
}
[ "$(id -u)" = 0 ] || skip "a loopback ssh server needs root, to add its account and run sshd"
for program in /usr/sbin/sshd /usr/bin/ssh /usr/bin/ssh-keygen /usr/sbin/useradd /usr/sbin/usermod /usr/sbin/runuser; do
    [ -x "$program" ] || skip "$program is missing (openssh-server, openssh-client, passwd, util-linux)"
done
[ -x "$cli" ] || skip "no CLI at $cli"

now() { date +%s%3N; }
marks=$dir/remote-marks failures=$dir/remote-failures
mark() { echo "$(now) $1" >> "$marks"; }
failed() { echo "$1" >> "$failures"; }
: > "$marks"
: > "$failures"

# A new account is locked ("!"), and sshd lets no locked account in, not even with a key; "*"
# only rules out a password. The account is the test suite's: kept, its home emptied.
if ! getent passwd "$user" > /dev/null; then
    useradd -m -s /bin/sh "$user"
    usermod -p '*' "$user"
fi
uid=$(id -u "$user")
home=$(getent passwd "$user" | cut -d: -f6)
{ [ "$uid" != 0 ] && [ "${home##*/}" = "$user" ]; } || skip "the account $user is not the test suite's"
pids() { pgrep -U "$uid" | tr '\n' ' ' || :; }
for _ in $(seq 60); do
    [ -z "$(pids)" ] && break
    sleep 0.5
done
busy=$(pids)
[ -z "$busy" ] || skip "the account $user runs processes already (another test run?): $busy"
find "$home" -mindepth 1 -maxdepth 1 -exec rm -rf -- {} +

# Keys, configuration and a link to the CLI where the account (and sshd, reading its key as the
# account) can read them.
pub=$(mktemp -d "${TMPDIR:-/tmp}/tolvo-remote.XXXXXX")
chmod 755 "$pub"
sshd_pid=
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 TERM=xterm "$@"; }
rdir=$home/cc
cleanup() {
    as_user "$session" stop "$rdir" 2> /dev/null || :
    if [ -n "$sshd_pid" ]; then
        "$ctl" remote remove devbox > "$dir/remote-remove.log" 2>&1 ||
            echo "remote: 'tolvoctl remote remove devbox' failed: $(cat "$dir/remote-remove.log")"
        kill "$sshd_pid" 2> /dev/null || :
        wait "$sshd_pid" 2> /dev/null || :
    fi
    # Every connection and the relay's daemon live on in processes of the account.
    local pid
    for _ in $(seq 50); do
        [ -z "$(pids)" ] && break
        for pid in $(pids); do kill -9 "$pid" 2> /dev/null || :; done
        sleep 0.1
    done
    find "$home" -mindepth 1 -maxdepth 1 -exec rm -rf -- {} +
    rm -rf -- "$pub"
}
trap cleanup EXIT

for key in host_key client_key; do ssh-keygen -q -t ed25519 -N '' -C '' -f "$pub/$key"; done
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$pub/sshd_config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $pub/host_key
PidFile $pub/sshd.pid
AuthorizedKeysFile $pub/authorized_keys
AllowUsers $user
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
LogLevel ERROR
EOF
cat > "$pub/ssh_config" <<EOF
Host devbox
  HostName 127.0.0.1
  Port $port
  User $user
  IdentityFile $pub/client_key
  IdentitiesOnly yes
  HostKeyAlias devbox
  UserKnownHostsFile $pub/known_hosts
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking yes
  BatchMode yes
  ConnectTimeout 5
  KexAlgorithms curve25519-sha256
EOF
cp "$pub/client_key.pub" "$pub/authorized_keys"
echo "devbox $(cat "$pub/host_key.pub")" > "$pub/known_hosts"
chmod 644 "$pub/authorized_keys" "$pub/known_hosts" "$pub/sshd_config" "$pub/ssh_config"
mkdir -p /run/sshd # where sshd's privilege separation goes
/usr/sbin/sshd -D -e -f "$pub/sshd_config" 2>> "$dir/sshd.log" &
sshd_pid=$!
for _ in $(seq 100); do
    [ -f "$pub/sshd.pid" ] && break
    kill -0 "$sshd_pid" 2> /dev/null || { echo "FAILED: remote: sshd did not start: $(cat "$dir/sshd.log")"; exit 1; }
    sleep 0.1
done
cache=$pub/cli/$version/node_modules/@anthropic-ai/claude-code-linux-x64
mkdir -p "$cache"
ln "$cli" "$cache/claude" 2> /dev/null || cp "$cli" "$cache/claude"
chmod -R a+rX "$pub/cli"

# The remote's sessions report to the running Tolvo once its relay is connected.
transport="ssh -F $pub/ssh_config devbox"
mark add-started
"$ctl" remote add devbox --transport "$transport" > "$dir/remote-add.log" 2>&1 ||
    { echo "FAILED: remote: 'tolvoctl remote add' failed: $(cat "$dir/remote-add.log")"; exit 1; }
mark added
until=$(($(now) + 15000))
while ! "$ctl" remote list | grep -q '^devbox (.*): connected$'; do
    [ "$(now)" -lt $until ] || { echo "FAILED: remote: the relay to devbox never connected: $("$ctl" remote list)"; exit 1; }
    sleep 0.05
done
mark connected

# The sandbox session.sh makes is the account's home itself, through a link: the CLI, its hooks
# and the relay share ~/.tolvo and ~/.claude/settings.json as on a real remote.
as_user mkdir -p "$rdir"
as_user ln -s "$home" "$rdir/home"
install -o "$user" -m 600 "$home/.claude/settings.json" "$rdir/settings.json"
echo '[{"tool_use": "Bash", "input": {"command": "touch remote.txt", "description": "Create the remote file"}}, {"text": "Created on devbox."}]' |
    install -o "$user" -m 600 /dev/stdin "$rdir/model.json"
project=$rdir/code/webshop

"$ctl" status --json --watch > >(while IFS= read -r line; do echo "$(now) $line"; done > "$dir/remote-statuses") &
watch=$!
sock=tolvo-real-claude-$(printf '%s' "$rdir" | md5sum | cut -c1-8)
screen() { tmux -S "/tmp/tmux-$uid/$sock" capture-pane -t cc -p 2> /dev/null || :; }
until_screen() { # TEXT MARK: marks when the terminal shows TEXT (within 30 s)
    local until=$(($(now) + 30000))
    while [ "$(now)" -lt $until ]; do
        screen | grep -q -- "$1" && { mark "$2"; return; }
        sleep 0.01
    done
    failed "the remote's terminal never showed '$1'"
    return 1
}
devbox() { # PYTHON-EXPRESSION: of the live devbox session `s`, from `tolvoctl status --json`
    "$ctl" status --json | python3 -c '
import json, sys
s = next((s for s in json.load(sys.stdin) if s["host"] == "devbox" and s["pid"] > 0 and not s["exited"]), None)
print(eval(sys.argv[1]) if s else "")' "$1"
}

scenario() {
    mark cli-started
    as_user env CLAUDE_CLI_CACHE="$pub/cli" "$session" start "$rdir" "$rdir/settings.json" "$rdir/model.json" ||
        { failed "the CLI did not start on devbox"; return 0; }
    mark prompt-shown
    tmux -S "/tmp/tmux-$uid/$sock" send-keys -t cc 'create the remote file' Enter
    mark prompt-typed
    until_screen 'Do you want to proceed' dialog-shown || return 0
    local request='' until=$(($(now) + 10000))
    while [ -z "$request" ] && [ "$(now)" -lt $until ]; do
        request=$(devbox 's["requests"][0]["id"] if s["requests"] else ""')
        [ -n "$request" ] || sleep 0.05
    done
    [ -n "$request" ] || { failed "Tolvo never listed the remote's request"; return 0; }
    devbox 's["displayName"] + " · " + s["host"]' > "$dir/remote-row"
    sleep 0.5
    mark allow-sent
    "$ctl" allow "$request" > /dev/null || failed "'tolvoctl allow $request' failed"
    local shown=1 written=0 screen
    until=$(($(now) + 10000))
    while [ "$(now)" -lt $until ] && [ $shown$written != 01 ]; do
        if [ $shown = 1 ]; then
            screen=$(screen)
            if ! grep -q 'Do you want to' <<< "$screen" || ! grep -q 'Create the remote file' <<< "$screen"; then
                shown=0
                mark allow-dialog-gone
            fi
        fi
        [ $written = 0 ] && [ -e "$project/remote.txt" ] && { written=1; mark allow-ran; }
        sleep 0.01
    done
    until_screen 'Created on devbox' reply-shown || return 0
    sleep 1
    tmux -S "/tmp/tmux-$uid/$sock" send-keys -t cc '/exit' Enter
    mark exit-typed
    sleep 2
}
scenario
kill "$watch" 2> /dev/null || :

python3 - "$dir" <<'PY'
import json, sys
d = sys.argv[1]
marks = {name: int(t) for t, name in (l.split() for l in open(f"{d}/remote-marks"))}
failures = [l.rstrip("\n") for l in open(f"{d}/remote-failures")]
states = []
for line in open(f"{d}/remote-statuses"):
    t, _, text = line.partition(" ")
    live = [s for s in json.loads(text) if s["host"] == "devbox" and s["pid"] > 0] if text.startswith("[") else []
    if live:
        states.append((int(t), "exited" if live[0]["exited"] else live[0]["status"]))
def first(state, after, before=None): # any state when None
    if after not in marks:
        return None
    return next((t for t, s in states if state in (None, s) and t >= marks[after] and
                 (before not in marks or t < marks[before])), None)
def show(label, start, t, bound=None):
    print(f"{label:55} {'never' if t is None or start not in marks else f'{t - marks[start]:+6d} ms'}")
    if t is None or start not in marks:
        failures.append(f"{label.strip()}: never")
    elif bound is not None and t - marks[start] > bound:
        failures.append(f"{label.strip()}: not within {bound} ms")
print("a session on devbox (tolvo-remote-test over a loopback sshd):")
show("  `tolvoctl remote add` → done", "add-started", marks.get("added"))
show("  done → relay connected", "added", marks.get("connected"))
try:
    row = open(f"{d}/remote-row").read().strip()
except OSError:
    row = "none"
print(f"{'  the row':55} {row}")
if row != "webshop · devbox":
    failures.append(f"the remote's row is {row!r}, not 'webshop · devbox'")
show("  prompt shown → session listed", "prompt-shown", first(None, "cli-started"))
show("  permission dialog shown → waiting", "dialog-shown", first("waiting", "prompt-typed", "allow-sent"), 1000)
show("  `tolvoctl allow` → dialog gone", "allow-sent", marks.get("allow-dialog-gone"), 1000)
show("  `tolvoctl allow` → the tool's file written", "allow-sent", marks.get("allow-ran"), 1000)
show("  reply shown → ready", "reply-shown", first("ready", "allow-sent") if "reply-shown" in marks else None)
show("  /exit typed → exited", "exit-typed", first("exited", "exit-typed") if "exit-typed" in marks else None)
for failure in failures:
    print("FAILED: remote:", failure)
sys.exit(1 if failures else 0)
PY
