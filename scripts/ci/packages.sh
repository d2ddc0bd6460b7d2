#!/usr/bin/env bash
# The Debian package: builds it with cpack from a Release build, installs it with dpkg into this
# machine (CI's own root), repairs the damaged sample with the installed /usr/bin/salvora,
# checks the manual page and documents, and removes the package again. Installs nothing else:
# the packages of scripts/install-deps.sh must be there. The Windows zip is made and tried
# under Wine by scripts/ci/windows.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
jobs=$(nproc)
build=build/pkg

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if dpkg-query -W -f='${Status}' salvora 2>/dev/null | grep -q "install ok installed"; then
  echo "salvora is installed on this machine already; this check would replace and remove it" >&2
  exit 1
fi

work=$(mktemp -d /tmp/salvora-package.XXXXXX)
installed=
cleanup() {
  if [ -n "$installed" ]; then
    "${sudo_cmd[@]}" dpkg -r salvora >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Release build and Debian package"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSALVORA_WERROR=ON \
  -DSALVORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/packages/salvora_${version}-1_$(dpkg --print-architecture).deb"
test -f "$deb" || { echo "no $deb after cpack" >&2; ls "$build/packages" >&2; exit 1; }
dpkg-deb --field "$deb"
test "$(dpkg-deb --field "$deb" Version)" = "${version}-1"
dpkg-deb --field "$deb" Depends | grep -q 'libc6' || { echo "the package names no dependencies" >&2; exit 1; }
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

echo "== installed with dpkg"
installed=yes
"${sudo_cmd[@]}" dpkg -i "$deb"
dpkg -L salvora >"$work/files"
for f in /usr/bin/salvora /usr/share/man/man1/salvora.1.gz /usr/share/doc/salvora/README.md \
  /usr/share/doc/salvora/html/commandline.html /usr/share/bash-completion/completions/salvora; do
  grep -qx "$f" "$work/files" || { echo "the package does not hold $f" >&2; exit 1; }
  test -f "$f" || { echo "$f is not there after dpkg -i" >&2; exit 1; }
done
if command -v man >/dev/null; then
  test "$(man -w salvora)" = /usr/share/man/man1/salvora.1.gz
  zcat /usr/share/man/man1/salvora.1.gz | head -n1 | grep -qF "\"Salvora $version\""
fi
test "$(/usr/bin/salvora --version)" = "Salvora v$version"

echo "== the installed program repairs the sample"
SALVORA=/usr/bin/salvora examples/demo.sh >"$work/demo.txt" 2>&1 || { cat "$work/demo.txt"; exit 1; }
tail -n1 "$work/demo.txt"
cp examples/customers_damaged.dbf "$work/customers.dbf"
(cd "$work" && /usr/bin/salvora customers.dbf /output:fixed.dbf >out.txt)
grep -qx "customers.dbf: OK" "$work/out.txt"
if /usr/bin/python3 -c 'import dbfread' 2>/dev/null; then
  /usr/bin/python3 - examples/customers.dbf "$work/fixed.dbf" <<'PY'
import sys
import dbfread

def rows(name):
    table = dbfread.DBF(name, load=True)
    return table.field_names, [dict(r) for r in table.records], [dict(r) for r in table.deleted]

expected, got = rows(sys.argv[1]), rows(sys.argv[2])
if expected != got:
    sys.exit(f"dbfread reads {sys.argv[2]} differently from {sys.argv[1]}")
print(f"dbfread reads the repaired table: {len(got[1])} records, {len(got[2])} marked deleted")
PY
fi

echo "== removed again"
"${sudo_cmd[@]}" dpkg -r salvora >/dev/null
installed=
test ! -e /usr/bin/salvora
echo "Debian package built, installed, used and removed"
