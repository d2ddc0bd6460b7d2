#!/usr/bin/env python3
"""Yield benchmark: how much of a damaged table comes back, and how much garbage with it.

Generates sound tables of several kinds (with memos), damages a copy of each once per damage
class, repairs it with salvora and reads the result with its own strict reader. Per class it
prints: records back exactly (memo texts included), records physically intact in the damaged
files (what could come back), garbage (output records equal to no original) and the exit code.

    yieldbench.py SALVORA [--seed N] [--classes a,b] [--kinds a,b] [--keep DIR] [--template]

Everything depends on the seed only, so two runs print the same table.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

FIRST = ["Alice", "Bruno", "Chen", "Dmitri", "Elena", "Farah", "Giulia", "Hiro", "Ines",
         "Jonas", "Kwame", "Lena", "Marco", "Nadia", "Oskar", "Priya", "Quinn", "Rafael"]
LAST = ["Abernathy", "Bergstrom", "Castellano", "Dubois", "Eriksen", "Goldberg", "Ivanova",
        "Moreau", "Nakamura", "Okonkwo", "Quintero", "Schneider", "van Dijk", "Novak"]
CITIES = ["Oslo", "Lyon", "Porto", "Gdansk", "Kyoto", "Lagos", "Quito", "Perth", "Graz"]
WORDS = ["invoice", "paid", "late", "call back", "discount", "shipped", "returned", "note",
         "customer", "asked", "for", "a", "new", "address", "and", "the", "order", "was"]

# kind: (type byte, memo style, record count)
KINDS = {
    "dbase3": (0x03, None, 12000),
    "dbase3memo": (0x83, "dbt", 6000),
    "foxpro2": (0xF5, "fpt10", 8000),
    "vfp": (0x30, "fpt4", 20000),
}


def fields_of(kind):
    memo_style = KINDS[kind][1]
    fields = [("ID", "N", 7, 0), ("NAME", "C", 24, 0), ("CITY", "C", 12, 0),
              ("AMOUNT", "N", 10, 2), ("ORDERED", "D", 8, 0), ("PAID", "L", 1, 0),
              ("QTY", "N", 5, 0)]
    if memo_style == "fpt4":
        fields.append(("NOTES", "M", 4, 0))
    elif memo_style:
        fields.append(("NOTES", "M", 10, 0))
    return fields


class Table:
    """A generated table: its files' bytes and, per record, where its bytes and memo lie."""

    def __init__(self, kind, rng):
        self.kind = kind
        self.type, self.memo_style, count = KINDS[kind]
        self.fields = fields_of(kind)
        self.record_length = 1 + sum(f[2] for f in self.fields)
        vfp = self.type == 0x30
        self.header_length = 32 + 32 * len(self.fields) + 1 + (263 if vfp else 0)
        self.block = {"dbt": 512, "fpt10": 64, "fpt4": 32}.get(self.memo_style, 512)
        memo = bytearray()
        if self.memo_style == "dbt":
            memo += bytes(512)
            next_block = 1
        elif self.memo_style:
            memo += bytes(512)
            next_block = 512 // self.block
        self.keys = []          # per record: key as the scorer builds it
        self.memo_ranges = []   # per record: (start, end) in the memo file, or None
        records = bytearray()
        for i in range(count):
            rec = bytearray(b"*" if rng.random() < 0.02 else b" ")
            text = b""
            mrange = None
            for name, ftype, length, dec in self.fields:
                if name == "ID":
                    v = str(i + 1).rjust(length).encode()
                elif name == "NAME":
                    v = (rng.choice(FIRST) + " " + rng.choice(LAST)).ljust(length).encode()
                elif name == "CITY":
                    v = rng.choice(CITIES).ljust(length).encode()
                elif name == "AMOUNT":
                    v = ("%.2f" % (rng.randint(0, 9999999) / 100)).rjust(length).encode()
                elif name == "ORDERED":
                    v = b"        " if rng.random() < 0.05 else ("%04d%02d%02d" % (
                        rng.randint(1990, 2025), rng.randint(1, 12), rng.randint(1, 28))).encode()
                elif name == "PAID":
                    v = rng.choice([b"T", b"F", b" "])
                elif name == "QTY":
                    v = str(rng.randint(0, 500)).rjust(length).encode()
                else:  # memo
                    ref = 0
                    if rng.random() < 0.6:
                        text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 120)))
                        text = ("#%d " % (i + 1) + text).encode()
                        ref = next_block
                        start = len(memo)
                        if self.memo_style == "dbt":
                            body = text + b"\x1a\x1a"
                        else:
                            body = struct.pack(">II", 1, len(text)) + text
                        body += bytes(-len(body) % self.block)
                        memo += body
                        next_block += len(body) // self.block
                        mrange = (start, start + len(body))
                    if self.memo_style == "fpt4":
                        v = struct.pack("<I", ref)
                    else:
                        v = (str(ref).rjust(10) if ref else " " * 10).encode()
                rec += v
            assert len(rec) == self.record_length
            records += rec
            self.keys.append(record_key(bytes(rec), self.fields, text))
            self.memo_ranges.append(mrange)
        header = bytearray(32)
        header[0] = self.type
        header[1:4] = bytes([124, 5, 17])
        struct.pack_into("<IHH", header, 4, count, self.header_length, self.record_length)
        if self.memo_style and vfp:
            header[28] = 0x02
        desc = bytearray()
        offset = 1
        for name, ftype, length, dec in self.fields:
            d = bytearray(32)
            d[0:len(name)] = name.encode()
            d[11] = ord(ftype)
            if vfp:
                struct.pack_into("<I", d, 12, offset)
            d[16] = length
            d[17] = dec
            desc += d
            offset += length
        tail = b"\r" + (bytes(263) if vfp else b"")
        self.dbf = bytes(header + desc + tail + records + b"\x1a")
        if self.memo_style == "dbt":
            memo[0:4] = struct.pack("<I", next_block)
        elif self.memo_style:
            memo[0:4] = struct.pack(">I", next_block)
            memo[6:8] = struct.pack(">H", self.block)
        self.memo = bytes(memo) if self.memo_style else None

    def record_range(self, i):
        start = self.header_length + i * self.record_length
        return start, start + self.record_length


