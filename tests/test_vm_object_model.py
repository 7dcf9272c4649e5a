"""Ranges, sheets and WorksheetFunction doing what a macro says, or saying why
not: sheets that do not exist, sheet order and names through load and save,
activating, adding and renaming sheets, sheet and Range variables, For Each
over cells, arrays written to ranges, addresses and edges, protection
passwords, Sort headers and blanks, and texts entered as typed. Each table
is a few realistic macro bodies with what they leave behind."""
import re
import warnings

import openpyxl
import pytest

import morvane
from vmhelp import MISSING, check, run, same, sheet, sub, with_sheets


def book():
    """Sheet1 (active) with a small table, and a Data sheet."""
    vm = with_sheets("Data")
    for (r, c), v in {(1, 1): "Item", (1, 2): "Qty", (2, 1): "pen", (2, 2): 3, (3, 1): "ink", (3, 2): 5}.items():
        vm.set_cell(r, c, v)
    return vm


# ---------------------------------------------------------------- a sheet that does not exist

MISSING_SHEETS = [
    ("a write does not create the sheet", 'Sheets("Zed").Range("A1").Value = 1', "there is no sheet 'Zed'"),
    ("a read does not read Empty", 'x = Sheets("Nope").Range("A1").Value', "there is no sheet 'Nope'"),
    ("a sheet variable", 'Set ws = Worksheets("Nope")', "there is no sheet 'Nope'"),
    ("activating", 'Sheets("Nope").Activate', "there is no sheet 'Nope'"),
    ("an index past the last", "Worksheets(3).Activate", "there is no sheet number 3"),
]


@pytest.mark.parametrize("name, body, message", MISSING_SHEETS, ids=lambda v: v if isinstance(v, str) else "")
def test_a_missing_sheet_is_subscript_out_of_range(name, body, message):
    vm = book()
    with pytest.raises(RuntimeError, match="(?m)^Subscript out of range: " + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert vm.sheet_names() == ["sheet1", "data"]


def test_get_sheet_of_a_missing_sheet_is_a_key_error():
    with pytest.raises(KeyError):
        book().get_sheet("Nope")


# ---------------------------------------------------------------- activating, adding, naming

SHEETS = [
    ("Activate makes later writes land there", 'Sheets("Data").Activate\nRange("A1").Value = 1',
     {"data": {(1, 1): 1}}, "data", ["sheet1", "data"]),
    ("Select does too", 'Worksheets(2).Select\nCells(2, 2).Value = "b"', {"data": {(2, 2): "b"}}, "data",
     ["sheet1", "data"]),
    ("Sheets.Add activates the new sheet", 'Sheets.Add\nRange("A1").Value = "new"', {"sheet3": {(1, 1): "new"}},
     "sheet3", ["sheet1", "data", "sheet3"]),
    ("a sheet variable from Sheets.Add, named", 'Set ws = Sheets.Add\nws.Name = "Report"\nws.Range("B1").Value = 2',
     {"report": {(1, 2): 2}}, "report", ["sheet1", "data", "report"]),
    ("Sheets.Add Before:= and After:= place the new sheet",
     'Sheets.Add Before:=Sheets(1)\nActiveSheet.Name = "First"\nSet d = Sheets("Data")\n'
     'Set ws = Sheets.Add(After:=d)\nws.Name = "Mid"\nx = Sheets(1).Name',
     {}, "mid", ["first", "sheet1", "data", "mid"]),
    ("Sheets.Add(...).Name and Worksheets.Add.Name name the new sheet",
     'Sheets.Add(After:=Sheets(Sheets.Count)).Name = "Last"\nWorksheets.Add(Sheets(1)).Name = "Top"', {}, "top",
     ["top", "sheet1", "data", "last"]),
    ("ActiveSheet.Name renames", 'ActiveSheet.Name = "Summary"\nx = Worksheets(1).Name', {}, "summary",
     ["summary", "data"]),
    ("renaming in another letter case", 'Sheets("data").Name = "DATA"\nx = Sheets(2).Name', {}, "sheet1",
     ["sheet1", "data"]),
    ("a sheet variable follows its sheet", 'Set ws = Worksheets("Data")\nws.Activate\nws.Cells(1, 1).Value = ws.Name',
     {"data": {(1, 1): "Data"}}, "data", ["sheet1", "data"]),
    ("With Sheets: only the dotted lines go there",
     'With Sheets("Data")\n .Range("A1").Value = "dotted"\n Range("D1").Value = "bare"\n .Cells(2, 1).Value = .Name\nEnd With',
     {"data": {(1, 1): "dotted", (2, 1): "Data"}}, "sheet1", ["sheet1", "data"]),
    ("deleting the active sheet activates its neighbour", 'Sheets("Data").Activate\nActiveSheet.Delete', {},
     "sheet1", ["sheet1"]),
    ("ActiveCell is A1 until a range is selected",
     'ActiveCell.Value = "a1"\nRange("C3").Select\nActiveCell.Value = "c3"\nSelection.Offset(1, 0).Value = "c4"',
     {"sheet1": {(1, 1): "a1", (3, 3): "c3", (4, 3): "c4"}}, "sheet1", ["sheet1", "data"]),
    ("For Each over the sheets", 'For Each ws In Worksheets\n ws.Range("Z1").Value = ws.Index\nNext',
     {"data": {(1, 26): 2}}, "sheet1", ["sheet1", "data"]),
]


@pytest.mark.parametrize("name, body, cells, active, names", SHEETS, ids=lambda v: v if isinstance(v, str) else "")
def test_sheets_do_what_the_macro_says(name, body, cells, active, names):
    vm = run(sub(body), vm=book())
    assert vm.active_sheet() == active
    assert vm.sheet_names() == names
    for key, want in cells.items():
        got = vm.get_sheet(key)
        assert all(same(got.get(pos), v) for pos, v in want.items()), got


RENAMES = [
    ('Sheets(1).Name = "a/b"', "Sheet name 'a/b' may not contain any of [ ] : * ? / \\"),
    ('ActiveSheet.Name = ""', "Sheet name '' must be 1 to 31 characters long"),
    (f'ActiveSheet.Name = "{"x" * 32}"', f"Sheet name '{'x' * 32}' must be 1 to 31 characters long"),
    ('Sheets(1).Name = "DATA"', "Sheet name 'DATA' is already taken by another sheet"),
    ('Sheets("Data").Delete\nActiveSheet.Delete', "Cannot delete the only sheet of the workbook"),
    ("ActiveWindow.Zoom = 80", "Application member 'activewindow' is not supported"),
    ('Set ws = ActiveSheet\nws.Tab.Color = 5', "Worksheet member 'tab' is not supported"),
]


@pytest.mark.parametrize("body, message", RENAMES)
def test_bad_names_and_unmodeled_members_fail(body, message):
    vm = book()
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)


