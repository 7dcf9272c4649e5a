"""Statements on cells and ranges: value and formula writes, offsets,
clearing, deleting and inserting rows, sorting, names and writes to a named
sheet, as tables of (title, cells before, macro body, cells after) on the
active sheet (types compared)."""
import re
import time

import pytest

import morvane
from morvane import ExcelError
from vmhelp import run, same, sheet, sub, with_sheets


def column(*values, col=1):
    """Cells of one column from row 1 down."""
    return {(r, col): v for r, v in enumerate(values, start=1)}


ROWS = {**column(1, 2, 3, 4, 5, 6), **column("a", "b", "c", "d", "e", "f", col=3)}

WRITES = [
    ("a value fills the range", {}, "Range(\"A1:B2\").Value = 5", {(1, 1): 5, (1, 2): 5, (2, 1): 5, (2, 2): 5}),
    ("an array spreads over the cells, #N/A past its end", {},
     "Dim a(1)\na(0) = 1\na(1) = \"x\"\nRange(\"A1:C1\").Value = a\nCells(2, 1).Value = a",
     {(1, 1): 1, (1, 2): "x", (1, 3): morvane.ExcelError("#N/A"), (2, 1): 1}),
    ("corners written last-first are put in order", {}, "Range(\"B2:A1\").Value = 1",
     {(1, 1): 1, (1, 2): 1, (2, 1): 1, (2, 2): 1}),
    ("a defined name", {}, "Range(\"A1:A2\").Name = \"Col\"\nRange(\"col\").Value = 3", {(1, 1): 3, (2, 1): 3}),
    ("a later name replaces an earlier one", {}, "Range(\"A1\").Name = \"n\"\nRange(\"B1\").Name = \"N\"\n"
     "Range(\"n\").Value = 1", {(1, 2): 1}),
    ("a value replaces a formula", {}, "Range(\"A1\").Formula = \"=1+1\"\nRange(\"A1\").Value = 7", {(1, 1): 7}),
    ("a formula is filled down the range", {(1, 2): 4, (2, 2): 5}, "Range(\"A1:A2\").Formula = \"=B1*2\"",
     {(1, 1): 8, (2, 1): 10, (1, 2): 4, (2, 2): 5}),
    ("a number as formula text", {}, "Range(\"A1\").Formula = 12", {(1, 1): 12}),
    ("cells by number", {}, "Cells(2, \"3\").Value = 1\nCells(True, 1.0).Value = \"t\"", {(2, 3): 1, (1, 1): "t"}),
    ("offsets truncate toward zero", {}, "Range(\"B3\").Offset(-1, 1.9).Value = \"x\"", {(2, 3): "x"}),
    ("a NaN offset counts as 0", {}, "Range(\"B3\").Offset(10 ^ 308 * 10 - 10 ^ 308 * 10, 0).Value = 1", {(3, 2): 1}),
]

