"""Tables written by python3-dbf, damaged in known ways, repaired by salvora and read back by
python3-dbfread, python3-dbf and pgdbf.

Every repaired table must open in every reader that can read its kind, hold the expected
records in order, and give each kept record the values and memo texts of the original. The
only differences allowed are the repairs that salvora documents, each one named where it is
expected:
  - a logical value other than T or F becomes blank;
  - a memo reference that leads nowhere is cleared;
  - an empty FoxPro memo (length 0) is not a sound memo block, so its reference is cleared too;
  - deleted records keep their '*' unless /pack drops them or /recoverydeleted revives them;
  - a partial record at the end is dropped.
Memo references are rewritten to the blocks of the new memo file; the readers prove that they
still lead to the same texts.

Not covered, for want of an independent writer: dBASE IV and level 7 tables (no Debian package
has a tool that writes them; libxbase64-bin's copydbf writes dBASE III, and its dumprecs
crashes on python3-dbf's dBASE III memo tables, so it serves as no reader either), FoxPro 2
tables without memo fields (python3-dbf gives them type byte 0 and cannot reopen them), and the
field types + V Q W @ O, which python3-dbf 0.96 does not write.
"""

import os
import shutil
import subprocess
import tempfile
import unittest

import readers
import tables
from rawtable import RawTable
from tables import (BLANK, DELDUP, DELETED_ROWS, DUP, EMPTY, EXTREME, FULL, KINDS, LAST, LONG,
                    ROWS, SHORT)

SALVORA = os.environ.get('SALVORA', '')

BLANK_LOGICAL = 'blank logical'
BLANK_MEMO = 'blank memo'


class LogicalValue:
    """A logical field's bytes replaced by another spelling of a value."""

    def __init__(self, spelling, value):
        self.spelling = spelling
        self.value = value


def rows(drop=(), revive=False):
    """Expected output: (baseline row, deleted) in order."""
    return [(i, i in DELETED_ROWS and not revive) for i in range(ROWS) if i not in drop]


