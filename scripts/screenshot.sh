#!/usr/bin/env bash
# Starts salvora.exe under Wine on a headless display and saves a PNG of its main window.
# Usage: scripts/screenshot.sh [output.png]   (default docs/mainwindow.png)
# Needs the packages of scripts/install-deps.sh; builds the Windows tree when it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
output=${1:-docs/mainwindow.png}
build=build/win-tests

if [ ! -f "$build/app/salvora.exe" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSALVORA_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi

# shellcheck source=scripts/ci/winedisplay.sh
source "$root/scripts/ci/winedisplay.sh"
start_wine_display
# English, whatever the machine's language.
wine reg add 'HKCU\SOFTWARE\Salvora' /v LANG /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1

(cd "$build/app" && wine salvora.exe </dev/null >/dev/null 2>&1 &)
sleep 4
mkdir -p "$(dirname "$output")"
# The desktop around the centred window is one colour: trimming it leaves the window.
import -window root "$work/screen.png"
convert "$work/screen.png" -fuzz 2% -trim +repage "$output"
echo "$output"
