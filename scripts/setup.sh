#!/usr/bin/env bash
# Everything the build and the tests need on a Debian machine: packages, npm dependencies, the
# configured build folder and its private Wine prefix. Quick when all of it is already there.
#   scripts/setup.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}

packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 fontconfig fonts-dejavu-core fonts-open-sans
  nlohmann-json3-dev googletest
  libssl-dev openssl libcurl4-openssl-dev
  xvfb xdotool x11-utils imagemagick
  tesseract-ocr tesseract-ocr-rus
  nginx curl
  osslsigncode
  clang libclang-rt-14-dev clang-format-14 zip p7zip-full
)
missing=()
# Tools the machine may already have from elsewhere than Debian's packages.
for tool in cmake make python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
command -v npm >/dev/null || missing+=(nodejs npm)
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# npm dependencies: installed exactly as locked, and again whenever the lock file changes.
if [ ! -f "$root/node_modules/.package-lock.json" ] ||
   [ "$root/package-lock.json" -nt "$root/node_modules/.package-lock.json" ]; then
  echo "setup: npm ci"
  (cd "$root" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "setup: configuring $build"
  cmake -S "$root" --preset cross -B "$build" >/dev/null
fi

"$root/scripts/wine-prefix.sh" "$build/wineprefix"

# The publisher's release tool runs on this machine (the tests sign their manifests with it), so it
# is built natively, apart from the cross build.
if [ ! -f "$build/host/CMakeCache.txt" ]; then
  echo "setup: configuring $build/host (release tool)"
  cmake -S "$root/tools" --preset host -B "$build/host" >/dev/null
fi
cmake --build "$build/host" --parallel 2 >/dev/null
