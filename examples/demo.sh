#!/usr/bin/env bash
# Repairs the bundled customers_damaged.dbf (its 32-byte header is zeroed) and checks that
# every record comes back exactly as in customers.dbf.
#   examples/demo.sh                                 builds build/app/salvora if needed
#   SALVORA_BUILD_DIR=build/ci examples/demo.sh      uses (and updates) another build tree
#   SALVORA=/path/to/salvora examples/demo.sh        uses that program as it is
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"

if [[ -n "${SALVORA:-}" ]]; then
    salvora="$SALVORA"
    [[ "$salvora" == /* ]] || salvora="$PWD/$salvora"
else
    build="${SALVORA_BUILD_DIR:-$root/build}"
    [[ "$build" == /* ]] || build="$PWD/$build"
    salvora="$build/app/salvora"
    if [[ ! -f "$build/build.ninja" ]]; then
        # A fresh machine may lack the compiler and build tools; the program needs nothing else.
        missing=()
        for tool in cmake:cmake ninja:ninja-build g++:g++; do
            command -v "${tool%%:*}" >/dev/null || missing+=("${tool##*:}")
        done
        if [[ ${#missing[@]} -gt 0 ]]; then
            echo "== Installing ${missing[*]}"
            sudo_cmd=()
            [[ "$(id -u)" -eq 0 ]] || sudo_cmd=(sudo)
            "${sudo_cmd[@]}" apt-get update -qq
            DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
                --no-install-recommends "${missing[@]}"
        fi
        echo "== Configuring a build in $build"
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DSALVORA_BUILD_TESTS=OFF >/dev/null
    fi
    # An existing build tree keeps its own settings; only the program is brought up to date.
    ninja -C "$build" salvora >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$here/customers_damaged.dbf" "$work/damaged.dbf"

# Little-endian unsigned integer of WIDTH bytes at OFFSET, read a byte at a time so that the
# host's byte order does not matter.
le() {
    od -An -v -tu1 -j "$2" -N "$3" "$1" |
        awk '{ for (i = 1; i <= NF; ++i) b[n++] = $i }
             END { v = 0; for (i = n - 1; i >= 0; --i) v = v * 256 + b[i]; print v }'
}

dump_header() {
    if command -v xxd >/dev/null; then
        xxd -l 64 "$1"
    else
        od -A x -t x1z -N 64 "$1"
    fi
}

# The record area: record count times record length, starting at the header length.
records_of() {
    local count hlen rlen
    count=$(le "$1" 4 4)
    hlen=$(le "$1" 8 2)
    rlen=$(le "$1" 10 2)
    tail -c +"$((hlen + 1))" "$1" | head -c "$((count * rlen))"
}

echo "== Damaged table: first 64 bytes (the header block is all zeros)"
dump_header "$work/damaged.dbf"
echo

echo "== Repairing: salvora damaged.dbf /output:fixed.dbf"
if ! (cd "$work" && "$salvora" damaged.dbf /output:fixed.dbf); then
    echo "FAILED: salvora could not repair damaged.dbf" >&2
    exit 1
fi
echo

echo "== Repaired table: first 64 bytes (rebuilt header, dated today)"
dump_header "$work/fixed.dbf"
echo

count=$(le "$work/fixed.dbf" 4 4)
echo "== Records of fixed.dbf ($count)"
if /usr/bin/python3 -c 'import dbfread' 2>/dev/null; then
    /usr/bin/python3 - "$work/fixed.dbf" <<'PY'
import sys
import dbfread

table = dbfread.DBF(sys.argv[1], load=True)

def cell(value, field):
    if value is None:
        return ""
    if isinstance(value, float):
        return f"{value:.{field.decimal_count}f}"
    return str(value)

def row(flag, record):
    return (flag, *(cell(v, f) for v, f in zip(record.values(), table.fields)))

rows = [("", *table.field_names)]
rows += [row("", r) for r in table.records]
rows += [row("*", r) for r in table.deleted]
widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
for row in rows:
    print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
print(f"({len(table.records)} live, {len(table.deleted)} marked deleted with *)")
PY
else
    # Raw records, one per line; the first column is the deletion flag.
    rlen=$(le "$work/fixed.dbf" 10 2)
    records_of "$work/fixed.dbf" | fold -b -w "$rlen"
    echo
fi
echo

original=$(le "$here/customers.dbf" 4 4)
if [[ "$count" != "$original" ]]; then
    echo "FAILED: fixed.dbf has $count records, customers.dbf has $original" >&2
    exit 1
fi
if ! cmp -s <(records_of "$here/customers.dbf") <(records_of "$work/fixed.dbf"); then
    echo "FAILED: the records of fixed.dbf differ from those of customers.dbf" >&2
    exit 1
fi
echo "Sample repaired: $count records recovered"
