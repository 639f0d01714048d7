#!/usr/bin/env bash
# check-real-client.sh's status line: the real Claude Code CLI (../shared/real-claude) with a
# status-line command of the user's own in its settings, then Tolvo's hooks installed over it.
# Prints when the user's line shows on the CLI's screen and when Tolvo has the session's usage,
# what it has, and whether `hooks remove` gives the user's entry back exactly. A FAILED: line
# for each check that failed, status 1 if any.
#
#   statusline-scenario.sh BUILD_DIR [REAL_CLAUDE_DIR]
set -euo pipefail
failures=()
build=$(realpath "${1:?usage: statusline-scenario.sh BUILD_DIR [REAL_CLAUDE_DIR]}")
here=$(cd "$(dirname "$0")" && pwd)
real=$(realpath "${2:-$here/../../../shared/real-claude}")
if [ -z "${TOLVO_STATUSLINE_INSIDE:-}" ]; then
    TOLVO_STATUSLINE_INSIDE=1 exec "$here/../../tests/notify/with-notification-server.sh" "$0" "$build" "$real"
fi
export CLAUDE_CLI_CACHE=${CLAUDE_CLI_CACHE:-$HOME/.cache/tolvo-real-claude}
dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvo-statusline.XXXXXX")
# A copy of the fake API whose replies fill 120,000 tokens of context with
# cache reads, so that the real CLI's context percentage is not zero.
mkdir "$dir/real-claude"
cp "$real/session.sh" "$dir/real-claude/"
sed 's/"cache_read_input_tokens": 0/"cache_read_input_tokens": 120000/' \
    "$real/fake_messages_api.py" > "$dir/real-claude/fake_messages_api.py"
grep -q '"cache_read_input_tokens": 120000' "$dir/real-claude/fake_messages_api.py" ||
    failures+=("the fake API's usage could not be enlarged")
session=$dir/real-claude/session.sh
ctl=$build/bin/tolvoctl
cleanup() {
    HOME=$dir/home "$session" stop "$dir" > /dev/null 2>&1 || :
    kill $(jobs -p) 2> /dev/null || :
    wait 2> /dev/null || :
    rm -rf -- "$dir"
}
trap cleanup EXIT
now() { date +%s%3N; }
mkdir -p "$dir/home/.config/tolvo"
# The user's own line: reads its input, prints a mark and the terminal's name.
mine='cat > /dev/null; printf "MY-LINE %s" "$TERM"'
python3 -c 'import json, sys; json.dump({"statusLine": {"type": "command", "command": sys.argv[1], "padding": 0}}, open(sys.argv[2], "w"))' \
    "$mine" "$dir/settings.json"
cp "$dir/settings.json" "$dir/settings.before.json"
echo '[{"text": "Hello."}]' > "$dir/model.json"

HOME=$dir/home "$build/bin/tolvo" > "$dir/tolvo.log" 2>&1 &
until HOME=$dir/home "$ctl" status > /dev/null 2>&1; do sleep 0.1; done
HOME=$dir/home "$ctl" hooks install --settings "$dir/settings.json" > /dev/null
usage() { HOME=$dir/home "$ctl" status --json | python3 -c '
import json, sys
print(next((json.dumps(s["usage"], sort_keys=True) for s in json.load(sys.stdin) if "usage" in s), ""))'; }
screen() { "$session" screen "$dir"; }
when() { # MS COMMAND...: the time COMMAND first succeeds, empty after MS
    local until=$(($(now) + $1)); shift
    while [ "$(now)" -lt $until ]; do
        "$@" > /dev/null 2>&1 && { now; return; }
        sleep 0.05
    done
}
since() { [ -n "$2" ] && echo "+$(($2 - $1)) ms" || echo never; }
shows_mine() { screen | grep -q 'MY-LINE'; }
has_usage() { [ -n "$(usage)" ]; }

started=$(now)
HOME=$dir/home "$session" start "$dir" "$dir/settings.json" "$dir/model.json" > /dev/null 2>&1
line=$(when 20000 shows_mine)
known=$(when 10000 has_usage)
echo "Claude Code's status line, the user's own command kept by Tolvo's install:"
printf '  %-58s %s\n' "CLI started → the user's line on screen" "$(since "$started" "$line")"
printf '  %-58s %s\n' "CLI started → Tolvo has the session's usage" "$(since "$started" "$known")"
printf '  %-58s %s\n' "usage" "$(usage)"
shows_mine || failures+=("the user's status line is not on screen")
[ -n "$(usage)" ] || failures+=("Tolvo has no usage for the session")
"$session" keys "$dir" 'say hello' Enter
sleep 6
after=$(usage)
printf '  %-58s %s\n' "usage after a turn" "$after"
shows_mine || failures+=("the user's status line is gone after a turn")
python3 -c 'import json, sys; sys.exit(0 if json.loads(sys.argv[1] or "{}").get("model") else 1)' "$after" ||
    failures+=("no model in the usage after a turn")
python3 -c 'import json, sys; sys.exit(0 if json.loads(sys.argv[1] or "{}").get("contextPercent", 0) > 0 else 1)' "$after" ||
    failures+=("no context percentage after a turn")
HOME=$dir/home "$ctl" hooks remove --settings "$dir/settings.json" > /dev/null
if python3 -c 'import json, sys; sys.exit(0 if json.load(open(sys.argv[1])).get("statusLine") == json.load(open(sys.argv[2]))["statusLine"] else 1)' \
    "$dir/settings.json" "$dir/settings.before.json"; then
    printf '  %-58s %s\n' "hooks remove → the user's statusLine" "as it was"
else
    failures+=("hooks remove did not give the user's statusLine back")
fi
for failure in "${failures[@]}"; do echo "FAILED: status line: $failure"; done
[ ${#failures[@]} -eq 0 ]
