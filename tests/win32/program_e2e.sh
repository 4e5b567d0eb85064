#!/usr/bin/env bash
# The real ostrane.exe under Wine, driven from outside as a user would (xdotool on the Wine
# desktop's X display), at a given display DPI (96 = 100 %, 144 = 150 %):
#   program_e2e.sh DPI OSTRANE_EXE CLICK_TARGET_EXE STANDIN_BROWSER VERSION_SH
# VERSION_SH is the build's ostrane-version.sh, which gives the main window's title.
# Needs DISPLAY, WINEPREFIX and a running wineserver (scripts/test-windows provides them). Every
# position handed to xdotool is a screen pixel; the main window's positions come from the
# program's status file, its controls' from the window's design scaled by DPI / 96.
set -uo pipefail
dpi=$1 program=$2 target=$3 browser=$4
. "$5"
title="^${OSTRANE_TITLE//./\\.}\$"
work=$(mktemp -d)
status="$work/status" log="$work/presses"
pids=()
finish() {
  touch "$log.quit"
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "FAIL at ${dpi} DPI: $*" >&2
  [ -f "$status" ] && sed 's/^/  status: /' "$status" >&2
  [ -f "$log" ] && echo "  presses: $(sort "$log" | uniq -c | tr '\n' ';')" >&2
  import -window root "$work/../ostrane-e2e-failure-${dpi}.png" 2>/dev/null &&
    echo "  screenshot: $work/../ostrane-e2e-failure-${dpi}.png" >&2
  exit 1
}
step() { echo "[${dpi} DPI] $*"; }

# Waits up to $2 seconds (default 15) for the shell condition $1.
wait_for() {
  local deadline=$((SECONDS + ${2:-15}))
  until eval "$1"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}
value() { sed -n "s/^$1=//p" "$status" 2>/dev/null; }
presses_at() {
  local n
  n=$(grep -cx "$1 $2" "$log" 2>/dev/null)
  echo "${n:-0}"
}
presses() { wc -l <"$log" 2>/dev/null || echo 0; }

# The display's DPI, as the Windows control panel stores it.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$browser" /f >/dev/null 2>&1
rm -f "$browser.log"

# The picture: 64 x 48 at (1000, 150), clear of the main window at either DPI. Its part
# (1016, 160)-(1040, 180) is found at offset (16, 10) of the whole, so every click lands at
# 1000 + 16 + 24/2, 150 + 10 + 20/2.
tx=1000 ty=150 tw=64 th=48
find="1016,160,1040,180" click="1000,150,1064,198" cx=1028 cy=170
wine "$target" $tx $ty $tw $th 7 "Z:$log" &
pids+=($!)
wait_for 'xdotool search --name "^ostrane click target$" >/dev/null 2>&1' || fail "no target window"
target_window=$(xdotool search --name "^ostrane click target$" | head -n1)

OSTRANE_STATUS_FILE="Z:$status" wine "$program" &
program_pid=$!
pids+=($program_pid)
wait_for '[ -n "$(value origin)" ]' 60 || fail "the main window did not come up"
wait_for 'xdotool search --name "$title" >/dev/null 2>&1' || fail "no window titled $OSTRANE_TITLE"
main_window=$(xdotool search --name "$title" | head -n1)
sleep 0.5
IFS=, read -r ox oy <<<"$(value origin)"
step "main window client area at ($ox, $oy)"

# A point of the main window's design (client pixels) on the screen.
at() { echo "$((ox + ($1 * dpi + 48) / 96)) $((oy + ($2 * dpi + 48) / 96))"; }
click_at() { xdotool mousemove $(at "$1" "$2") click 1; }
type_into() {  # edit centre x, y, text
  click_at "$1" "$2"
  xdotool key ctrl+a BackSpace
  xdotool type --delay 20 "$3"
}
shot() { import -window root "$1" 2>/dev/null || true; }

step "typing both scopes, an interval of 0.2 s"
type_into 160 42 1016 && type_into 160 67 160 && type_into 255 42 1040 && type_into 255 67 180
type_into 160 128 1000 && type_into 160 153 150 && type_into 255 128 1064 && type_into 255 153 198
type_into 76 224 0 && type_into 123 224 2
wait_for '[ "$(value find)" = "$find" ] && [ "$(value click)" = "$click" ]' 5 ||
  fail "the typed scopes did not arrive"

