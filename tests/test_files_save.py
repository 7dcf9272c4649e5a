"""What a save writes and refuses: the format chosen by the extension, the
sheet a file opens on, times, control characters, far-away cells, and
targets that are not regular files."""
import datetime
import os
import re
import socket
import stat
import zipfile

import openpyxl
import pandas as pd
import pytest

import morvane

from filehelp import load_cells, write_ods

MACRO_WORKBOOK = "application/vnd.ms-excel.sheet.macroEnabled.main+xml"


@pytest.mark.parametrize("name", ["book.xlsm", "BOOK.XLSM"])
def test_xlsm_is_a_macro_enabled_package_without_macros(tmp_path, name):
    path = tmp_path / name
    vm = morvane.Vm()
    vm.set_cell(1, 1, "kept")
    vm.set_cell(2, 1, 2.5)
    vm.save_workbook(path)
    with zipfile.ZipFile(path) as z:
        types = z.read("[Content_Types].xml").decode()
        assert f'<Override PartName="/xl/workbook.xml" ContentType="{MACRO_WORKBOOK}"/>' in types
        assert not [n for n in z.namelist() if "vba" in n.lower()]
    ws = openpyxl.load_workbook(path).active
    assert (ws["A1"].value, ws["A2"].value) == ("kept", 2.5)
    assert load_cells(path)["sheet1"] == {(1, 1): "kept", (2, 1): 2.5}


def test_xlsx_keeps_the_macro_free_workbook_type(tmp_path):
    path = tmp_path / "Book.XLSX"
    morvane.Vm().save_workbook(path)
    with zipfile.ZipFile(path) as z:
        assert MACRO_WORKBOOK not in z.read("[Content_Types].xml").decode()


@pytest.mark.parametrize("name", ["book.csv", "book.xls", "book", "book.xlsx.tmp", "xlsx"])
def test_other_extensions_are_refused_before_anything_is_written(tmp_path, name):
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    with pytest.raises(ValueError, match=re.escape(
            f"cannot save '{tmp_path / name}': the file name must end in .xlsx, .xlsm or .ods")):
        vm.save_workbook(tmp_path / name)
    assert os.listdir(tmp_path) == []
    (tmp_path / name).write_bytes(b"old")
    with pytest.raises(ValueError):
        vm.save_workbook(str(tmp_path / name))
    assert (tmp_path / name).read_bytes() == b"old"


# ---------------------------------------------------------------- the sheet a file opens on, times of day

def test_xlsx_opens_on_the_sheet_active_at_the_save(tmp_path):
    vm = morvane.Vm()
    vm.set_sheet("Data")
    vm.set_sheet("Report")
    vm.set_sheet("Data")
    path = tmp_path / "active.xlsx"
    vm.save_workbook(path)
    wb = openpyxl.load_workbook(path)
    assert wb.active.title == "Data"
    assert [bool(ws.sheet_view.tabSelected) for ws in wb] == [False, True, False]
    vm.set_sheet("sheet1")
    vm.save_workbook(path)
    assert openpyxl.load_workbook(path).active.title == "Sheet1"


def test_a_time_of_day_alone_is_saved_with_a_time_format(tmp_path):
    vm = morvane.Vm()
    vm.set_cell(1, 1, datetime.time(18, 15))
    vm.set_cell(1, 2, datetime.datetime(2023, 3, 15, 18, 15))
    vm.set_cell(1, 3, datetime.date(2023, 3, 15))
    path = tmp_path / "times.xlsx"
    vm.save_workbook(path)
    ws = openpyxl.load_workbook(path).active
    assert (ws["A1"].value, ws["A1"].number_format) == (datetime.time(18, 15), "h:mm:ss")
    assert (ws["B1"].value, ws["B1"].number_format) == (datetime.datetime(2023, 3, 15, 18, 15), "m/d/yy h:mm")
    assert ws["C1"].value == datetime.datetime(2023, 3, 15) and ws["C1"].number_format == "mm-dd-yy"


# ---------------------------------------------------------------- control characters

CONTROL_TEXTS = ["page\x0cbreak", "\x01", "nul\x00inside", "\x1f_x000C_\x1f", "_x000c_", "non\uffffchar\ufffe"]


def test_control_characters_are_saved_to_xlsx_as_escapes(tmp_path):
    vm = morvane.Vm()
    for col, text in enumerate(CONTROL_TEXTS, 1):
        vm.set_cell(1, col, text)
    path = tmp_path / "controls.xlsx"
    vm.save_workbook(path)
    with zipfile.ZipFile(path) as z:
        strings = z.read("xl/sharedStrings.xml").decode()
    assert "<t>page_x000C_break</t>" in strings and "<t>_x005F_x000c_</t>" in strings
    assert load_cells(path)["sheet1"] == {(1, col): text for col, text in enumerate(CONTROL_TEXTS, 1)}
    from python_calamine import CalamineWorkbook
    # python-calamine reads the control characters back (not U+FFFE and U+FFFF).
    assert CalamineWorkbook.from_path(str(path)).get_sheet_by_index(0).to_python()[0][:5] == CONTROL_TEXTS[:5]