# Members that change cells or sheets, which the interpreter does not model:
# each fails naming itself and leaves the workbook as it was.
UNMODELED_MEMBERS = [
    ('Range("A2:A3").Cut Destination:=Range("D1")', "Range member 'cut' is not supported"),
    ('Range("A1:A3").FillDown', "Range member 'filldown' is not supported"),
    ('Range("A1:B1").FillRight', "Range member 'fillright' is not supported"),
    ('Range("B2").AutoFill Destination:=Range("B2:B5")', "Range member 'autofill' is not supported"),
    ('Range("C1").FormulaR1C1 = "=R1C2"', "Range member 'formular1c1' is not supported"),
    ('Range("C1").Formula2 = "=B1"', "Range member 'formula2' is not supported"),
    ('Range("A1:A3").Replace What:="pen", Replacement:="pin"', "Range member 'replace' is not supported"),
    ('Range("A1:B3").RemoveDuplicates Columns:=1, Header:=xlYes', "Range member 'removeduplicates' is not supported"),
    ('Range("A1:A3").TextToColumns Destination:=Range("D1"), Comma:=True',
     "Range member 'texttocolumns' is not supported"),
    ('Sheets("Data").Move Before:=Sheets(1)', "Worksheet member 'move' is not supported"),
    ('Sheets("Data").Copy After:=Sheets(2)', "Worksheet member 'copy' is not supported"),
    ('ThisWorkbook.Worksheets("Data").Move Before:=Sheets(1)', "Worksheet member 'move' is not supported"),
    # Any other member of a range, a sheet, the sheets and the application.
    ('Range("A1").Frobnicate 1', "Range member 'frobnicate' is not supported"),
    ('Range("A1").Merge', "Range member 'merge' is not supported"),
    ('Range("A1").EntireRow.Hidden = True', "Range member 'hidden' is not supported"),
    ('Cells(1, 1).Cut', "Range member 'cut' is not supported"),
    ('With Range("A1:A3")\n .FillDown\nEnd With', "Range member 'filldown' is not supported"),
    ('Sheets("Data").Visible = False', "Worksheet member 'visible' is not supported"),
    ('ActiveSheet.Frobnicate', "Worksheet member 'frobnicate' is not supported"),
    ('Worksheets(2).Frobnicate = 2', "Worksheet member 'frobnicate' is not supported"),
    ('ActiveSheet.Range("A1").Cut Destination:=Range("D1")', "Range member 'cut' is not supported"),
    ('Sheets.Frobnicate', "Sheets member 'frobnicate' is not supported"),
    ('Worksheets.Move After:=Sheets(2)', "Sheets member 'move' is not supported"),
    ('Application.Iteration = True', "Application member 'iteration' is not supported"),
    ('Application.Goto Range("C3")', "Application member 'goto' is not supported"),
    ('Application.Frobnicate', "Application member 'frobnicate' is not supported"),
]