EDITS = [
    ("clear removes values and formulas", {(1, 1): 1, (2, 2): 2, (3, 3): 3},
     "Range(\"B2\").Formula = \"=1\"\nRange(\"A1:B2\").Clear", {(3, 3): 3}),
    ("clear contents does the same", {(1, 1): 1, (2, 2): 2, (3, 3): 3}, "Range(\"A1:B2\").ClearContents", {(3, 3): 3}),
    ("delete moves up the cells below it in its own columns", ROWS, "Range(\"A2:A3\").Delete",
     {**column(1, 4, 5, 6), **column("a", "b", "c", "d", "e", "f", col=3)}),
    ("entire column delete moves the columns to its right left", {**ROWS, (1, 4): "d"},
     "Range(\"B2:C3\").EntireColumn.Delete", {**column(1, 2, 3, 4, 5, 6), (1, 2): "d"}),
    ("entire row delete closes the gap in every column", ROWS, "Range(\"B2:B3\").EntireRow.Delete",
     {**column(1, 4, 5, 6), **column("a", "d", "e", "f", col=3)}),
    ("delete with xlToLeft moves the cells to its right", {**ROWS, (2, 4): "x"},
     "Range(\"B2:C2\").Delete Shift:=xlToLeft", {**ROWS, (2, 2): "x", (2, 3): None}),
    ("insert with xlToRight moves the cells to its right", ROWS, "Range(\"A2\").Insert Shift:=xlToRight",
     {**ROWS, (2, 1): None, (2, 2): 2, (2, 3): None, (2, 4): "b"}),
    ("entire column insert", ROWS, "Range(\"B1\").EntireColumn.Insert",
     {**column(1, 2, 3, 4, 5, 6), **column("a", "b", "c", "d", "e", "f", col=4)}),
    ("entire row insert", column(1, 2), "Range(\"C2\").EntireRow.Insert", {(1, 1): 1, (3, 1): 2}),
    ("entire row clear", {**ROWS, (2, 9): 9}, "Range(\"B2\").EntireRow.ClearContents",
     {**ROWS, (2, 1): None, (2, 3): None}),
    ("entire row delete", ROWS, "Range(\"B6\").EntireRow.Delete",
     {**column(1, 2, 3, 4, 5), **column("a", "b", "c", "d", "e", col=3)}),
    ("delete with rows written last-first", ROWS, "Range(\"A3:A2\").Delete",
     {**column(1, 4, 5, 6), **column("a", "b", "c", "d", "e", "f", col=3)}),
    ("insert moves rows down and leaves them empty", column(1, 2, 3, 4), "Range(\"A2:B3\").Insert",
     {(1, 1): 1, (4, 1): 2, (5, 1): 3, (6, 1): 4}),
    # Rows written last-first insert the same rows: nothing is shifted onto
    # rows that still hold data.
    ("insert with rows written last-first", column(1, 2, 3, 4), "Range(\"A3:B2\").Insert Shift:=xlDown",
     {(1, 1): 1, (4, 1): 2, (5, 1): 3, (6, 1): 4}),
    ("insert below the data moves nothing", column(1, 2), "Range(\"A5\").Insert", column(1, 2)),
    ("Rows(n).Delete", ROWS, "Rows(2).Delete", {**column(1, 3, 4, 5, 6), **column("a", "c", "d", "e", "f", col=3)}),
    ("a band of rows by text, in a bottom-up loop", ROWS,
     "Rows(\"2:3\").Delete\nFor i = 4 To 1 Step -1\n If Cells(i, 1).Value = 5 Then Rows(i).Delete\nNext",
     {**column(1, 4, 6), **column("a", "d", "f", col=3)}),
    ("Rows(n).Insert", column(1, 2), "Rows(2).Insert", {(1, 1): 1, (3, 1): 2}),
    ("Columns by letter and by number", {**ROWS, (1, 4): "d"}, "Columns(\"B:C\").Delete\nColumns(1).Insert",
     {**column(1, 2, 3, 4, 5, 6, col=2), (1, 3): "d"}),
    ("rows within a range count from its first row", ROWS, "Range(\"A2:C6\").Rows(2).EntireRow.Delete",
     {**column(1, 2, 4, 5, 6), **column("a", "b", "d", "e", "f", col=3)}),
    ("an element of an array named rows is no row", ROWS, "Dim rows(2)\nrows(1) = 5", ROWS),
]

