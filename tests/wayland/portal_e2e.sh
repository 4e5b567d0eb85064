#!/usr/bin/env bash
# The Wayland test bed end to end without our program: in a fresh headless session each run, the
# portal probe asks the portal for a remote-desktop session while the consent helper answers the
# dialog; the probe then clicks a window of its own through the portal.
#
#   tests/wayland/portal_e2e.sh BUILD_DIR [RUNS]
#
# BUILD_DIR holds consent_helper and portal_probe. One line per run, then "N passed, N failed".
# A failed run's frames and logs are kept under OSTRANE_WL_KEEP (default /tmp/ostrane-wl-failures).
set -uo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 BUILD_DIR [RUNS]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
runs=${2:-1}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "RUNS wants a whole number, not '$runs'" >&2; exit 2; }
for tool in consent_helper portal_probe; do
  [ -x "$build/$tool" ] || { echo "$build/$tool is missing: build the tests/wayland targets" >&2; exit 2; }
done
session=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wayland-session
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
  # The probe clicks only once the helper has ended: until then the helper's own pointer is in use.
  out=$("$session" --log-dir "$logs" -- sh -c '
    "$1/consent_helper" --timeout 30 --save-frames "$2" & helper=$!
    "$1/portal_probe" --timeout 40 --after-pid "$helper"; probe=$?
    wait "$helper"; helper=$?
    echo "helper=$helper probe=$probe"
    [ "$helper" -eq 0 ] && [ "$probe" -eq 0 ]' sh "$build" "$frames" 2>&1)
  status=$?
  took=$((($(date +%s%N) - began) / 1000000))
  up=$(sed -n 's/^wayland-session: up in \([0-9.]*\) s.*/\1/p' <<<"$out")
  seen=$(sed -n 's/^consent-helper: dialog seen after \([0-9.]*\) s, shared after \([0-9.]*\) s/\1 \2/p' <<<"$out")
  active=$(sed -n 's/^portal-probe: session ACTIVE after \([0-9.]*\) s.*/\1/p' <<<"$out")
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
    printf 'run %d: ok in %d.%03d s: up %s s; dialog %s s, shared %s s; portal ACTIVE %s s\n' \
      "$run" $((took / 1000)) $((took % 1000)) "${up:-?}" "${seen% *}" "${seen#* }" "${active:-?}"
  else
    failed=$((failed + 1))
    mkdir -p "$keep"
    kept="$keep/run-$(date +%Y%m%d-%H%M%S)-$run"
    mv "$frames" "$kept" && cp -r "$logs" "$kept/logs" 2>/dev/null
    echo "run $run: FAILED (status $status); frames and logs in $kept"
    sed 's/^/  | /' <<<"$out"
  fi
  rm -rf "$frames" "$logs"
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
