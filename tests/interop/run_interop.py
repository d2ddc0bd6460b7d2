"""Runs the interoperability suite: run_interop.py SALVORA [TEST NAME...].

Exits with 77 (skipped) when a Debian package that the suite reads with is missing.
"""

import importlib.util
import os
import shutil
import sys
import unittest

SKIPPED = 77


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    os.environ['SALVORA'] = os.path.abspath(sys.argv[1])
    missing = [package for module, package in (('dbf', 'python3-dbf'),
                                               ('dbfread', 'python3-dbfread'))
               if importlib.util.find_spec(module) is None]
    if shutil.which('pgdbf') is None:
        missing.append('pgdbf')
    if missing:
        print('SKIPPED: missing Debian packages %s (scripts/install-deps.sh installs them; '
              'run with /usr/bin/python3)' % ' '.join(missing))
        return SKIPPED
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    sys.dont_write_bytecode = True  # keep the source folder clean
    names = sys.argv[2:] or ['test_interop']
    suite = unittest.defaultTestLoader.loadTestsFromNames(names)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
