#!/usr/bin/env bash
# Sets everything up, builds, and runs every test under Wine. ctest's summary is the last output.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
"$root/scripts/setup.sh" "$build"
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
exec ctest --output-on-failure --timeout 900
