#!/usr/bin/env bash
# Times a recursive batch over a tree of small sound tables, each repaired in place.
#   BENCH_TABLES   number of tables (10000), in folders of 100
#   BENCH_DIR      where the scratch folder goes (a fresh one under /var/tmp)
#   BENCH_RUNS     runs of the batch (2); the fastest counts, each on a fresh tree
# The batch should manage at least 1000 tables per second.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$root/build-release"
tables="${BENCH_TABLES:-10000}"
runs="${BENCH_RUNS:-2}"
per_folder=100

if [[ ! -f "$build/build.ninja" ]]; then
    echo "== Configuring a Release build in $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DSALVORA_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" salvora >/dev/null
salvora="$build/app/salvora"

if [[ -n "${BENCH_DIR:-}" ]]; then
    mkdir -p "$BENCH_DIR"
    work="$(mktemp -d "$BENCH_DIR/salvora-batch-bench.XXXXXX")"
else
    work="$(mktemp -d /var/tmp/salvora-batch-bench.XXXXXX)"
fi
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

# A dBASE III table with one 10-character field and three records.
small_table() {
    printf '\x03\x7c\x05\x07\x03\x00\x00\x00\x41\x00\x0b\x00'
    printf '\x00%.0s' {1..20}
    printf 'NAME\x00\x00\x00\x00\x00\x00\x00C\x00\x00\x00\x00\x0a\x00'
    printf '\x00%.0s' {1..14}
    printf '\x0d Alice      Bob        Carol     \x1a'
}
small_table >"$work/one.dbf"

make_tree() {
    local tree="$1" folder names i
    rm -rf "$tree"
    for ((folder = 0; folder * per_folder < tables; ++folder)); do
        mkdir -p "$tree/f$folder"
        names=()
        for ((i = folder * per_folder; i < tables && i < (folder + 1) * per_folder; ++i)); do
            names+=("$tree/f$folder/t$i.dbf")
        done
        tee "${names[@]}" <"$work/one.dbf" >/dev/null
    done
}

# measure_in FOLDER: runs the batch $runs times on fresh trees under FOLDER and sets `best`.
measure_in() {
    local tree="$1/tree" run start end seconds status ok
    best=""
    for ((run = 0; run < runs; ++run)); do
        make_tree "$tree"
        sync
        start=$(now)
        status=0
        "$salvora" "$tree/*.dbf" /recurse >/dev/null 2>&1 || status=$?
        end=$(now)
        seconds=$(awk "BEGIN { printf \"%.3f\", $end - $start }")
        if [[ $status -ne 0 ]]; then
            echo "FAILED: the batch ended with exit code $status" >&2
            exit 1
        fi
        ok=$(grep -c ': OK' "$tree/recovery.log" || true)
        if [[ "$ok" -ne "$tables" ]]; then
            echo "FAILED: $ok of $tables tables came out OK" >&2
            exit 1
        fi
        if [[ -z "$best" ]] || awk "BEGIN { exit !($seconds < $best) }"; then
            best=$seconds
        fi
    done
    rm -rf "$tree"
}

echo "== Recursive batch over $tables small tables in folders of $per_folder"
measure_in "$work"
echo "  on $(df -T "$work" | awk 'NR == 2 { print $2 }') in $work: fastest of $runs runs $best s"
echo "tables per second: $(calc "$tables / $best")"

# Every in-place repair waits for its data and its rename to reach the disk; in memory the
# same batch shows what the program itself costs per table.
if [[ -d /dev/shm && -w /dev/shm ]]; then
    shm="$(mktemp -d /dev/shm/salvora-batch-bench.XXXXXX)"
    trap 'rm -rf "$work" "$shm"' EXIT
    measure_in "$shm"
    echo "  in memory (tmpfs, no disk waits): fastest of $runs runs $best s"
    echo "tables per second in memory: $(calc "$tables / $best")"
fi
