#!/usr/bin/env bash
# Every benchmark in one run, each next to its floor (bench/install_bench.py): start-up to the first
# frame next to a bare window, idle CPU, the download next to a bare WinHTTP loop and curl, whole
# installations of a 16 MiB package next to curl + unzip + cp, extraction next to unzip, peak
# working set, exe size. Starts its own loopback servers (the release listener on the build's
# loopback release port, nginx), trusts their CA in the build's Wine prefix only, runs under its own
# Xvfb, and stops all of it when it ends, on every path.
#   bench/run_bench.sh [BUILD_DIR] [RUNS] [PARTS]   # defaults: build, 5, all (see bench/install_bench.py)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
parts=${3:-}
state=$build/bench-servers
server=$root/tests/server/loopback_server.py
port=$(sed -n 's/^KORVANE_LOOPBACK_RELEASE_PORT:[A-Z]*=//p' "$build/CMakeCache.txt")

cmake --build "$build" --parallel 2 --target korvane_setup korvane_setup_loopback demo_launcher extract_bench \
  download_bench winhttp_loop_bench bare_window trust_test_ca korvane_screens >/dev/null
python3 "$server" start "$state" "$port"
trap 'python3 "$server" stop "$state"; "$build/wine-run.sh" --server-stop' EXIT
"$build/wine-run.sh" --server-start
"$build/wine-run.sh" "$build/tests/trust_test_ca.exe" "Z:$state/ca.der"
"$root/scripts/with-xvfb.sh" python3 "$root/bench/install_bench.py" "$build" "$runs" ${parts:+"$parts"}