SORTS = [
    ("descending by a column, ties keep their order",
     {(1, 1): "a", (1, 2): 2, (2, 1): "b", (2, 2): 1, (3, 1): "c", (3, 2): 2},
     "Range(\"A1:B3\").Sort Key1:=Range(\"B1\"), Order1:=xlDescending, Header:=xlNo",
     {(1, 1): "a", (1, 2): 2, (2, 1): "c", (2, 2): 2, (3, 1): "b", (3, 2): 1}),
    ("ascending by default", column(3, 1, 2), "Range(\"A1:A3\").Sort", column(1, 2, 3)),
    ("a key left of the range sorts by its first column", {**column(3, 1, 2, col=2), (1, 1): "keep"},
     "Range(\"B1:B3\").Sort Key1:=Range(\"A1\")", {**column(1, 2, 3, col=2), (1, 1): "keep"}),
    ("a key right of the range keeps the order", column(3, 1, 2), "Range(\"A1:A3\").Sort Key1:=Range(\"D1\")",
     column(3, 1, 2)),
    ("blank keys come last, their rows with them", {(1, 1): 2, (2, 2): "x", (3, 1): 1},
     "Range(\"A1:B3\").Sort Key1:=Range(\"A1\")", {(1, 1): 1, (2, 1): 2, (3, 2): "x"}),
    ("blank keys come last descending", {(1, 1): 2, (2, 2): "x", (3, 1): 1},
     "Range(\"A1:B3\").Sort Key1:=Range(\"A1\"), Order1:=xlDescending", {(1, 1): 2, (2, 1): 1, (3, 2): "x"}),
    ("text without case, numbers before text", column("b", 10, "A", 9), "Range(\"A1:A4\").Sort",
     column(9, 10, "A", "b")),
    ("only the range moves", {**column(2, 1), (3, 1): 0, (1, 3): "out"}, "Range(\"A1:A2\").Sort",
     {**column(1, 2), (3, 1): 0, (1, 3): "out"}),
]


@pytest.mark.parametrize("name, before, body, after", WRITES + EDITS + SORTS,
                         ids=lambda v: v if isinstance(v, str) else "")
def test_statements(name, before, body, after):
    after = {k: v for k, v in after.items() if v is not None}
    vm = run(sub(body), vm=sheet(before))
    assert same(vm.cells(), after), vm.cells()


def test_formulas_and_sorted_cells():
    """What holds a formula keeps following its inputs; sorted cells do not."""
    vm = run(sub("Range(\"A1:A2\").Formula = \"=$C$1+1\"\nRange(\"B1\").Formula = \"=C1\"\n"
                 "Range(\"B1:B2\").Sort"), vm=sheet({(1, 3): 1}))
    # B1 stays above the blank B2 and became a value cell.
    vm.set_cell(1, 3, 10)
    vm.recalculate()
    assert same(vm.cells(), {(1, 1): 11, (2, 1): 11, (1, 2): 1, (1, 3): 10})


# The formula cannot be computed over the text in B9: each cell shows #VALUE!.
FAILING = "\"=-$B$9\""


@pytest.mark.parametrize("write", [
    f"Range(\"A1:A3\").Formula = {FAILING}",
    f"Sheets(\"Data\").Range(\"A1:A3\").Formula = {FAILING}",
    f"With Sheets(\"Data\")\n Set r = Range(\"A1:A3\")\nEnd With\nr.Formula = {FAILING}",
])
def test_a_failing_formula_writes_its_error_value_to_every_cell(write):
    vm = morvane.Vm()
    for name in ("Data", "sheet1"):
        vm.set_sheet(name)
        vm.set_cell(9, 2, "x")
    run(sub(write), vm=vm)
    assert vm.active_sheet() == "sheet1"
    changed = [name for name in vm.sheet_names() if vm.get_sheet(name) != {(9, 2): "x"}]
    assert len(changed) == 1
    value = ExcelError("#VALUE!")
    assert same(vm.get_sheet(changed[0]), {(1, 1): value, (2, 1): value, (3, 1): value, (9, 2): "x"})


def test_a_formula_that_does_not_parse_writes_nothing():
    vm = sheet({(1, 1): "kept"})
    with pytest.raises(RuntimeError):
        run(sub("Range(\"A1:A3\").Formula = \"=1+\""), vm=vm)
    assert vm.cells() == {(1, 1): "kept"}


