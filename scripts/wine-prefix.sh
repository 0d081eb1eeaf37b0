#!/usr/bin/env bash
# Makes a private Wine prefix for tests and the demo: scripts/wine-prefix.sh PREFIX
# Idempotent: a prefix that is already set up is left as it is.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
stamp="$prefix/.korvane-ready"
version=3   # bump when the set-up below changes
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  exit 0
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono/Gecko install dialogs, no menu entries or file associations in the Linux home.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
echo "wine-prefix: initialising $prefix"
wineboot -i </dev/null >/dev/null 2>&1
wineserver -w

# A fresh prefix links Desktop, Documents and the other shell folders to the Linux home; shortcuts and
# files that tests write there must stay inside the prefix.
for user_dir in "$prefix"/drive_c/users/*/; do
  for name in Desktop Documents Downloads Music Pictures Videos Templates; do
    if [ -L "$user_dir$name" ]; then
      rm "$user_dir$name"
      mkdir "$user_dir$name"
    fi
  done
done

# DirectWrite draws nothing for a family the system lacks, and Wine has no "Segoe UI".
font="DejaVu Sans"
if fc-list 2>/dev/null | grep -qi 'Open Sans'; then font="Open Sans"; fi
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Segoe UI' /t REG_SZ /d "$font" /f </dev/null >/dev/null 2>&1
wineserver -w

echo "$version" >"$stamp"
