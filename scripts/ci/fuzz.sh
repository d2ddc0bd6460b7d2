#!/usr/bin/env bash
# Builds the fuzz targets with clang (address and undefined-behaviour sanitizers) and runs each
# for a bounded time from seeds made of the damage corpus and the earlier findings. A crash, a
# leak, a sanitizer report or an input slower than the timeout fails the run; the input is then
# copied to fuzz/regressions/, which the unit tests replay once the engine is fixed.
#   FUZZ_SECONDS  total fuzzing time, shared by the targets (default 120)
#   FUZZ_TIMEOUT  seconds one input may take (default 10)
#   FUZZ_JOBS     fuzzing processes per target (default 1)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
total=${FUZZ_SECONDS:-120}
timeout=${FUZZ_TIMEOUT:-10}
jobs=${FUZZ_JOBS:-1}
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
targets=(fuzz_recovery fuzz_analysis)

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSALVORA_FUZZ=ON -DSALVORA_WERROR=ON >/dev/null
cmake --build "$build" --target "${targets[@]}" salvora_fuzz_seeds

# Every run ends with a durable flush: in memory that costs nothing.
scratch=/dev/shm
[ -d "$scratch" ] && [ -w "$scratch" ] || scratch=${TMPDIR:-/tmp}
work=$(mktemp -d "$scratch/salvora-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/fuzz/salvora_fuzz_seeds" "$work/seeds"
find "$root/fuzz/regressions" -type f ! -name '*.md' -exec cp {} "$work/seeds/" \;
mkdir -p "$work/artifacts"

per=$((total / ${#targets[@]}))
status=0
for target in "${targets[@]}"; do
  echo "== $target: ${per}s, at most ${timeout}s an input"
  mkdir -p "$work/$target"
  options=(-max_total_time="$per" -timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$work/artifacts/$target-")
  if [ "$jobs" -gt 1 ]; then
    options+=(-jobs="$jobs" -workers="$jobs")
  fi
  (cd "$work" && TMPDIR="$work" "$build/fuzz/$target" "${options[@]}" \
      "$work/$target" "$work/seeds") || status=1
done

for finding in "$work/artifacts"/*; do
  [ -e "$finding" ] || continue
  cp "$finding" "$root/fuzz/regressions/"
  echo "finding kept as fuzz/regressions/$(basename "$finding")"
  status=1
done
exit $status
