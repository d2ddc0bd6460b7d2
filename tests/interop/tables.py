"""Baseline tables written by python3-dbf, one per table kind, with known record roles."""

import datetime
import os
from decimal import Decimal

import dbf

from rawtable import RawTable

ENCODING = 'cp1252'

# Record roles of every baseline, by position.
FULL, SHORT, LONG, DELETED, BLANK, DUP, DELDUP, EMPTY, EXTREME, LAST = range(10)
ROWS = 10
DELETED_ROWS = (DELETED, DELDUP)


class Kind:
    def __init__(self, name, dbf_type, layout, memo_ext=None, pgdbf=True):
        self.name = name
        self.dbf_type = dbf_type
        self.layout = layout
        self.memo_ext = memo_ext
        # pgdbf cannot read every table the library writes (see readers.py).
        self.pgdbf = pgdbf
        self.field_types = {}
        for item in layout.split(';'):
            name_, kind = item.split()[:2]
            self.field_types[name_] = kind[0]

    @property
    def has_memo(self):
        return self.memo_ext is not None

    @property
    def foxpro_memo(self):
        return self.memo_ext == 'fpt'

    def has(self, field):
        return field in self.field_types

    def memo_fields(self):
        return [f for f, t in self.field_types.items() if t in 'MGP']


COMMON = 'name C(20); amount N(10,2); born D; active L; ratio F(12,4)'

KINDS = {
    'db3': Kind('db3', 'db3', COMMON + '; notes M', 'dbt'),
    'db3nomemo': Kind('db3nomemo', 'db3', COMMON),
    # Clipper: a dBASE III table whose character fields may pass 255 bytes (the decimal byte
    # holds the high byte of the length). pgdbf reads only the low byte of such a length.
    'clp': Kind('clp', 'clp', COMMON + '; title C(300); notes M', 'dbt', pgdbf=False),
    # pgdbf rejects the library's FoxPro 2 tables, the sources as much as the repairs.
    'fp': Kind('fp', 'fp', COMMON + '; notes M; photo G; sketch P', 'fpt', pgdbf=False),
    'vfp': Kind('vfp', 'vfp',
                COMMON + '; notes M; photo G; count I; price Y; weight B; stamp T; opt N(6,1) null',
                'fpt'),
    'vfpnomemo': Kind('vfpnomemo', 'vfp',
                      COMMON + '; count I; price Y; weight B; stamp T'),
}

LONG_TEXT = ''.join('line %03d\tÄÖÜ äöü ß \\ "quoted" %s\r\n' % (i, 'x' * (i % 17))
                    for i in range(60))


