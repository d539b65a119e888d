# SPDX-License-Identifier: MIT
"""Reads an .xls file with xlrd and prints what a spreadsheet user would see, for xls_test.

Output, one item a line (texts as hex of their UTF-8 bytes, so any character survives):
  sheets <count>
  sheet <name> <nrows> <ncols>
  cell <row> <col> <type> <horizontal alignment> <text>
Exit status 77 when xlrd is not installed.
"""
import sys

try:
    import xlrd
except ImportError:
    print("xlrd is not installed", file=sys.stderr)
    sys.exit(77)


def hexed(text):
    return text.encode("utf-8").hex() or "-"


def main(path):
    book = xlrd.open_workbook(path, formatting_info=True, ragged_rows=True)
    print("sheets", book.nsheets)
    sheet = book.sheet_by_index(0)
    print("sheet", hexed(sheet.name), sheet.nrows, sheet.ncols)
    for r in range(sheet.nrows):
        for c in range(sheet.row_len(r)):
            cell = sheet.cell(r, c)
            xf = book.xf_list[cell.xf_index]
            print("cell", r, c, cell.ctype, xf.alignment.hor_align, hexed(str(cell.value)))


if __name__ == "__main__":
    main(sys.argv[1])