@pytest.mark.parametrize("body, message", UNMODELED_MEMBERS)
def test_a_member_that_would_change_cells_or_sheets_fails_and_changes_nothing(body, message):
    vm = book()
    before = {name: vm.get_sheet(name) for name in vm.sheet_names()}
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert {name: vm.get_sheet(name) for name in vm.sheet_names()} == before
    assert vm.active_sheet() == "sheet1"


WITH_RANGE_MEMBERS = [
    ("Resize", 'With Range("D2")\n .Resize(2, 1).Value = 7\nEnd With', {(2, 4): 7, (3, 4): 7}),
    ("Select", 'With Range("D2")\n .Select\nEnd With\nActiveCell.Value = "here"', {(2, 4): "here"}),
]


@pytest.mark.parametrize("name, body, cells", WITH_RANGE_MEMBERS, ids=[r[0] for r in WITH_RANGE_MEMBERS])
def test_a_with_range_block_runs_every_member_of_its_range(name, body, cells):
    got = run(sub(body), vm=book()).cells()
    assert {pos: got[pos] for pos in cells} == cells


# Formatting, the screen and printing change nothing a macro, a formula or a
# saved file reads: passed over with a warning (Application settings quietly).
PASSED_OVER = [
    ('Range("A1").Font.Bold = True', 1), ('Range("A1:B3").NumberFormat = "0.00"', 1),
    ('Range("A1").Offset(1, 0).Interior.Color = 255', 1), ('Columns("A:B").AutoFit', 1),
    ('Range("A1").EntireRow.AutoFit', 1), ('With Range("A1:B3")\n .Borders.LineStyle = 1\nEnd With', 1),
    ('With Sheets("Data")\n .Range("A1").Font.Italic = True\nEnd With', 1), ('ActiveSheet.PrintOut', 1),
    ('Sheets("Data").PageSetup.Orientation = 2', 1), ('Sheets.PrintPreview', 1),
    ('Application.ScreenUpdating = False\nApplication.DisplayAlerts = False\nApplication.EnableEvents = False', 0),
]


@pytest.mark.parametrize("body, warned", PASSED_OVER)
def test_formatting_the_screen_and_printing_are_passed_over(body, warned):
    vm = book()
    before = {name: vm.get_sheet(name) for name in vm.sheet_names()}
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        run(sub(body), vm=vm)
    assert [w.category for w in caught] == [morvane.SkippedStatementWarning] * warned
    assert {name: vm.get_sheet(name) for name in vm.sheet_names()} == before


# ---------------------------------------------------------------- Range variables

