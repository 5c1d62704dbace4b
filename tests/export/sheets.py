#!/usr/bin/python3
"""Reads an exported page back with independent readers and compares it.

Every reader gives rows of (kind, value) cells, kind "num", "text" or "empty":
  .xlsx  openpyxl      .xls  xlrd      .csv  Python's csv module (SEP and DECIMAL given)
  lo:FILE.csv          LibreOffice headless, told the separator and the locale of the decimal mark
  dump:FILE.csv        the output of `ulen3-cli dump`, as the sheet's columns would hold it

  sheets.py same A B [SEP DECIMAL]   prints "same" or the first difference (formats of
                                     .xls/.xlsx included)
  sheets.py column A K [SEP DECIMAL] prints column K of the data rows, one per line
"""
import csv
import os
import subprocess
import sys
import tempfile

NUMERIC = {0, 3, 4, 5}  # N, P, R, H
DUMP_FIELDS = ["N", "DATE", "TIME", "P", "R", "H", "T", "COMMENT"]


def cell(value):
    if value is None or value == "":
        return ("empty", None)
    if isinstance(value, bool):
        raise SystemExit("a boolean cell: %r" % value)
    if isinstance(value, (int, float)):
        return ("num", float(value))
    return ("text", str(value))


def read_xlsx(path):
    import openpyxl
    book = openpyxl.load_workbook(path, read_only=True)
    sheet = book.worksheets[0]
    rows, formats = [], set()
    small = sheet.max_row is not None and sheet.max_row < 2000
    for row in sheet.iter_rows(values_only=not small):
        if small:
            formats.update(c.number_format for c in row if c.value is not None)
            row = [c.value for c in row]
        rows.append([cell(v) for v in row])
    return sheet.title, rows, formats


def read_xls(path):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    rows, formats = [], set()
    for r in range(sheet.nrows):
        out = []
        for c in range(sheet.ncols):
            x = sheet.cell(r, c)
            if x.ctype == xlrd.XL_CELL_NUMBER:
                out.append(("num", float(x.value)))
            elif x.ctype == xlrd.XL_CELL_TEXT:
                out.append(cell(x.value))
            else:
                out.append(("empty", None))
            if x.ctype in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_TEXT):
                formats.add(book.format_map[book.xf_list[x.xf_index].format_key].format_str)
        rows.append(out)
    return sheet.name, rows, {"General" if f == "General" else f for f in formats}


def typed(texts, decimal):
    return [("empty", None) if t == "" else ("num", float(t.replace(decimal, "."))) if k in NUMERIC else ("text", t)
            for k, t in enumerate(texts)]


def read_csv(path, sep, decimal):
    with open(path, encoding="utf-8-sig", newline="") as f:
        lines = list(csv.reader(f, delimiter=sep, strict=True))
    return None, [[cell(t) for t in lines[0]]] + [typed(r, decimal) for r in lines[1:]], set()


def read_lo(path, sep, decimal):
    # The numeric columns standard (numbers in the locale of the decimal mark: Russian for a comma,
    # US English for a point), the others text.
    columns = "/".join("%d/%d" % (k + 1, 1 if k in NUMERIC else 2) for k in range(8))
    options = "CSV:%d,34,76,1,%s,%d" % (ord(sep), columns, 1049 if decimal == "," else 1033)
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, HOME=out)
        subprocess.run(["soffice", "--headless", "--infilter=" + options, "--convert-to", "xlsx", "--outdir", out,
                        path], check=True, capture_output=True, env=env, timeout=120)
        name = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ".xlsx")
        _, rows, _ = read_xlsx(name)
    return None, rows, set()


def read_dump(path):
    with open(path, encoding="utf-8", newline="") as f:
        lines = list(csv.reader(f))
    at = [lines[0].index(name) for name in DUMP_FIELDS]
    rows = []
    for r in lines[1:]:
        out = []
        for k, i in enumerate(at):
            t = r[i]
            if k in NUMERIC:
                out.append(("num", float(t) if t else 0.0))  # a sheet holds an empty number as 0
            else:
                out.append(("text", t.replace("\r\n", "\n")) if t else ("empty", None))
        rows.append(out)
    return None, rows, set()


def read(name, sep=",", decimal="."):
    if name.startswith("lo:"):
        return read_lo(name[3:], sep, decimal)
    if name.startswith("dump:"):
        return read_dump(name[5:])
    if name.endswith(".xlsx"):
        return read_xlsx(name)
    if name.endswith(".xls"):
        return read_xls(name)
    return read_csv(name, sep, decimal)


def padded(row, width=8):
    return row + [("empty", None)] * (width - len(row))


def same_cell(a, b):
    if a[0] != b[0]:
        return False
    if a[0] == "num":
        return a[1] == b[1]
    if a[0] == "text":
        return a[1].replace("\r\n", "\n") == b[1].replace("\r\n", "\n")
    return True


def same(a, b, sep=",", decimal="."):
    name_a, rows_a, formats_a = read(a, sep, decimal)
    name_b, rows_b, formats_b = read(b, sep, decimal)
    if name_a and name_b and name_a != name_b:
        return "sheet names %r and %r" % (name_a, name_b)
    if formats_a and formats_b and formats_a != formats_b:
        return "formats %r and %r" % (formats_a, formats_b)
    if a.startswith("dump:") or b.startswith("dump:"):
        rows_a, rows_b = (rows_a[1:], rows_b) if b.startswith("dump:") else (rows_a, rows_b[1:])
    if len(rows_a) != len(rows_b):
        return "%d and %d rows" % (len(rows_a), len(rows_b))
    for r, (x, y) in enumerate(zip(rows_a, rows_b)):
        for c, (p, q) in enumerate(zip(padded(x), padded(y))):
            if not same_cell(p, q):
                return "row %d column %d: %r and %r" % (r, c, p, q)
    return "same"


def main():
    if sys.argv[1] == "same":
        print(same(sys.argv[2], sys.argv[3], *sys.argv[4:6]))
    elif sys.argv[1] == "column":
        _, rows, _ = read(sys.argv[2], *sys.argv[4:6])
        k = int(sys.argv[3])
        for row in rows[1:]:
            kind, value = padded(row)[k]
            print("" if kind == "empty" else ("%g" % value if kind == "num" else value))


main()
