#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; does nothing when all is there.
# With --native only what the native build and its tests need (scripts/test.sh --quick).
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest
  python3 python3-dbf python3-dbfread pgdbf
)
if [ "${1:-}" != --native ]; then
  packages+=(
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 wine fonts-wine xvfb xauth imagemagick
    fp-utils nsis
    clang-14 libclang-rt-14-dev
    dpkg-dev unzip man-db
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
