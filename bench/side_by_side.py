#!/usr/bin/python3
"""The sorts and the dump side by side with the tools a user would sort with instead.

A table of 200,000 records is made by a generator of its own (this script writes the dBase
records itself, from a header ulen3-cli writes), then each pair runs A B A B in one run and the
medians are compared: the ratios hold side by side, not the absolute times.

  side_by_side.py BUILD_DIR            the pairs
  side_by_side.py BUILD_DIR --make T.db   only the table
"""
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

RECORDS = 200000


def make_table(cli, path):
    subprocess.run([cli, "demo", path, "--count", "1"], check=True, capture_output=True)
    with open(path, "rb") as f:
        data = f.read()
    header, length = struct.unpack_from("<HH", data, 8)
    fields, at = [], 32
    while data[at] != 0x0D:
        name = data[at:at + 11].split(b"\0")[0].decode()
        fields.append((name, chr(data[at + 11]), data[at + 16], data[at + 17]))
        at += 32
    rng = random.Random(20261210)
    letters = "абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯabcdefghijklmnopqrstuvwxyzABCXYZ"
    words = ["".join(rng.choice(letters) for _ in range(rng.randint(2, 9))) for _ in range(3000)]
    records = bytearray()
    for i in range(RECORDS):
        values = {
            "N": "%d" % (i + 1), "DATE": "%02d.%02d.20%02d" % (1 + i % 28, 1 + i % 12, 10 + i % 15),
            "TIME": "%02d:%02d:%02d" % (i % 24, i % 60, i * 7 % 60), "DEV_TYPE": "7", "SERIAL": "4321",
            "NB_TYPE": "0", "P": "%.2f" % (rng.randint(-10000, 99999) / 100), "R": "%.3f" % (rng.randint(0, 9999) / 1000),
            "TYPE": rng.choice(["диам. 300", "куб 150", "AxB 200x300"]),
            "COMMENT": " ".join(rng.choice(words) for _ in range(rng.randint(0, 5))) + rng.choice(["", "-1", "'2"]),
            "H": "%d" % (i % 1000), "T": "", "ZAV": "",
        }
        records += b" "
        for name, kind, width, decimals in fields:
            text = values.get(name, "").encode("cp1251")[:width]
            records += text.rjust(width) if kind == "N" else text.ljust(width)
    out = bytearray(data[:header]) + records + b"\x1a"
    struct.pack_into("<I", out, 4, RECORDS)
    with open(path, "wb") as f:
        f.write(out)


def seconds(command, env=None, before=None):
    if before:
        before()
    start = time.perf_counter()
    subprocess.run(command, shell=True, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    build = sys.argv[1]
    cli = os.path.join(build, "tools", "ulen3-cli")
    if len(sys.argv) == 4 and sys.argv[2] == "--make":
        make_table(cli, sys.argv[3])
        return
    anchor = os.path.join(build, "bench", "icu-sort-anchor")
    work = tempfile.mkdtemp(prefix="ulen3-side-")
    try:
        table = os.path.join(work, "T.db")
        make_table(cli, table)
        index = os.path.join(work, "T.mdx")
        tsv = os.path.join(work, "T.tsv")
        csv = os.path.join(work, "T.csv")
        subprocess.run("%s dump %s > %s" % (cli, table, csv), shell=True, check=True)
        # The same rows as TSV (the comments hold no tab), for GNU sort.
        subprocess.run("%s dump %s | tr ',' '\\t' > %s" % (cli, table, tsv), shell=True, check=True)
        ru = dict(os.environ, LC_ALL="ru_RU.UTF-8")
        drop = lambda: os.path.exists(index) and os.remove(index)
        pairs = [
            ("ulen3-cli sort T.db COMMENT (tag written)", "%s sort %s COMMENT" % (cli, table),
             "ICU sort keys of the same field, sorted", "%s %s COMMENT" % (anchor, table), None, 0.6),
            ("ulen3-cli dump T.db --sort COMMENT", "%s dump %s --sort COMMENT" % (cli, table),
             "GNU sort, ru_RU.UTF-8, the same rows as TSV", "sort -t '\t' -k11,11 %s" % tsv, ru, 0.8),
            ("ulen3-cli sort T.db P (tag written)", "%s sort %s P" % (cli, table),
             "sort -n on the same rows", "sort -t, -k7,7 -n %s" % csv, None, 0.5),
            ("ulen3-cli dump T.db --sort P", "%s dump %s --sort P" % (cli, table),
             "sort -n on the same rows", "sort -t, -k7,7 -n %s" % csv, None, 0.8),
        ]
        if shutil.which("ogr2ogr"):
            # GDAL knows a dBase file by the extension .dbf.
            out, dbf = os.path.join(work, "ogr"), os.path.join(work, "T.dbf")
            os.symlink(table, dbf)
            pairs.append(("ulen3-cli dump T.db", "%s dump %s" % (cli, table), "ogr2ogr -f CSV",
                          "rm -rf %s; ogr2ogr -f CSV %s %s" % (out, out, dbf), None, 0.06))
        print("%-44s %8s  %-44s %8s %6s %6s" % ("Workload", "ULEN3", "Anchor", "", "Ratio", "Aim"))
        for ours, command, theirs, anchor_command, env, aim in pairs:
            a, b = [], []
            for _ in range(2):
                a.append(seconds(command, env, drop))
                b.append(seconds(anchor_command, env, drop))
            x, y = statistics.median(a), statistics.median(b)
            print("%-44s %7.3fs  %-44s %7.3fs %6.2f %6.2f" % (ours, x, theirs, y, x / y, aim))
    finally:
        shutil.rmtree(work)


main()
