"""The JSON report read by Python's json module: json_report_test.py SALVORA

Repairs and checks a small damaged table with /report:FILE.json, parses each report with the
json module, and compares it with the CSV report of the same run: the same findings, row for
row, and the same totals. The table's name and one field name are not UTF-8 clean, as names
from old Windows tables are.
"""

import csv
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

SALVORA = None
ODD_FIELD = b'\xc9TAT'  # "ÉTAT" in Windows-1252: not UTF-8


def damaged_table():
    fields = [(b'NAME', b'C', 8), (ODD_FIELD, b'L', 1), (b'DAY', b'D', 8)]
    records = [
        b' ' + b'ann     ' + b'T' + b'20240131',
        b' ' + b'bob     ' + b'x' + b'20240201',  # no logical value: repaired to a blank
        b' ' + b'cid     ' + b'F' + b'2024ab01',  # no date: dropped by the date test
        b'*' + b'dan     ' + b'T' + b'20240202',  # deleted: dropped by /pack
    ]
    record_length = 1 + sum(length for _, _, length in fields)
    header_length = 32 + 32 * len(fields) + 1
    # The header claims more records than the file holds.
    header = struct.pack('<BBBBIHH20x', 0x03, 124, 1, 31, 9, header_length, record_length)
    descriptors = b''.join(
        name.ljust(11, b'\0') + kind + b'\0' * 4 + bytes([length]) + b'\0' * 15
        for name, kind, length in fields)
    return header + descriptors + b'\r' + b''.join(records) + b'\x1a'


def run(folder, *arguments):
    return subprocess.run([SALVORA, *arguments], cwd=folder, capture_output=True, check=False)


def load(path):
    with open(path, 'rb') as f:
        raw = f.read()
    return json.loads(raw.decode('utf-8'))  # strict: invalid UTF-8 fails here


def csv_rows(path):
    with open(path, newline='', encoding='latin-1') as f:
        return list(csv.reader(f))[1:]


class JsonReport(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.table = 'odd "name" \xe9.dbf'.encode('latin-1')

    def tearDown(self):
        subprocess.run(['rm', '-rf', self.folder], check=True)

    def fresh_table(self):
        with open(os.path.join(os.fsencode(self.folder), self.table), 'wb') as f:
            f.write(damaged_table())

    def test_repair_report_matches_the_csv_report(self):
        self.fresh_table()
        done = run(self.folder, self.table, '/output:fixed.dbf', '/pack', '/report:r.json')
        self.assertEqual(done.returncode, 0, done.stderr)
        report = load(os.path.join(self.folder, 'r.json'))
        self.fresh_table()
        run(self.folder, self.table, '/output:fixed.dbf', '/pack', '/report:r.csv')
        rows = csv_rows(os.path.join(self.folder, 'r.csv'))

        self.assertEqual(report['table'], self.table.decode('latin-1'))
        self.assertEqual((report['mode'], report['result']), ('repair', 'OK'))
        self.assertIsNone(report['verdict'])
        self.assertIsNone(report['unreadable'])
        self.assertEqual((report['kind'], report['header']), ('FoxBase+/dBASE III PLUSE, no memo (0x03)', 'sound'))
        self.assertEqual(report['fields'], 3)
        self.assertEqual((report['recordsRead'], report['recordsKept']), (4, 2))
        self.assertEqual(report['dropped'], {'pack': 1, 'delempty': 0, 'deldups': 0,
                                             'invalidMemo': 0, 'dateTime': 0, 'date': 1,
                                             'numeric': 0, 'deleted': 0, 'zeroed': 0})
        self.assertEqual(report['recordsDropped'],
                         sum(report['dropped'].values()) + report['misaligned'] +
                         report['cutBySizeLimit'])
        self.assertEqual(report['findingCount'], len(report['findings']))

        findings = report['findings']
        self.assertIn({'record': 2, 'field': ODD_FIELD.decode('latin-1'),
                       'problem': 'logical value "x"', 'action': 'repaired to a blank'},
                      findings)
        self.assertTrue(any(f['record'] is None and f['field'] is None for f in findings))
        as_rows = [['' if f['record'] is None else str(f['record']), f['field'] or '',
                    f['problem'], f['action']] for f in findings]
        self.assertEqual(as_rows, rows[:len(findings)])
        summary = {row[2]: row[3] for row in rows[len(findings):]}
        self.assertEqual(summary['Records kept'], str(report['recordsKept']))
        self.assertEqual(summary['Findings'], str(report['findingCount']))

    def test_check_report_gives_the_verdict(self):
        self.fresh_table()
        done = run(self.folder, self.table, '/check', '--report=c.JSON')
        self.assertEqual(done.returncode, 1, done.stderr)
        report = load(os.path.join(self.folder, 'c.JSON'))
        self.assertEqual((report['mode'], report['verdict']), ('check', 'needs repair'))
        self.assertIsNone(report['result'])
        self.assertGreater(len(report['findings']), 0)

    def test_unreadable_table_is_still_one_object(self):
        with open(os.path.join(self.folder, 'junk.dbf'), 'wb') as f:
            f.write(b'\0' * 100)
        done = run(self.folder, 'junk.dbf', '/check', '/report:u.json')
        self.assertEqual(done.returncode, 2, done.stderr)
        report = load(os.path.join(self.folder, 'u.json'))
        self.assertEqual(report['findings'], [])
        self.assertEqual(report['verdict'], 'cannot be read')
        self.assertTrue(report['unreadable'])
        self.assertIsNone(report['kind'])


if __name__ == '__main__':
    SALVORA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
