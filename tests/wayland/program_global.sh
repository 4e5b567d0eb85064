# shellcheck shell=bash
# program_e2e.sh's global scenario: F9 and F10 bound as the desktop's global shortcuts, pressed
# while another window has the focus, in two runs of the installed program in one session and
# home, as a user starts it again the next day. Sourced inside the session after program_lib.sh.

# What the program says on standard error when the portal did not give it every key.
readonly NOT_BOUND='did not bind every key'
readonly NO_CAPTURE='This desktop offers no screen capture and clicking to programs ('

# Both keys are the desktop's: the status line has no word of keys that work in the window only.
keys_are_global() {
  local run=$1 note
  note=$(status_value status)
  [ -z "$note" ] || fail "run $run: the status line says '$note'; $(grep -h "$NOT_BOUND" "$program_err")"
  ! grep -q "$NOT_BOUND" "$program_err" || fail "run $run: $(grep -h "$NOT_BOUND" "$program_err")"
}

# Gives the target the focus with a click at (X, Y), as a user would before pressing a key there.
focus_target() {
  do_wl click "$1" "$2"
  wait_for 5 target_focused || fail "the target did not take the focus from a click at ($1, $2)"
}

# GNOME 48: the program beside the windowed target of the clicks scenario. The first run answers
# "Add Keyboard Shortcuts" and the consent dialog as a person would; the second must need neither.
global_gnome48() {
  local run summary="" began first stopped arrived count
  start_target "${WINDOW_PATTERN[0]},${WINDOW_PATTERN[1]}" "${WINDOW_REST[@]}" \
    "${WINDOW_SIZE[0]}x${WINDOW_SIZE[1]}"
  for run in 1 2; do
    program_err=program-$run.err
    do_wl snap "$work/before-program.ppm"
    # The keys are bound before the window shows: on the first run, after GNOME's dialog.
    [ $run = 1 ] && start_helper --shortcuts
    launch_program
    [ $run = 1 ] && wait_helper
    # A dialog on the second run would hold the window back until nobody answered it (60 s).
    await_program $([ $run = 1 ] && echo 70 || echo 20)
    find_program_window
    keys_are_global $run
    if ((window[0] < OX + WINDOW_SIZE[0] && window[0] + window[2] > OX &&
      window[1] < OY + WINDOW_SIZE[1] && window[1] + window[3] > OY)); then
      fail "run $run: gnome-shell put the program's window over the target"
    fi
    type_settings "$PX" "$PY" $((PX + 40)) $((PY + 30)) \
      "$OX" "$OY" $((OX + WINDOW_SIZE[0])) $((OY + WINDOW_SIZE[1]))
    focus_target $((OX + WINDOW_REST[0])) $((OY + WINDOW_REST[1]))
    mark_target_log
    [ $run = 1 ] && start_helper
    began=$(date +%s%N)
    do_wl key F9
    [ $run = 1 ] && wait_helper
    # On the second run nobody answers: only the kept consent lets the clicks come.
    wait_for 15 presses_at_least 1 ||
      fail "run $run: no click after F9 from the target$([ $run = 2 ] && echo " (nobody consents this time)"): $(status_text)"
    first=$((($(date +%s%N) - began) / 1000000))
    wait_for 10 presses_at_least 3 || fail "run $run: fewer than 3 clicks arrived: $(status_text)"
    wait_for 2 count_at_least 3 || fail "run $run: the count did not rise with the clicks: $(status_text)"
    check_clicks "$WINDOW_CENTRE"
    # The clicked window keeps the focus; F10 is pressed there.
    target_focused || fail "run $run: the target lost the focus while the program clicked it"
    do_wl key F10
    wait_for 5 status_has running=0 || fail "run $run: F10 from the target did not stop: $(status_text)"
    judge_stop "run $run: "
    status_has hotkeys=1,1 || fail "run $run: the program got F9,F10 $(status_value hotkeys) times"
    target_got_no_keys F9 F10
    say "run $run: F9 from the target, first click after $first ms, $count at the centre, F10 stopped"
    summary+="${summary:+; }run $run: first click $first ms after F9, stopped by F10 at $stopped"
    summary+=" clicks ($arrived arrived by then, $count in the end)"
    end_program
    # The consent kept for the next run (the portal hands the token back each time), the
    # user's alone.
    token=${XDG_STATE_HOME:-$HOME/.local/state}/ostrane/restore-token
    [ -s "$token" ] || fail "run $run kept no restore token in $token"
    [ "$(stat -c %a "$token")" = 600 ] || fail "$token has mode $(stat -c %a "$token")"
  done
  echo "summary: $summary; consent $(sed -n 's/.*shared after \([0-9.]*\) s/\1 s/p' helper.err)"
}

# KDE: no eyes, so the program comes first (the only window, it has the focus for typing), then a
# full-screen target over it that a click gives the focus.
global_kde() {
  local run summary=""
  start_hands
  for run in 1 2; do
    program_err=program-$run.err
    launch_program
    await_program 20
    keys_are_global $run
    window=()
    # Valid fields, so that Start goes on to ask the desktop.
    type_settings 1400 800 1440 830 0 0 1920 1080
    "$tools/click_target" --log target.log &
    target_pid=$!
    wait_for 10 grep -qs '^shown ' target.log || fail "run $run: the target window did not show"
    do_wl hover 1700 950 "$work/target.log"
    focus_target 1700 950
    do_wl key F10
    wait_for 5 status_has hotkeys=0,1 || fail "run $run: F10 from the target did not reach the program: $(status_text)"
    do_wl key F9
    wait_for 5 status_has hotkeys=1,1 || fail "run $run: F9 from the target did not reach the program: $(status_text)"
    wait_for 10 grep -qF "message=$NO_CAPTURE" status ||
      fail "run $run: Start did not say that this desktop cannot capture: $(status_text)"
    status_has running=0 || fail "run $run: the program runs without a screen to read"
    target_got_no_keys F9 F10
    say "run $run: F10 and F9 from the target reached the program; $(status_value message)"
    summary+="${summary:+; }run $run: F10, F9 reached the program, Start told no capture"
    end_program
    kill "$target_pid"
    wait "$target_pid" 2>/dev/null
    target_pid=""
    mv target.log target-$run.log
  done
  echo "summary: $summary"
}
