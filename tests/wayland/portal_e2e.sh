#!/usr/bin/env bash
# The Wayland test beds end to end without our program, in a fresh session each run.
#
#   gnome43 (default)  the portal probe asks the portal for a remote-desktop session while the
#                      consent helper answers the dialog; the probe then clicks a window of its
#                      own through the portal
#   gnome48            global shortcuts: the probe registers its app id, binds F9 and F10 in one
#                      call, the helper presses Add in GNOME's dialog, and F9 and F10 pressed
#                      while another window has the focus arrive as Activated; a second probe
#                      with the same session token keeps both keys, with no dialog. Then a
#                      remote-desktop session asked to be remembered (persist_mode 2), consented
#                      once, starts again from its restore token with no one answering
#   kde                the same keys, with no dialog, on the first probe and the second; and what
#                      the RemoteDesktop portal answers, written down
#
#   tests/wayland/portal_e2e.sh [--desktop gnome43|gnome48|kde] BUILD_DIR [RUNS]
#
# BUILD_DIR holds the tools of tests/wayland. One line per run, then "N passed, N failed". A
# failed run's frames and logs are kept under OSTRANE_WL_KEEP (default /tmp/ostrane-wl-failures).
# gnome48 and kde need root (scripts/wayland-session mounts the Debian 13 root); run otherwise,
# they are skipped with status 77.
set -uo pipefail
readonly APP_ID=org.example.ostrane TOKEN=ostrane

# Polls every 50 ms until COMMAND succeeds; false once SECONDS (whole) have passed.
wait_for() {
  local until=$(($(date +%s%N) + $1 * 1000000000))
  shift
  until "$@"; do
    [ "$(date +%s%N)" -lt $until ] || return 1
    sleep 0.05
  done
}

if [ "${1:-}" = --inside ]; then
  # ---- Inside the session, as its user: the keys and, on GNOME 48, the remembered session.
  desktop=$2 work=$3 build=$4
  cd "$work" || exit 1
  t0=$(date +%s%N)
  say() { echo "$((($(date +%s%N) - t0) / 1000000)) ms: $*"; }
  fail() {
    say "FAILED: $*"
    exit 1
  }
  trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
  # The portal gives an unsandboxed program an app id only when a desktop file of that id is
  # installed and its Exec program exists.
  mkdir -p "$XDG_DATA_HOME/applications"
  printf '[Desktop Entry]\nType=Application\nName=Ostrane probe\nExec=true\n' \
    >"$XDG_DATA_HOME/applications/$APP_ID.desktop"
  register=(--register "$APP_ID")
  # The window that has the focus while the keys are pressed.
  "$build/click_target" --log target.log &
  wait_for 10 grep -qs '^shown ' target.log || fail "the target window did not show"
  focused() { [ "$(grep '^focus ' target.log | tail -n1)" = "focus in" ]; }
  # One wl_input for the whole run: when its keyboard goes, the seat has none, and the focused
  # window is told it lost the focus. Each command must be answered "ok".
  coproc HANDS { exec "$build/wl_input" --timeout 10; }
  hands() {
    local command reply
    for command; do
      echo "$command" >&"${HANDS[1]}" || return 1
      IFS= read -r -t 15 reply <&"${HANDS[0]}" && [[ $reply == ok* ]] || { echo "$reply"; return 1; }
    done
  }

  summary=""
  for run in 1 2; do
    out=probe-$run.out helper=""
    # GNOME asks the user once, with the "Add Keyboard Shortcuts" dialog; KDE never.
    if [ "$desktop" = gnome48 ] && [ $run = 1 ]; then
      "$build/consent_helper" --shortcuts --timeout 30 --save-frames "$work" 2>>helper.err &
      helper=$!
    fi
    "$build/portal_probe" --shortcuts "$TOKEN" "${register[@]}" --expect OstraneStart,OstraneStop \
      --timeout 40 >"$out" 2>&1 &
    probe=$!
    if [ -n "$helper" ]; then
      wait "$helper" || fail "consent helper: $(tail -n1 helper.err)"
      say "$(tail -n1 helper.err)"
    fi
    wait_for 40 grep -qx ready "$out" || fail "run $run: no shortcuts bound: $(tr '\n' ' ' <"$out")"
    # GNOME describes the keys as "Press F9", KDE as "F9".
    grep -Eq '^list-shortcuts: (.* )?OstraneStart="([^"]* )?F9"' "$out" &&
      grep -Eq '^list-shortcuts: (.* )?OstraneStop="([^"]* )?F10"' "$out" ||
      fail "run $run: ListShortcuts lacks F9 or F10: $(grep '^list' "$out")"
    # As a user would: a click on the other window, which takes the focus, then the keys.
    hands "click 1700 950" || fail "wl_input could not click"
    wait_for 5 focused || fail "run $run: the target window did not get the focus"
    hands "key F9" "key F10" || fail "wl_input could not press the keys"
    wait "$probe" || fail "run $run: F9 and F10 did not both arrive: $(tail -n2 "$out" | tr '\n' ' ')"
    ! grep -Eqx 'key (F9|F10)' target.log || fail "run $run: the focused window got F9 or F10"
    bind=$(sed -n 's/^bind: response \([0-9]*\) .*(\([0-9.]*\) s)$/\1 in \2 s/p' "$out")
    summary+="${summary:+; }run $run: bind answered $bind, F9 and F10 activated"
    say "run $run: $(grep -E '^(bind|list)-shortcuts' "$out" | tr '\n' ' ')"
  done

  if [ "$desktop" = gnome48 ]; then
    # Consent once: the first session is answered by the helper, the second by its token alone.
    "$build/consent_helper" --timeout 40 --save-frames "$work" 2>>helper.err &
    helper=$!
    "$build/portal_probe" --remote-persist "$work/token" "${register[@]}" --timeout 50 \
      >persist-1.out 2>&1 || fail "the remembered session did not start: $(tail -n3 persist-1.out)"
    wait "$helper" || fail "consent helper: $(tail -n1 helper.err)"
    [ -s "$work/token" ] || fail "the portal returned no restore token: $(grep '^start' persist-1.out)"
    "$build/portal_probe" --remote-persist "$work/token" "${register[@]}" --timeout 15 \
      >persist-2.out 2>&1 || fail "the token did not start a session by itself: $(tail -n2 persist-2.out)"
    starts=()
    for n in 1 2; do starts+=("$(sed -n 's/^start: response 0 .*(\([0-9.]*\) s)$/\1/p' persist-$n.out)"); done
    summary+="; remembered session: Start ${starts[0]} s with the dialog, then ${starts[1]} s from the token"
  else
    # kwin composites without a GPU here and offers no screen cast: written down, not judged.
    "$build/portal_probe" --remote-persist "$work/token" --timeout 10 >persist-1.out 2>&1
    summary+="; RemoteDesktop $(sed -n 's/^create-session: \(response [0-9]*\).*/CreateSession \1/p' persist-1.out)"
  fi
  echo "summary: $summary"
  exit 0