def record_key(rec, fields, memo_text):
    """The record's bytes after the flag without its memo references, plus its memo text."""
    out = bytearray()
    offset = 1
    for name, ftype, length, dec in fields:
        if ftype != "M":
            out += rec[offset:offset + length]
        offset += length
    return bytes(out), memo_text


# --- damage -------------------------------------------------------------------------------
# A damage takes (table, rng) and returns (dbf bytes, memo bytes, hits): hits lists the
# original byte ranges it touched as ("dbf"|"memo", start, end); an insertion at x is (x, x).

def splice(data, start, end, new):
    return data[:start] + new + data[end:]


def area_spot(t, rng, lo=0.3, hi=0.7):
    n = len(t.keys)
    i = rng.randint(int(n * lo), int(n * hi))
    return t.header_length + i * t.record_length + rng.randint(0, t.record_length - 1)


def insert_bytes(size):
    def damage(t, rng):
        x = area_spot(t, rng)
        return splice(t.dbf, x, x, bytes(rng.randrange(256) for _ in range(size))), t.memo, \
            [("dbf", x, x)]
    return damage


def delete_bytes(size):
    def damage(t, rng):
        x = area_spot(t, rng)
        return splice(t.dbf, x, x + size, b""), t.memo, [("dbf", x, x + size)]
    return damage


def zero_front(size):
    def damage(t, rng):
        return splice(t.dbf, 0, size, bytes(size)), t.memo, [("dbf", 0, size)]
    return damage