def test_control_characters_are_refused_by_ods_naming_the_cell(tmp_path):
    vm = morvane.Vm()
    vm.set_cell(3, 2, "page\x0cbreak")
    with pytest.raises(OSError, match=re.escape(
            "cannot save cell B3 of sheet 'Sheet1': its text holds a character that XML does not allow")):
        vm.save_workbook(tmp_path / "controls.ods")
    assert os.listdir(tmp_path) == []


# ---------------------------------------------------------------- .ods: fractions of a second, far-away cells

def test_ods_date_times_keep_their_fractions_of_a_second(tmp_path):
    moments = [datetime.datetime(2023, 3, 15, 12, 0, 0, 250000), datetime.datetime(2024, 2, 29, 23, 59, 59, 999999),
               datetime.datetime(2023, 3, 15, 6, 30)]
    vm = morvane.Vm()
    for row, moment in enumerate(moments, 1):
        vm.set_cell(row, 1, moment)
    path = tmp_path / "moments.ods"
    vm.save_workbook(path)
    with zipfile.ZipFile(path) as z:
        content = z.read("content.xml").decode()
    assert 'office:date-value="2023-03-15T12:00:00.25"' in content
    assert 'office:date-value="2024-02-29T23:59:59.999999"' in content
    assert 'office:date-value="2023-03-15T06:30:00"' in content
    df = pd.read_excel(path, header=None, engine="odf")
    assert list(df[0]) == [pd.Timestamp(m) for m in moments]


@pytest.mark.parametrize("far", [(100000, 1), (1048576, 16384), (3, 16384)])
def test_ods_writes_runs_of_empty_rows_and_cells_as_repeats(tmp_path, far):
    vm = morvane.Vm()
    vm.set_cell(1, 1, "first")
    vm.set_cell(*far, "far")
    vm.set_cell(2, 3, None)  # a cell holding nothing adds nothing
    path = tmp_path / "sparse.ods"
    vm.save_workbook(path)
    assert path.stat().st_size < 4000
    with zipfile.ZipFile(path) as z:
        assert z.getinfo("content.xml").file_size < 4000
    assert load_cells(path)["sheet1"] == {(1, 1): "first", far: "far"}


# ---------------------------------------------------------------- targets that are not regular files

def _fifo(path):
    os.mkfifo(path)
    return path


def _socket(path):
    s = socket.socket(socket.AF_UNIX)
    s.bind(str(path))
    s.close()
    return path


def _device(path):
    # A node of its own for the device /dev/full names, so /dev is never at stake.
    try:
        os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 7))
    except PermissionError:
        pytest.skip("making a device node needs privileges")
    return path


@pytest.mark.parametrize("make", [_fifo, _socket, _device], ids=["fifo", "socket", "device"])
@pytest.mark.parametrize("suffix", [".xlsx", ".ods"])
def test_a_save_never_replaces_what_is_not_a_regular_file(tmp_path, make, suffix):
    target = make(tmp_path / ("special" + suffix))
    kind = stat.S_IFMT(os.lstat(target).st_mode)
    link = tmp_path / ("link" + suffix)
    link.symlink_to(target.name)
    for path in (target, link):
        with pytest.raises(OSError, match=re.escape(f"cannot save over '{target}': it is not a regular file")):
            morvane.Vm().save_workbook(path)
    assert stat.S_IFMT(os.lstat(target).st_mode) == kind and link.is_symlink()
    assert sorted(os.listdir(tmp_path)) == sorted([target.name, link.name])


# ---------------------------------------------------------------- sheet names a file brought

@pytest.mark.parametrize("name", ["a:b", "x" * 32, "History"])
def test_a_loaded_sheet_name_excel_refuses_fails_an_xlsx_save_only(tmp_path, name):
    table = ('<table:table table:name="{}"><table:table-row><table:table-cell office:value-type="float" '
             'office:value="1"><text:p>1</text:p></table:table-cell></table:table-row></table:table>')
    source = write_ods(tmp_path / "source.ods", table.format(name))
    vm = morvane.load_workbook(source)
    vm.set_sheet(name)  # there already, so switched to as it is
    with pytest.raises(OSError, match=re.escape(f"cannot save sheet '{name}': spreadsheet programs refuse that "
                                                "sheet name")):
        vm.save_workbook(tmp_path / "out.xlsx")
    if name != "a:b":  # OpenDocument takes long names and History, not a colon
        vm.save_workbook(tmp_path / "out.ods")
        assert load_cells(tmp_path / "out.ods")[name.lower()] == {(1, 1): 1}