fi

desktop=gnome43
if [ "${1:-}" = --desktop ]; then
  desktop=${2:-}
  shift 2 || true
fi
case "$desktop" in
  gnome43 | gnome48 | kde) ;;
  *) echo "--desktop wants gnome43, gnome48 or kde" >&2; exit 2 ;;
esac
[ $# -ge 1 ] && [ $# -le 2 ] ||
  { echo "usage: $0 [--desktop gnome43|gnome48|kde] BUILD_DIR [RUNS]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
runs=${2:-1}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "RUNS wants a whole number, not '$runs'" >&2; exit 2; }
for tool in consent_helper portal_probe wl_input click_target; do
  [ -x "$build/$tool" ] || { echo "$build/$tool is missing: build the tests/wayland targets" >&2; exit 2; }
done
if [ "$desktop" != gnome43 ] && [ "$(id -u)" -ne 0 ]; then
  echo "the $desktop bed needs root: skipped"
  exit 77
fi
session=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wayland-session
self=$(realpath "$0")
keep=${OSTRANE_WL_KEEP:-/tmp/ostrane-wl-failures}

work=$(mktemp -d /tmp/ostrane-wl-e2e.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The session's user writes the frames; the logs are copied out by root.
chmod 0755 "$work"

passed=0 failed=0
for ((run = 1; run <= runs; run++)); do
  frames="$work/frames-$run" logs="$work/logs-$run"
  mkdir -m 0777 "$frames"
  began=$(date +%s%N)
  if [ "$desktop" = gnome43 ]; then
    # The probe clicks only once the helper has ended: until then the helper's own pointer is in use.
    out=$("$session" --log-dir "$logs" -- sh -c '
      "$1/consent_helper" --timeout 30 --save-frames "$2" & helper=$!
      "$1/portal_probe" --timeout 40 --after-pid "$helper"; probe=$?
      wait "$helper"; helper=$?
      echo "helper=$helper probe=$probe"
      [ "$helper" -eq 0 ] && [ "$probe" -eq 0 ]' sh "$build" "$frames" 2>&1)
  else
    out=$(timeout -k 10 240 "$session" --desktop "$desktop" --log-dir "$logs" -- \
      bash "$self" --inside "$desktop" "$frames" "$build" 2>&1)
  fi
  status=$?
  took=$((($(date +%s%N) - began) / 1000000))
  up=$(sed -n 's/^wayland-session: up in \([0-9.]*\) s.*/\1/p' <<<"$out")
  seen=$(sed -n 's/^consent-helper: dialog seen after \([0-9.]*\) s, shared after \([0-9.]*\) s/\1 \2/p' <<<"$out")
  active=$(sed -n 's/^portal-probe: session ACTIVE after \([0-9.]*\) s.*/\1/p' <<<"$out")
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
    if [ "$desktop" = gnome43 ]; then
      printf 'run %d: ok in %d.%03d s: up %s s; dialog %s s, shared %s s; portal ACTIVE %s s\n' \
        "$run" $((took / 1000)) $((took % 1000)) "${up:-?}" "${seen% *}" "${seen#* }" "${active:-?}"
    else
      printf 'run %d %s: ok in %d.%03d s: up %s s; %s\n' "$run" "$desktop" $((took / 1000)) \
        $((took % 1000)) "${up:-?}" "$(sed -n 's/^summary: //p' <<<"$out")"
    fi
  else
    failed=$((failed + 1))
    mkdir -p "$keep"
    kept="$keep/run-$(date +%Y%m%d-%H%M%S)-$desktop-$run"
    mv "$frames" "$kept" && cp -r "$logs" "$kept/logs" 2>/dev/null
    echo "run $run $desktop: FAILED (status $status); frames and logs in $kept"
    sed 's/^/  | /' <<<"$out"
  fi
  rm -rf "$frames" "$logs"
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