def test_huge_ranges_cost_what_the_sheet_stores():
    vm = sheet({(1, 1): 3, (5, 1): 1, (1048576, 16384): "corner", (2, 2): "b"})
    start = time.monotonic()
    # The rows keyed 1 and 3 go above the 1048574 rows keyed blank, which
    # keep their order.
    run(sub("Range(\"A1:XFD1048576\").Sort Key1:=Range(\"A1\")"), vm=vm)
    assert same(vm.cells(), {(1, 1): 1, (2, 1): 3, (3, 2): "b", (1048576, 16384): "corner"})
    run(sub("Range(\"A1:XFD2\").Clear\nRange(\"B1:B1000000\").Insert"), vm=vm)
    assert same(vm.cells(), {(1000003, 2): "b", (1048576, 16384): "corner"})
    # A cell pushed past the last row fails, and nothing moves.
    with pytest.raises(RuntimeError, match="past the last row"):
        run(sub("Range(\"A1:XFD1\").Insert"), vm=vm)
    run(sub("Range(\"B1000000:B1048576\").Delete\nRange(\"A1:XFD1048576\").Sort Order1:=xlDescending"), vm=vm)
    assert same(vm.cells(), {(1048576, 16384): "corner"})
    run(sub("Range(\"A1048575\").EntireRow.Delete"), vm=vm)
    assert same(vm.cells(), {(1048575, 16384): "corner"})
    run(sub("Range(\"A2:A1048576\").EntireRow.Delete"), vm=vm)
    assert vm.cells() == {}
    assert time.monotonic() - start < 5


# Formulas follow the cells they read: (cells with formulas, macro, formulas after).
FOLLOW = [
    ("a row inserted inside a range widens it", {(1, 2): "=SUM(A1:A3)", (1, 3): "=A3"},
     "Range(\"A2\").EntireRow.Insert", {(1, 2): "=SUM(A1:A4)", (1, 3): "=A4"}),
    ("a row deleted inside a range narrows it", {(1, 2): "=SUM(A1:A3)", (1, 3): "=A3"},
     "Range(\"A2\").EntireRow.Delete", {(1, 2): "=SUM(A1:A2)", (1, 3): "=A2"}),
    ("a reference into deleted cells is #REF!", {(1, 2): "=A2+$A$3", (1, 3): "=SUM(A2:A2)"},
     "Range(\"A2\").EntireRow.Delete", {(1, 2): "=#REF!+$A$2", (1, 3): "=SUM(#REF!)"}),
    ("the formula's own cell moves too", {(3, 2): "=A1+A3"},
     "Range(\"A2\").EntireRow.Insert", {(4, 2): "=A1+A4"}),
    ("columns", {(5, 1): "=SUM(B1:D1)+C1"}, "Range(\"C1\").EntireColumn.Delete", {(5, 1): "=SUM(B1:C1)+#REF!"}),
    ("a range-only shift moves references in its band only", {(9, 9): "=A3+B3"},
     "Range(\"A1\").Insert", {(9, 9): "=A4+B3"}),
    ("sideways", {(9, 9): "=C2+C3"}, "Range(\"A2\").Delete Shift:=xlToLeft", {(9, 9): "=B2+C3"}),
    ("texts and functions stay", {(1, 9): "=IF(A3>0,\"A3\",LOG10(A3))"},
     "Range(\"A1\").EntireRow.Insert", {(2, 9): "=IF(A4>0,\"A3\",LOG10(A4))"}),
    # From the first to the last row is the whole column, and stays whole.
    ("a whole column through a row insert", {(1, 9): "=SUM(A1:A1048576)+SUM($B$1:$B$1048576)"},
     "Rows(1).Insert", {(2, 9): "=SUM(A1:A1048576)+SUM($B$1:$B$1048576)"}),
    ("a whole column through a row delete", {(1, 9): "=SUM(A1:A1048576)"}, "Rows(2).Delete",
     {(1, 9): "=SUM(A1:A1048576)"}),
    ("a whole column through a cell insert in its band", {(1, 9): "=SUM(A1:A1048576)"}, "Range(\"A1\").Insert",
     {(1, 9): "=SUM(A1:A1048576)"}),
    ("a whole row through a column insert", {(9, 1): "=SUM(A1:XFD1)"}, "Columns(1).Insert", {(9, 2): "=SUM(A1:XFD1)"}),
    ("a whole row moves with a row insert", {(9, 1): "=SUM(A1:XFD1)"}, "Rows(1).Insert", {(10, 1): "=SUM(A2:XFD2)"}),
    ("a range to the last row keeps reaching it", {(1, 9): "=SUM(A2:A1048576)+SUM(A1048570:A1048576)"},
     "Rows(1).Insert", {(2, 9): "=SUM(A3:A1048576)+SUM(A1048571:A1048576)"}),
    ("a range to the last column keeps reaching it", {(9, 1): "=SUM(C1:XFD1)"}, "Columns(2).Insert",
     {(9, 1): "=SUM(D1:XFD1)"}),
    ("a range pushed wholly off the sheet is lost", {(1, 9): "=SUM(A1048575:A1048576)"}, "Rows(\"1:5\").Insert",
     {(6, 9): "=SUM(#REF!)"}),
    ("a cell pushed off the sheet is lost", {(1, 9): "=A1048576"}, "Rows(1).Insert", {(2, 9): "=#REF!"}),
]


