"""Sheet, range and object resolution: sheet expressions, multi-area
addresses, defined names, Set, Union, Areas, SpecialCells and reads through
Range variables, as tables of macro bodies run on a small workbook with the
variables they leave behind (types compared)."""
import re

import pytest

import morvane
from vmhelp import MISSING, check, run, sub


def workbook():
    """sheet1, data and zeta, each with its own A1 and a few more cells."""
    vm = morvane.Vm()
    for name, cells in {
        "Data": {(1, 1): "d", (1, 2): 2},
        "Zeta": {(1, 1): "z"},
        "sheet1": {(1, 1): 1, (1, 2): "t", (2, 2): True, (1, 3): "c1", (2, 3): "c2", (3, 3): 33, (4, 1): 4.5},
    }.items():
        vm.set_sheet(name)
        for (r, c), v in cells.items():
            vm.set_cell(r, c, v)
    return vm


SHEETS = [
    ("indexes count in tab order",
     "a = Worksheets(1).Range(\"A1\").Value\nb = Sheets(2).Cells(1, 1).Value\nc = Worksheets(3).Range(\"a1\").Value",
     {"a": 1, "b": "d", "c": "z"}),
    ("names ignore case", "a = Sheets(\"DATA\").Cells(1, 2).Value", {"a": 2}),
    ("active sheet", "a = ActiveSheet.Range(\"A1\").Value\nb = ActiveSheet.Cells(1, 2).Value", {"a": 1, "b": "t"}),
    ("a Worksheet variable keeps its sheet",
     "Set ws = Worksheets(\"Zeta\")\na = ws.Range(\"A1\").Value\nb = ActiveSheet.Range(\"A1\").Value",
     {"a": "z", "b": 1}),
]

RANGES = [
    ("one area reads row by row", "Set r = Range(\"A1:B2\")\nx = r.Value", {"x": [1, "t", None, True]}),
    ("one cell reads its value", "Set r = Range(\"C3\")\nx = r.Value", {"x": 33}),
    ("reversed corners are put in order", "Set r = Range(\"B2:A1\")\nx = r.Value", {"x": [1, "t", None, True]}),
    ("a range keeps the sheet active at the Set",
     "Sheets(\"Data\").Activate\nSet r = Range(\"A1:B1\")\nSheets(\"Sheet1\").Activate\nx = r.Value", {"x": ["d", 2]}),
    ("blanks around areas do not matter", "Set r = Range(\"A1, C3:D4\")\nn = r.Areas.Count", {"n": 2}),
    ("union areas in order", "Set u = Union(Range(\"A1\"), Range(\"C1:C2\"))\nSet a = u.Areas(2)\nSet b = u.Areas(1.9)\n"
     "x = a.Value\ny = b.Value\nn = u.Areas.Count", {"x": ["c1", "c2"], "y": 1, "n": 2}),
    ("union of a union keeps duplicates", "Set u = Union(Range(\"A1\"), Union(Range(\"A1\"), Range(\"B1\")))\n"
     "n = u.Areas.Count", {"n": 3}),
    ("visible cells are every area", "Set v = Range(\"A1:B2,D1\").SpecialCells(xlCellTypeVisible)\n"
     "n = v.Areas.Count\nSet a = v.Areas(2)\nx = a.Value", {"n": 2, "x": None}),
    ("visible cells of a reversed area", "Set v = Range(\"B2:A1,C3\").SpecialCells(12)\nn = v.Areas.Count", {"n": 2}),
    ("a defined name gives areas on the active sheet",
     "Range(\"A1:B1\").Name = \"Block\"\nSheets(\"Data\").Activate\nSet r = Range(\"block\")\nSheets(1).Activate\nx = r.Value",
     {"x": ["d", 2]}),
    ("a defined name of several areas", "Range(\"A1,C3\").Name = \"Two\"\nSet r = Range(\"Two\")\nn = r.Areas.Count", {"n": 2}),
    ("cells of a range count from its first cell", "Set r = Range(\"B1:C2\")\nx = r.Cells(2, 2).Value", {"x": "c2"}),
    ("Set copies the reference", "Set r = Range(\"A1\")\nSet s = r\nSet r = Range(\"C3\")\nx = s.Value\ny = r.Value",
     {"x": 1, "y": 33}),
    ("Set to Nothing empties the variable", "Set r = Range(\"C3\")\nSet r = Nothing\nx = r.Value", {"x": None}),
    ("Set to an unset variable does nothing", "Set r = q\nx = r.Value", {"x": None}),
    ("fields of a range", "Set r = Range(\"A1:B3\")\nx = r.Count\ny = r.Areas.Count\nz = r.Address\nw = r.Rows.Count",
     {"x": 6, "y": 1, "z": "$A$1:$B$3", "w": 3}),
]