step "F9 while the target window has the focus"
xdotool windowfocus "$target_window" 2>/dev/null
sleep 0.3
xdotool key F9
wait_for '[ "$(value running)" = 1 ] && [ "$(presses_at $cx $cy)" -ge 3 ]' 20 ||
  fail "F9 did not start clicks at ($cx, $cy)"
[ "$(presses)" = "$(presses_at $cx $cy)" ] || fail "a press landed away from ($cx, $cy)"
wait_for '[ "$(value count)" -ge 3 ]' 5 || fail "the counter did not rise"
shot "$work/../ostrane-wine-${dpi}dpi-running.png"

step "F10 while the target window has the focus"
xdotool windowfocus "$target_window" 2>/dev/null
sleep 0.2
xdotool key F10
wait_for '[ "$(value running)" = 0 ]' 5 || fail "F10 did not stop"
sleep 0.6
before=$(presses)
sleep 0.8
[ "$(presses)" = "$before" ] || fail "clicks went on after F10"
step "$(value count) clicks counted, $before presses arrived"

step "picking both scopes with the picker"
click_at 56 52
sleep 1.2
shot "$work/../ostrane-wine-${dpi}dpi-picker.png"
xdotool mousemove 1016 160 mousedown 1 mousemove 1030 170 mousemove 1040 180 mouseup 1
wait_for '[ "$(value find)" = "$find" ]' 5 || fail "the picked find scope is $(value find), not $find"
wait_for 'xdotool search --onlyvisible --name "$title" >/dev/null 2>&1' 5 ||
  fail "the main window did not come back"
sleep 0.5
click_at 56 138
sleep 1.2
xdotool mousemove 1000 150 mousedown 1 mousemove 1020 170 mousemove 1064 198 mouseup 1
wait_for '[ "$(value click)" = "$click" ]' 5 || fail "the picked click scope is $(value click), not $click"
sleep 0.5
before=$(presses_at $cx $cy)
click_at 154 283
wait_for '[ "$(presses_at $cx $cy)" -ge $((before + 2)) ]' 10 || fail "Start after picking did not click"
click_at 244 283
wait_for '[ "$(value running)" = 0 ]' 5 || fail "Stop did not stop"
[ "$(presses)" = "$(presses_at $cx $cy)" ] || fail "a press landed away from ($cx, $cy)"

step "a similarity that is not a number"
type_into 206 215 abc
click_at 154 283
wait_for 'xdotool search --onlyvisible --name "^Ostrane$" >/dev/null 2>&1' 5 ||
  fail "no message box after a bad value"
shot "$work/../ostrane-wine-${dpi}dpi-message.png"
box=$(xdotool search --onlyvisible --name "^Ostrane$" | head -n1)
xdotool windowfocus "$box" 2>/dev/null
xdotool key Return
wait_for '! xdotool search --onlyvisible --name "^Ostrane$" >/dev/null 2>&1' 5 ||
  fail "the message box did not close"
type_into 206 215 100

step "About and Help"
IFS=, read -r ax ay <<<"$(value about)"
xdotool mousemove "$ax" "$ay" click 1
wait_for 'xdotool search --onlyvisible --name "^About$" >/dev/null 2>&1' 5 || fail "no About box"
about=$(xdotool search --onlyvisible --name "^About$" | head -n1)
xdotool windowfocus "$about" 2>/dev/null
xdotool key Escape
wait_for '! xdotool search --onlyvisible --name "^About$" >/dev/null 2>&1' 5 ||
  fail "the About box did not close"
IFS=, read -r hx hy <<<"$(value help)"
xdotool mousemove "$hx" "$hy" click 1
wait_for '[ -s "$browser.log" ]' 20 || fail "Help did not reach the browser"
step "Help opened $(head -n1 "$browser.log")"

step "closing with Alt+F4"
xdotool windowfocus "$main_window" 2>/dev/null
sleep 0.2
xdotool key alt+F4
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2>/dev/null && fail "the program did not exit"
wait "$program_pid"
code=$?
[ "$code" = 0 ] || fail "the program exited with $code"
step "passed"