class KindTests:
    """The checks for one table kind; subclasses name the kind."""

    kind = None

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='salvora-interop-%s-' % cls.kind.name)
        base = os.path.join(cls.folder, 'baseline')
        os.mkdir(base)
        cls.baseline = tables.write_baseline(cls.kind, base)

        # Values of every row, deleted ones included, as each reader gives them: read from a
        # copy whose records are all live, since pgdbf does not show deleted records.
        live = os.path.join(cls.folder, 'alllive')
        os.mkdir(live)
        path = cls.copy_table(cls.baseline, live)
        raw = RawTable(path)
        for index in DELETED_ROWS:
            raw.set_flag(index, ord(' '))
        raw.save()
        cls.values = {}
        for reader in cls.readers():
            reading = reader.read(path, tables.memo_path(path, cls.kind), cls.kind)
            assert len(reading.live) == ROWS, (reader.name, len(reading.live))
            cls.values[reader.name] = reading.live

    @classmethod
    def tearDownClass(cls):
        # SALVORA_INTEROP_KEEP=1 leaves the tables behind for a look with other tools.
        if not os.environ.get('SALVORA_INTEROP_KEEP'):
            shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def readers(cls):
        return [r for r in readers.READERS if r.name != 'pgdbf' or cls.kind.pgdbf]

    @classmethod
    def copy_table(cls, path, folder, stem='table'):
        target = os.path.join(folder, stem + '.dbf')
        shutil.copyfile(path, target)
        memo = tables.memo_path(path, cls.kind)
        if memo:
            shutil.copyfile(memo, tables.memo_path(target, cls.kind))
        return target

    # --- running a case -------------------------------------------------------------------

    def damaged_copy(self, damage):
        """A fresh folder with a copy of the baseline, damaged by damage(RawTable) -> bytes."""
        folder = tempfile.mkdtemp(dir=self.folder)
        path = self.copy_table(self.baseline, folder)
        if damage:
            raw = RawTable(path)
            data = damage(raw)
            with open(path, 'wb') as f:
                f.write(raw.data if data is None else data)
        return path

    def repair(self, source, switches, in_place):
        folder = os.path.dirname(source)
        output = source if in_place else os.path.join(folder, 'fixed.dbf')
        args = [SALVORA, os.path.basename(source)]
        if not in_place:
            args.append('/output:' + os.path.basename(output))
        # Run inside the table's folder: the new memo file is built in the working folder.
        done = subprocess.run(args + list(switches), cwd=folder, capture_output=True, timeout=120,
                              text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn(os.path.basename(source) + ': OK', done.stdout)
        return output

    def check(self, damage=None, expected=None, changes=None, switches=(), skip_readers=(),
              rebuilt=False, table_type=None):
        """Repairs a damaged copy to a new name and in place, and reads both results."""
        expected = rows() if expected is None else expected
        changes = dict(changes or {})
        if self.kind.foxpro_memo:
            # A FoxPro memo block of length 0 fails the memo check, so the repair clears the
            # reference: "no memo" instead of an empty memo.
            for index, field in tables.empty_memo_fields(self.kind):
                changes.setdefault((index, field), BLANK_MEMO)
        for in_place in (False, True):
            with self.subTest(mode='in place' if in_place else 'new name'):
                source = self.damaged_copy(damage)
                output = self.repair(source, switches, in_place)
                self.check_output(output, expected, changes, skip_readers, rebuilt, table_type)

    def check_output(self, path, expected, changes, skip_readers, rebuilt, table_type):
        with open(path, 'rb') as f:
            data = f.read()
        base = RawTable(self.baseline)
        self.assertEqual(data[0], base.table_type if table_type is None else table_type,
                         'table type')
        # The code page mark is kept, except that a rebuilt header has none: the readers are
        # told the encoding rather than left to guess it from that byte.
        self.assertEqual(data[29], 0 if rebuilt else base.data[29], 'code page mark')
        count = int.from_bytes(data[4:8], 'little')
        header_length = int.from_bytes(data[8:10], 'little')
        record_length = int.from_bytes(data[10:12], 'little')
        self.assertEqual(count, len(expected), 'record count in the header')
        self.assertEqual(len(data), header_length + count * record_length + (1 if count else 0),
                         'file size: header, records and the end-of-file marker')
        if count:
            self.assertEqual(data[-1], 0x1A)

        memo = tables.memo_path(path, self.kind)
        for reader in self.readers():
            if reader.name in skip_readers:
                continue
            with self.subTest(reader=reader.name):
                try:
                    reading = reader.read(path, memo, self.kind)
                except Exception as error:  # noqa: BLE001 - any failure to read is the finding
                    self.fail('%s cannot read the repaired table: %s: %s'
                              % (reader.name, type(error).__name__, error))
                want = [(deleted, self.expected_values(reader, index, changes))
                        for index, deleted in expected]
                live = [v for d, v in want if not d]
                self.assertEqual(len(reading.live), len(live), 'live records')
                for position, (got, wanted) in enumerate(zip(reading.live, live)):
                    self.assertEqual(got, wanted, 'live record %d' % position)
                if reading.deleted is not None:
                    self.assertEqual(reading.deleted, [v for d, v in want if d],
                                     'deleted records')
                if reading.ordered is not None:
                    self.assertEqual([d for d, v in reading.ordered], [d for d, v in want],
                                     'deletion flags in file order')

    def expected_values(self, reader, index, changes):
        values = dict(self.values[reader.name][index])
        for (row, field), change in changes.items():
            if row != index or field not in values:
                continue
            if change == BLANK_LOGICAL:
                values[field] = reader.blank_logical()
            elif isinstance(change, LogicalValue):
                values[field] = reader.logical(change.spelling, change.value)
            elif change == BLANK_MEMO:
                values[field] = reader.blank_memo(self.kind.field_types[field])
        return values

    # --- the baseline itself ----------------------------------------------------------------

    def test_baseline_reads_in_every_reader(self):
        for reader in self.readers():
            with self.subTest(reader=reader.name):
                reading = reader.read(self.baseline, tables.memo_path(self.baseline, self.kind),
                                      self.kind)
                self.assertEqual(len(reading.live), ROWS - len(DELETED_ROWS))
                if reading.deleted is not None:
                    self.assertEqual(len(reading.deleted), len(DELETED_ROWS))
        raw = RawTable(self.baseline)
        self.assertEqual(raw.record(DUP), raw.record(SHORT))
        self.assertEqual(raw.record(DELDUP)[1:], raw.record(LONG)[1:])
        # python3-dbf writes a blank logical as '?', so the blank row is not an empty record.
        self.assertTrue(raw.record(BLANK)[1:].strip(b' \0'))
        self.assertFalse(raw.record(EMPTY)[1:].strip(b' \0'))

    # --- damage -----------------------------------------------------------------------------

    def test_intact_table(self):
        self.check()

    def test_zeroed_header(self):
        def damage(raw):
            raw.data[0:32] = bytes(32)
        self.check(damage, rebuilt=True)

    def test_record_count_too_high(self):
        def damage(raw):
            raw.record_count = 1000
        self.check(damage)

    def test_record_count_too_low(self):
        def damage(raw):
            raw.record_count = 3
        self.check(damage)

    def test_record_count_without_end_marker(self):
        def damage(raw):
            raw.record_count = 0
            return raw.data[:raw.record_offset(ROWS)]
        self.check(damage)

    def test_stray_leading_bytes(self):
        self.check(lambda raw: b'\xde\xad\xbe\xef\x01\x02\x03' + raw.data)

    def test_truncated_inside_last_record(self):
        def damage(raw):
            return raw.data[:raw.record_offset(LAST) + raw.record_length // 2]
        self.check(damage, rows(drop=(LAST,)))

    def test_garbage_in_logical_field(self):
        garbage = {FULL: b'x', SHORT: b'1', EXTREME: b'\x00', LAST: b'*'}

        def damage(raw):
            for index, value in garbage.items():
                raw.set_field_bytes(index, 'active', value)
        self.check(damage, changes={(i, 'active'): BLANK_LOGICAL for i in garbage})

    def test_every_spelling_of_a_logical_value_is_kept(self):
        spelled = {FULL: (b'Y', True), SHORT: (b'n', False), EXTREME: (b't', True),
                   LAST: (b'?', None)}

        def damage(raw):
            for index, (value, _) in spelled.items():
                raw.set_field_bytes(index, 'active', value)
        self.check(damage, changes={(i, 'active'): LogicalValue(b, v)
                                    for i, (b, v) in spelled.items()})

    def test_bad_deletion_flags(self):
        def damage(raw):
            raw.set_flag(FULL, 0x00)
            raw.set_flag(EXTREME, ord('x'))
        # Neither '*' nor blank: the record is live and otherwise unchanged.
        self.check(damage)

    def test_invalid_memo_references(self):
        if not self.kind.has_memo:
            self.skipTest('no memo fields')
        targets = [(SHORT, 'notes')]
        if self.kind.has('photo'):
            targets.append((LONG, 'photo'))
        if self.kind.has('sketch'):
            targets.append((EXTREME, 'sketch'))

        def damage(raw):
            for index, field in targets:
                length = raw.field(field).length
                if length == 4:
                    value = (99999).to_bytes(4, 'little')
                else:
                    value = b'99999'.rjust(length)
                raw.set_field_bytes(index, field, value)
        self.check(damage, changes={t: BLANK_MEMO for t in targets})

    # --- filters ----------------------------------------------------------------------------

    def test_no_filter_keeps_deleted_records_marked(self):
        self.check(expected=rows())

    def test_pack(self):
        self.check(expected=rows(drop=DELETED_ROWS), switches=['/pack'])

    def test_recoverydeleted(self):
        self.check(expected=rows(revive=True), switches=['/recoverydeleted'])

    def test_deldups(self):
        # DUP repeats SHORT byte for byte; DELDUP repeats LONG but is deleted, so not compared.
        self.check(expected=rows(drop=(DUP,)), switches=['/deldups'])

    def test_delempty(self):
        self.check(expected=rows(drop=(EMPTY,)), switches=['/delempty'])

    def test_recoverydeleted_with_deldups(self):
        # A revived record takes part in the duplicate test like a live one.
        self.check(expected=rows(drop=(DUP, DELDUP), revive=True),
                   switches=['/recoverydeleted', '/deldups'])

    def test_pack_delempty_deldups(self):
        self.check(expected=rows(drop=DELETED_ROWS + (DUP, EMPTY)),
                   switches=['/pack', '/delempty', '/deldups'])

    def test_pack_of_a_table_whose_records_are_all_deleted(self):
        def damage(raw):
            for index in range(ROWS):
                raw.set_flag(index, ord('*'))
        # No records: a header alone, without the end-of-file marker, and an empty memo file.
        self.check(damage, expected=[], switches=['/pack'])

    def test_filters_on_a_damaged_table(self):
        def damage(raw):
            raw.record_count = 0
            raw.set_field_bytes(SHORT, 'active', b'x')
            return b'\x1a\x1a\x1a' + raw.data[:raw.record_offset(LAST) + 1]
        # SHORT's logical is repaired after the duplicate test, which saw the damaged bytes:
        # DUP no longer repeats it and is kept.
        self.check(damage, rows(drop=DELETED_ROWS + (EMPTY, LAST)),
                   changes={(SHORT, 'active'): BLANK_LOGICAL},
                   switches=['/pack', '/delempty', '/deldups'])


class Db3(KindTests, unittest.TestCase):
    kind = KINDS['db3']


class Db3NoMemo(KindTests, unittest.TestCase):
    kind = KINDS['db3nomemo']


class Clipper(KindTests, unittest.TestCase):
    kind = KINDS['clp']


class FoxPro(KindTests, unittest.TestCase):
    kind = KINDS['fp']

    def test_zeroed_header(self):
        def damage(raw):
            raw.data[0:32] = bytes(32)
        # A header rebuilt from the descriptors takes the Visual FoxPro type from the general
        # field, with the FoxPro 2 memo references of 10 bytes. python3-dbf reads Visual FoxPro
        # memo fields as 4 bytes wide only (its blank record comes out shorter than the record
        # length, and every record is refused as "not the correct length").
        self.check(damage, rebuilt=True, table_type=0x30, skip_readers=('python3-dbf',))


class VisualFoxPro(KindTests, unittest.TestCase):
    kind = KINDS['vfp']


class VisualFoxProNoMemo(KindTests, unittest.TestCase):
    kind = KINDS['vfpnomemo']


if __name__ == '__main__':
    unittest.main()
