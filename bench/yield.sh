#!/usr/bin/env bash
# Yield benchmark: damages generated tables once per damage class, repairs them and prints,
# per class, the records back exactly, the records that could come back, the garbage and the
# exit codes. Deterministic (YIELD_SEED, default 22).
#   YIELD_SALVORA   the program to measure (default: a Release build of this tree)
#   YIELD_CLASSES   comma-separated classes (default: all)
#   YIELD_KEEP      keep the damaged files and results in this folder
#   YIELD_TEMPLATE  set to 1: every repair gets /template: an empty table of the sound structure
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
salvora="${YIELD_SALVORA:-}"
if [[ -z "$salvora" ]]; then
    build="$root/build-release"
    if [[ ! -f "$build/build.ninja" ]]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DSALVORA_BUILD_TESTS=OFF >/dev/null
    fi
    ninja -C "$build" salvora >/dev/null
    salvora="$build/app/salvora"
fi
args=("$salvora" --seed "${YIELD_SEED:-22}")
[[ -n "${YIELD_CLASSES:-}" ]] && args+=(--classes "$YIELD_CLASSES")
[[ -n "${YIELD_KEEP:-}" ]] && args+=(--keep "$YIELD_KEEP")
[[ "${YIELD_TEMPLATE:-}" == 1 ]] && args+=(--template)
exec python3 "$here/yield/yieldbench.py" "${args[@]}"