def _values(kind):
    """Field values of the rows that python3-dbf writes itself; None means blank."""
    rows = {
        FULL: dict(name='Anna', amount=1234.5, born=datetime.date(1985, 3, 7), active=True,
                   ratio=0.125, notes='', photo=b'', sketch=b'', count=1,
                   price=Decimal('19.99'), weight=2.5,
                   stamp=datetime.datetime(2021, 2, 3, 4, 5, 6), opt=1.5,
                   title='Ä' + 'long title ' * 26 + 'end'),
        SHORT: dict(name='Müller & Søn', amount=-0.5, born=datetime.date(2000, 2, 29),
                    active=False, ratio=-0.0625, notes='Grüße aus Köln',
                    photo=b'\0GIF89a\1\2', sketch=b'\x89PNG\r\n\x1a\n', count=-42,
                    price=Decimal('-3.5'), weight=-0.001,
                    stamp=datetime.datetime(1999, 12, 31, 23, 59, 59), opt=-2.0,
                    title='short'),
        LONG: dict(name='Long memo', amount=42, born=datetime.date(2024, 12, 31), active=True,
                   ratio=3.1416, notes=LONG_TEXT, photo=bytes(range(256)) * 3,
                   sketch=b'P' * 130, count=7, price=Decimal('0.0001'), weight=1e300,
                   stamp=datetime.datetime(2024, 12, 31, 12, 0, 0), opt=99.9),
        DELETED: dict(name='Deleted row', amount=7.25, born=datetime.date(1970, 1, 1),
                      active=True, ratio=1.0, notes='gone but kept', photo=b'del',
                      sketch=b'del', count=3, price=Decimal('1'), weight=0.5,
                      stamp=datetime.datetime(2010, 6, 15, 8, 30, 0), opt=0.0),
        BLANK: dict(name='', amount=None, born=None, active=None, ratio=None, notes='',
                    photo=b'', sketch=b'', count=0, price=None, weight=None, stamp=None,
                    opt=None),
        EXTREME: dict(name='Zed', amount=-99999.99, born=datetime.date(2038, 1, 19),
                      active=False, ratio=-1234.5678, notes='x' * 510, photo=b'\xff' * 56,
                      sketch=b'\0' * 57, count=2147483646, price=Decimal('123456789.1234'),
                      weight=-2.5e-300, stamp=datetime.datetime(2038, 1, 19, 3, 14, 7),
                      opt=None, title='z' * 299 + 'Z'),
        LAST: dict(name='Last', amount=0.01, born=datetime.date(1900, 1, 1), active=True,
                   ratio=0.0, notes='y' * 511, photo=b'Z' * 57, sketch=b'\1' * 56,
                   count=-2147483647, price=Decimal('0'), weight=0.0,
                   # Day 2415021: the first day that the date-time check lets through.
                   stamp=datetime.datetime(1900, 1, 1, 0, 0, 0), opt=-99.9),
    }
    # (python3-dbf refuses the two 32-bit limits themselves for I fields.)
    # Placeholders, overwritten byte for byte after the library has written them.
    rows[DUP] = rows[SHORT]
    rows[DELDUP] = rows[LONG]
    rows[EMPTY] = rows[BLANK]
    return [{k: v for k, v in rows[i].items() if kind.has(k)} for i in range(ROWS)]


def empty_image(raw):
    """A live record whose bytes after the flag are all blanks or zero bytes."""
    image = bytearray(b' ' * raw.record_length)
    for f in raw.fields:
        if f.type in 'IYBT0' or (f.type in 'MGP' and f.length == 4):
            image[f.offset:f.offset + f.length] = bytes(f.length)
    return bytes(image)


# The header's date of last update, fixed so that the header search over stray bytes does not
# depend on the day the suite runs.
FIXED_DATE = bytes([124, 5, 17])


def write_baseline(kind, folder, stem='base'):
    """Writes the baseline table of a kind; returns its path. Every reader opens it."""
    path = os.path.join(folder, stem + '.dbf')
    table = dbf.Table(path, kind.layout, dbf_type=kind.dbf_type, codepage=ENCODING)
    table.open(dbf.READ_WRITE)
    for row in _values(kind):
        table.append(row)
    table.close()

    raw = RawTable(path)
    raw.data[1:4] = FIXED_DATE
    raw.set_record(DUP, raw.record(SHORT))
    raw.set_record(DELDUP, raw.record(LONG))
    raw.set_record(EMPTY, empty_image(raw))
    for index in DELETED_ROWS:
        raw.set_flag(index, ord('*'))
    raw.save()
    return path


def memo_path(table_path, kind):
    if not kind.has_memo:
        return None
    return os.path.splitext(table_path)[0] + '.' + kind.memo_ext


def empty_memo_fields(kind):
    """(row, field) pairs whose memo python3-dbf stored as an empty memo block."""
    pairs = []
    values = _values(kind)
    for index in range(ROWS):
        if index == EMPTY:
            continue
        row = values[{DUP: SHORT, DELDUP: LONG}.get(index, index)]
        for field in kind.memo_fields():
            if row.get(field) in ('', b''):
                pairs.append((index, field))
    return pairs
