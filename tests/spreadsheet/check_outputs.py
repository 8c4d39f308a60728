#!/usr/bin/env python3
"""Accounts for every non-blank cell of a workbook in the outputs of a merge
and of the splits, as openpyxl reads them, for the workbook fixture tests.

Usage: check_outputs.py MANIFEST.json
The manifest (written by the test) names the source as openpyxl can read it,
the shape of each non-blank sheet (header row, used rows) and the outputs of
each operation, also as openpyxl can read them. Every fault is printed on its
own line; the exit status is 1 when there is any.

  strip IN OUT: OUT is IN with the computed values of its formulas left out,
  so that an application opening it has to compute them.
  recalc SOURCE COMPUTED: every formula of SOURCE whose value LibreOffice
  computed into COMPUTED must not show an error where SOURCE held a value.
"""
import datetime
import json
import re
import sys
import zipfile

import openpyxl
import openpyxl.reader.excel

# Pivot tables play no part in cell values, and openpyxl refuses some real ones.
openpyxl.reader.excel.TableDefinition.rel_type = "no pivot tables, please"


def blank(v):
    return v is None or (isinstance(v, str) and v.strip("".join(chr(i) for i in range(33))) == "")


def norm(v):
    if isinstance(v, bool):
        return ("b", v)
    if isinstance(v, (int, float)):
        return ("n", float(v))
    if isinstance(v, datetime.datetime):
        return ("d", v.replace(microsecond=round(v.microsecond / 1000) * 1000 % 1000000))
    if isinstance(v, (datetime.date, datetime.time, datetime.timedelta)):
        return ("d", v)
    return ("s", str(v))


def same(a, b):
    if a[0] == "n" and b[0] == "n":
        return a[1] == b[1] or abs(a[1] - b[1]) <= 1e-12 * max(abs(a[1]), abs(b[1]))
    if a[0] == "d" and b[0] == "d" and isinstance(a[1], datetime.datetime) and isinstance(b[1], datetime.datetime):
        return abs((a[1] - b[1]).total_seconds()) < 0.002
    return a == b


def fmt(code):
    code = (code or "General").replace("\\", "").replace('"', "").lower()
    # The office server keeps a format's locale but drops its calendar flags.
    return re.sub(r"\[\$-([0-9a-f]+)\]", lambda m: "[$-" + m.group(1)[-4:].lstrip("0") + "]", code)


class Book:
    def __init__(self, path):
        self.path = path
        wb = openpyxl.load_workbook(path, data_only=True)
        self.sheets = {}
        self.merges = {}
        self.width = {}  # the last column holding anything
        self.order = []
        for ws in wb.worksheets:
            cells = {}
            for (r, c), cell in ws._cells.items():
                if not blank(cell.value):
                    cells[(r, c)] = (norm(cell.value), fmt(cell.number_format), cell.data_type)
            self.sheets[ws.title] = cells
            self.merges[ws.title] = {(m.min_row, m.min_col, m.max_row, m.max_col) for m in ws.merged_cells.ranges}
            self.width[ws.title] = max([c for _, c in cells] +
                                       [m[3] for m in self.merges[ws.title] if (m[0], m[1]) in cells] + [0])
            self.order.append(ws.title)

    def sheet(self, name):
        for n in self.order:
            if n.strip().lower() == name.strip().lower():
                return n
        return None


faults = []


def fault(text):
    faults.append(text)


def compare(what, src, sname, rows, out, oname, shift, check_formats=True):
    """Source rows `rows` (first, last) of sheet sname must be in sheet oname
    of out, `shift` rows lower, and out must hold nothing else in that span."""
    first, last = rows
    scells = src.sheets[sname]
    ocells = out.sheets.get(oname)
    if ocells is None:
        fault(f"{what}: no sheet {oname!r} in {out.path}")
        return
    for (r, c), (v, f, _) in scells.items():
        if not first <= r <= last:
            continue
        got = ocells.get((r + shift, c))
        if got is None:
            fault(f"{what}: {sname}!{openpyxl.utils.get_column_letter(c)}{r} = {v[1]!r} lost")
        elif not same(got[0], v):
            fault(f"{what}: {sname}!{openpyxl.utils.get_column_letter(c)}{r} = {v!r}, output {got[0]!r}")
        elif check_formats and got[1] != f:
            fault(f"{what}: {sname}!{openpyxl.utils.get_column_letter(c)}{r} format {f!r}, output {got[1]!r}")
    for (r, c), (v, _, _) in ocells.items():
        if first + shift <= r <= last + shift and (r - shift, c) not in scells:
            fault(f"{what}: {oname}!{openpyxl.utils.get_column_letter(c)}{r} = {v[1]!r} came from nowhere")
    for m in src.merges[sname]:
        # Merged ranges count inside the block: those that show something,
        # and empty ones within the columns that hold anything.
        if first <= m[0] and m[2] <= last and ((m[0], m[1]) in scells or m[3] <= src.width[sname]):
            moved = (m[0] + shift, m[1], m[2] + shift, m[3])
            if moved not in out.merges[oname]:
                fault(f"{what}: merged range {m} of {sname} lost")


