#!/usr/bin/env bash
# Times a repair of a large sound table against a plain copy of it, then the header search
# over a file in which no header can be found, then delete-duplicates over a large table.
#   BENCH_MIB            size of the sound table in MiB (1024)
#   BENCH_NOHEADER_MIB   size of the headerless file in MiB (256)
#   BENCH_DEDUP_RECORDS  records of the delete-duplicates table (10000000); 0 skips it
#   BENCH_MEMO_MIB       size of each memo table, table and memo file together (512); 0 skips
#   BENCH_MEMO_KINDS     memo table kinds to time ("fox2 vfp db3 db4")
#   BENCH_PATTERN_MIB    size of each header search pattern file (256); 0 skips them
#   BENCH_PATTERNS       the patterns ("ff05 plus cdn descriptors random plusruns druns
#                        plusdigits letters text")
#   BENCH_TREE_TABLES    tables of the folder tree batch (10000); 0 skips it
#   BENCH_TREE_JOBS      the /jobs: counts the tree batch is timed with ("1 2")
#   BENCH_TREE_RUNS      runs of the tree batch per count (3); the median counts
#   BENCH_TREE_DIR       where the tree goes (the scratch folder; /dev/shm times it in memory)
# BENCH_MIB, BENCH_NOHEADER_MIB: 0 skips that part.
#   BENCH_DIR            where the scratch folder goes (a fresh one under /var/tmp)
#   BENCH_RUNS           runs of each measured command (2)
# Every measured command runs BENCH_RUNS times on a warm cache and the fastest run counts.
# Dirty pages are written back (sync) before each run so that one run's write-back is not
# billed to the next.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$root/build-release"
mib="${BENCH_MIB:-1024}"
noheader_mib="${BENCH_NOHEADER_MIB:-256}"
runs="${BENCH_RUNS:-2}"
dedup_records="${BENCH_DEDUP_RECORDS:-10000000}"
memo_mib="${BENCH_MEMO_MIB:-512}"
memo_kinds="${BENCH_MEMO_KINDS:-fox2 vfp db3 db4}"
pattern_mib="${BENCH_PATTERN_MIB:-256}"
patterns="${BENCH_PATTERNS:-ff05 plus cdn descriptors random plusruns druns plusdigits letters text}"
tree_tables="${BENCH_TREE_TABLES:-10000}"
tree_jobs="${BENCH_TREE_JOBS:-1 2}"
tree_runs="${BENCH_TREE_RUNS:-3}"

if [[ ! -f "$build/build.ninja" ]]; then
    echo "== Configuring a Release build in $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DSALVORA_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" salvora salvora_make_table salvora_dedup_bench salvora_make_memo_table \
    salvora_make_pattern salvora_make_tree >/dev/null
salvora="$build/app/salvora"
make_table="$build/bench/salvora_make_table"

if [[ -n "${BENCH_DIR:-}" ]]; then
    mkdir -p "$BENCH_DIR"
    work="$(mktemp -d "$BENCH_DIR/salvora-bench.XXXXXX")"
else
    work="$(mktemp -d /var/tmp/salvora-bench.XXXXXX)"
fi
tree_dir="${BENCH_TREE_DIR:-$work}"
tree_work=""
trap 'rm -rf "$work" ${tree_work:+"$tree_work"}' EXIT

now() { date +%s.%N; }
# Seconds between two `now` readings, and other arithmetic: bc is not always installed.
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

# Peak resident set size of the repair, in KiB, when GNU time is there to tell it.
if /usr/bin/time -f %M true >/dev/null 2>&1; then
    have_time=1
else
    have_time=0
fi

# measure TARGET CMD...: runs CMD $runs times, removing TARGET before each run; sets `best`
# to the fastest run's seconds, `status` and `output` to the last run's exit code and output,
# and `peak_kib` to the largest peak RSS seen (empty without GNU time).
measure() {
    local target="$1"
    shift
    best=""
    peak_kib=""
    local run start end seconds rss
    for ((run = 0; run < runs; ++run)); do
        rm -f "$target"
        sync
        status=0
        start=$(now)
        if ((have_time)); then
            output=$(/usr/bin/time -f %M -o "$work/rss" "$@" 2>&1) || status=$?
        else
            output=$("$@" 2>&1) || status=$?
        fi
        end=$(now)
        seconds=$(awk "BEGIN { printf \"%.3f\", $end - $start }")
        if [[ -z "$best" ]] || awk "BEGIN { exit !($seconds < $best) }"; then
            best=$seconds
        fi
        if ((have_time)) && [[ -s "$work/rss" ]]; then
            rss=$(tail -n 1 "$work/rss")
            if [[ -z "$peak_kib" || "$rss" -gt "$peak_kib" ]]; then
                peak_kib=$rss
            fi
        fi
    done
}