RANGE_VARIABLES = [
    ("reads", 'Set r = Range("A1:B3")\nn = r.Count\nrows = r.Rows.Count\ncols = r.Columns.Count\n'
     'a = r.Address\nrw = r.Row\ncl = r.Column\nt = r.Cells(2, 2).Text',
     {"n": 6, "rows": 3, "cols": 2, "a": "$A$1:$B$3", "rw": 1, "cl": 1, "t": "3"}, {}),
    ("a loop to r.Count runs", 'Set r = Range("B2:B3")\ns = 0\nFor i = 1 To r.Count\n s = s + r.Cells(i, 1).Value\nNext',
     {"s": 8}, {}),
    ("Offset, ClearContents, Name", 'Set r = Range("B2:B3")\nr.Offset(0, 1).Value = 9\nr.ClearContents\n'
     'r.Name = "Qty"\nx = Range("Qty").Count', {"x": 2}, {(1, 1): "Item", (1, 2): "Qty", (2, 1): "pen", (3, 1): "ink",
                                                     (2, 3): 9, (3, 3): 9}),
    ("r = x writes the cells", 'Set r = Range("C1:C2")\nr = 42', {"r": MISSING}, {(1, 3): 42, (2, 3): 42}),
    ("Set r = Nothing empties r", 'Set r = Range("A1")\nSet r = Nothing\nr = 5', {"r": 5}, {}),
    ("End finds the last row", 'Set r = Range("A1").End(xlDown)\nn = r.Row\nm = Cells(Rows.Count, 2).End(xlUp).Row',
     {"n": 3, "m": 3}, {}),
    ("Copy to a destination", 'Set r = Range("A2:B3")\nr.Copy Destination:=Range("D1")', {},
     {(1, 4): "pen", (1, 5): 3, (2, 4): "ink", (2, 5): 5}),
]


def run_and_check(body, variables, cells):
    """Runs `body` on the book and checks the variables and the cells it leaves."""
    vm = run(sub(body), vm=book())
    check(vm, variables)
    got = vm.cells()
    assert all(same(got.get(pos), v) for pos, v in cells.items()), got


@pytest.mark.parametrize("name, body, variables, cells", RANGE_VARIABLES, ids=lambda v: v if isinstance(v, str) else "")
def test_a_range_variable_is_a_range(name, body, variables, cells):
    run_and_check(body, variables, cells)


# ---------------------------------------------------------------- For Each walks cells

FOR_EACH = [
    ("sums and writes beside each cell",
     'total = 0\nFor Each c In Range("B2:B3")\n total = total + c.Value\n c.Offset(0, 1).Value = c.Value * 2\nNext',
     {"total": 8}, {(2, 3): 6, (3, 3): 10}),
    ("over a Range variable, with Row, Column and Address",
     'Set r = Range("A2:A3")\ns = ""\nFor Each c In r\n s = s & c.Address & "=" & c & ";"\n c.Value = c.Row * 10 + c.Column\nNext',
     {"s": "$A$2=pen;$A$3=ink;"}, {(2, 1): 21, (3, 1): 31}),
    ("over a Union, area after area",
     'n = 0\nFor Each c In Union(Range("A1"), Range("B2:B3"))\n n = n + 1\n c.Formula = "=1+" & n\nNext',
     {"n": 3}, {(1, 1): 2, (2, 2): 3, (3, 2): 4}),
    ("over a defined name", 'Range("B2:B3").Name = "q"\nFor Each c In Range("q")\n c.Value = c.Value + 1\nNext', {},
     {(2, 2): 4, (3, 2): 6}),
]


@pytest.mark.parametrize("name, body, variables, cells", FOR_EACH, ids=lambda v: v if isinstance(v, str) else "")
def test_for_each_walks_cells(name, body, variables, cells):
    run_and_check(body, variables, cells)


# ---------------------------------------------------------------- arrays, addresses, edges, protection, sort

WRITES = [
    ("an array fills a row, #N/A past its end",
     'Dim a(2)\na(0) = 1\na(1) = 2\na(2) = 3\nRange("A1:D1").Value = a', {(1, 1): 1, (1, 2): 2, (1, 3): 3,
                                                                         (1, 4): morvane.ExcelError("#N/A")}),
    ("a range read written back", 'Range("A1:A2").Value = 7\nRange("B1:B2").Value = Range("A1:A2").Value',
     {(1, 1): 7, (1, 2): 7, (2, 1): 7, (2, 2): 7}),
    ("a record as its text", 'Dim p As Pt\np.X = 1\nRange("A1").Value = p', {(1, 1): "{x: 1}"}),
    ("a reversed address is put in order", 'Range("E2:D1").Value = 8', {(1, 4): 8, (1, 5): 8, (2, 4): 8, (2, 5): 8}),
    ("a formula through .Value", 'Range("A1:A2").Value = 2\nCells(3, 1).Value = "=SUM(A1:A2)"',
     {(1, 1): 2, (2, 1): 2, (3, 1): 4}),
    ("a plain text through .Formula", 'Range("A1").Formula = "hello"\nRange("A2").Formula = "12"',
     {(1, 1): "hello", (2, 1): 12}),
]


