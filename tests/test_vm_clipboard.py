"""Copy and paste: whole ranges, transposed, one cell into many, several
areas, Range variables and other sheets, as tables of (title, macro body,
cells after) on a small sheet (types compared)."""
import re

import pytest

from vmhelp import run, same, sheet, sub, with_sheets

GRID = {(1, 1): 1, (1, 2): 2, (2, 1): 3, (2, 2): 4}


PASTES = [
    ("paste", "Range(\"A1:B2\").Copy\nRange(\"D1\").Paste", {(1, 4): 1, (1, 5): 2, (2, 4): 3, (2, 5): 4}),
    ("paste special transposed", "Range(\"A1:B2\").Copy\nRange(\"D1\").PasteSpecial Paste:=xlPasteValues, Transpose:=True",
     {(1, 4): 1, (1, 5): 3, (2, 4): 2, (2, 5): 4}),
    ("paste special without transpose", "Range(\"A1:B2\").Copy\nRange(\"D1\").PasteSpecial xlPasteValues",
     {(1, 4): 1, (1, 5): 2, (2, 4): 3, (2, 5): 4}),
    ("copy with a destination", "Range(\"A1:B1\").Copy Destination:=Range(\"D5\")", {(5, 4): 1, (5, 5): 2}),
    ("into a range of the same shape", "Range(\"A1:A2\").Copy\nRange(\"D1:D2\").Paste", {(1, 4): 1, (2, 4): 3}),
    ("transposed into the swapped shape", "Range(\"A1:B1\").Copy\nRange(\"D1:D2\").PasteSpecial Transpose:=True",
     {(1, 4): 1, (2, 4): 2}),
    ("one cell fills a range", "Range(\"B2\").Copy\nRange(\"D1:E5\").Paste",
     {(r, c): 4 for r in range(1, 6) for c in (4, 5)}),
    ("one cell into one cell", "Range(\"B2\").Copy\nRange(\"D1\").Paste", {(1, 4): 4}),
    ("empty cells are pasted too", "Range(\"D1\").Value = \"old\"\nRange(\"C1:C2\").Copy\nRange(\"D1\").Paste", {}),
    ("the values as they were at the copy",
     "Range(\"A1\").Copy\nRange(\"A1\").Value = 9\nRange(\"D1\").Paste\nRange(\"E1\").Paste",
     {(1, 1): 9, (1, 4): 1, (1, 5): 1}),
    ("two areas to two areas", "Range(\"A1,B1:B2\").Copy\nRange(\"E1,G1:G2\").Paste",
     {(1, 5): 1, (1, 7): 2, (2, 7): 4}),
    ("two areas to a defined name of two areas",
     "Range(\"E1,G1:G2\").Name = \"Target\"\nRange(\"A1,B1:B2\").Copy\nRange(\"target\").Paste",
     {(1, 5): 1, (1, 7): 2, (2, 7): 4}),
    ("a Range variable", "Set r = Range(\"A2:B2\")\nr.Copy\nRange(\"D1\").Paste", {(1, 4): 3, (1, 5): 4}),
    ("a Range variable with a destination", "Set r = Range(\"A1:A2\")\nr.Copy Destination:=Range(\"D1\")",
     {(1, 4): 1, (2, 4): 3}),
    ("a union variable to as many areas", "Set u = Union(Range(\"A1\"), Range(\"B2\"))\nu.Copy\nRange(\"D1,E5\").Paste",
     {(1, 4): 1, (5, 5): 4}),
    ("the clipboard outlives the copy's sheet",
     "With Sheets(\"Other\")\n .Range(\"A1\").Value = \"o\"\n .Range(\"A1\").Copy\nEnd With\nSheets(\"Other\").Delete\n"
     "Range(\"D1\").Paste", {(1, 4): "o"}),
]


@pytest.mark.parametrize("name, body, changes", PASTES, ids=lambda v: v if isinstance(v, str) else "")
def test_pastes(name, body, changes):
    vm = run(sub(body), vm=with_sheets("Other", vm=sheet(GRID)))
    assert same(vm.cells(), {**GRID, **changes})
    assert vm.active_sheet() == "sheet1"


