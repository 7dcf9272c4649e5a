"""Statements on whole sheets: Protect and Unprotect, Delete, Sheets.Add,
With on a named sheet and the Application settings, as tables of macro
bodies with the sheets and the active sheet they leave behind."""
import re

import pytest

import morvane
from vmhelp import run, same, sub


def workbook():
    vm = morvane.Vm()
    vm.set_sheet("Data")
    vm.set_cell(1, 1, "d")
    vm.set_sheet("sheet1")
    return vm


SHEETS = [
    ("add names the sheet by the count and activates it", "Sheets.Add", ["sheet1", "data", "sheet3"], "sheet3"),
    ("add after the last sheet", "Worksheets.Add After:=Sheets(Sheets.Count)\nSheets.Add",
     ["sheet1", "data", "sheet3", "sheet4"], "sheet4"),
    # sheet3 is taken: the next free number is used instead of adding nothing.
    ("add skips a taken name", "Sheets.Add\nSheets(\"Data\").Delete\nSheets.Add",
     ["sheet1", "sheet3", "sheet4"], "sheet4"),
    ("delete another sheet", "Sheets(\"DATA\").Delete", ["sheet1"], "sheet1"),
    ("delete by index", "Worksheets(2).Delete", ["sheet1"], "sheet1"),
    ("deleting the active sheet activates its neighbour", "ActiveSheet.Delete", ["data"], "data"),
    ("the neighbour of the last sheet is on its left", "Sheets.Add\nActiveSheet.Delete", ["sheet1", "data"], "data"),
    # The sheet active before the block is gone: its neighbour is active.
    ("with deleting the sheet active before", "With Sheets(\"Data\")\n Sheets(\"Sheet1\").Delete\nEnd With",
     ["data"], "data"),
    ("the first sheet can go once another is active",
     "With Sheets(\"Data\")\n Sheets(\"sheet1\").Delete\n Sheets.Add\nEnd With", ["data", "sheet2"], "sheet2"),
]


@pytest.mark.parametrize("name, body, names, active", SHEETS, ids=lambda v: v if isinstance(v, str) else "")
def test_sheets(name, body, names, active):
    vm = run(sub(body), vm=workbook())
    assert vm.sheet_names() == names
    assert vm.active_sheet() == active


def test_add_on_a_new_workbook():
    vm = run(sub("Sheets.Add"))
    assert vm.sheet_names() == ["sheet1", "sheet2"] and vm.active_sheet() == "sheet2"


MISSING_SHEETS = [
    ("a write", "Sheets(\"Zed\").Range(\"A1\").Value = 1", "Subscript out of range: there is no sheet 'Zed'"),
    ("a cell write", "Worksheets(\"Zed\").Cells(1, 1).Value = 1", "Subscript out of range: there is no sheet 'Zed'"),
    ("a read", "x = Sheets(\"Nope\").Range(\"A1\").Value", "Subscript out of range: there is no sheet 'Nope'"),
    ("an index past the last", "x = Sheets(3).Cells(1, 1).Value", "Subscript out of range: there is no sheet number 3"),
    ("a delete", "Sheets(\"Nope\").Delete", "Subscript out of range: there is no sheet 'Nope'"),
    ("a With block", "With Sheets(\"Report\")\n .Range(\"A1\").Value = 1\nEnd With",
     "Subscript out of range: there is no sheet 'Report'"),
    ("the last sheet cannot go", "Sheets(\"Data\").Delete\nActiveSheet.Delete",
     "Cannot delete the only sheet of the workbook"),
]


@pytest.mark.parametrize("name, body, message", MISSING_SHEETS, ids=lambda v: v if isinstance(v, str) else "")
def test_a_missing_sheet_is_an_error(name, body, message):
    vm = workbook()
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert vm.sheet_names() in (["sheet1", "data"], ["sheet1"])
    assert vm.get_sheet("sheet1") == {}


def test_with_a_sheet_writes_there_and_comes_back():
    vm = run(sub("With Sheets(\"Data\")\n .Range(\"B1\").Value = 2\n Cells(1, 3).Value = 3\n"
                 " .Range(\"D1\").Formula = \"=B1*2\"\n x = .Range(\"A1\").Value\nEnd With\ny = Range(\"A1\").Value"),
             vm=workbook())
    # Only the dotted lines name the block's sheet; Cells alone is the active one.
    assert same(vm.get_sheet("data"), {(1, 1): "d", (1, 2): 2, (1, 4): 4})
    assert vm.get_sheet("sheet1") == {(1, 3): 3}
    assert vm.active_sheet() == "sheet1"
    assert vm.variables()["x"] == "d" and vm.variables()["y"] is None


