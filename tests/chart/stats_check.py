#!/usr/bin/python3
"""Writes four tables with python3-dbf (an independent dBase writer), runs
`ulen3-cli stats --json` on each and compares every figure with Python's statistics module.

Usage: stats_check.py ULEN3_CLI FOLDER. Exit status 0 when every figure agrees within 1e-9
relative; otherwise each difference is printed."""

import json
import random
import statistics
import subprocess
import sys

import dbf

FIELDS = ('N N(18,9); DATE C(10); TIME C(8); DEV_TYPE N(4,0); SERIAL N(18,9); NB_TYPE N(4,0); '
        'P N(18,9); R N(18,9); ZAV C(8); TYPE C(15); COMMENT C(100); H N(18,9); T C(50)')


def write_table(path, rows):
    """rows: (p, r) with None for an empty value."""
    t = dbf.Table(path, FIELDS, dbf_type='db3', codepage='cp1251')
    t.open(dbf.READ_WRITE)
    for i, (p, r) in enumerate(rows):
        t.append((i + 1, '01.03.2024', '08:00:00', 7, 1, 0, p, r, '', 'куб', '', 0, ''))
    t.close()


def expected(values):
    """The figures of one series, an empty value counting as 0."""
    xs = [0.0 if v is None else v for v in values]
    f = {'empty': sum(v is None for v in values)}
    f['min'], f['max'] = min(xs), max(xs)
    f['range'] = f['max'] - f['min']
    f['mean'] = statistics.fmean(xs)
    f['median'] = statistics.median(xs)
    f['stdev'] = statistics.stdev(xs) if len(xs) >= 2 else None
    f['cv'] = 100 * f['stdev'] / f['mean'] if f['stdev'] is not None and f['mean'] != 0 else None
    return f


def agree(a, b):
    if a is None or b is None:
        return a is None and b is None
    return a == b or abs(a - b) <= 1e-9 * max(abs(a), abs(b))


def main():
    cli, folder = sys.argv[1], sys.argv[2]
    rnd = random.Random(20261210)
    tables = {
        # every value equal: a standard deviation of 0
        'equal': [(12.345678901, 7.5)] * 250,
        # one record: no standard deviation, no coefficient
        'one': [(3.25, -1.5)],
        # a negative mean, values of both signs and of very different sizes
        'negative': [(round(rnd.uniform(-900, 100), 9), round(rnd.gauss(-3.5, 0.25), 9)) for _ in range(1000)],
        # empty values count as 0; R is empty everywhere but in two records
        'empty': [(None if i % 7 == 0 else round(rnd.uniform(0, 50), 3), None if i > 1 else 4.0)
                  for i in range(300)],
    }
    failures = 0
    for name, rows in tables.items():
        path = f'{folder}/{name}.db'
        write_table(path.replace('.db', '.dbf'), rows)
        subprocess.run(['mv', path.replace('.db', '.dbf'), path], check=True)
        out = subprocess.run([cli, 'stats', path, '--json'], capture_output=True, text=True, check=True).stdout
        got = json.loads(out)
        if got['count'] != len(rows) or got['page'] != 'observation':
            print(name, 'count/page', got['count'], got['page'])
            failures += 1
        for field, column in (('P', 0), ('R', 1)):
            want = expected([row[column] for row in rows])
            for key, value in want.items():
                if not agree(got[field][key], value):
                    print(f'{name} {field} {key}: ulen3 {got[field][key]!r}, statistics {value!r}')
                    failures += 1
    print('OK' if failures == 0 else f'{failures} differences')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