def check(manifest):
    src = Book(manifest["source"])
    fmts = manifest.get("formats", True)
    shapes = manifest["sheets"]  # [name, header, used] of each non-blank sheet, in order
    if "merge" in manifest:
        out = Book(manifest["merge"])
        for name, _, used in shapes:
            compare("merge", src, name, (1, used), out, out.sheet(name) or name, 1, fmts)
    for name, path in manifest.get("perSheet", {}).items():
        out = Book(path)
        compare("per sheet", src, name, (1, 1 << 20), out, out.order[0], 0, fmts)
    if "parts" in manifest:
        n = len(manifest["parts"])
        for k, path in enumerate(manifest["parts"], 1):
            out = Book(path)
            for name, h, used in shapes:
                per = max(used - h, 0) // n
                first = (k - 1) * per + h + 1
                last = used if k == n else k * per + h
                compare(f"part {k}/{n}", src, name, (1, h), out, name, 0, fmts)
                compare(f"part {k}/{n}", src, name, (first, last), out, name, h + 1 - first, fmts)
    if "rows" in manifest:
        p = manifest["rowsPer"]
        for k, path in enumerate(manifest["rows"], 1):
            out = Book(path)
            skip = (k - 1) * p
            for name, h, used in shapes:
                if skip > used:
                    if name in out.sheets:
                        fault(f"rows part {k}: sheet {name} should not be there")
                    continue
                first, last = skip + h + 1, min(k * p + h, used)
                compare(f"rows part {k}", src, name, (1, h), out, name, 0, fmts)
                compare(f"rows part {k}", src, name, (first, last), out, name, h + 1 - first, fmts)


def recalc(path, computed_path):
    kept = openpyxl.load_workbook(path, data_only=False)
    cached = openpyxl.load_workbook(path, data_only=True)
    computed = openpyxl.load_workbook(computed_path, data_only=True)
    for ws in kept.worksheets:
        if ws.title not in computed.sheetnames:
            continue
        for (r, c), cell in ws._cells.items():
            if cell.data_type != "f":
                continue
            was = cached[ws.title].cell(r, c)
            now = computed[ws.title].cell(r, c)
            # Functions newer than the LibreOffice at hand it cannot compute anywhere.
            if now.value == "#NAME?" and "_xlfn." in str(cell.value):
                continue
            if now.data_type == "e" and was.data_type != "e" and not blank(was.value):
                fault(f"{path}: {ws.title}!{cell.coordinate} ={cell.value} computes {now.value}, showed {was.value!r}")


def strip(path, out):
    value = re.compile(r"(<(?:\w+:)?f(?:\s[^>]*)?(?:/>|>[^<]*</(?:\w+:)?f>))<(\w+:)?v>[^<]*</(?:\w+:)?v>")
    with zipfile.ZipFile(path) as zin, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if item.filename.startswith("xl/worksheets/") and item.filename.endswith(".xml"):
                data = value.sub(r"\1", data.decode("utf-8")).encode("utf-8")
            zout.writestr(item, data)


if sys.argv[1] == "strip":
    strip(sys.argv[2], sys.argv[3])
elif sys.argv[1] == "recalc":
    for i in range(2, len(sys.argv), 2):
        recalc(sys.argv[i], sys.argv[i + 1])
else:
    with open(sys.argv[1], encoding="utf-8") as f:
        check(json.load(f))
for line in faults[:40]:
    print(line)
if len(faults) > 40:
    print(f"... and {len(faults) - 40} more")
sys.exit(1 if faults else 0)
