#!/usr/bin/env bash
# Runs the demonstration without a display and checks what it reports: the clicks the target
# received equal the program's counter and are at least two, and the screenshot exists.
set -euo pipefail
demo=$1
build=$2
shot=$(mktemp --suffix=.png)
trap 'rm -f "$shot"' EXIT
out=$(env -u DISPLAY -u WAYLAND_DISPLAY bash "$demo" "$build" "$shot")
echo "$out"
line=$(grep -E 'received [0-9]+ clicks; the program.s counter shows [0-9]+\.' <<<"$out")
clicks=$(sed -E 's/.*received ([0-9]+) clicks.*/\1/' <<<"$line")
count=$(sed -E 's/.*counter shows ([0-9]+)\..*/\1/' <<<"$line")
[ "$clicks" -ge 2 ] || { echo "too few clicks: $clicks"; exit 1; }
[ "$clicks" -eq "$count" ] || { echo "clicks $clicks differ from the counter $count"; exit 1; }
grep -q "Screenshot of the display: $shot" <<<"$out"
# The scopes as picked, read after the program wrote them.
grep -qx "Find scope:  135,127,226,174" <<<"$out" || { echo "the find scope was not reported"; exit 1; }
grep -qx "Click scope: 90,90,270,210" <<<"$out" || { echo "the click scope was not reported"; exit 1; }
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || { echo "no PNG"; exit 1; }
