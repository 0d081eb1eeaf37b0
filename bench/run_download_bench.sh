#!/usr/bin/env bash
# kr::download_file (under Wine) against curl (native), both fetching the same 16 MiB file from the
# same nginx over loopback HTTPS, in the same run.
#   bench/run_download_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
size=16777216
state=$build/bench-servers
server=$root/tests/server/loopback_server.py

cmake --build "$build" --parallel 2 --target download_bench trust_test_ca >/dev/null
python3 "$server" start "$state"
trap 'python3 "$server" stop "$state"; rm -rf "$work"' EXIT
work=$(mktemp -d)
port=$(sed -n 's/^nginx=//p' "$state/ports")
www=$(sed -n 's/^www=//p' "$state/ports")
head -c $size /dev/urandom >"$www/bench-16MiB.bin"
sha=$(sha256sum "$www/bench-16MiB.bin" | cut -d' ' -f1)
url=https://localhost:$port/bench-16MiB.bin

# This CA is trusted in the build's test prefix only, like the test servers' own.
"$build/wine-run.sh" "$build/tests/trust_test_ca.exe" "Z:$state/ca.der"

echo "curl $(curl --version | head -1 | cut -d' ' -f2), $runs runs, $size bytes, $url"
curl_rates=()
for run in $(seq "$runs"); do
  rate=$(curl -s --cacert "$state/ca.pem" -o "$work/curl.bin" -w '%{speed_download}' "$url")
  rm -f "$work/curl.bin"
  curl_rates+=("$(awk -v r="$rate" 'BEGIN { printf "%.1f", r / 1048576 }')")
  echo "curl run $run: ${curl_rates[-1]} MiB/s"
done
curl_median=$(printf '%s\n' "${curl_rates[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int(NR / 2) + 1] }')
echo "curl median $curl_median MiB/s"

echo "kr::download_file under Wine:"
output=$("$build/wine-run.sh" "$build/bench/download_bench.exe" "$url" "Z:$work" $size "$sha" "$runs" | tr -d '\r')
echo "$output"
ours=$(echo "$output" | sed -n 's/^median \(.*\) MiB\/s$/\1/p')
awk -v o="$ours" -v c="$curl_median" 'BEGIN { printf "ratio kr::download_file / curl: %.2f\n", o / c }'