@pytest.mark.parametrize("name, body, cells", WRITES, ids=lambda v: v if isinstance(v, str) else "")
def test_writes_enter_what_a_spreadsheet_enters(name, body, cells):
    vm = run(f"Type Pt\n X As Long\nEnd Type\n{sub(body)}")
    assert same(vm.cells(), cells), vm.cells()


EDGES = [
    ('x = Range("A1").Offset(-1, 0).Value', "RangeOffsetRead: invalid address 'A1'"),
    ('Range("A1").Offset(1048576, 0).Value = 1', "RangeOffsetWrite: invalid address 'A1'"),
    ("Cells(1048577, 1).Value = 1", "Cells: the range would lie off the sheet (Error 1004)"),
    ("Sheets.Add Before:=Sheets(1), After:=Sheets(1)", "Sheets.Add: Before and After cannot both be given (Error 1004)"),
    ("Sheets.Add Count:=2", "Sheets.Add: adding 2 sheets at once is not supported"),
    ("Sheets.Add After:=Sheets(5)", "Subscript out of range: there is no sheet number 5"),
    ('x = Range("A1").Offset(RowOffset:=1).Value', "Range member 'offset': named arguments are not supported"),
    ("r = 1048577\nx = Cells(r, 1).Value", "Cells: the range would lie off the sheet (Error 1004)"),
    ("c = 16384.5 + 0.5\nCells(1, c).Value = 1", "Cells: the range would lie off the sheet (Error 1004)"),
    ('Sheets("Sheet1").Cells(1, 16385).Value = 1', "Cells: the range would lie off the sheet (Error 1004)"),
    ('Set r = Range("A1")\nx = r.Offset(0, -1).Value', "Offset: the range would lie off the sheet (Error 1004)"),
    ('ActiveSheet.Protect "secret"\nActiveSheet.Unprotect "guess"',
     "Unprotect: the password does not match the one sheet 'Sheet1' was protected with (Error 1004)"),
    ('ActiveSheet.Protect Password:="secret"\nActiveSheet.Unprotect\nRange("A1").Value = 1',
     "Unprotect: the password does not match the one sheet 'Sheet1' was protected with (Error 1004)"),
]


@pytest.mark.parametrize("body, message", EDGES)
def test_edges_and_passwords_fail(body, message):
    vm = book()
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert vm.get_cell(1, 1) == "Item"


def test_the_right_password_unprotects():
    vm = run(sub('ActiveSheet.Protect "secret"\nActiveSheet.Unprotect "secret"\nRange("A1").Value = 1'), vm=book())
    assert vm.get_cell(1, 1) == 1


SORTS = [
    ("a header stays on top", 'Range("A1:B4").Sort Key1:=Range("B1"), Order1:=xlDescending, Header:=xlYes',
     ["Item", "ink", "pen", "blank"]),
    ("blanks last ascending", 'Range("A2:B4").Sort Key1:=Range("B2")', ["Item", "pen", "ink", "blank"]),
    ("blanks last descending", 'Range("A2:B4").Sort Key1:=Range("B2"), Order1:=xlDescending',
     ["Item", "ink", "pen", "blank"]),
    ("through a Range variable", 'Set r = Range("A1:B4")\nr.Sort Key1:=Range("B1"), Header:=xlYes',
     ["Item", "pen", "ink", "blank"]),
]


@pytest.mark.parametrize("name, body, column", SORTS, ids=lambda v: v if isinstance(v, str) else "")
def test_sort_keeps_the_header_and_puts_blanks_last(name, body, column):
    vm = book()
    vm.set_cell(4, 1, "blank")
    run(sub(body), vm=vm)
    assert [vm.get_cell(r, 1) for r in range(1, 5)] == column


