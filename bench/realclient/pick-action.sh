#!/bin/sh
# dunst's "dmenu" for check-real-client.sh: from the context menu's lines
# ("#Allow (summary) [12,allow]") it picks the action whose key DIR/pick names,
# on the newest notification that offers it, as a click on that button would,
# and writes the time of the click (ms since the epoch) into DIR/clicked.
#
#   pick-action.sh DIR
dir=$1
key=$(cat "$dir/pick" 2>/dev/null) || exit 0
line=$(grep -e ",$key]\$" | sed 's/.*\[\([0-9]*\),[^]]*\]$/\1 &/' | sort -n | tail -n 1 | cut -d' ' -f2-)
[ -n "$line" ] || exit 0
date +%s%3N > "$dir/clicked"
printf '%s\n' "$line"