@pytest.mark.parametrize("name, formulas, body, after", FOLLOW, ids=lambda v: v if isinstance(v, str) else "")
def test_formulas_follow_moved_cells(name, formulas, body, after):
    vm = sheet({(r, 1): r for r in range(1, 5)} | {(1, c): c for c in range(2, 5)})
    for (r, c), f in formulas.items():
        vm.set_cell_formula(r, c, f)
    reads = "\n".join(f"f{r}_{c} = Cells({r}, {c}).Formula" for r, c in after)
    vm = run(sub(body + "\n" + reads), vm=vm)
    got = vm.variables()
    assert {k: got[f"f{r}_{c}"] for k, (r, c) in zip(after, after)} == after


def test_a_moved_total_keeps_its_value_and_a_lost_reference_shows_ref():
    vm = sheet({(1, 1): 1, (2, 1): 2, (3, 1): 3})
    vm.set_cell_formula(4, 1, "=SUM(A1:A3)")
    vm.set_cell_formula(4, 2, "=A2*2")
    run(sub("Range(\"A2\").EntireRow.Insert\nRange(\"A2\").Value = 10"), vm=vm)
    assert vm.get_cell(5, 1) == 16
    run(sub("Range(\"A3\").EntireRow.Delete"), vm=vm)
    assert same(vm.cells(), {(1, 1): 1, (2, 1): 10, (3, 1): 3, (4, 1): 14, (4, 2): ExcelError("#REF!")})


NAMES_FOLLOW = [
    ("a row deleted above", 'Range("A5").Name = "Total"\nRows(2).Delete\nx = Range("Total").Address', "$A$4"),
    ("rows inserted above a block", 'Range("A5:B6").Name = "Blk"\nRows("2:3").Insert\nx = Range("Blk").Address',
     "$A$7:$B$8"),
    ("a column deleted left of one area", 'Range("A5,C7").Name = "Two"\nColumns("B").Delete\nx = Range("Two").Address',
     "$A$5,$B$7"),
    ("a name given through a range variable", 'Set r = Range("B3")\nr.Name = "Pt"\nRows(1).Delete\nx = Range("Pt").Address',
     "$B$2"),
    ("a name follows its sheet's new name",
     'Range("A5").Name = "Total"\nActiveSheet.Name = "Report"\nRows(2).Delete\nx = Range("Total").Address', "$A$4"),
    ("a name of another sheet stays", 'Range("A5").Name = "Here"\nSheets.Add\nRows(2).Delete\nx = Range("Here").Address',
     "$A$5"),
]


@pytest.mark.parametrize("name, body, address", NAMES_FOLLOW, ids=[r[0] for r in NAMES_FOLLOW])
def test_defined_names_follow_the_cells_of_their_sheet(name, body, address):
    assert run(sub(body)).variables()["x"] == address


def test_a_whole_column_keeps_adding_up_after_a_row_insert():
    vm = sheet({(1, 1): 1, (2, 1): 2})
    vm.set_cell_formula(1, 3, "=SUM(A1:A1048576)")
    run(sub("Rows(1).Insert\nRange(\"A1\").Value = 100"), vm=vm)
    vm.recalculate()
    assert vm.get_cell(2, 3) == 103


