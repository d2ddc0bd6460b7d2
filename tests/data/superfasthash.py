#!/usr/bin/python3
"""SuperFastHash (Paul Hsieh), written from the published C code, for the expected values
of tests/unit/duplicatetable_test.cpp. Prints one line per input: hex bytes and hash."""

MASK = 0xFFFFFFFF


def signed_char(b):
    return b - 256 if b >= 0x80 else b


def get16(data, i):
    return data[i] | data[i + 1] << 8


def super_fast_hash(data):
    length = len(data)
    if length <= 0:
        return 0
    h = length
    i = 0
    for _ in range(length >> 2):
        h = (h + get16(data, i)) & MASK
        tmp = ((get16(data, i + 2) << 11) ^ h) & MASK
        h = ((h << 16) ^ tmp) & MASK
        h = (h + (h >> 11)) & MASK
        i += 4
    rem = length & 3
    if rem == 3:
        h = (h + get16(data, i)) & MASK
        h ^= (h << 16) & MASK
        h ^= (signed_char(data[i + 2]) << 18) & MASK
        h = (h + (h >> 11)) & MASK
    elif rem == 2:
        h = (h + get16(data, i)) & MASK
        h ^= (h << 11) & MASK
        h = (h + (h >> 17)) & MASK
    elif rem == 1:
        h = (h + signed_char(data[i])) & MASK
        h ^= (h << 10) & MASK
        h = (h + (h >> 1)) & MASK
    h ^= (h << 3) & MASK
    h = (h + (h >> 5)) & MASK
    h ^= (h << 4) & MASK
    h = (h + (h >> 17)) & MASK
    h ^= (h << 25) & MASK
    h = (h + (h >> 6)) & MASK
    return h


INPUTS = [b"abcdefghi"[:n] for n in range(10)] + [
    b"\x80",
    b"\xff",
    b"\x7f",
    b"\xff\xfe",
    b"ab\x80",
    b"ab\xff",
    b"\x01\x02\x03\xff",
    b"\xe9t\xe9\x9f\x80",
    b"\xc3\xa9t\xc3\xa9\x9f\x80",
    bytes(range(0x80, 0x8B)),
    b"Customer 0000000042" + b" " * 80,
    # Two pairs of different keys with one hash each.
    b"k0000002",
    b"k0020200",
    b"k0000003",
    b"k0020201",
]

if __name__ == "__main__":
    for data in INPUTS:
        print(data.hex() or "-", "0x%08X" % super_fast_hash(data))