report_peak() {
    if [[ -n "$peak_kib" ]]; then
        echo "  peak memory of the repair: $(calc "$peak_kib / 1024") MiB (maximum resident set)"
    else
        echo "  peak memory of the repair: not measured (GNU time, package 'time', is missing)"
    fi
}

echo "== Scratch folder: $work"
if [[ "$mib" != 0 ]]; then
echo "== Generating a sound ${mib} MiB table"
start=$(now)
"$make_table" "$work/table.dbf" "$mib"
end=$(now)
echo "  generated in $(calc "$end - $start") s"

measure "$work/copy.dbf" cp --reflink=never "$work/table.dbf" "$work/copy.dbf"
cp_time=$best
# The repair makes its result durable before renaming it into place; a copy that does the
# same is the fairer yardstick, so it is shown too.
# shellcheck disable=SC2016 # the inner shell expands $1 and $2
measure "$work/copy.dbf" sh -c 'cp --reflink=never "$1" "$2" && sync "$2"' sh \
    "$work/table.dbf" "$work/copy.dbf"
cp_sync_time=$best
rm -f "$work/copy.dbf"

measure "$work/out.dbf" "$salvora" "$work/table.dbf" "/output:$work/out.dbf"
repair_time=$best
if [[ $status -ne 0 || "$output" != *": OK"* ]]; then
    echo "FAILED: the repair of the sound table did not succeed (exit $status):" >&2
    echo "$output" >&2
    exit 1
fi
echo "== Sound table, $mib MiB"
echo "  cp:        $cp_time s"
echo "  cp + sync: $cp_sync_time s"
echo "  repair:    $repair_time s"
report_peak
echo "repair/cp ratio: $(calc "$repair_time / $cp_time")"
echo "repair/(cp + sync) ratio: $(calc "$repair_time / $cp_sync_time")"
if cmp -s "$work/table.dbf" "$work/out.dbf"; then
    echo "  output is byte-identical to the sound input"
else
    echo "  NOTE: the output differs from the sound input"
fi
measure "$work/out.dbf" "$salvora" "$work/table.dbf" "/output:$work/out.dbf" /deldups
echo "  repair with /deldups: $best s (exit $status)"
echo "deldups repair/cp ratio: $(calc "$best / $cp_time")"
# pgdbf, a general-purpose reader from Debian's packages, reading the whole table: a yardstick.
if command -v pgdbf >/dev/null; then
    # shellcheck disable=SC2016 # the inner shell expands $1 and $2
    measure "$work/pgdbf.sql" sh -c 'pgdbf "$1" > "$2"' sh "$work/table.dbf" /dev/null
    echo "  pgdbf to /dev/null: $best s (exit $status)"
    echo "pgdbf/repair ratio: $(calc "$best / $repair_time")"
else
    echo "  pgdbf is not installed (package pgdbf): its comparison is skipped"
fi
rm -f "$work/table.dbf" "$work/out.dbf"
fi

if [[ "$noheader_mib" != 0 ]]; then
echo "== Generating ${noheader_mib} MiB of 0x05 bytes (no header anywhere)"
"$make_table" "$work/noheader.dbf" "$noheader_mib" noheader
measure "$work/copy.dbf" cp --reflink=never "$work/noheader.dbf" "$work/copy.dbf"
cp_time=$best
rm -f "$work/copy.dbf"
measure "$work/out2.dbf" "$salvora" "$work/noheader.dbf" "/output:$work/out2.dbf"
search_time=$best
verdict="exit $status"
[[ "$output" == *Unrecoverable* ]] && verdict="$verdict, reported Unrecoverable"
echo "  cp: $cp_time s"
echo "header search over $noheader_mib MiB: $search_time s ($verdict)"
report_peak
echo "header search/cp ratio: $(calc "$search_time / $cp_time")"
rm -f "$work/noheader.dbf" "$work/out2.dbf"
fi

if [[ "$dedup_records" != 0 ]]; then
    echo "== Delete duplicates over $dedup_records records"
    "$build/bench/salvora_dedup_bench" "$dedup_records" "$work" "$runs" | sed 's/^/  /;s/^  \(.*\/cp ratio:\)/\1/'
fi