# (how A1 = "=C1*2" reaches B1, B1's formula, B1 once C1 and D1 change)
FORMULA_PASTES = [
    ("paste", "Range(\"A1\").Copy\nRange(\"B1\").Paste", "=D1*2", 16),
    ("paste special all", "Range(\"A1\").Copy\nRange(\"B1\").PasteSpecial Paste:=xlPasteAll", "=D1*2", 16),
    ("paste special formulas", "Range(\"A1\").Copy\nRange(\"B1\").PasteSpecial xlPasteFormulas", "=D1*2", 16),
    ("copy with a destination", "Range(\"A1\").Copy Destination:=Range(\"B1\")", "=D1*2", 16),
    ("a Range variable with a destination", "Set r = Range(\"A1\")\nr.Copy Destination:=Range(\"B1\")",
     "=D1*2", 16),
    ("a sheet's paste", "Range(\"A1\").Copy\nActiveSheet.Paste Destination:=Range(\"B1\")", "=D1*2", 16),
    ("a reference moved off the sheet", "Range(\"A1\").Copy\nRange(\"A1\").Offset(0, 1).Formula = \"=A1\"\n"
     "Range(\"B1\").Copy\nRange(\"A1\").Paste\nRange(\"A1\").Copy\nRange(\"B1\").Paste", "=#REF!", None),
    ("values only", "Range(\"A1\").Copy\nRange(\"B1\").PasteSpecial Paste:=xlPasteValues", "10", 10),
]


@pytest.mark.parametrize("name, body, formula, later", FORMULA_PASTES, ids=lambda v: v if isinstance(v, str) else "")
def test_formulas_are_pasted_moved_by_the_distance(name, body, formula, later):
    vm = sheet({(1, 3): 5, (1, 4): 6})
    run(sub("Range(\"A1\").Formula = \"=C1*2\"\n" + body + "\nf = Range(\"B1\").Formula"), vm=vm)
    assert vm.variables()["f"] == formula
    vm.set_cell(1, 3, 7)
    vm.set_cell(1, 4, 8)
    vm.recalculate()
    if later is not None:
        assert vm.get_cell(1, 2) == later


def test_a_paste_kind_the_sheet_does_not_model_fails():
    vm = sheet({(1, 1): 1})
    with pytest.raises(RuntimeError, match="Paste:=-4122 is not supported"):
        run(sub("Range(\"A1\").Copy\nRange(\"B1\").PasteSpecial Paste:=xlPasteFormats"), vm=vm)
    assert vm.cells() == {(1, 1): 1}


def test_a_variable_copies_from_its_own_sheet():
    vm = with_sheets("Data")
    run(sub("With Sheets(\"Data\")\n .Range(\"B2\").Value = \"d\"\nEnd With\nSheets(\"Data\").Activate\n"
            "Set r = Range(\"B2:C2\")\nSheets(\"Sheet1\").Activate\nr.Copy\nRange(\"A1\").Paste"), vm=vm)
    assert same(vm.cells(), {(1, 1): "d"})


def test_a_sheet_paste_goes_to_that_sheet():
    vm = with_sheets("Report", vm=sheet(GRID))
    run(sub("Range(\"A1:B1\").Copy\nSheets(\"Report\").Paste Destination:=Range(\"B2\")\n"
            "Worksheets(\"Sheet1\").Paste Destination:=Range(\"A5\")"), vm=vm)
    assert same(vm.get_sheet("report"), {(2, 2): 1, (2, 3): 2})
    assert same(vm.cells(), {**GRID, (5, 1): 1, (5, 2): 2})
    assert vm.active_sheet() == "sheet1"


def test_a_sheet_paste_to_a_missing_sheet_fails_and_makes_none():
    vm = sheet(GRID)
    with pytest.raises(RuntimeError, match="(?m)^Subscript out of range: there is no sheet 'Report'$"):
        run(sub("Range(\"A1\").Copy\nSheets(\"Report\").Paste Destination:=Range(\"B2\")"), vm=vm)
    assert vm.sheet_names() == ["sheet1"] and vm.active_sheet() == "sheet1"


def test_a_failing_sheet_paste_keeps_the_active_sheet():
    vm = with_sheets("Report", vm=sheet(GRID))
    with pytest.raises(RuntimeError, match="(?m)^Paste error: Clipboard is empty$"):
        run(sub("Sheets(\"Report\").Paste Destination:=Range(\"B2\")"), vm=vm)
    assert vm.sheet_names() == ["sheet1", "report"] and vm.active_sheet() == "sheet1"


