#!/usr/bin/env bash
# scripts/wayland-session, run as root, refuses at once and says why when the session's user
# cannot read the command it is given (a checkout under /root, say), instead of starting a
# session in which the command fails with "Permission denied" alone. Skipped (77) unless root.
set -uo pipefail
[ "$(id -u)" -eq 0 ] || exit 77
session=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wayland-session
hidden=$(mktemp -d)
trap 'rm -rf "$hidden"' EXIT
chmod 0700 "$hidden"
printf '#!/bin/sh\nexit 0\n' >"$hidden/command"
chmod 0755 "$hidden/command"
out=$(timeout 60 "$session" -- "$hidden/command" 2>&1)
status=$?
echo "$out"
[ $status -eq 125 ] && grep -q "cannot read $hidden/command" <<<"$out"