# Memo tables: the repair against a copy of both files, each followed by a sync so that the
# copy's write-back is billed to it as the repair's own is.
for kind in $memo_kinds; do
    [[ "$memo_mib" == 0 ]] && break
    echo "== Memo table ($kind), $memo_mib MiB in both files"
    memo_ext=fpt
    [[ $kind == db3 || $kind == db4 ]] && memo_ext=dbt
    "$build/bench/salvora_make_memo_table" "$work/memo.dbf" "$memo_mib" "$kind" | sed 's/^/  /'
    # shellcheck disable=SC2016 # the inner shell expands the arguments
    measure "$work/copy.dbf" sh -c 'cp --reflink=never "$1" "$2" && cp --reflink=never "$3" "$4" && sync' sh \
        "$work/memo.dbf" "$work/copy.dbf" "$work/memo.$memo_ext" "$work/copy.$memo_ext"
    cp_time=$best
    rm -f "$work/copy.dbf" "$work/copy.$memo_ext"
    # shellcheck disable=SC2016
    measure "$work/out.dbf" sh -c '"$1" "$2" "/output:$3" && sync' sh \
        "$salvora" "$work/memo.dbf" "$work/out.dbf"
    repair_time=$best
    if [[ $status -ne 0 || "$output" != *": OK"* ]]; then
        echo "FAILED: the repair of the $kind memo table did not succeed (exit $status):" >&2
        echo "$output" >&2
        exit 1
    fi
    echo "  cp of both + sync: $cp_time s"
    echo "  repair + sync:     $repair_time s"
    report_peak
    echo "memo table ($kind) repair/cp ratio: $(calc "$repair_time / $cp_time")"
    if cmp -s "$work/memo.$memo_ext" "$work/out.$memo_ext"; then
        echo "  memo file is byte-identical to the sound input"
    fi
    rm -f "$work/memo.dbf" "$work/memo.$memo_ext" "$work/out.dbf" "$work/out.$memo_ext"
done

for pattern in $patterns; do
    [[ "$pattern_mib" == 0 ]] && break
    "$build/bench/salvora_make_pattern" "$work/pattern.dbf" "$pattern_mib" "$pattern"
    measure "$work/copy.dbf" cp --reflink=never "$work/pattern.dbf" "$work/copy.dbf"
    cp_time=$best
    rm -f "$work/copy.dbf"
    measure "$work/out.dbf" "$salvora" "$work/pattern.dbf" "/output:$work/out.dbf"
    search_time=$best
    echo "== Header search, $pattern_mib MiB of pattern '$pattern' (exit $status)"
    echo "  cp: $cp_time s, search: $search_time s"
    echo "header search ($pattern)/cp ratio: $(calc "$search_time / $cp_time")"
    rm -f "$work/pattern.dbf" "$work/out.dbf"
done

# A recursive batch over a tree of small varied tables, some damaged, in one process: each run
# repairs a fresh copy of the tree in place (the copy is not timed). The job counts take turns
# run by run, so that other work on the machine weighs on each alike.
if [[ "$tree_tables" != 0 ]]; then
    echo "== Folder tree of $tree_tables small tables, /recurse, one process (in $tree_dir)"
    tree_work="$(mktemp -d "$tree_dir/salvora-tree.XXXXXX")"
    "$build/bench/salvora_make_tree" "$tree_work/pristine" "$tree_tables" | sed 's/^/  /'
    declare -A tree_rate tree_times
    for ((run = 0; run < tree_runs; ++run)); do
        for jobs in $tree_jobs; do
            rm -rf "$tree_work/tree"
            cp -a "$tree_work/pristine" "$tree_work/tree"
            sync
            status=0
            start=$(now)
            "$salvora" "$tree_work/tree/*.dbf" /recurse "/jobs:$jobs" >/dev/null 2>&1 || status=$?
            end=$(now)
            lines=$(grep -c ': ' "$tree_work/tree/recovery.log" || true)
            if [[ $status -gt 1 || "$lines" -ne "$tree_tables" ]]; then
                echo "FAILED: the tree batch with /jobs:$jobs ended with $status, $lines lines" >&2
                rm -rf "$tree_work"
                exit 1
            fi
            tree_times[$jobs]+="$(awk "BEGIN { printf \"%.3f\", $end - $start }") "
        done
    done
    for jobs in $tree_jobs; do
        median=$(printf '%s\n' ${tree_times[$jobs]} | sort -n | awk '{ t[NR] = $1 } END {
            print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }')
        tree_rate[$jobs]=$(calc "$tree_tables / $median")
        echo "  /jobs:$jobs runs: ${tree_times[$jobs]}s (median $median s)"
        echo "tree batch (/jobs:$jobs) tables per second: ${tree_rate[$jobs]}"
    done
    read -r -a job_list <<<"$tree_jobs"
    if [[ ${#job_list[@]} -ge 2 ]]; then
        first=${job_list[0]}
        last=${job_list[-1]}
        echo "tree batch /jobs:$last over /jobs:$first speed-up: $(calc "${tree_rate[$last]} / ${tree_rate[$first]}")"
    fi
    echo "  $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    rm -rf "$tree_work"
fi