# Range variables follow the cells of their sheet: (macro, variables after).
RANGE_VARIABLES_FOLLOW = [
    ("a row inserted above", 'Set r = Range("A5")\nRows(1).Insert\nx = r.Address\nr.Offset(0, 2).Value = "here"\n'
     'y = Range("C6").Value', {"x": "$A$6", "y": "here"}),
    ("a row deleted above", 'Range("A5").Value = "total"\nSet r = Range("A5")\nRows(2).Delete\nx = r.Address\n'
     'y = r.Value', {"x": "$A$4", "y": "total"}),
    ("a row deleted inside narrows it", 'Set r = Range("A2:B6")\nRows("3:4").Delete\nx = r.Address',
     {"x": "$A$2:$B$4"}),
    ("a column inserted left", 'Set r = Range("B2:C3")\nColumns(1).Insert\nx = r.Address', {"x": "$C$2:$D$3"}),
    ("cells inserted in its band only", 'Set r = Range("A3")\nSet s = Range("B3")\nRange("A1").Insert\n'
     'x = r.Address & " " & s.Address', {"x": "$A$4 $B$3"}),
    ("a deleted area of several goes", 'Set r = Range("A2,A5")\nRows(2).Delete\nx = r.Address', {"x": "$A$4"}),
    ("a whole column stays whole", 'Set r = Columns("B")\nRows(1).Insert\nx = r.Address', {"x": "$B$1:$B$1048576"}),
    ("another sheet's variable stays", 'Set r = Range("A5")\nSheets.Add\nRows(1).Insert\nx = r.Address',
     {"x": "$A$5"}),
    ("through a path on the sheet", 'Set r = ActiveSheet.Range("A5")\nActiveSheet.Rows(2).Delete\nx = r.Address',
     {"x": "$A$4"}),
    ("a copy made with Set follows too", 'Set r = Range("A5")\nSet s = r\nRows(1).Insert\nx = s.Address',
     {"x": "$A$6"}),
]


@pytest.mark.parametrize("name, body, variables", RANGE_VARIABLES_FOLLOW, ids=[r[0] for r in RANGE_VARIABLES_FOLLOW])
def test_range_variables_follow_the_cells_of_their_sheet(name, body, variables):
    got = run(sub(body)).variables()
    assert {k: got[k] for k in variables} == variables


DELETED_RANGE_USES = ["x = r.Address", "r.Value = 1", "r = 1", "r.Copy", "Set s = r", "x = r.Row",
                      "For Each c In r\nNext", "x = WorksheetFunction.Sum(r)", "Set u = Union(r, Range(\"A1\"))"]


@pytest.mark.parametrize("use", DELETED_RANGE_USES)
def test_a_range_variable_whose_cells_were_deleted_is_no_object(use):
    vm = sheet({(9, 1): "kept"})
    code = sub(f'Set r = Range("A2:B3")\nRows("2:4").Delete\n{use}')
    with pytest.raises(RuntimeError, match="(?m)^Object required: the cells of 'r' were deleted$"):
        run(code, vm=vm)
    assert vm.cells() == {(6, 1): "kept"}
    # VBA's number for it, which an error handler sees.
    handled = run(sub(f'On Error Resume Next\nSet r = Range("A2")\nRows(2).Delete\n{use}\nn = Err.Number'))
    assert handled.variables()["n"] == 424


def test_sort_with_an_inconsistent_order_keeps_every_row():
    # 9 < 10 and 10 < "9" (as texts) but "9" = 9: no strict weak ordering.
    keys = [9, 10, "9", "10", 0.5, "x", True, 9, "9", 10]
    cells = {}
    for i in range(300):
        cells[(i + 1, 1)] = keys[(i * 7) % len(keys)]
        cells[(i + 1, 2)] = i
    vm = run(sub("Range(\"A1:B300\").Sort Key1:=Range(\"A1\")\nRange(\"A1:B300\").Sort Order1:=xlDescending"),
             vm=sheet(cells))
    got = vm.cells()
    assert sorted(v for (r, c), v in got.items() if c == 2) == list(range(300))
    assert all(1 <= r <= 300 for r, c in got)


