#!/usr/bin/env bash
# The installer's main job on this machine. For now: set up and build Korvane-Setup.exe.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
"$root/scripts/setup.sh" "$build"
cmake --build "$build" --parallel "$(nproc)" --target korvane_setup
echo "Built $build/app/Korvane-Setup.exe"
