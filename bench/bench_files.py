"""Workbook files beside other Python libraries, side by side in one run.

- load a 1,000,000-cell .xlsx (100,000 rows x 10 columns: five of numbers,
  five of shared strings, written by XlsxWriter) with load_workbook and with
  python-calamine;
- save the same cells with save_workbook and with XlsxWriter in
  constant-memory mode;
- save and load 100,000 cells as .ods beside odfpy;
- peak memory (the high-water mark of a fresh child process) of
  load_workbook of the 1,000,000-cell file beside openpyxl's full load.

Each time is the best of a few runs; the ratios are morvane / other.
Run: PYTHONPATH=build/dev .venv/bin/python bench/bench_files.py [rows]
"""
import os
import re
import subprocess
import sys
import tempfile
import textwrap
import time

import xlsxwriter
from python_calamine import CalamineWorkbook

import morvane

COLS = 10
WORDS = [f"word {i:04d}" for i in range(2000)]


def value(r, c):
    """The cell at 0-based (r, c): numbers in the first five columns, texts in the rest."""
    if c < 5:
        return r * 10 + c if c % 2 == 0 else (r * 10 + c) / 8
    return WORDS[(r * 7 + c) % len(WORDS)]


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def write_xlsxwriter(path, rows, constant_memory):
    wb = xlsxwriter.Workbook(path, {"constant_memory": constant_memory})
    ws = wb.add_worksheet("Data")
    for r in range(rows):
        ws.write_row(r, 0, [value(r, c) for c in range(COLS)])
    wb.close()


def filled_vm(rows):
    vm = morvane.Vm()
    vm.set_sheet("Data")
    for r in range(rows):
        for c in range(COLS):
            vm.set_cell(r + 1, c + 1, value(r, c))
    return vm


def calamine_load(path):
    return CalamineWorkbook.from_path(path).get_sheet_by_index(0).to_python()


def odfpy_save(path, rows):
    from odf.opendocument import OpenDocumentSpreadsheet
    from odf.table import Table, TableCell, TableRow
    from odf.text import P
    doc = OpenDocumentSpreadsheet()
    table = Table(name="Data")
    for r in range(rows):
        tr = TableRow()
        for c in range(COLS):
            v = value(r, c)
            if isinstance(v, str):
                cell = TableCell(valuetype="string")
            else:
                cell = TableCell(valuetype="float", value=v)
            cell.addElement(P(text=str(v)))
            tr.addElement(cell)
        table.addElement(tr)
    doc.spreadsheet.addElement(table)
    doc.save(path)


def odfpy_load(path):
    from odf.opendocument import load
    from odf.table import Table, TableCell, TableRow
    from odf.namespaces import OFFICENS
    doc = load(path)
    cells = {}
    for table in doc.spreadsheet.getElementsByType(Table):
        for r, row in enumerate(table.getElementsByType(TableRow), 1):
            for c, cell in enumerate(row.getElementsByType(TableCell), 1):
                kind = cell.attributes.get((OFFICENS, "value-type"))
                if kind == "float":
                    cells[(r, c)] = float(cell.attributes[(OFFICENS, "value")])
                elif kind == "string":
                    cells[(r, c)] = str(cell)
    return cells


def peak_kib(code):
    """The high-water resident size of a fresh process running `code`."""
    probe = code + '\nimport re\nprint(re.search(r"VmHWM:\\s*(\\d+)", open("/proc/self/status").read()).group(1))'
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, check=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}).stdout
    return int(out.split()[-1])


def report(title, ours, theirs, target):
    ratio = ours / theirs
    mark = "ok" if ratio <= target else "MISSED"
    print(f"{title:44s} morvane {ours:8.3f}  other {theirs:8.3f}  ratio {ratio:6.3f}  (target <= {target}) {mark}")


def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    ods_rows = rows // 10
    with tempfile.TemporaryDirectory() as tmp:
        big = os.path.join(tmp, "big.xlsx")
        write_xlsxwriter(big, rows, constant_memory=False)
        print(f"{rows * COLS:,} cells, {os.path.getsize(big):,} bytes")

        ours = best(lambda: morvane.load_workbook(big), 3)
        theirs = best(lambda: calamine_load(big), 3)
        report("load .xlsx: load_workbook / calamine (s)", ours, theirs, 0.5)

        vm = filled_vm(rows)
        out = os.path.join(tmp, "out.xlsx")
        ours = best(lambda: vm.save_workbook(out), 3)
        theirs = best(lambda: write_xlsxwriter(os.path.join(tmp, "xw.xlsx"), rows, True), 2)
        report("save .xlsx: save_workbook / XlsxWriter (s)", ours, theirs, 0.125)

        small = filled_vm(ods_rows)
        ods = os.path.join(tmp, "out.ods")
        ours_save = best(lambda: small.save_workbook(ods), 3)
        theirs_save = best(lambda: odfpy_save(os.path.join(tmp, "odf.ods"), ods_rows), 1)
        report(f"save .ods ({ods_rows * COLS:,} cells) (s)", ours_save, theirs_save, 0.02)
        ours_load = best(lambda: morvane.load_workbook(ods), 3)
        theirs_load = best(lambda: odfpy_load(os.path.join(tmp, "odf.ods")), 1)
        report(f"load .ods ({ods_rows * COLS:,} cells) (s)", ours_load, theirs_load, 0.02)
        report(".ods save + load (s)", ours_save + ours_load, theirs_save + theirs_load, 0.02)

        ours = peak_kib(f"import morvane\nvm = morvane.load_workbook({big!r})")
        theirs = peak_kib(f"import openpyxl\nwb = openpyxl.load_workbook({big!r})")
        report("peak memory: load_workbook / openpyxl (MiB)", ours / 1024, theirs / 1024, 0.25)


if __name__ == "__main__":
    main()
