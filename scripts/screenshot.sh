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

work=$(mktemp -d /tmp/salvora-shot.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
wineboot -u </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
# English, whatever the machine's language.
wine reg add 'HKCU\SOFTWARE\Salvora' /v LANG /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
wineserver -w

(cd "$build/app" && wine salvora.exe </dev/null >/dev/null 2>&1 &)
sleep 4
mkdir -p "$(dirname "$output")"
# The desktop around the centred window is one colour: trimming it leaves the window.
import -window root "$work/screen.png"
convert "$work/screen.png" -fuzz 2% -trim +repage "$output"
echo "$output"
