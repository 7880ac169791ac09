#!/usr/bin/env python3
"""Runs mrvdbtool on the files written by make_abs.py and compares its output with the
expected content: `tables` line by line, `dump --format jsonl` record by record and field by
field (numbers numerically, everything else exactly).

Usage: check_abs.py MRVDBTOOL OUTDIR
"""

import json
import math
import subprocess
import sys


def same(expected, actual):
    if isinstance(expected, bool) or isinstance(actual, bool):
        return type(expected) is type(actual) and expected == actual
    if isinstance(expected, float):
        return isinstance(actual, (int, float)) and (
            float(actual) == expected or (math.isnan(expected) and math.isnan(actual)))
    if isinstance(expected, int):
        return isinstance(actual, int) and actual == expected
    return expected == actual


PASSWORD = []


def run(tool, *args):
    extra = ['--password', PASSWORD[0]] if PASSWORD and PASSWORD[0] else []
    p = subprocess.run([tool, *args, *extra], capture_output=True)
    return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


def check_dump(tool, path, table, expected, faults, name_arg=None):
    rc, out, err = run(tool, 'dump', path, name_arg or table, '--format', 'jsonl')
    where = '%s %s' % (path.rsplit('/', 1)[-1], table)
    if rc != 0:
        faults.append('%s: dump failed (%d): %s' % (where, rc, err.strip()))
        return
    lines = out.splitlines()
    if len(lines) != len(expected):
        faults.append('%s: %d records, expected %d' % (where, len(lines), len(expected)))
    shown = 0
    for k, (line, exp) in enumerate(zip(lines, expected)):
        try:
            got = json.loads(line, object_pairs_hook=list)
        except ValueError as e:
            faults.append('%s: record %d is not JSON (%s): %r' % (where, k, e, line[:200]))
            continue
        if [kv[0] for kv in got] != list(exp):
            faults.append('%s: record %d keys %s, expected %s'
                          % (where, k, [kv[0] for kv in got], list(exp)))
            continue
        for key, val in got:
            if not same(exp[key], val) and shown < 25:
                shown += 1
                faults.append('%s: record %d field %s = %r, expected %r'
                              % (where, k, key, str(val)[:120], str(exp[key])[:120]))


def main():
    tool, outdir = sys.argv[1], sys.argv[2]
    with open(outdir + '/manifest.json') as fh:
        cases = json.load(fh)
    faults = []
    for case in cases:
        path = case['file']
        PASSWORD[:] = [case.get('password', '')]
        rc, out, err = run(tool, 'tables', path)
        if rc != 0:
            faults.append('%s: tables failed (%d): %s' % (path, rc, err.strip()))
        elif out.splitlines() != case['tables']:
            faults.append('%s: tables %r, expected %r' % (path, out.splitlines(), case['tables']))
        rc, out, err = run(tool, 'schema', path)
        if rc != 0:
            faults.append('%s: schema failed (%d): %s' % (path, rc, err.strip()))
        elif out != case['schema']:
            for k, (a, b) in enumerate(zip(out.splitlines(), case['schema'].splitlines())):
                if a != b:
                    faults.append('%s: schema line %d %r, expected %r' % (path, k, a, b))
                    break
            else:
                faults.append('%s: schema has %d lines, expected %d'
                              % (path, len(out.splitlines()), len(case['schema'].splitlines())))
        for table in case['tables']:
            check_dump(tool, path, table, case['expected'][table], faults)
        # table names are found regardless of ASCII letter case
        first = case['tables'][0]
        check_dump(tool, path, first, case['expected'][first], faults, first.swapcase())
    for f in faults:
        print(f)
    print('%d case(s), %d fault(s)' % (len(cases), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
