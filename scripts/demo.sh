#!/usr/bin/env bash
# The installer's main job on this machine: sets everything up, builds the installer for the loopback
# release site and a demo launcher, publishes a signed release over HTTPS from nginx on loopback and
# installs it under Wine (interactive with a display, driven under Xvfb without one): scripts/demo.py.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
"$root/scripts/setup.sh" "$build"
if ! output=$(cmake --build "$build" --parallel 2 --target korvane_setup_loopback demo_launcher trust_test_ca korvane_screens 2>&1); then
  echo "$output" >&2
  exit 1
fi
exec python3 "$root/scripts/demo.py" "$build"
