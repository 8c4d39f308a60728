#!/usr/bin/python3
"""Peer for the merge benchmark: openpyxl, streaming (read-only in, write-only out).
Every workbook of DIR/in goes into one sheet per sheet name; the title and header
rows (2) of every workbook after the first are left out. Usage: openpyxl_merge.py DIR OUT"""
import glob
import sys

import openpyxl

out = openpyxl.Workbook(write_only=True)
sheets = {}
for n, path in enumerate(sorted(glob.glob(sys.argv[1] + "/in/*.xlsx"))):
    wb = openpyxl.load_workbook(path, read_only=True)
    for ws in wb.worksheets:
        target = sheets.get(ws.title)
        if target is None:
            target = sheets[ws.title] = out.create_sheet(ws.title)
        for i, row in enumerate(ws.iter_rows(values_only=True)):
            if n > 0 and i < 2:
                continue
            target.append(row)
    wb.close()
out.save(sys.argv[2])
