"""What the Python surface refuses instead of silently doing something else:
an on_msgbox mode it does not know, a time zone a cell cannot hold, a sheet
name Excel refuses, a sheet that is not there."""
import datetime
import re

import pytest

import morvane
from vmhelp import run_body, sub

from filehelp import write_zip, xlsx_parts

MSGBOX = sub('MsgBox "hi"\nCells(1, 1).Value = 1')

ENTRY_POINTS = {
    "Vm": lambda mode: morvane.Vm(on_msgbox=mode),
    "run_macro": lambda mode: morvane.run_macro(MSGBOX, "Main", on_msgbox=mode),
    # Checked with the other arguments, before the file is looked at.
    "load_workbook": lambda mode: morvane.load_workbook("missing.xlsx", on_msgbox=mode),
}


@pytest.mark.parametrize("mode", ["Error", "ERROR", "raise", "", "skip "])
@pytest.mark.parametrize("entry", list(ENTRY_POINTS))
def test_on_msgbox_other_than_skip_or_error_is_refused(entry, mode):
    with pytest.raises(ValueError, match=re.escape(
            f"{entry}() argument 'on_msgbox' must be \"skip\" or \"error\", not {mode!r}")):
        ENTRY_POINTS[entry](mode)


@pytest.mark.parametrize("entry", ["Vm", "run_macro"])
def test_on_msgbox_skip_and_error(entry):
    if entry == "Vm":
        assert run_body('MsgBox "hi"\nCells(1, 1).Value = 1', on_msgbox="skip").cells() == {(1, 1): 1}
        with pytest.raises(RuntimeError, match="MsgBox: hi"):
            run_body('MsgBox "hi"', on_msgbox="error")
    else:
        assert morvane.run_macro(MSGBOX, "Main", on_msgbox="skip") == {(1, 1): 1}
        with pytest.raises(RuntimeError, match="MsgBox: hi"):
            morvane.run_macro(MSGBOX, "Main", on_msgbox="error")


UTC = datetime.timezone.utc
PLUS_TWO = datetime.timezone(datetime.timedelta(hours=2))


@pytest.mark.parametrize("value,kind", [
    (datetime.datetime(2024, 1, 2, 3, 4, tzinfo=UTC), "datetime"),
    (datetime.datetime(2024, 1, 2, 3, 4, tzinfo=PLUS_TWO), "datetime"),
    (datetime.time(3, 4, tzinfo=UTC), "time"),
])
def test_a_time_zone_is_refused(value, kind):
    vm = morvane.Vm()
    vm.set_cell(1, 1, "before")
    with pytest.raises(ValueError, match=re.escape(
            f"a cell cannot hold a time zone: convert the {kind} to the time to show and set tzinfo to None")):
        vm.set_cell(1, 1, value)
    assert vm.get_cell(1, 1) == "before"
    vm.set_cell(1, 1, value.replace(tzinfo=None))
    assert vm.get_cell(1, 1) == value.replace(tzinfo=None)


# ---------------------------------------------------------------- sheet names

LENGTH = "Sheet name '{}' must be 1 to 31 characters long"
CHARS = "Sheet name '{}' may not contain any of [ ] : * ? / \\"
QUOTE = "Sheet name '{}' may not begin or end with an apostrophe"

BAD_NAMES = [("", LENGTH), ("x" * 32, LENGTH), ("é" * 32, LENGTH), ("a:b", CHARS), ("a\\b", CHARS),
             ("a/b", CHARS), ("why?", CHARS), ("a*", CHARS), ("[x", CHARS), ("x]", CHARS),
             ("'lead", QUOTE), ("trail'", QUOTE), ("'", QUOTE)]
GOOD_NAMES = ["x" * 31, "é" * 31, "it's", "a-b (2) & c.d", "History 1"]


@pytest.mark.parametrize("name,message", BAD_NAMES)
def test_set_sheet_refuses_a_new_name_excel_refuses(name, message):
    vm = morvane.Vm()
    with pytest.raises(ValueError, match=re.escape(message.format(name))):
        vm.set_sheet(name)
    assert vm.sheet_names() == ["sheet1"] and vm.active_sheet() == "sheet1"


@pytest.mark.parametrize("name", GOOD_NAMES)
def test_set_sheet_takes_every_name_excel_takes(name):
    vm = morvane.Vm()
    vm.set_sheet(name)
    assert vm.active_sheet() == name.lower()


@pytest.mark.parametrize("name,message", BAD_NAMES)
@pytest.mark.parametrize("target", ["ActiveSheet", "Sheets.Add"])
def test_a_macro_naming_a_sheet_badly_gets_error_1004(target, name, message):
    quoted = name.replace('"', '""')
    vm = run_body(f'On Error Resume Next\n{target}.Name = "{quoted}"\n'
                  'Sheets(1).Cells(1, 1).Value = Err.Number\nSheets(1).Cells(1, 2).Value = Err.Description')
    assert vm.get_sheet("sheet1")[(1, 1)] == 1004
    assert vm.get_sheet("sheet1")[(1, 2)] == message.format(name)
    with pytest.raises(RuntimeError, match=re.escape(message.format(name))):
        run_body(f'ActiveSheet.Name = "{quoted}"')


@pytest.mark.parametrize("name", GOOD_NAMES)
def test_a_macro_names_a_sheet_as_excel_allows(name):
    vm = run_body(f'Sheets.Add.Name = "{name}"')
    assert vm.active_sheet() == name.lower()


# ---------------------------------------------------------------- a sheet that is not there

def test_a_missing_sheet_names_the_sheets_there_are(tmp_path):
    vm = morvane.Vm()
    vm.set_sheet("Data")
    with pytest.raises(KeyError, match=re.escape("Sheet 'Nope' not found; the sheets are 'sheet1', 'data'")):
        vm.get_sheet("Nope")
    path = write_zip(tmp_path / "two.xlsx", xlsx_parts([("Summary", ""), ("Data", "")]))
    with pytest.raises(ValueError, match=re.escape("Sheet 'nope' not found; the sheets are 'summary', 'data'")):
        morvane.load_workbook(path, sheet="Nope")
