#!/usr/bin/env bash
# The Windows build under Wine: cross-builds salvora.exe, its language modules, help file and
# tests, runs the tests under Wine on a headless display, and checks that salvora.exe repairs
# the damaged sample byte for byte as the Linux build does. Then packs the zip for Windows users
# and runs salvora.exe from the unpacked zip. Installs nothing: the packages of
# scripts/install-deps.sh must be there.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
jobs=$(nproc)
build=build/win-tests

# shellcheck source=scripts/ci/winedisplay.sh
source "$root/scripts/ci/winedisplay.sh"

echo "== Windows build with tests"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSALVORA_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j "$jobs"
test -f "$build/app/salvora.chm" || { echo "salvora.chm was not built (is fp-utils there?)"; exit 1; }

echo "== Wine prefix and display"
start_wine_display
# Started with nothing on a pipe, so that Wine's services do not hold ctest's pipes open.
wineserver -p
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

echo "== tests under Wine"
# The sample check runs its generator without Wine; the Linux build covers it.
ctest --test-dir "$build" --output-on-failure -E '^examples\.' --timeout 600

echo "== the same repair as the Linux build"
native="$root/build/ci/app/salvora"
if [ ! -x "$native" ]; then
  cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSALVORA_WERROR=ON >/dev/null
  cmake --build build/ci -j "$jobs" --target salvora
fi
mkdir -p "$work/linux" "$work/wine"
cp examples/customers_damaged.dbf "$work/linux/customers.dbf"
cp examples/customers_damaged.dbf "$work/wine/customers.dbf"
(cd "$work/linux" && "$native" customers.dbf /output:fixed.dbf /deldups >/dev/null)
(cd "$work/wine" && wine "$root/$build/app/salvora.exe" customers.dbf /output:fixed.dbf /deldups \
  </dev/null >/dev/null 2>&1)
cmp "$work/linux/fixed.dbf" "$work/wine/fixed.dbf"
cmp "$work/linux/fixed.log" "$work/wine/fixed.log"
echo "salvora.exe under Wine wrote the same bytes as the Linux build"

echo "== the zip for Windows users"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -rf "$build/packages"
(cd "$build" && cpack -G ZIP >/dev/null)
zip="$build/packages/salvora-$version-win64.zip"
unzip -q "$zip" -d "$work/unzipped"
folder="$work/unzipped/salvora-$version-win64"
diff <(ls "$folder") <(printf '%s\n' README.txt de.dll es.dll fr.dll it.dll salvora.chm salvora.exe)
grep -q "^Salvora $version for Windows" "$folder/README.txt"
# A clean Windows has only its own system libraries: the GCC runtime must be linked in.
system_dlls=$(ls "$WINEPREFIX/drive_c/windows/system32" | tr '[:upper:]' '[:lower:]')
for dll in $(x86_64-w64-mingw32-objdump -p "$folder/salvora.exe" | sed -n 's/^\s*DLL Name: //p'); do
  if ! grep -qxF "${dll,,}" <<<"$system_dlls"; then
    echo "salvora.exe needs $dll, which Windows does not bring" >&2
    exit 1
  fi
done
mkdir "$work/fromzip"
cp examples/customers_damaged.dbf "$work/fromzip/customers.dbf"
(cd "$work/fromzip" && wine "$folder/salvora.exe" customers.dbf /output:fixed.dbf /deldups /console \
  </dev/null >out.txt 2>/dev/null) || { echo "salvora.exe from the zip failed" >&2; exit 1; }
tr -d '\r' <"$work/fromzip/out.txt" | grep -qx "Salvora v$version"
tr -d '\r' <"$work/fromzip/out.txt" | grep -qx "customers.dbf: OK"
cmp "$work/linux/fixed.dbf" "$work/fromzip/fixed.dbf"
(cd "$work/fromzip" && wine "$folder/salvora.exe" fixed.dbf /check </dev/null >/dev/null 2>&1) ||
  { echo "the repaired table does not pass /check" >&2; exit 1; }
echo "$(basename "$zip"): $(stat -c %s "$zip") bytes; salvora.exe from it repaired the sample"
