#!/usr/bin/python3
"""Runs the date-time test's year loop literally and finds the day numbers at which its
verdict changes, for the expected values of tests/unit/recordchecks_test.cpp."""


def leap(y):
    return (y % 4 == 0 and y % 100 != 0) or y % 400 == 0


def passes(day_number, level7):
    if level7:
        y, d = 1713, day_number
    else:
        y, d = 1900, day_number - 2415021
    while d > 365:
        d -= 366 if leap(y) else 365
        y += 1
    return 1900 <= y <= 3000


def last_true(lo, hi, f):
    """Largest x in [lo, hi] with f(x), f monotone from True to False."""
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if f(mid):
            lo = mid
        else:
            hi = mid - 1
    return lo


if __name__ == "__main__":
    high = last_true(0, 2**31 - 1, lambda x: passes(x, False))
    print("other types: last passing", high, [passes(x, False) for x in (high, high + 1)])
    # Level 7 counts from 1713: too early, then in range, then too late.
    middle = 200000
    assert passes(middle, True)
    low7 = last_true(0, middle, lambda x: not passes(x, True)) + 1
    high7 = last_true(middle, 2**31 - 1, lambda x: passes(x, True))
    print("level 7: first passing", low7, "last passing", high7,
          [passes(x, True) for x in (low7 - 1, low7, high7, high7 + 1)])
    print("blanks", 0x20202020, passes(0x20202020, False), passes(0x20202020, True))