# A1:B6: a header over rows that tie in column A; Sort reads every form of
# its arguments: (macro, column B after, top to bottom).
SORT_TABLE = {(1, 1): "name", (1, 2): "v", (2, 1): "c", (2, 2): 1, (3, 1): "a", (3, 2): 3, (4, 1): "b", (4, 2): 2,
              (5, 1): "a", (5, 2): 4, (6, 1): "c", (6, 2): 6}
SORT_FORMS = [
    ("Order1 as the number 2", 'Range("A1:B6").Sort Key1:=Range("B1"), Order1:=2, Header:=xlYes', [6, 4, 3, 2, 1]),
    ("a key through Cells", 'Range("A1:B6").Sort Key1:=Cells(1, 2), Header:=xlYes', [1, 2, 3, 4, 6]),
    ("a key in a Range variable", 'Set k = Range("B1")\nRange("A1:B6").Sort Key1:=k, Order1:=xlDescending, '
     'Header:=xlYes', [6, 4, 3, 2, 1]),
    ("a key on the sheet, named through it", 'ActiveSheet.Range("A1:B6").Sort Key1:=ActiveSheet.Range("B2"), '
     'Header:=xlYes', [1, 2, 3, 4, 6]),
    ("positional key and order", 'Range("A1:B6").Sort Range("B1"), xlDescending, Header:=xlYes', [6, 4, 3, 2, 1]),
    ("positional up to Header", 'Range("A1:B6").Sort Range("B1"), 2, , , , , , 1', [6, 4, 3, 2, 1]),
    ("Key2 orders the ties of Key1", 'Range("A1:B6").Sort Key1:=Range("A1"), Key2:=Range("B1"), '
     'Order2:=xlDescending, Header:=xlYes', [4, 3, 2, 6, 1]),
    ("Key2 and Key3 where Key1 is a blank column", 'Range("A1:C6").Sort Key1:=Range("C1"), Key2:=Range("A1"), Order2:=xlDescending, '
     'Key3:=Range("B1"), Order3:=xlAscending, Header:=xlYes', [1, 6, 2, 3, 4]),
    ("an order in a variable", 'o = xlDescending\nRange("A1:B6").Sort Key1:=Range("B1"), Order1:=o, Header:=xlYes',
     [6, 4, 3, 2, 1]),
    ("Header:=xlNo sorts the header row too", 'Range("A1:B6").Sort Key1:=Range("B1"), Header:=xlNo',
     [1, 2, 3, 4, 6, "v"]),
    ("Header:=xlGuess sees a header over numbers", 'Range("A1:B6").Sort Key1:=Range("B1"), Header:=xlGuess',
     [1, 2, 3, 4, 6]),
    ("what a recorded macro writes", 'Range("A1:B6").Sort Key1:=Range("B2"), Order1:=xlAscending, Header:=xlGuess, '
     'OrderCustom:=1, MatchCase:=False, Orientation:=xlTopToBottom, DataOption1:=xlSortNormal', [1, 2, 3, 4, 6]),
]


@pytest.mark.parametrize("name, body, column", SORT_FORMS, ids=[r[0] for r in SORT_FORMS])
def test_sort_reads_every_form_of_its_arguments(name, body, column):
    vm = sheet(SORT_TABLE)
    run(sub(body), vm=vm)
    top = 1 if len(column) == 6 else 2
    assert [vm.get_cell(r, 2) for r in range(top, 7)] == column
    # The rows move whole: each name stays beside its value.
    pairs = {(vm.get_cell(r, 1), vm.get_cell(r, 2)) for r in range(1, 7)}
    assert pairs == {(SORT_TABLE[(r, 1)], SORT_TABLE[(r, 2)]) for r in range(1, 7)}


