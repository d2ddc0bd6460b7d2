#!/usr/bin/env bash
# The Windows setup program under Wine, in a fresh prefix: makes salvora-<version>-setup.exe,
# installs it silently for the current user, checks the files, the Start menu shortcut and the
# uninstall entry, repairs the damaged sample with the installed salvora.exe (the same bytes as
# the Linux build), uninstalls silently and checks that only the program's settings key is
# left. Then the same for all users, as an administrator gets it by default, and with
# /ALLUSERS and a folder of our choice (/D=). Installs nothing: the packages of
# scripts/install-deps.sh must be there. scripts/ci/windows.sh builds the same tree; run after
# it, this adds the setup program and one Wine prefix (about 30 s).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
jobs=$(nproc)
build=build/win-tests
started=$(date +%s)

echo "== Windows setup program"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSALVORA_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" -j "$jobs" --target salvora_installer
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
publisher=$(sed -n 's/^SALVORA_PUBLISHER:STRING=//p' "$build/CMakeCache.txt")
setup="$root/$build/packages/salvora-$version-setup.exe"
test -f "$setup" || { echo "no $setup" >&2; exit 1; }
echo "$(basename "$setup"): $(stat -c %s "$setup") bytes"

native="$root/build/ci/app/salvora"
if [ ! -x "$native" ]; then
  cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSALVORA_WERROR=ON >/dev/null
  cmake --build build/ci -j "$jobs" --target salvora
fi

# shellcheck source=scripts/ci/winedisplay.sh
source "$root/scripts/ci/winedisplay.sh"
start_wine_display
wineserver -p
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Salvora'
fail() { echo "$*" >&2; exit 1; }
quietly() { "$@" </dev/null >/dev/null 2>&1; }
# One value of the uninstall entry as `reg query` prints it, or nothing.
entry_value() {
  wine reg query "$1\\$uninstall_key" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
expect_value() {
  local got
  got=$(entry_value "$1" "$2")
  [ "$got" = "$3" ] || fail "$1 uninstall entry: $2 is \"$got\", not \"$3\""
}
# The program's settings, as the window leaves them: they must outlive the uninstaller.
quietly wine reg add 'HKCU\SOFTWARE\Salvora' /v LANG /t REG_DWORD /d 0 /f

# Installs with the given switches, checks everything, runs the program, uninstalls.
# $1 the registry root of the entry (HKCU or HKLM), $2 the shortcut's folder, $3 the folder
# the program must land in, the rest: the setup's switches.
round_trip() {
  local hive=$1 menu=$2 expected=$3
  shift 3
  echo "== installed with: setup.exe $*"
  quietly wine "$setup" "$@" || fail "the silent setup failed ($*)"

  local location folder
  location=$(entry_value "$hive" InstallLocation)
  [ -n "$location" ] || fail "no uninstall entry under $hive"
  [ "$location" = "$expected" ] || fail "installed in $location, not in $expected"
  folder=$(winepath -u "$location" 2>/dev/null)
  diff <(ls "$folder") <(printf '%s\n' de.dll es.dll fr.dll it.dll salvora.chm salvora.exe \
    uninstall.exe) || fail "the installed folder $location holds other files"
  cmp "$folder/salvora.exe" "$build/installer/stage/salvora.exe"
  expect_value "$hive" DisplayName Salvora
  expect_value "$hive" DisplayVersion "$version"
  expect_value "$hive" Publisher "$publisher"
  expect_value "$hive" DisplayIcon "$location\\salvora.exe,0"
  expect_value "$hive" UninstallString "\"$location\\uninstall.exe\""
  expect_value "$hive" QuietUninstallString "\"$location\\uninstall.exe\" /S"
  local size
  size=$(($(entry_value "$hive" EstimatedSize)))
  [ "$size" -gt 100 ] || fail "EstimatedSize is $size KB"
  local shortcut
  shortcut="$(winepath -u "$menu" 2>/dev/null)/Salvora.lnk"
  test -f "$shortcut" || fail "no Start menu shortcut $shortcut"
  grep -aq 'salvora.exe' "$shortcut" || fail "the shortcut does not lead to salvora.exe"
  echo "files, shortcut and uninstall entry ($size KB) are there"

  rm -rf "$work/run"
  mkdir "$work/run"
  cp examples/customers_damaged.dbf "$work/run/customers.dbf"
  (cd "$work/run" && wine "$folder/salvora.exe" customers.dbf /output:fixed.dbf /deldups /console \
    </dev/null >out.txt 2>/dev/null) || fail "the installed salvora.exe failed"
  tr -d '\r' <"$work/run/out.txt" | grep -qx "customers.dbf: OK"
  cmp "$work/linux/fixed.dbf" "$work/run/fixed.dbf"
  echo "the installed salvora.exe wrote the same bytes as the Linux build"

  quietly wine "$folder/uninstall.exe" /S || fail "the silent uninstaller failed"
  # The uninstaller runs on from a copy of itself and returns at once; its entry goes last.
  for _ in $(seq 150); do [ -n "$(entry_value "$hive" InstallLocation)" ] || break; sleep 0.2; done
  [ ! -e "$folder" ] || fail "$folder is still there after the uninstall: $(ls "$folder")"
  [ ! -e "$shortcut" ] || fail "the shortcut is still there after the uninstall"
  [ -z "$(entry_value "$hive" InstallLocation)" ] || fail "the uninstall entry is still there"
  quietly wine reg query 'HKCU\SOFTWARE\Salvora' /v LANG || fail "the settings key is gone"
  echo "uninstalled: folder, shortcut and entry gone, the settings key kept"
}

mkdir -p "$work/linux"
cp examples/customers_damaged.dbf "$work/linux/customers.dbf"
(cd "$work/linux" && "$native" customers.dbf /output:fixed.dbf /deldups >/dev/null)

user_folder='C:\users\'"$(id -un)"
user_menu="$user_folder"'\AppData\Roaming\Microsoft\Windows\Start Menu\Programs'
all_menu='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
round_trip HKCU "$user_menu" "$user_folder"'\AppData\Local\Programs\Salvora' /S /CURRENTUSER
# Wine runs every program as an administrator: the setup takes that as elevated.
round_trip HKLM "$all_menu" 'C:\Program Files\Salvora' /S
# Wine would quote a folder with blanks, and /D= must stand unquoted.
round_trip HKLM "$all_menu" 'C:\Tools\Salvora' /S /ALLUSERS '/D=C:\Tools\Salvora'

echo "== nothing of ours left"
wineserver -k 2>/dev/null || true
leftovers=$(find "$WINEPREFIX/drive_c" -iname '*salvora*' 2>/dev/null || true)
[ -z "$leftovers" ] || fail "left in the prefix: $leftovers"
# Every registry key or value that names us, but the settings key itself.
left=$(awk '{ line = tolower($0) }
  line ~ /^\[/ { key = $0; settings = (line ~ /^\[software\\\\salvora\]/) }
  line ~ /salvora/ && !settings { print FILENAME ": " key " " $0 }' "$WINEPREFIX"/*.reg)
[ -z "$left" ] || fail "left in the registry: $left"
echo "setup program installed, used and removed three times under Wine in $(($(date +%s) - started)) s"
