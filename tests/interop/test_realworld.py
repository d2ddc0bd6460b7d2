"""Tables written by other programs (tests/data/realworld), damaged, repaired by salvora and
read back by python3-dbfread: the repair holds every record and memo that dbfread reads from the
original. Only tables dbfread can read are used.
"""

import os
import shutil
import subprocess
import tempfile
import unittest

import dbfread

SALVORA = os.environ.get('SALVORA', '')
REALWORLD = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'data', 'realworld')
STRAY = bytes([0x54, 0x13, 0xE7, 0x02, 0x9A, 0x41, 0x6D])  # the first has the level 7 mark


def as_shipped(data):
    return data


def header_zeroed(data):
    return bytes(32) + data[32:]


def stray_bytes(data):
    return STRAY + data


def read(path, encoding):
    table = dbfread.DBF(path, encoding=encoding, char_decode_errors='strict', load=True)
    return [list(r.items()) for r in table.records], [list(r.items()) for r in table.deleted]


class RealWorldTables(unittest.TestCase):
    def repaired(self, table, damage, encoding=None):
        """Repairs a damaged copy of `table`; returns dbfread's reading of the original and of
        the output, the output read with `encoding` when given, else by its code page mark."""
        folder = tempfile.mkdtemp(prefix='salvora-realworld-')
        self.addCleanup(shutil.rmtree, folder)
        source = os.path.join(REALWORLD, table)
        stem = os.path.splitext(os.path.basename(table))[0]
        for name in os.listdir(os.path.dirname(source)):
            if os.path.splitext(name)[0] == stem:
                shutil.copyfile(os.path.join(os.path.dirname(source), name),
                                os.path.join(folder, name))
        damaged = os.path.join(folder, os.path.basename(table))
        with open(damaged, 'rb') as f:
            data = f.read()
        with open(damaged, 'wb') as f:
            f.write(damage(data))
        output = os.path.join(folder, 'out.dbf')
        done = subprocess.run([SALVORA, damaged, '/output:' + output], cwd=folder,
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn(': OK', done.stdout)
        return read(source, encoding or 'latin-1'), read(output, encoding)

    def assertWhole(self, table, damage, encoding='latin-1'):
        original, repaired = self.repaired(table, damage, encoding)
        self.assertEqual(repaired, original)

    def test_pictures_in_a_dbase3_memo_are_carried_whole(self):
        self.assertWhole('php-xbase/dBaseIII.dbf', as_shipped)

    def test_dbase4_memo_is_recognised_by_its_blocks(self):
        original, repaired = self.repaired('infused-dbf/dbase_8b.dbf', header_zeroed, 'latin-1')

        # dbfread reads a dBASE IV memo's stored length (which counts the 8-byte block header)
        # as the length of its text, and so reads up to 8 bytes past the text, to a 0x1F if
        # there is one; behind a carried memo lies zero fill. The text itself must be whole.
        self.assertEqual(len(repaired[0]), len(original[0]))
        for got, want in zip(repaired[0], original[0]):
            for (name, value), (_, expected) in zip(got, want):
                if name == 'MEMO' and expected is not None:
                    value = (value or '').rstrip('\x00')
                    self.assertTrue(value and expected.startswith(value), (value, expected))
                    self.assertLessEqual(len(expected) - len(value), 8)
                else:
                    self.assertEqual(value, expected)

    def test_asterisk_filled_numbers_are_kept(self):
        self.assertWhole('dbase-rs/contain_none_float.dbf', as_shipped)
        self.assertWhole('mbostock-shapefile/mixed-properties.dbf', header_zeroed)

    def test_visual_foxpro_is_told_by_its_backlink(self):
        for table in ('infused-dbf/cp1251.dbf', 'infused-dbf/setup.dbf',
                      'infused-dbf/types.dbf', 'dbase-rs/cp850.dbf'):
            with self.subTest(table=table):
                self.assertWhole(table, header_zeroed)

    def test_records_after_a_gap_behind_the_terminator(self):
        self.assertWhole('php-xbase/cbrf_122019N1.dbf', header_zeroed, 'cp866')

    def test_stray_bytes_with_the_level7_mark(self):
        for table in ('infused-dbf/dbase_83.dbf', 'infused-dbf/calls.dbf',
                      'go-dbase/employees.dbf', 'php-xbase/dBaseIII_nomemo.dbf'):
            with self.subTest(table=table):
                self.assertWhole(table, stray_bytes)

    def test_code_page_mark_survives_stray_bytes(self):
        # Read by the mark alone: without it dbfread would take the names for ASCII.
        original, repaired = self.repaired('infused-dbf/cp1251.dbf', stray_bytes, None)
        self.assertEqual(repaired, read(os.path.join(REALWORLD, 'infused-dbf/cp1251.dbf'), None))


if __name__ == '__main__':
    unittest.main()
