#!/usr/bin/env bash
# Builds the product (Korvane-Setup.exe) and the release tool twice from this source tree, in two
# fresh folders of different names and depths, and requires byte-identical results. Prints the
# SHA-256 of each; they hold for this commit, this toolchain, this release public key and host.
# The builds are configured like a release (scripts/setup.sh's options, no tests). Exit 1 when the
# two builds differ, naming the first differing bytes; 2 on a wrong command line.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# A public key with no private half kept anywhere: it only stands in for the publisher's.
public_key=6b9ef3a09722e94c45a573a4e861fe8b32422f51677e78942aca42e27e82805f9717564882eb16700c45010b3cc511e68a257ef20c7290e78d93e5c1b5e57de7
host=downloads.korvane.ru
keep=no
usage() {
  cat <<'USAGE'
usage: scripts/check-reproducible.sh [--public-key HEX128] [--host HOST] [--keep]
  --public-key HEX128  the release public key built in (default: a fixed example key; the hash depends on it)
  --host HOST          the release host built in (default: downloads.korvane.ru; the hash depends on it)
  --keep               keep the two build folders and say where they are
Builds Korvane-Setup.exe and the release tool twice in fresh folders and compares them byte for byte.
USAGE
}
while [ $# -gt 0 ]; do
  case "$1" in
    --public-key|--host)
      if [ $# -lt 2 ]; then echo "check-reproducible: $1 needs a value" >&2; usage >&2; exit 2; fi
      if [ "$1" = --host ]; then host=$2; else public_key=$2; fi
      shift 2 ;;
    --keep) keep=yes; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "check-reproducible: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-reproducible.XXXXXX")
[ "$keep" = yes ] || trap 'rm -rf "$work"' EXIT
first=$work/a
second=$work/second/build-of-the-same-commit

build() {
  local folder=$1
  cmake -S "$root" -B "$folder/cross" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DKORVANE_WARNINGS_AS_ERRORS=ON \
    -DKORVANE_BUILD_TESTS=OFF -DKORVANE_RELEASE_PUBLIC_KEY="$public_key" -DKORVANE_RELEASE_HOST="$host" \
    >"$folder.log" 2>&1
  cmake --build "$folder/cross" --parallel 2 --target korvane_setup >>"$folder.log" 2>&1
  cmake -S "$root/tools" -B "$folder/host" -DCMAKE_BUILD_TYPE=Release >>"$folder.log" 2>&1
  cmake --build "$folder/host" --parallel 2 >>"$folder.log" 2>&1
}

for folder in "$first" "$second"; do
  mkdir -p "$folder"
  if ! build "$folder"; then
    tail -20 "$folder.log" >&2
    echo "check-reproducible: the build in $folder failed" >&2
    exit 1
  fi
done

status=0
for file in cross/app/Korvane-Setup.exe host/korvane-release; do
  a=$(sha256sum "$first/$file" | cut -d' ' -f1)
  b=$(sha256sum "$second/$file" | cut -d' ' -f1)
  if [ "$a" = "$b" ]; then
    echo "reproducible: $(basename "$file") $a ($(stat -c %s "$first/$file") bytes)"
  else
    echo "NOT reproducible: $(basename "$file"): $a vs $b; first differing bytes (offset, octal values):" >&2
    cmp -l "$first/$file" "$second/$file" | head -5 >&2 || true
    status=1
  fi
done
echo "toolchain: $(x86_64-w64-mingw32-g++-posix --version | head -1); $(x86_64-w64-mingw32-ld --version | head -1);" \
     "host $(g++ --version | head -1); release public key $public_key; release host $host"
[ "$keep" = no ] || echo "builds kept in $work"
exit $status
