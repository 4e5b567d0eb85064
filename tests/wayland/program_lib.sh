# shellcheck shell=bash
# What program_e2e.sh's scenarios do as a user: waits, the target window, the program, keys and
# the pointer through wl_input, the consent helper, and checks of what arrived. Sourced; the
# scenario sets work (its folder, the current one), program and tools beforehand.

# SECONDS (may have a fraction, such as 2.5) in nanoseconds, in bash's 64-bit arithmetic: awk's
# printf "%d" stops at 2^31 - 1 in mawk, which cut every wait to 2.1 s.
nanoseconds() {
  [[ $1 =~ ^([0-9]+)(\.([0-9]{1,9}))?$ ]] || { echo "not a number of seconds: '$1'" >&2; return 2; }
  local fraction=${BASH_REMATCH[3]}000000000
  echo $((10#${BASH_REMATCH[1]} * 1000000000 + 10#${fraction:0:9}))
}
# Polls every 50 ms until COMMAND succeeds; false once SECONDS have passed.
wait_for() {
  local until
  until=$(nanoseconds "$1") || return 2
  until=$(($(date +%s%N) + until))
  shift
  until "$@"; do
    [ "$(date +%s%N)" -lt $until ] || return 1
    sleep 0.05
  done
}

# gnome-shell's top bar changes by itself (the clock's minute, the screen-sharing indicators):
# comparisons of the screen leave it out.
top_bar=()
[ "${OSTRANE_WL_DESKTOP:-}" = gnome48 ] && top_bar=(0 0 1920 32)

t0=$(date +%s%N)
now() {
  local ms=$((($(date +%s%N) - t0) / 1000000))
  printf '%d.%02d' $((ms / 1000)) $((ms % 1000 / 10))
}
say() { echo "$(now) s: $*"; }
fail() {
  say "FAILED: $*"
  # What the screen showed then, for whoever looks at the kept frames.
  [ -n "${WL_PID:-}" ] && wl snap "$work/last.ppm" >/dev/null 2>&1
  exit 1
}

target_pid="" program_pid="" helper_pid="" target_frame=(0 0 0 0)
# The program's standard error; a scenario that runs it twice names a file for each run.
program_err=program.err
cleanup() {
  # The session sweeps whatever is left; this stops ours in order, input last.
  local p
  for p in $helper_pid $program_pid $target_pid; do kill "$p" 2>/dev/null; done
  [ -n "${WL_PID:-}" ] && kill "$WL_PID" 2>/dev/null
  wait 2>/dev/null
}

# The user's hands (and, on GNOME, eyes), one for the whole scenario.
start_hands() {
  [ -n "${WL_PID:-}" ] && return
  coproc WL { exec "$tools/wl_input" --timeout 10; }
}
# One command to wl_input; its answer is left in $reply. wl_input gives each command 10 s.
reply=""
wl() {
  reply=""
  echo "$*" >&"${WL[1]}" || { reply="wl_input is gone"; return 1; }
  IFS= read -r -t 15 reply <&"${WL[0]}" || reply="no answer within 15 s"
  [[ $reply == ok* ]]
}
do_wl() { wl "$@" || fail "wl_input: $* -> $reply"; }

status_has() { grep -qx "$1" status 2>/dev/null; }
status_value() { sed -n "s/^$1=//p" status 2>/dev/null; }
status_text() { tr '\n' ' ' <status 2>/dev/null; }
count_at_least() { [ "$(status_value count)" -ge "$1" ] 2>/dev/null; }

# The target's log from its last mark on: what arrived since the scenario's last step began.
log_from=1
mark_target_log() { log_from=$(($(wc -l <target.log) + 1)); }
target_log() { tail -n "+$log_from" target.log 2>/dev/null; }
presses() { target_log | grep -c '^press '; }
presses_at_least() { [ "$(presses)" -ge "$1" ]; }
target_focused() { [ "$(grep '^focus ' target.log | tail -n1)" = "focus in" ]; }
# A key pressed as a global shortcut belongs to the desktop, never to the focused window.
target_got_no_keys() {
  ! grep -Eqx "key ($(IFS='|'; echo "$*"))" target.log ||
    fail "the focused window got $(grep -Ex 'key .*' target.log | sort -u | tr '\n' ' ')"
}

# Ended, whether or not the shell has waited for it yet.
program_gone() {
  local state
  state=$(awk '{ print $3 }' "/proc/$program_pid/stat" 2>/dev/null)
  [ -z "$state" ] || [ "$state" = Z ]
}
# Ends the program as the session would at logout.
end_program() {
  kill "$program_pid"
  wait_for 5 program_gone || fail "the program did not end on TERM"
  wait "$program_pid" 2>/dev/null
  program_pid=""
}

# start_target AT REST_X REST_Y [SIZE]: the target with its picture at AT (X,Y) of the window,
# full screen or of SIZE (WxH). Finds the picture on the screen, PX, PY, and so the window's
# corner, OX, OY, once two settled pictures agree: an animation may pause long enough to look
# settled. Then points at REST until the target reports the pointer exactly there.
start_target() {
  local at=$1 rest_x=$2 rest_y=$3 size=${4:-1920x1080}
  local windowed=()
  [ $# -ge 4 ] && windowed=(--size "$size")
  "$tools/click_target" --at "$at" --log target.log --pattern pattern.ppm "${windowed[@]}" &
  target_pid=$!
  wait_for 10 grep -qs '^shown ' target.log || fail "the target window did not show"
  start_hands
  local last="" i
  for ((i = 0; i < 10; i++)); do
    wl locate "$work/pattern.ppm" && [ "$reply" = "$last" ] && break
    last=$reply
  done
  [ "$reply" = "$last" ] || fail "the target's picture is not on the screen ($reply)"
  read -r _ PX PY <<<"$reply"
  OX=$((PX - ${at%,*})) OY=$((PY - ${at#*,}))
  # The window with its title bar and border, drawn by Qt, and a margin.
  target_frame=($((OX - 10)) $((OY - 40)) $((${size%x*} + 20)) $((${size#*x} + 50)))
  ((OX == 0 && OY == 0)) && target_frame=(0 0 0 0)
  do_wl hover $((OX + rest_x)) $((OY + rest_y)) "$work/target.log" "$rest_x" "$rest_y"
  say "target shown and settled, its corner at ($OX, $OY)"
}

# Starts the program and waits for its status file. A dialog the program waits on before its
# window shows (GNOME's "Add Keyboard Shortcuts") needs its own helper started beforehand.
launch_program() {
  rm -f status
  OSTRANE_STATUS_FILE=$work/status OSTRANE_BACKEND_DEBUG=1 ${OSTRANE_WL_IN_ROOT:+"$OSTRANE_WL_IN_ROOT"} \
    "$program" 2>"$program_err" &
  program_pid=$!
}
await_program() {
  # Before its window shows, the program binds its keys, which may wait on a dialog.
  wait_for "${1:-10}" test -s status ||
    fail "the program wrote no status file (its window did not come up): $(head -c 300 "$program_err")"
  grep -q '^ostrane: backend wayland' "$program_err" ||
    fail "the program did not choose the wayland backend: $(head -c 300 "$program_err")"
}

# Its window is what changed on the screen since before-program.ppm, once two settled pictures
# agree on it; the target's frame changes too, with the focus.
find_program_window() {
  local last="" i
  for ((i = 0; i < 20; i++)); do
    do_wl compare "$work/before-program.ppm" $TOLERANCE "${target_frame[@]}" "${top_bar[@]}"
    read -r _ changed wx wy ww wh <<<"$reply"
    [ "${changed:-0}" -gt 0 ] && [ "$wx $wy $ww $wh" = "$last" ] && break
    last="$wx $wy $ww $wh"
  done
  [ "$wx $wy $ww $wh" = "$last" ] || fail "the program's window did not show or settle ($reply)"
  # Nothing changed outside the target's frame: the window is over the target, or nowhere.
  [ "${changed:-0}" -gt 0 ] || fail "the program's window shows nowhere beside the target"
  window=("$wx" "$wy" "$ww" "$wh")
  say "program shown, ${ww}x${wh} at ($wx, $wy); $(head -1 "$program_err")"
}

start_program() {
  do_wl snap "$work/before-program.ppm"
  launch_program
  await_program
  find_program_window
}

# The newest window has the focus: what is typed shows in the first edit. Otherwise a click on
# its title bar gives it the focus, as a user would (where there are eyes to find it).
type_first_edit() {
  local value=$1
  do_wl type "$value"
  if ! wait_for 1 status_has "find=$value,,,"; then
    [ -n "${window[*]:-}" ] || fail "typing does not reach the program: $(status_text)"
    say "typing did not reach the program; clicking its title"
    do_wl click $((window[0] + window[2] / 2)) $((window[1] + 10))
    do_wl key BackSpace
    do_wl key BackSpace
    do_wl type "$value"
    wait_for 1 status_has "find=$value,,," || fail "typing does not reach the program"
  fi
}

# Both scopes (left top right bottom each) and the interval (0 min, 0 s, 5 tenths), following the
# tab order from the first edit: left, top, bottom, right, Define Scope, the same for the click
# scope, Define Scope, Start, Stop, then the interval's edits with their spin buttons between.
type_settings() {
  local find=("$1" "$2" "$3" "$4") click=("$5" "$6" "$7" "$8") field
  type_first_edit "${find[0]}"
  for field in Tab "${find[1]}" Tab "${find[3]}" Tab "${find[2]}" Tab Tab "${click[0]}" Tab \
    "${click[1]}" Tab "${click[3]}" Tab "${click[2]}" Tab Tab Tab Tab 0 Tab Tab 0 Tab Tab 5; do
    if [ "$field" = Tab ]; then do_wl key Tab; else do_wl type "$field"; fi
  done
  local f c
  f=$(IFS=,; echo "${find[*]}") c=$(IFS=,; echo "${click[*]}")
  { wait_for 2 status_has "find=$f" && status_has "click=$c"; } ||
    fail "the settings typed did not arrive: $(status_text)"
  say "scopes and interval typed"
}

# The program's last word on standard error besides its choice of backend, if any.
program_said() {
  local said
  said=$(grep -v '^ostrane: backend' "$program_err" 2>/dev/null | tail -n1)
  [ -z "$said" ] || echo "; the program said: $said"
}

start_helper() {
  "$tools/consent_helper" --timeout 30 --save-frames "$work" "$@" 2>>helper.err &
  helper_pid=$!
}

# The helper's status once it ends; fails after 40 s (its own limit is 30 s).
wait_helper() {
  local i
  for ((i = 0; i < 800; i++)); do
    kill -0 "$helper_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$helper_pid" 2>/dev/null && fail "the consent helper did not end"
  wait "$helper_pid"
  local status=$?
  helper_pid=""
  [ $status -eq 0 ] || fail "consent helper: $(tail -1 helper.err)$(program_said)"
  say "$(tail -1 helper.err)"
}

# Every press and release the target got since its log's mark is at CENTRE, pressed and released
# in turn: no click lands elsewhere, none is half there.
check_clicks() {
  local line expected=press
  while read -r line; do
    [ "$line" = "$expected $1" ] || fail "a click arrived as '$line', not as '$expected $1':" \
      "$(target_log | grep -E '^(press|release)' | tr '\n' ' ')"
    [ $expected = press ] && expected=release || expected=press
  done < <(target_log | grep -E '^(press|release) ')
}

# Once the program says it stopped. F10 handled in the events a pass lets through after its
# click shows as stopped while the count still lacks that click (the count is set when the pass
# returns), and the click may still be on its way to the target. Nothing more: two intervals
# later every click counted has arrived at the centre, and no other. Leaves stopped (the count
# at the stop), arrived (the target's presses then) and count (the count in the end).
judge_stop() {
  stopped=$(status_value count) arrived=$(presses)
  sleep 1.2
  count=$(status_value count)
  [ "$(presses)" -eq "$count" ] && [ "$count" -le $((stopped + 1)) ] ||
    fail "${1}clicks went on after the stop: at the stop the count was $stopped and the target" \
      "had $arrived, now $count and $(presses)"
  check_clicks "$WINDOW_CENTRE"
}

# How many pixels differ from the picture taken before F9: the caret blinks, a box is large.
screen_changed_more() {
  wl compare "$work/before-f9.ppm" $TOLERANCE "${top_bar[@]}" &&
    [ "$(cut -d' ' -f2 <<<"$reply")" -gt "$1" ]
}
screen_changed_less() {
  wl compare "$work/before-f9.ppm" $TOLERANCE "${top_bar[@]}" &&
    [ "$(cut -d' ' -f2 <<<"$reply")" -lt "$1" ]
}