def test_the_clipboard_persists_between_runs():
    vm = run(sub("Range(\"A1:B1\").Copy"), vm=sheet(GRID))
    run(sub("Range(\"A9\").Paste"), vm=vm)
    assert same(vm.get_cell(9, 2), 2)


def test_a_failed_paste_keeps_the_copy():
    vm = sheet(GRID)
    with pytest.raises(RuntimeError, match=re.escape("Paste error: invalid destination address 'ZZ'")):
        run(sub("Range(\"A1\").Copy Destination:=Range(\"ZZ\")"), vm=vm)
    run(sub("Range(\"C1\").Paste"), vm=vm)
    assert same(vm.get_cell(1, 3), 1)


ERRORS = [
    ("Range(\"A1\").Paste", "Paste error: Clipboard is empty"),
    ("Range(\"A1:B3\").Copy\nRange(\"D1:E3\").PasteSpecial Transpose:=True",
     "Paste error: shape mismatch (source 2x3, destination 3x2)"),
    ("Range(\"A1:B2\").Copy\nRange(\"D1:D2\").Paste", "Paste error: shape mismatch (source 2x2, destination 2x1)"),
    ("Range(\"A1:B2\").Copy\nRange(\"D1:nowhere\").Paste", "Paste error: invalid destination range 'D1:nowhere'"),
    ("Range(\"A1:B2\").Name = \"Blk\"\nRange(\"A1:B2\").Copy\nRange(\"Blk\").Paste",
     "Paste error: invalid destination address 'Blk'"),
    ("Range(\"A1\").Copy\nRange(\"E1,G1\").Paste",
     "Paste error: multi-area paste is not yet supported by morvane (diagnosed, not executed)"),
    ("Range(\"A1,C1:C2\").Copy\nRange(\"E1\").Paste",
     "Paste error: source has 2 disjoint areas but the destination is a single area"),
    ("Range(\"A1,C1:C2\").Copy\nRange(\"E1,G1,H1\").Paste", "Paste error: source has 2 areas but destination has 3 areas"),
    ("Range(\"A1,C1:C2\").Copy\nRange(\"E1:E2,G1:G2\").Paste",
     "Paste error: area 1 shape mismatch (source 1x1, destination 2x1)"),
    ("Range(\"A1,C1:C2\").Copy\nRange(\"E1,G1:G2\").PasteSpecial Transpose:=True",
     "Paste error: multi-area paste is not yet supported by morvane (diagnosed, not executed)"),
    ("Range(\"A1,C1:C2\").Copy\nRange(\"E1:\").Paste", "Paste error: invalid destination range 'E1:'"),
    ("Range(\"A1\").Copy\nRange(\"D1\").PasteSpecial Transpose:=1 / 0", "Division by zero"),
    ("Range(\"A1,\").Copy", "RangeCopy: invalid source range 'A1,'"),
    ("Range(\"Nope\").Copy Destination:=Range(\"D1\")", "RangeCopy: invalid source range 'Nope'"),
    ("r.Copy", "'r' is Nothing — Set was never called"),
    ("Set w = ActiveSheet\nw.Copy", "Copy: expected a Range object, got a Worksheet reference"),
    ("Set b = ThisWorkbook\nb.Copy Destination:=Range(\"A1\")", "Copy: expected a Range object, got a Workbook reference"),
    # Copying or pasting more than the interpreter's 10,000,000 cells.
    ("Range(\"A1:XFD1048576\").Copy", "Range 'A1:XFD1048576' is too large to copy (17179869184 cells; the limit is 10000000)"),
    ("Range(\"A1:A5000000,B1:B5000001\").Copy",
     "Range 'A1:A5000000,B1:B5000001' is too large to copy (10000001 cells; the limit is 10000000)"),
    ("Set r = Range(\"A1:B5000001\")\nr.Copy", "Range '<r>' is too large to copy (10000002 cells; the limit is 10000000)"),
    ("Range(\"A1\").Copy\nRange(\"A1:XFD1048576\").Paste",
     "Range 'A1:XFD1048576' is too large to paste (17179869184 cells; the limit is 10000000)"),
    ("Range(\"A1:B1\").Copy\nRange(\"A4294967295\").PasteSpecial Transpose:=True",
     "Paste error: destination 'A4294967295' runs past the last row or column"),
]


@pytest.mark.parametrize("body, message", ERRORS)
def test_errors(body, message):
    vm = sheet(GRID)
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert same(vm.cells(), GRID)
