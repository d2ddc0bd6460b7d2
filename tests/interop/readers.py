"""Independent readers of DBF tables, each giving records as {lower-case field name: value}.

A reading holds the live records in file order; readers that show deleted records also give the
deleted ones in file order, and readers that give both in one sequence give that order too.
"""

import os
import re
import subprocess

import dbf
import dbfread

from tables import ENCODING


class Reading:
    def __init__(self, live, deleted=None, ordered=None):
        self.live = live
        self.deleted = deleted  # None: the reader does not show deleted records
        self.ordered = ordered  # [(deleted, values)] in file order, or None


class DbfreadReader:
    name = 'dbfread'

    def read(self, path, memo, kind):
        # The encoding is given, not guessed: a rebuilt header carries no code page mark.
        # It takes any B field for a dBASE binary memo and asks for a memo file, also when B is
        # a Visual FoxPro double: tables without memo fields are read without one.
        table = dbfread.DBF(path, encoding=ENCODING, char_decode_errors='strict',
                            lowernames=True, load=True, ignore_missing_memofile=memo is None)
        return Reading([dict(r) for r in table.records], [dict(r) for r in table.deleted])

    @staticmethod
    def blank_logical():
        return None

    @staticmethod
    def logical(spelling, value):
        return value

    @staticmethod
    def blank_memo(field_type):
        return None


class PythonDbfReader:
    name = 'python3-dbf'

    def read(self, path, memo, kind):
        # A Clipper table carries the type byte of dBASE III, so the library is told the kind.
        table = dbf.Table(path, codepage=ENCODING,
                          dbf_type='clp' if kind.dbf_type == 'clp' else None)
        table.open(dbf.READ_ONLY)
        try:
            names = [n.lower() for n in table.field_names]
            ordered = [(bool(dbf.is_deleted(r)), dict(zip(names, list(r)))) for r in table]
            if len(ordered) != len(table):
                raise AssertionError('python3-dbf: %d records iterated, %d counted'
                                     % (len(ordered), len(table)))
        finally:
            table.close()
        return Reading([v for d, v in ordered if not d], [v for d, v in ordered if d], ordered)

    @staticmethod
    def blank_logical():
        return None

    @staticmethod
    def logical(spelling, value):
        return value

    @staticmethod
    def blank_memo(field_type):
        return '' if field_type == 'M' else b''


_COPY_ESCAPES = {'b': '\b', 'f': '\f', 'n': '\n', 'r': '\r', 't': '\t', 'v': '\v', '\\': '\\'}


def _unescape_copy(text):
    """A value of PostgreSQL's COPY text format; None for NULL."""
    if text == r'\N':
        return None
    return re.sub(r'\\([0-7]{1,3}|x[0-9a-fA-F]{1,2}|.)',
                  lambda m: (_COPY_ESCAPES.get(m.group(1))
                             or (chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == 'x'
                                 else chr(int(m.group(1), 8)) if m.group(1).isdigit()
                                 else m.group(1))),
                  text)


class PgdbfReader:
    """pgdbf's PostgreSQL dump. It leaves deleted records out, writes logical values as t or
    f (a blank one as f), general fields as empty BYTEA values, doubles rounded to the field's
    decimal count, and stops with 'Unhandled field type' at picture (P) fields."""

    name = 'pgdbf'

    def read(self, path, memo, kind):
        command = ['pgdbf', '-P', '-s', ENCODING.upper()]
        if memo:
            command += ['-m', memo]
        command.append(path)
        done = subprocess.run(command, capture_output=True, timeout=60)
        if done.returncode != 0 or done.stderr:
            raise AssertionError('pgdbf %s: exit %d: %s'
                                 % (os.path.basename(path), done.returncode,
                                    done.stderr.decode('utf-8', 'replace').strip()))
        lines = done.stdout.decode('utf-8').split('\n')
        create = next(l for l in lines if l.startswith('CREATE TABLE '))
        body = create[create.index('(') + 1:create.rindex(')')]
        columns = re.findall(r'(?:^|, )(\w+) [A-Z]', body)
        start = next(i for i, l in enumerate(lines) if l.startswith('\\COPY '))
        end = lines.index('\\.', start)
        live = []
        for line in lines[start + 1:end]:
            values = [_unescape_copy(v) for v in line.split('\t')]
            if len(values) != len(columns):
                raise AssertionError('pgdbf: %d values for %d columns: %r'
                                     % (len(values), len(columns), line))
            live.append(dict(zip(columns, values)))
        return Reading(live)

    @staticmethod
    def blank_logical():
        return 'f'

    @staticmethod
    def logical(spelling, value):
        # Only capital T and Y are true here.
        return 't' if spelling in (b'T', b'Y') else 'f'

    @staticmethod
    def blank_memo(field_type):
        return ''


READERS = (DbfreadReader(), PythonDbfReader(), PgdbfReader())