OTHER_SHEETS = [
    ("a value to another sheet", "Worksheets(\"Data\").Range(\"A1:B1\").Value = 1",
     {"data": {(1, 1): 1, (1, 2): 1}}),
    ("a cell of a sheet by index", "Sheets(\"Data\").Cells(2, 2).Value = \"x\"\nWorksheets(2).Cells(1, 1).Value = 2",
     {"data": {(1, 1): 2, (2, 2): "x"}}),
    ("a formula evaluates on its own sheet",
     "Sheets(\"Data\").Range(\"B1\").Value = 4\nWorksheets(\"Data\").Range(\"A1:A2\").Formula = \"=B1*2\"",
     {"data": {(1, 1): 8, (2, 1): 0, (1, 2): 4}, "sheet1": {(1, 2): "own"}}),
    ("through a Worksheet variable", "Set ws = ActiveSheet\nws.Range(\"C1\").Value = 3\nws.Cells(1, 4).Value = 4",
     {"sheet1": {(1, 2): "own", (1, 3): 3, (1, 4): 4}}),
    ("ActiveSheet qualified", "ActiveSheet.Range(\"A1\").Value = 1", {"sheet1": {(1, 1): 1, (1, 2): "own"}}),
]


@pytest.mark.parametrize("name, body, sheets", OTHER_SHEETS, ids=lambda v: v if isinstance(v, str) else "")
def test_other_sheets(name, body, sheets):
    vm = run(sub(body), vm=with_sheets("Data", vm=sheet({(1, 2): "own"})))
    assert vm.active_sheet() == "sheet1"
    for key, cells in sheets.items():
        assert same(vm.get_sheet(key), cells), (key, vm.get_sheet(key))


def test_a_failing_formula_on_another_sheet_restores_the_active_sheet():
    vm = with_sheets("Data")
    with pytest.raises(RuntimeError):
        run(sub("Sheets(\"Data\").Range(\"A1:A2\").Formula = \"=B1*\""), vm=vm)
    assert vm.active_sheet() == "sheet1"
    assert "data" in vm.sheet_names()


ERRORS = [
    ("Range(\"nowhere\").Value = 1", "RangeWrite: invalid address 'nowhere'"),
    ("Range(\"A1:\").Formula = \"=1\"", "RangeWrite: invalid address 'A1:'"),
    ("Range(\"x\").Clear", "RangeClear: invalid address 'x'"),
    ("Range(\"x\").Delete", "RangeDelete: invalid address 'x'"),
    ("Range(\"x\").Insert", "RangeInsert: invalid address 'x'"),
    ("Range(\"x\").Sort", "Range: invalid address 'x'"),
    ("Range(\"A1:B2\").Offset(1, 1).Value = 1", "RangeOffsetWrite: invalid address 'A1:B2'"),
    # A target off the sheet fails instead of wrapping round to a far cell.
    ("Range(\"A1\").Offset(-1, 0).Value = 1", "RangeOffsetWrite: invalid address 'A1'"),
    ("Range(\"B2\").Offset(0, -2).Value = 1", "RangeOffsetWrite: invalid address 'B2'"),
    ("Range(\"A1\").Offset(4294967295, 0).Value = 1", "RangeOffsetWrite: invalid address 'A1'"),
    ("Range(\"A1\").Offset(0, 10 ^ 300).Value = 1", "RangeOffsetWrite: invalid address 'A1'"),
    ("Range(\"A1\").Offset(\"x\", 0).Value = 1", "Cannot convert 'x' to number"),
    ("Cells(0, 1).Value = 1", "Cell row must be a positive integer, got 0"),
    ("Cells(1, 2.5).Value = 1", "Cell col must be a positive integer, got 2.5"),
    ("Sheets(\"Data\").Range(\"block\").Value = 1", "SheetRangeWrite: invalid address 'block'"),
    ("Worksheets(4).Range(\"A1\").Value = 1", "Subscript out of range: there is no sheet number 4"),
    ("Sheets(\"Data\").Cells(1, 0).Value = 1", "Cell col must be a positive integer, got 0"),
    # Writing one value into more than the interpreter's 10,000,000 cells.
    ("Range(\"A1:XFD1048576\").Value = 1",
     "Range 'A1:XFD1048576' is too large to write (17179869184 cells; the limit is 10000000)"),
    ("Range(\"A1:A10000001\").Formula = \"=1\"",
     "Range 'A1:A10000001' is too large to write (10000001 cells; the limit is 10000000)"),
    ("Sheets(\"Data\").Range(\"A1:ZZZZ4294967295\").Value = 1",
     "Range 'A1:ZZZZ4294967295' is too large to write (2041200386817930 cells; the limit is 10000000)"),
]


