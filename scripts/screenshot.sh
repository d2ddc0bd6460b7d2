#!/usr/bin/env bash
# Starts salvora.exe under Wine on a headless display and saves a PNG of its main window; with
# --installer, the first page of the setup program instead.
# Usage: scripts/screenshot.sh [output.png]               (default docs/mainwindow.png)
#        scripts/screenshot.sh --run LANG [output.png]    the window after it repaired the
#                                                         damaged sample; LANG 0 English, 1 German
#        scripts/screenshot.sh --installer [output.png]   (default docs/installer.png)
# Needs the packages of scripts/install-deps.sh; builds the Windows tree when it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
installer=
language=0
run=
if [ "${1:-}" = --installer ]; then
  installer=yes
  shift
elif [ "${1:-}" = --run ]; then
  run=yes
  language=$2
  shift 2
fi
output=${1:-docs/mainwindow.png}
[ -z "$installer" ] || output=${1:-docs/installer.png}
build=build/win-tests

if [ ! -f "$build/app/salvora.exe" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSALVORA_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi
if [ -n "$installer" ]; then
  cmake --build "$build" -j "$(nproc)" --target salvora_installer
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  program=("$root/$build/packages/salvora-$version-setup.exe")
else
  program=(salvora.exe)
fi

# shellcheck source=scripts/ci/winedisplay.sh
source "$root/scripts/ci/winedisplay.sh"
start_wine_display
# English unless asked otherwise, whatever the machine's language.
wine reg add 'HKCU\SOFTWARE\Salvora' /v LANG /t REG_DWORD /d "$language" /f \
  </dev/null >/dev/null 2>&1

if [ -n "$run" ]; then
  mkdir "$work/data"
  cp examples/customers_damaged.dbf "$work/data/customers.dbf"
  (cd "$work/data" && wine "$root/$build/app/salvora.exe" customers.dbf /output:fixed.dbf /gui \
    </dev/null >/dev/null 2>&1 &)
  sleep 6
else
  (cd "$build/app" && wine "${program[@]}" </dev/null >/dev/null 2>&1 &)
  sleep 4
fi
mkdir -p "$(dirname "$output")"
# The desktop around the centred window is one colour: trimming it leaves the window.
import -window root "$work/screen.png"
convert "$work/screen.png" -fuzz 2% -trim +repage "$output"
echo "$output"