SORT_REFUSALS = [
    ('Range("A1:B6").Sort Key1:=Range("B1"), MatchCase:=True', "Sort: MatchCase:=True is not supported"),
    ('Range("A1:B6").Sort Key1:=Range("B1"), Orientation:=xlLeftToRight', "Sort: Orientation:=2 is not supported"),
    ('Range("A1:B6").Sort Key1:=Range("B1"), DataOption1:=xlSortTextAsNumbers',
     "Sort: DataOption1:=1 is not supported"),
    ('Range("A1:B6").Sort Key4:=Range("B1")', "Sort: there is no argument 'key4'"),
    ('Range("A1:B6").Sort Key1:=Range("B1"), Order1:=3', "Sort: Order1 must be xlAscending or xlDescending, not 3"),
    ('Range("A1:B6").Sort Key1:=Range("B1"), Key2:=Range("A1"), Order2:="up"',
     "Sort: Order2 must be xlAscending or xlDescending, not up"),
    ('Range("A1:B6").Sort Key1:=Range("B1"), Header:=True + 4', "Sort: Header must be xlYes, xlNo or xlGuess, not 5"),
    ('Range("A1:A6").Sort Key1:=Range("A1"), Header:=xlGuess',
     "Sort: Header:=xlGuess cannot tell whether row 1 is a header; give Header:=xlYes or Header:=xlNo"),
    ('Range("A1:B6").Sort Key1:=Sheets("Data").Range("B1")', "Sort: Key1 is not on the sheet of the range it sorts"),
]


@pytest.mark.parametrize("body, message", SORT_REFUSALS)
def test_sort_refuses_what_it_does_not_model_and_sorts_nothing(body, message):
    vm = with_sheets("Data", vm=sheet(SORT_TABLE))
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(sub(body), vm=vm)
    assert vm.cells() == SORT_TABLE


# ---------------------------------------------------------------- end to end

REPORT = """
Sub Report()
    Dim ws As Worksheet
    Set ws = Sheets.Add
    ws.Name = "Report"
    ws.Range("A1").Value = "Item"
    ws.Range("B1").Value = "Amount"
    Dim i As Long
    For i = 1 To 3
        ws.Cells(i + 1, 1).Value = "Line " & i
        ws.Cells(i + 1, 2).Value = i * 100
    Next i
    ws.Range("A5").Value = "Total"
    ws.Range("B5").Formula = "=SUM(B2:B4)"
    Dim c
    For Each c In ws.Range("B2:B4")
        c.Offset(0, 1).Value = c.Value / ws.Range("B5").Value
    Next c
    Sheets("Sheet1").Name = "Notes"
    Worksheets("Notes").Range("A1").Value = "see Report"
End Sub
"""


def test_a_report_saved_and_read_back_with_openpyxl(tmp_path):
    vm = morvane.Vm()
    vm.run(REPORT, "Report")
    assert vm.sheet_names() == ["notes", "report"] and vm.active_sheet() == "report"
    path = tmp_path / "report.xlsx"
    vm.save_workbook(str(path))
    wb = openpyxl.load_workbook(path)
    assert wb.sheetnames == ["Notes", "Report"]
    ws = wb["Report"]
    assert [ws.cell(r, 1).value for r in range(1, 6)] == ["Item", "Line 1", "Line 2", "Line 3", "Total"]
    assert [ws.cell(r, 2).value for r in range(1, 6)] == ["Amount", 100, 200, 300, 600]
    assert ws["C2"].value == pytest.approx(1 / 6) and ws["C4"].value == pytest.approx(0.5)
    assert wb["Notes"]["A1"].value == "see Report"
    # Loaded again, the workbook holds exactly those sheets, in that order.
    again = morvane.load_workbook(str(path))
    assert again.sheet_names() == ["notes", "report"] and again.active_sheet() == "notes"
    assert again.get_sheet("Report")[(5, 2)] == 600


FILLS = [
    ("a formula over a column is filled down", 'Range("A1:A3").Value = 1\nRange("A2").Value = 2\nRange("A3").Value = 3\n'
     'Range("B1:B3").Formula = "=A1*2"', {(1, 2): 2, (2, 2): 4, (3, 2): 6}),
    ("across and down, $ parts stay", 'Range("A1:B2").Value = 1\nRange("B2").Value = 5\nRange("C1:D2").Formula = "=$A$1+A1"',
     {(1, 3): 2, (1, 4): 2, (2, 3): 2, (2, 4): 6}),
    ("a reference moved off the sheet is #REF!", 'Range("A1:A2").Formula = "=A1048576+1"',
     {(1, 1): 1, (2, 1): morvane.ExcelError("#REF!")}),
]


@pytest.mark.parametrize("name, body, cells", FILLS, ids=lambda v: v if isinstance(v, str) else "")
def test_a_formula_written_to_a_range_is_filled(name, body, cells):
    vm = run(sub(body))
    got = vm.cells()
    assert all(same(got.get(pos), v) for pos, v in cells.items()), got
