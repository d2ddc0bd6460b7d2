#!/usr/bin/env bash
# Everything CI checks, from a fresh Debian 12 machine: dependencies, the native build with
# warnings as errors, the tests (also under the address and undefined-behaviour sanitizers,
# interoperability with independent DBF readers included), a bounded fuzzing run, the Windows
# build with its tests under Wine and its zip, the Windows setup program installed, used and
# removed under Wine, the Debian package installed and used, and the demo on the bundled sample.
#
# scripts/test.sh --quick: only what the native build needs, the build, and its tests; an
# answer in minutes for a change to the engine. CI runs the whole script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
quick=
case "${1:-}" in
  --quick) quick=yes ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

if [ -n "$quick" ]; then
  "$root/scripts/install-deps.sh" --native
else
  "$root/scripts/install-deps.sh"
fi

echo "== native build and tests"
cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSALVORA_WERROR=ON
cmake --build build/ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs"
if [ -n "$quick" ]; then
  echo "quick test passed (scripts/test.sh without --quick runs everything CI runs)"
  exit 0
fi

echo "== sanitizers"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSALVORA_WERROR=ON -DSALVORA_SANITIZE=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== fuzzing (bounded)"
# About two minutes a target; an input slower than a second counts as a finding.
FUZZ_SECONDS="${FUZZ_SECONDS:-240}" FUZZ_TIMEOUT="${FUZZ_TIMEOUT:-1}" "$root/scripts/ci/fuzz.sh"

echo "== Windows build, tests, the same repair under Wine, and the zip"
"$root/scripts/ci/windows.sh"

echo "== Windows setup program installed, used and removed under Wine"
"$root/scripts/ci/installer.sh"

echo "== Debian package"
"$root/scripts/ci/packages.sh"

echo "== demo"
SALVORA_BUILD_DIR="$root/build/ci" "$root/examples/demo.sh"
