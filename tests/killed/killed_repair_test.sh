#!/usr/bin/env bash
# Kills in-place repairs of a large table and its memo file at random moments (SIGKILL), then
# repairs again: the pair must never be torn where no journal says so, and the next repair
# must end with the repaired pair and no file of its own left behind.
#   killed_repair_test.sh SALVORA [KILLS]
set -euo pipefail

salvora="$1"
kills="${2:-30}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A FoxPro table whose header undercounts its records; every record has its own memo.
python3 - "$work/orig" <<'PY'
import os, struct, sys
folder = sys.argv[1]
os.makedirs(folder)
records, block = 60000, 64
fields = [(b"NAME", b"C", 8), (b"NOTES", b"M", 4)]
header_length = 32 + 32 * len(fields) + 1
record_length = 1 + sum(f[2] for f in fields)
head = struct.pack("<BBBBIHH", 0xF5, 124, 5, 7, records - 77, header_length, record_length)
head += bytes(20)
for name, kind, size in fields:
    head += name.ljust(11, b"\0") + kind + bytes(4) + bytes([size, 0]) + bytes(14)
head += b"\r"
memo = bytearray(512)
memo[0:4] = struct.pack(">I", 512 // block)
memo[6:8] = struct.pack(">H", block)
body = bytearray()
for i in range(records):
    at = len(memo) // block
    text = (b"memo of row %d " % i) * 2
    entry = struct.pack(">II", 1, len(text)) + text
    memo += entry + bytes(-len(entry) % block)
    body += b" " + (b"row%d" % i).ljust(8) + struct.pack("<I", at)
memo[0:4] = struct.pack(">I", len(memo) // block)
with open(os.path.join(folder, "t.dbf"), "wb") as f:
    f.write(head + body + b"\x1a")
with open(os.path.join(folder, "t.fpt"), "wb") as f:
    f.write(memo)
PY

pairOf() { echo "$(sha256sum <"$1/t.dbf" | cut -c1-16)-$(sha256sum <"$1/t.fpt" | cut -c1-16)"; }

original="$(pairOf "$work/orig")"
mkdir "$work/fixed"
cp "$work/orig/"* "$work/fixed/"
start=$(date +%s%N)
"$salvora" "$work/fixed/t.dbf" >/dev/null
took=$(( ($(date +%s%N) - start) / 1000000 ))
repaired="$(pairOf "$work/fixed")"
[[ "$original" != "$repaired" ]] || { echo "the repair changed nothing"; exit 1; }

whole=0 journalled=0 settled=0
for ((i = 1; i <= kills; ++i)); do
    run="$work/run"
    rm -rf "$run"
    mkdir "$run"
    cp "$work/orig/"* "$run/"
    # Every other kill aims at the end of the run, where the pair is put in place.
    if ((i % 2)); then
        delay=$(( RANDOM % (took + took / 4 + 1) ))
    else
        delay=$(( took * 4 / 5 + RANDOM % (took / 3 + 1) ))
    fi
    "$salvora" "$run/t.dbf" >/dev/null 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    now="$(pairOf "$run")"
    if [[ -e "$run/.t.dbf.salvora-jrnl" ]]; then
        journalled=$((journalled + 1))
    elif [[ "$now" == "$original" || "$now" == "$repaired" ]]; then
        whole=$((whole + 1))
    else
        echo "kill $i after ${delay} ms: the pair is torn and no journal says so"
        exit 1
    fi
    if ! "$salvora" "$run/t.dbf" >"$work/again.txt" 2>&1; then
        echo "kill $i after ${delay} ms: the next repair failed"; cat "$work/again.txt"; exit 1
    fi
    grep -q "interrupted repair" "$work/again.txt" && settled=$((settled + 1))
    if [[ "$(pairOf "$run")" != "$repaired" ]]; then
        echo "kill $i after ${delay} ms: the next repair did not give the repaired pair"; exit 1
    fi
    left="$(cd "$run" && ls -A | grep -v -x -e t.dbf -e t.fpt -e recovery.log -e t.log || true)"
    if [[ -n "$left" ]]; then
        echo "kill $i after ${delay} ms: left behind: $left"; exit 1
    fi
done
echo "$kills kills over a ${took} ms repair: $whole whole, $journalled with a journal, $settled settled by the next run"