def zero_sectors(t, rng):
    data, hits = t.dbf, []
    for _ in range(3):
        x = (area_spot(t, rng, 0.05, 0.95) // 512) * 512
        data = splice(data, x, x + 512, bytes(512))
        hits.append(("dbf", x, x + 512))
    return data, t.memo, hits


def overwrite_block(t, rng):
    x = area_spot(t, rng)
    return splice(t.dbf, x, x + 4096, bytes(rng.randrange(256) for _ in range(4096))), \
        t.memo, [("dbf", x, x + 4096)]


def bit_flips(t, rng):
    data, hits = bytearray(t.dbf), []
    for _ in range(20):
        x = area_spot(t, rng, 0.01, 0.99)
        data[x] ^= 1 << rng.randrange(8)
        hits.append(("dbf", x, x + 1))
    return bytes(data), t.memo, hits


def truncate(t, rng):
    x = area_spot(t, rng, 0.6, 0.8)
    return t.dbf[:x], t.memo, [("dbf", x, len(t.dbf))]


def descriptor_zeroed(t, rng):
    x = 32 + 32 * 2
    return splice(t.dbf, x, x + 32, bytes(32)), t.memo, [("dbf", x, x + 32)]


def junk_front(t, rng):
    junk = bytes(rng.randrange(256) for _ in range(100 * 1024))
    return junk + t.dbf, t.memo, [("dbf", 0, 0)]


def memo_insert(t, rng):
    if not t.memo:
        return insert_bytes(7)(t, rng)
    x = rng.randint(len(t.memo) // 3, 2 * len(t.memo) // 3)
    return t.dbf, splice(t.memo, x, x, bytes(rng.randrange(256) for _ in range(13))), \
        [("memo", x, x)]


def memo_delete(t, rng):
    if not t.memo:
        return delete_bytes(7)(t, rng)
    x = rng.randint(len(t.memo) // 3, 2 * len(t.memo) // 3)
    return t.dbf, splice(t.memo, x, x + 13, b""), [("memo", x, x + 13)]


def memo_header_zeroed(t, rng):
    if not t.memo:
        return zero_sectors(t, rng)
    return t.dbf, splice(t.memo, 0, 512, bytes(512)), [("memo", 0, 512)]


def two_damages(t, rng):
    # The later spot first, so that the earlier one's offsets still hold.
    d1, _, h1 = zero_sectors(t, rng)
    x = area_spot(t, rng, 0.2, 0.4)
    if any(s <= x < e + 7 for _, s, e in h1):
        x -= 1024
    h1 = [h for h in h1 if h[1] < x] + [("dbf", x, x)] + [h for h in h1 if h[1] >= x]
    return splice(d1, x, x, bytes(rng.randrange(256) for _ in range(7))), t.memo, h1


CLASSES = {
    "sound": lambda t, rng: (t.dbf, t.memo, []),
    "zero-sectors": zero_sectors,
    "overwrite-4k": overwrite_block,
    "bit-flips": bit_flips,
    "truncate": truncate,
    "insert-1": insert_bytes(1),
    "insert-7": insert_bytes(7),
    "insert-100": insert_bytes(100),
    "delete-1": delete_bytes(1),
    "delete-7": delete_bytes(7),
    "delete-100": delete_bytes(100),
    "zero-512": zero_front(512),
    "zero-4096": zero_front(4096),
    "descriptor-zeroed": descriptor_zeroed,
    "junk-100k": junk_front,
    "memo-insert": memo_insert,
    "memo-delete": memo_delete,
    "memo-header-zeroed": memo_header_zeroed,
    "two-damages": two_damages,
}


def intact_keys(t, hits):
    """The records whose bytes and memo survive the damage untouched."""
    def touched(rng_, which):
        a, b = rng_
        for w, s, e in hits:
            if w != which:
                continue
            if s == e:
                if a < s < b:
                    return True
            elif s < b and a < e:
                return True
        return False

    out = []
    for i, key in enumerate(t.keys):
        if touched(t.record_range(i), "dbf"):
            continue
        if t.memo_ranges[i] and touched(t.memo_ranges[i], "memo"):
            continue
        out.append(key)
    return out


# --- strict reader ------------------------------------------------------------------------

def read_output(dbf_path):
    """Keys of the records a reader sees in the output, or None when it cannot be read."""
    try:
        data = open(dbf_path, "rb").read()
    except OSError:
        return None
    if len(data) < 33:
        return None
    ttype = data[0]
    count, hlen, rlen = struct.unpack_from("<IHH", data, 4)
    fields = []
    pos = 32
    offset = 1
    while pos + 32 <= hlen and data[pos] != 0x0D:
        d = data[pos:pos + 32]
        length = d[16]
        fields.append((d[:11].split(b"\0")[0].decode("latin-1"), chr(d[11]), length, d[17]))
        offset += length
        pos += 32
    if offset != rlen or hlen + count * rlen > len(data):
        return None
    memo = None
    stem = os.path.splitext(dbf_path)[0]
    for ext in (".dbt", ".fpt"):
        if os.path.exists(stem + ext):
            memo = (ext, open(stem + ext, "rb").read())
    keys = []
    for i in range(count):
        rec = data[hlen + i * rlen:hlen + (i + 1) * rlen]
        keys.append(record_key(rec, fields, memo_text(rec, fields, memo, ttype)))
    return keys


def memo_text(rec, fields, memo, ttype):
    offset = 1
    text = b""
    for name, ftype, length, dec in fields:
        if ftype == "M":
            raw = rec[offset:offset + length]
            if length == 4:
                ref = struct.unpack("<I", raw)[0]
            else:
                s = raw.strip()
                ref = int(s) if s.isdigit() else (0 if not s else -1)
            if ref < 0:
                return None
            if ref:
                if not memo:
                    return None
                ext, m = memo
                if ext == ".dbt" and ttype != 0x8B:
                    start = ref * 512
                    end = m.find(b"\x1a", start)
                    text = m[start:end] if end >= 0 else None
                else:
                    bs = struct.unpack_from(">H", m, 6)[0] if len(m) >= 8 else 0
                    start = ref * bs
                    if bs == 0 or start + 8 > len(m):
                        return None
                    kind, n = struct.unpack_from(">II", m, start)
                    text = m[start + 8:start + 8 + n] if kind == 1 else None
        offset += length
    return text


def score(t, out_keys, hits):
    possible = intact_keys(t, hits)
    originals = {}
    fields = set()
    for k in t.keys:
        originals[k] = originals.get(k, 0) + 1
        fields.add(k[0])
    exact = garbage = memo_wrong = 0
    for k in out_keys or []:
        if originals.get(k, 0) > 0:
            originals[k] -= 1
            exact += 1
        elif k[0] in fields:
            memo_wrong += 1
        else:
            garbage += 1
    return exact, len(possible), garbage, memo_wrong, len(out_keys or [])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("salvora")
    ap.add_argument("--seed", type=int, default=22)
    ap.add_argument("--classes", default=",".join(CLASSES))
    ap.add_argument("--kinds", default=",".join(KINDS))
    ap.add_argument("--keep", help="keep the damaged files and results in this folder")
    ap.add_argument("--template", action="store_true",
                    help="give each repair a template: an empty table of the sound structure")
    args = ap.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="salvora-yield.")
    os.makedirs(work, exist_ok=True)
    kinds = args.kinds.split(",")
    tables = {k: Table(k, random.Random("%d/%s" % (args.seed, k))) for k in kinds}
    print("Garbage: output records whose fields equal no original's. Memo wrong: fields equal "
          "an original's, its memo text does not (cleared or misread).")
    print("%-19s %-11s %7s %7s %7s %8s %9s %6s %4s" % (
        "class", "kind", "exact", "possible", "yield", "garbage", "memowrong", "out", "exit"))
    totals = []
    for cls in args.classes.split(","):
        sums = [0, 0, 0, 0, 0]
        codes = []
        for kind in kinds:
            t = tables[kind]
            rng = random.Random("%d/%s/%s" % (args.seed, cls, kind))
            dbf, memo, hits = CLASSES[cls](t, rng)
            folder = os.path.join(work, cls, kind)
            os.makedirs(folder, exist_ok=True)
            src = os.path.join(folder, "t.dbf")
            open(src, "wb").write(dbf)
            if memo is not None:
                open(os.path.join(folder, "t.dbt" if t.memo_style == "dbt" else "t.fpt"),
                     "wb").write(memo)
            out = os.path.join(folder, "out.dbf")
            for ext in (".dbf", ".dbt", ".fpt"):
                if os.path.exists(os.path.join(folder, "out" + ext)):
                    os.remove(os.path.join(folder, "out" + ext))
            command = [args.salvora, src, "/output:" + out]
            if args.template:
                template = os.path.join(folder, "template.dbf")
                open(template, "wb").write(t.dbf[:t.header_length] + b"\x1a")
                command.append("/template:" + template)
            proc = subprocess.run(command,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            keys = read_output(out) if os.path.exists(out) else []
            exact, possible, garbage, memo_wrong, n = score(t, keys, hits)
            if keys is None:
                exact, garbage, memo_wrong, n = 0, 0, 0, 0
            codes.append(proc.returncode)
            for j, v in enumerate((exact, possible, garbage, memo_wrong, n)):
                sums[j] += v
            print("%-19s %-11s %7d %7d %6.1f%% %8d %9d %6d %4d%s" % (
                cls, kind, exact, possible, 100.0 * min(exact, possible) / max(possible, 1),
                garbage, memo_wrong, n, proc.returncode,
                "" if keys is not None else " unreadable"))
        totals.append((cls, *sums, codes))
    print()
    print("%-19s %7s %8s %7s %8s %9s %9s %s" % (
        "class", "exact", "possible", "yield", "garbage", "garbage%", "memowrong", "exit codes"))
    for cls, exact, possible, garbage, memo_wrong, n, codes in totals:
        print("%-19s %7d %8d %6.1f%% %8d %8.2f%% %9d %s" % (
            cls, exact, possible, 100.0 * min(exact, possible) / max(possible, 1), garbage,
            100.0 * garbage / max(n, 1), memo_wrong, ",".join(map(str, codes))))
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