@pytest.mark.parametrize("name, body, expected", SHEETS + RANGES, ids=lambda v: v if isinstance(v, str) else "")
def test_resolution(name, body, expected):
    vm = run(sub(body), vm=workbook())
    check(vm, expected)
    assert vm.active_sheet() == "sheet1"


ERRORS = [
    ("x = Worksheets(4).Range(\"A1\").Value", "Subscript out of range: there is no sheet number 4"),
    ("x = Worksheets(0).Range(\"A1\").Value", "Subscript out of range: there is no sheet number 0"),
    ("x = Worksheets(\"Report\").Range(\"A1:B1\").Value", "Subscript out of range: there is no sheet 'Report'"),
    ("x = Sheets(\"Nope\").Cells(1, 1).Value", "Subscript out of range: there is no sheet 'Nope'"),
    ("x = Workbooks(\"Book1.xlsm\").Worksheets(\"Sheet1\").Range(\"A1\").Value", "Workbook 'Book1.xlsm' not found"),
    ("x = Workbooks(1).Worksheets(1).Cells(1, 1).Value", "Workbook '1' not found"),
    ("Set wb = ThisWorkbook\nx = wb.Range(\"A1\").Value", "Workbook member 'range' is not supported"),
    ("x = ws.Range(\"A1\").Value", "'ws' is Nothing — Set was never called"),
    ("Set r = Range(\"A1,\")", "Range: invalid address 'A1,'"),
    ("Set r = Range(\"nowhere\")", "Range: invalid address 'NOWHERE'"),
    ("Set r = q.Areas(1)", "Object variable 'q' is not set (Set was never called, or it holds Nothing)"),
    ("Set u = Union(Range(\"A1\"), Range(\"C1:C2\"))\nSet a = u.Areas(3)", "Areas: index 3 out of range (range has 2 areas)"),
    ("Set a = Range(\"A1\").Areas(0)", "Areas: index 0 out of range (range has 1 area)"),
    ("Set a = Range(\"A1\").Areas(\"x\")", "Cannot convert 'x' to number"),
    ("Set a = Range(\"A1\")\nSet b = Worksheets(\"Data\").Range(\"A1\")\nSet u = Union(a, b)",
     "Union: all ranges must be on the same sheet"),
    ("Set w = ActiveSheet\nSet u = Union(w, Range(\"A1\"))", "Union: expected a Range object, got a Worksheet reference"),
    ("Set t = ThisWorkbook\nSet x = t.Areas(1)", "Areas: expected a Range object, got a Workbook reference"),
    ("Set w = ActiveWorkbook\nSet x = w.SpecialCells(12)", "SpecialCells: expected a Range object, got a Workbook reference"),
    ("Set r = Range(\"A1:XFD1048576\")\nx = r.Value",
     "Range 'A1:XFD1048576' is too large to read (17179869184 cells; the limit is 10000000)"),
    ("Set u = Union(Range(\"A1\"), Range(\"B1\"))\nx = u.Value",
     "Range.Value: multi-area range has no single .Value — read through .Areas(n) instead"),
]


@pytest.mark.parametrize("body, message", ERRORS)
def test_errors(body, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=workbook())


def test_resolution_writes_nothing():
    vm = workbook()
    before = {name: vm.get_sheet(name) for name in vm.sheet_names()}
    run(sub("Set r = Union(Range(\"A1\"), Range(\"Z9\"))\nSet a = r.Areas(2)\nx = a.Value\n"
            "On Error Resume Next\ny = Worksheets(\"Nope\").Range(\"A1\").Value"), vm=vm)
    assert vm.sheet_names() == ["sheet1", "data", "zeta"]
    assert {name: vm.get_sheet(name) for name in vm.sheet_names()} == before


def test_module_object_variables_persist_between_runs():
    vm = run("Dim r As Range\n" + sub("Set r = Range(\"C3\")"), vm=workbook())
    run("Dim r As Range\n" + sub("x = r.Value"), vm=vm)
    check(vm, {"x": 33, "r": MISSING})
