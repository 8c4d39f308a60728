#!/usr/bin/python3
"""Peer for the split benchmark: openpyxl, streaming. Splits FILE into workbooks of
ROWS data rows each, repeating the title and header rows (2). Usage: openpyxl_split.py FILE ROWS"""
import sys

import openpyxl

path, per = sys.argv[1], int(sys.argv[2])
wb = openpyxl.load_workbook(path, read_only=True)
ws = wb.worksheets[0]
head, out, sheet, k, n = [], None, None, 0, 0
for i, row in enumerate(ws.iter_rows(values_only=True)):
    if i < 2:
        head.append(row)
        continue
    if out is None or n == per:
        if out is not None:
            out.save("%s_peer_%d.xlsx" % (path[:-5], k))
        k += 1
        n = 0
        out = openpyxl.Workbook(write_only=True)
        sheet = out.create_sheet(ws.title)
        for h in head:
            sheet.append(h)
    sheet.append(row)
    n += 1
if out is not None:
    out.save("%s_peer_%d.xlsx" % (path[:-5], k))
