#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server that ends with the command on every path
# (success, failure, interruption). Tests that open windows under Wine run through this:
#   scripts/with-xvfb.sh COMMAND ARGS...
set -uo pipefail
state=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$state/display" >/dev/null 2>&1 &
xvfb=$!
stop() {
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$state"
}
trap stop EXIT
trap 'exit 130' INT TERM HUP
for _ in $(seq 200); do
  [ -s "$state/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "with-xvfb: Xvfb did not start" >&2; exit 2; }
  sleep 0.05
done
[ -s "$state/display" ] || { echo "with-xvfb: Xvfb gave no display" >&2; exit 2; }
export DISPLAY=":$(head -n1 "$state/display")"
"$@"