@pytest.mark.parametrize("body, message", ERRORS)
def test_errors(body, message):
    vm = with_sheets("Data", vm=sheet({(1, 1): "kept"}))
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert vm.cells() == {(1, 1): "kept"}


def test_insert_past_the_last_row_fails_and_moves_nothing():
    vm = sheet({(1, 1): 1})
    run(sub('Cells(1048576, 1).Value = "last"'), vm=vm)
    with pytest.raises(RuntimeError, match="(?m)^RangeInsert: inserting rows at 'A1' would push cells past the last row$"):
        run(sub("Range(\"A1\").Insert"), vm=vm)
    assert vm.cells() == {(1048576, 1): "last", (1, 1): 1}


def test_a_report_with_a_row_inserted_above_its_totals(tmp_path):
    openpyxl = pytest.importorskip("openpyxl")
    vm = morvane.Vm()
    run(sub("Sheets.Add\nActiveSheet.Name = \"Report\"\n"
            "Range(\"A1\").Value = 1\nRange(\"A2\").Value = 2\nRange(\"A3\").Value = 3\n"
            "Range(\"B1:B3\").Formula = \"=A1*10\"\nRange(\"A4\").Formula = \"=SUM(A1:A3)\"\n"
            "Range(\"A4\").Copy Destination:=Range(\"B4\")\n"
            "Range(\"A3\").EntireRow.Insert\nRange(\"A3\").Value = 4\nRange(\"B2\").Copy\nRange(\"B3\").Paste"), vm=vm)
    assert same(vm.get_sheet("Report"), {(1, 1): 1, (2, 1): 2, (3, 1): 4, (4, 1): 3, (5, 1): 10,
                                         (1, 2): 10, (2, 2): 20, (3, 2): 40, (4, 2): 30, (5, 2): 100})
    vm.save_workbook(str(tmp_path / "report.xlsx"))
    ws = openpyxl.load_workbook(tmp_path / "report.xlsx")["Report"]
    # The file holds the values the moved formulas compute.
    assert [[c.value for c in row] for row in ws.iter_rows(min_row=1, max_row=5, max_col=2)] == [
        [1, 10], [2, 20], [4, 40], [3, 30], [10, 100]]


# An index far past any sheet is refused as off the sheet: it once overflowed
# when added to the range's own position (a fuzz finding).
FAR = "1" + "0" * 30


@pytest.mark.parametrize("body, message", [
    (f"Cells({FAR}, 5).Value0 = 1", "Cells: the range would lie off the sheet"),
    (f'x = Range("A1:B2").Cells(-{FAR}).Address', "Cells: the range would lie off the sheet"),
    (f'x = Range("A1:B2").Cells(2, {FAR}).Address', "Cells: the range would lie off the sheet"),
    (f'Set r = Range("A1:C3").Rows({FAR})', "Rows: the range would lie off the sheet"),
    (f'Set r = Range("A1:C3").Columns(-{FAR})', "Columns: the range would lie off the sheet"),
    (f'Set r = Range("A1:C3").Rows.Cells(-{FAR})', "Rows: the range would lie off the sheet"),
    (f'Set r = Range("A1:C3").Columns.Cells(-{FAR})', "Cells: the range would lie off the sheet"),
    (f'Set r = Range("A1:B2").Resize({FAR}, 1)', "Resize: the range would lie off the sheet"),
    (f'Set r = Range("A1:B2").Offset(-{FAR}, 0)', "Offset: the range would lie off the sheet"),
])
def test_an_index_far_off_the_sheet(body, message):
    with pytest.raises(RuntimeError, match=re.escape(message)):
        morvane.run_macro(sub(body), "Main")