def test_a_failing_with_block_comes_back_too():
    vm = workbook()
    with pytest.raises(RuntimeError, match="(?m)^Division by zero$"):
        run(sub("With Sheets(\"Data\")\n .Range(\"A2\").Value = 2\n x = 1 / 0\n .Range(\"A3\").Value = 3\nEnd With"), vm=vm)
    assert vm.active_sheet() == "sheet1"
    assert same(vm.get_sheet("data"), {(1, 1): "d", (2, 1): 2})


PROTECTION = [
    ("protect blocks writes before they evaluate", "ActiveSheet.Protect\nCells(1, 1).Value = 1 / 0",
     "Cannot edit: sheet 'sheet1' is protected"),
    ("every write to the active sheet", "Sheets(\"Sheet1\").Protect \"pw\", UserInterfaceOnly:=False\nRange(\"A1:B2\").Clear",
     "Cannot edit: sheet 'sheet1' is protected"),
    ("user interface only leaves an unprotected sheet open",
     "Sheets(\"Sheet1\").Protect UserInterfaceOnly:=True\nRange(\"A1\").Value = 1\nx = 1 / 0", "Division by zero"),
    ("user interface only keeps a protected sheet protected",
     "ActiveSheet.Protect\nActiveSheet.Protect UserInterfaceOnly:=True\nRange(\"A1\").Sort",
     "Cannot edit: sheet 'sheet1' is protected"),
    ("unprotect opens it again", "ActiveSheet.Protect\nActiveSheet.Unprotect\nRange(\"A1\").Insert\nx = 1 / 0",
     "Division by zero"),
    ("another sheet shows its name as written", "Worksheets(\"Data\").Protect\nSheets(\"DATA\").Range(\"A1\").Value = 1",
     "Cannot edit: sheet 'DATA' is protected"),
    ("a protected sheet cannot be deleted", "Sheets(\"data\").Protect\nWith Sheets(\"Data\")\nEnd With\nSheets(2).Delete",
     "Cannot edit: sheet 'Data' is protected"),
    ("a missing sheet cannot be protected", "Sheets(\"Nope\").Protect", "Subscript out of range: there is no sheet 'Nope'"),
    ("nor unprotected", "Worksheets(\"Nope\").Unprotect", "Subscript out of range: there is no sheet 'Nope'"),
    ("the protection flag evaluates", "ActiveSheet.Protect UserInterfaceOnly:=1 / 0", "Division by zero"),
    ("a paste onto a protected sheet, even with nothing copied", "ActiveSheet.Protect\nRange(\"A1\").Paste",
     "Cannot edit: sheet 'sheet1' is protected"),
    ("a With block's sheet", "Sheets(\"Data\").Protect\nWith Sheets(\"Data\")\n .Range(\"A1\").Value = 1\nEnd With",
     "Cannot edit: sheet 'data' is protected"),
]


@pytest.mark.parametrize("name, body, message", PROTECTION, ids=lambda v: v if isinstance(v, str) else "")
def test_protection(name, body, message):
    vm = workbook()
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert same(vm.get_sheet("data"), {(1, 1): "d"})
    assert vm.active_sheet() == "sheet1"


def test_protection_persists_between_runs():
    vm = run(sub("ActiveSheet.Protect"), vm=workbook())
    with pytest.raises(RuntimeError, match="(?m)^Cannot edit: sheet 'sheet1' is protected$"):
        run(sub("Cells(1, 1).Value = 1"), vm=vm)
    run(sub("Sheets(\"Sheet1\").Unprotect\nCells(1, 1).Value = 1"), vm=vm)
    assert vm.cells() == {(1, 1): 1}


def test_application_settings():
    vm = run(sub("Application.ScreenUpdating = notDefinedAnywhere\nApplication.DisplayAlerts = False\n"
                 "Application.EnableEvents = 1 / 0\nx = 1"), vm=workbook())
    assert vm.variables()["x"] == 1
    vm = run(sub("Range(\"A1\").Copy\nApplication.CutCopyMode = xlCopy\nRange(\"B1\").Paste"), vm=workbook())
    assert vm.cells() == {}
    with pytest.raises(RuntimeError, match="(?m)^Paste error: Clipboard is empty$"):
        run(sub("Application.CutCopyMode = False\nRange(\"B1\").Paste"), vm=vm)
