#!/usr/bin/python3
"""Peer for the split-by-value benchmark: openpyxl, streaming (read-only in, write-only
out). Splits FILE into one workbook per distinct value of the column headed NAME in the
header row (the second), each with the title and header rows (2) and, in source order,
the rows of that value. All outputs stay open during the one pass over FILE.
Usage: openpyxl_split_values.py FILE NAME"""
import re
import sys

import openpyxl

path, name = sys.argv[1], sys.argv[2]
wb = openpyxl.load_workbook(path, read_only=True)
ws = wb.worksheets[0]
head, col, outs = [], None, {}
for i, row in enumerate(ws.iter_rows(values_only=True)):
    if i < 2:
        head.append(row)
        if i == 1:
            col = [str(v).strip() if v is not None else "" for v in row].index(name)
        continue
    value = "" if row[col] is None else str(row[col]).strip()
    entry = outs.get(value)
    if entry is None:
        out = openpyxl.Workbook(write_only=True)
        sheet = out.create_sheet(ws.title)
        for h in head:
            sheet.append(h)
        entry = outs[value] = (out, sheet)
    entry[1].append(row)
for value, (out, _) in outs.items():
    tag = re.sub(r'[\x00-\x1f\x7f/\\:*?"<>|]', "_", value) or "blank"
    out.save("%s_peer_%s.xlsx" % (path[:-5], tag))
