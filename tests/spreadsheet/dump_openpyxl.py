#!/usr/bin/env python3
"""Prints every non-empty cell of a workbook as openpyxl reads it, for the tests.

Lines: C sheet ref type value | F sheet ref numberformat | M sheet range
"""
import datetime
import sys

import openpyxl
from openpyxl.utils.datetime import to_excel


def esc(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


wb = openpyxl.load_workbook(sys.argv[1], data_only=True)
out = []
for ws in wb.worksheets:
    title = esc(ws.title)
    for _, c in sorted(ws._cells.items()):
        if True:
            v = c.value
            if v is None:
                continue
            if c.data_type == "e":
                t, s = "e", str(v)
            elif isinstance(v, bool):
                t, s = "b", "1" if v else "0"
            elif isinstance(v, (int, float)):
                t, s = "n", repr(float(v))
            elif isinstance(v, (datetime.datetime, datetime.date, datetime.time, datetime.timedelta)):
                t, s = "d", repr(float(to_excel(v, wb.epoch)))
            else:
                t, s = "s", str(v)
            out.append("\t".join(("C", title, c.coordinate, t, esc(s))))
            out.append("\t".join(("F", title, c.coordinate, esc(c.number_format))))
    for m in ws.merged_cells.ranges:
        out.append("\t".join(("M", title, m.coord)))
sys.stdout.write("\n".join(out) + "\n")
