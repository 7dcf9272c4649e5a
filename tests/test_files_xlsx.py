"""Reading .xlsx files written by other programs and by hand, and writing
.xlsx files that other programs read back cell for cell."""
import datetime
import math
import os
import re
import zipfile

import openpyxl
import pandas as pd
import pytest
import xlsxwriter

import morvane
from morvane import ExcelError

from filehelp import PKG_REL, REL, load_cells, sheet_xml, write_zip, xlsx_parts
from vmhelp import same



# ---------------------------------------------------------------- files written by other programs

def test_reads_openpyxl_cell_for_cell(tmp_path):
    path = tmp_path / "openpyxl.xlsx"
    wb = openpyxl.Workbook()
    summary = wb.active
    summary.title = "Summary"
    rows = [
        [1, 2.5, "text", True],
        [-7, 1e-300, "  spaced  ", False],
        [2**53 + 1, -0.1, "ünïcødé ✓", None],
        [datetime.date(2023, 3, 15), 9223372036854775807, "a&b<c>\"'", "=1+1"],
    ]
    for r in rows:
        summary.append(r)
    data = wb.create_sheet("Data")
    data["C5"] = "lone"
    data["AA100"] = 42
    wb.create_sheet("Empty")
    wb.save(path)

    got = load_cells(path)
    want_summary = {(1, 1): 1, (1, 2): 2.5, (1, 3): "text", (1, 4): True,
                    (2, 1): -7, (2, 2): 1e-300, (2, 3): "  spaced  ", (2, 4): False,
                    (3, 1): 2**53, (3, 2): -0.1, (3, 3): "ünïcødé ✓",
                    (4, 1): datetime.date(2023, 3, 15), (4, 2): 2.0**63, (4, 3): "a&b<c>\"'"}
    # openpyxl writes big integers through float (2^53 + 1 as 9007199254740992,
    # 2^63 - 1 as 9.223372036854776e+18, which is 2^63 and stays a float); the
    # formula has no cached value.
    assert same(got["summary"], want_summary)
    assert got["data"] == {(5, 3): "lone", (100, 27): 42}
    assert got["empty"] == {}
    assert "sheet1" not in got  # the file's sheets and nothing else


def test_reads_xlsxwriter_both_modes_cell_for_cell(tmp_path):
    for constant_memory in (False, True):  # constant memory writes inline strings
        path = tmp_path / f"xw{constant_memory}.xlsx"
        wb = xlsxwriter.Workbook(str(path), {"constant_memory": constant_memory})
        ws = wb.add_worksheet("Numbers")
        ws.write_number(0, 0, 3)
        ws.write_number(0, 1, 0.1)
        ws.write_string(0, 2, "shared")
        ws.write_string(1, 2, "shared")
        ws.write_boolean(1, 0, True)
        ws.write_formula(1, 1, "=A1*2", None, 6)
        ws.write_formula(2, 0, '="x"&"y"', None, "xy")
        ws.write_formula(2, 1, "=1/0", None, "#DIV/0!")
        ws.write_datetime(3, 0, datetime.datetime(2023, 3, 15, 12), wb.add_format({"num_format": "yyyy-mm-dd"}))
        ws.write_string(4, 3, " keep\nlines ")
        wb.add_worksheet("Other").write(0, 0, "o")
        wb.close()
        got = load_cells(path)
        assert same(got["numbers"], {(1, 1): 3, (1, 2): 0.1, (1, 3): "shared", (2, 3): "shared", (2, 1): True,
                                     (2, 2): 6, (3, 1): "xy", (3, 2): ExcelError("#DIV/0!"),
                                     (4, 1): datetime.datetime(2023, 3, 15, 12),
                                     (5, 4): " keep\nlines "}), constant_memory
        assert got["other"] == {(1, 1): "o"}


# Number cells by their format: built-in formats (openpyxl writes a built-in
# format's code as its id) and custom ones, and formats that show no date.
DATE_CELLS = [
    ("mm-dd-yy", 45296, datetime.date(2024, 1, 5)),                   # built-in 14
    ("d-mmm-yy", 45296, datetime.date(2024, 1, 5)),                   # built-in 15
    ("m/d/yy h:mm", 45296.75, datetime.datetime(2024, 1, 5, 18)),     # built-in 22
    ("h:mm", 0.75, datetime.time(18)),                                # built-in 20
    ("mm:ss", 0.5 / 24, datetime.time(0, 30)),                        # built-in 45
    ("dd/mm/yyyy", 45296, datetime.date(2024, 1, 5)),
    ("yyyy-mm-dd hh:mm:ss", 45296.5, datetime.datetime(2024, 1, 5, 12)),
    ("[$-409]mmmm d, yyyy;@", 45296, datetime.date(2024, 1, 5)),
    ("hh:mm:ss AM/PM", 0.25, datetime.time(6)),
    ('0.00 "days"', 45296, 45296),
    ("#,##0", 45296, 45296),
    ("General", 45296.5, 45296.5),
    ("0.00E+00", 45296, 45296),
    ('[Red]\\d0', 45296, 45296),
]


def test_date_cells_load_save_and_reload_as_dates(tmp_path):
    path = tmp_path / "orders.xlsx"
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Orders"
    for r, (fmt, number, _) in enumerate(DATE_CELLS, 1):
        ws.cell(r, 1, number).number_format = fmt
    wb.save(path)

    vm = morvane.load_workbook(path)
    assert same({r: vm.get_cell(r, 1) for r in range(1, len(DATE_CELLS) + 1)},
                {r: want for r, (_, _, want) in enumerate(DATE_CELLS, 1)})
    vm.run(f"""Sub Report()
        Dim r As Long
        For r = 1 To {len(DATE_CELLS)}
            Cells(r, 2).Value = "Due: " & Cells(r, 1).Value
            Cells(r, 3).Value = TypeName(Cells(r, 1).Value)
        Next r
    End Sub""", "Report")
    for r, (fmt, _, want) in enumerate(DATE_CELLS, 1):
        if isinstance(want, datetime.datetime):
            shown = want.strftime("%Y-%m-%d %H:%M:%S")
        elif isinstance(want, (datetime.date, datetime.time)):
            shown = want.isoformat()
        else:
            shown = str(want)
        assert vm.get_cell(r, 2) == f"Due: {shown}", fmt
        assert (vm.get_cell(r, 3) == "Date") == isinstance(want, (datetime.date, datetime.time)), fmt

    saved = tmp_path / "report.xlsx"
    vm.save_workbook(saved)
    ws = openpyxl.load_workbook(saved)["Orders"]
    for r, (fmt, number, want) in enumerate(DATE_CELLS, 1):
        cell = ws.cell(r, 1)
        if isinstance(want, (datetime.date, datetime.time)):
            assert cell.is_date, fmt
            # openpyxl gives a date as a datetime at midnight.
            if type(want) is datetime.date:
                want = datetime.datetime(want.year, want.month, want.day)
            assert cell.value == want, fmt
        else:
            assert not cell.is_date and cell.value == number, fmt
    assert morvane.load_workbook(saved).get_sheet("orders") == vm.get_sheet("orders")


# ---------------------------------------------------------------- hand-made packages

HAND_MADE = [
    ("inline strings",
     [("S", '<row r="1"><c r="A1" t="inlineStr"><is><t>plain</t></is></c>'
            '<c r="B1" t="inlineStr"><is><r><t>ri</t></r><r><t>ch</t></r></is></c>'
            '<c r="C1" t="inlineStr"><is><t/></is></c></row>')],
     None, {"s": {(1, 1): "plain", (1, 2): "rich"}}),
    ("shared strings with runs, phonetic runs and empty entries",
     [("S", '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c>'
            '<c r="D1" t="s"><v>3</v></c><c r="E1" t="s"><v>4</v></c></row>')],
     '<si><r><rPr><b/></rPr><t>bo</t></r><r><t xml:space="preserve">ld </t></r></si>'
     '<si><t>東京</t><rPh sb="0" eb="2"><t>とうきょう</t></rPh></si>'
     '<si/><si><t>after empty</t></si><si><t>&lt;escaped&gt;</t></si>',
     {"s": {(1, 1): "bold ", (1, 2): "東京", (1, 3): "", (1, 4): "after empty", (1, 5): "<escaped>"}}),
    ("rows and cells without r",
     [("S", '<row><c><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c></row>'
            '<row r="7"><c r="B7"><v>4</v></c><c><v>5</v></c></row>')],
     None, {"s": {(1, 1): 1, (1, 2): 2, (2, 1): 3, (7, 2): 4, (7, 3): 5}}),
    ("a sheet named Sheet1 fills the Vm's own sheet",
     [("Sheet1", '<row r="1"><c r="A1"><v>1</v></c></row>'), ("Other", "")],
     None, {"sheet1": {(1, 1): 1}, "other": {}}),
    ("absolute and relative targets name the same part",
     [("Abs", '<row r="1"><c r="A1"><v>1</v></c></row>'), ("Rel", '<row r="2"><c r="B2"><v>2</v></c></row>')],
     None, {"abs": {(1, 1): 1}, "rel": {(2, 2): 2}}),
    ("ISO dates, error cells, and what holds no value",
     [("S", '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>abc</v></c><c r="C1" t="d"><v>2024-01-01</v></c>'
            '<c r="D1"><f>SUM(A1)</f></c><c r="E1" t="e"><v>#N/A</v></c>'
            '<c r="F1" t="d"><v>2021-01-01T10:10:10</v></c><c r="G1" t="d"><v>12:00:00</v></c>'
            '<c r="H1" t="str"><v> spaced </v></c></row>')],
     '<si><t>only</t></si>',
     {"s": {(1, 1): "only", (1, 3): datetime.date(2024, 1, 1), (1, 5): ExcelError("#N/A"),
            (1, 6): datetime.datetime(2021, 1, 1, 10, 10, 10), (1, 7): datetime.time(12), (1, 8): " spaced "}}),
    ("booleans written as words, and the newer error codes",
     [("S", '<row r="1"><c r="A1" t="b"><v>true</v></c><c r="B1" t="b"><v>false</v></c>'
            '<c r="C1" t="b"><v>1</v></c><c r="D1" t="e"><v>#SPILL!</v></c><c r="E1" t="e"><v>#CALC!</v></c>'
            '<c r="F1" t="e"><v>#FIELD!</v></c><c r="G1" t="e"><v>#BLOCKED!</v></c>'
            '<c r="H1" t="e"><v>#GETTING_DATA</v></c></row>')],
     None,
     {"s": {(1, 1): True, (1, 2): False, (1, 3): True, (1, 4): ExcelError("#SPILL!"),
            (1, 5): ExcelError("#CALC!"), (1, 6): ExcelError("#FIELD!"), (1, 7): ExcelError("#BLOCKED!"),
            (1, 8): ExcelError("#GETTING_DATA")}}),
    ("text escapes and line ends",
     [("S", '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>'
            '<c r="C1" t="inlineStr"><is><t>in_x000D_line</t></is></c></row>')],
     '<si><t>a_x000D_\r\nb</t></si><si><t>_x005F_x0041_ and _x0041_</t></si>',
     {"s": {(1, 1): "a\r\nb", (1, 2): "_x0041_ and A", (1, 3): "in\rline"}}),
    ("a sheet element with an end tag",
     [("S", '<row r="1"><c r="A1"><v>1</v></c></row>')],
     None, {"s": {(1, 1): 1}}),
]


@pytest.mark.parametrize("title,sheets,shared,want", HAND_MADE, ids=[c[0] for c in HAND_MADE])
def test_hand_made_packages(tmp_path, title, sheets, shared, want):
    targets = None
    if title.startswith("absolute"):
        targets = ["/xl/worksheets/sheet1.xml", "worksheets/sheet2.xml"]
    parts = xlsx_parts(sheets, shared, targets)
    if title.startswith("a sheet element"):
        parts["xl/workbook.xml"] = parts["xl/workbook.xml"].replace('"rId1"/>', '"rId1"></sheet>')
    path = write_zip(tmp_path / "book.xlsx", parts)
    got = load_cells(path)
    assert same(got, want)


def package_with_workbook_at(path, workbook, shared_strings_name):
    """A package laid out as some writers lay it out: the workbook part not at
    xl/workbook.xml, part names in another letter case, entries named with '\\'."""
    dirname = workbook.rsplit("/", 1)[0]
    base = workbook.rsplit("/", 1)[1]
    parts = {
        "_rels/.rels": f'<Relationships xmlns="{PKG_REL}"><Relationship Id="rId1" '
                       f'Type="{REL}/officeDocument" Target="/{workbook}"/></Relationships>',
        workbook: f'<workbook xmlns:r="{REL}"><workbookPr date1904="1"/><sheets>'
                  '<sheet name="Data" sheetId="1" r:id="rId1"/></sheets></workbook>',
        f"{dirname}/_rels/{base}.rels": f'<Relationships xmlns="{PKG_REL}">'
            f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="Worksheets/Sheet1.xml"/>'
            f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
            f'<Relationship Id="rId3" Type="{REL}/styles" Target="../Styles.xml"/></Relationships>',
        f"{dirname}\\worksheets\\sheet1.xml": sheet_xml(
            '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="1"><v>42369</v></c><c r="C1"><v>42369</v></c>'
            '</row>'),
        f"{dirname}/{shared_strings_name}": '<sst><si><t>found</t></si></sst>',
        "Styles.xml": '<styleSheet><cellXfs><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs></styleSheet>',
    }
    return write_zip(path, parts)


@pytest.mark.parametrize("workbook,shared", [("xl/workbook.xml", "SharedStrings.xml"),
                                             ("xl/workbook.xml", "sharedstrings.xml"),
                                             ("book/Main.xml", "sharedStrings.xml")])
def test_parts_found_through_relationships(tmp_path, workbook, shared):
    path = package_with_workbook_at(tmp_path / "rels.xlsx", workbook, shared)
    # The 1904 date system: the date-formatted cell moves to its 1900 serial (2020-01-01), the plain number stays.
    assert load_cells(path)["data"] == {(1, 1): "found", (1, 2): datetime.date(2020, 1, 1), (1, 3): 42369}


def test_sheets_without_cells_are_passed_over(tmp_path):
    # A chart sheet has a part of another kind, which holds no cells: it is no missing sheet.
    parts = xlsx_parts([("Data", '<row r="1"><c r="A1"><v>1</v></c></row>')])
    parts["xl/workbook.xml"] = parts["xl/workbook.xml"].replace(
        "</sheets>", '<sheet name="Chart" sheetId="2" r:id="rId9"/></sheets>')
    parts["xl/_rels/workbook.xml.rels"] = parts["xl/_rels/workbook.xml.rels"].replace(
        "</Relationships>", f'<Relationship Id="rId9" Type="{REL}/chartsheet" Target="chartsheets/sheet1.xml"/>'
                            "</Relationships>")
    assert load_cells(write_zip(tmp_path / "chart.xlsx", parts)) == {"data": {(1, 1): 1}}


def test_xlsm_reads_like_xlsx_and_ignores_macros(tmp_path):
    parts = xlsx_parts([("Macro", '<row r="1"><c r="A1"><v>5</v></c></row>')])
    parts["xl/vbaProject.bin"] = b"\xd0\xcf\x11\xe0 not read"
    path = write_zip(tmp_path / "Book.XLSM", parts)
    vm = morvane.load_workbook(str(path))
    assert vm.active_sheet() == "macro" and vm.get_cell(1, 1) == 5


def test_stored_entries_are_read(tmp_path):
    path = write_zip(tmp_path / "stored.xlsx", xlsx_parts([("S", '<row r="1"><c r="A1"><v>1</v></c></row>')]),
                     zipfile.ZIP_STORED)
    assert morvane.load_workbook(str(path)).get_cell(1, 1) == 1


PACKAGE_FAILURES = [
    ("no workbook part", lambda p: p.pop("xl/workbook.xml"),
     "xl/workbook.xml: specified file not found in archive"),
    ("no relationships part", lambda p: p.pop("xl/_rels/workbook.xml.rels"),
     "xl/_rels/workbook.xml.rels: specified file not found in archive"),
    ("workbook part not UTF-8", lambda p: p.update({"xl/workbook.xml": b"<workbook>\xff</workbook>"}),
     "stream did not contain valid UTF-8"),
    # A part that is present but unreadable is a failure, not a silent loss.
    ("shared strings not UTF-8", lambda p: p.update({"xl/sharedStrings.xml": b"<sst><si><t>\xc3</t></si></sst>"}),
     "stream did not contain valid UTF-8"),
    ("worksheet not UTF-8", lambda p: p.update({"xl/worksheets/sheet1.xml": b"<worksheet>\xed\xa0\x80</worksheet>"}),
     "stream did not contain valid UTF-8"),
    # A text cell whose string is not there fails instead of vanishing.
    ("shared string out of range", lambda p: p.update({"xl/worksheets/sheet1.xml": sheet_xml(
        '<row r="2"><c r="C2" t="s"><v>1</v></c></row>')}),
     "cell C2 of sheet 'S' refers to shared string 1, but the workbook has 1"),
    ("no shared strings part", lambda p: p.pop("xl/sharedStrings.xml") and p.update(
        {"xl/worksheets/sheet1.xml": sheet_xml('<row r="1"><c r="A1" t="s"><v>0</v></c></row>')}),
     "cell A1 of sheet 'S' refers to shared string 0, but the workbook has 0"),
    # A sheet the workbook lists but the package lacks fails instead of vanishing.
    ("sheet part missing", lambda p: p.pop("xl/worksheets/sheet1.xml"),
     "sheet 'S' is listed, but its part xl/worksheets/sheet1.xml is missing"),
    ("sheet relationship missing",
     lambda p: p.update({"xl/_rels/workbook.xml.rels": f'<Relationships xmlns="{PKG_REL}"/>'}),
     "sheet 'S' is listed, but its part (relationship rId1) is not named"),
    ("a cell past the last row", lambda p: p.update({"xl/worksheets/sheet1.xml": sheet_xml(
        '<row r="1048577"><c r="A1048577"><v>1</v></c></row>')}),
     "cell A1048577 of sheet 'S' lies past the last row (1048576) or column (XFD) of a sheet"),
    ("a cell past the last column", lambda p: p.update({"xl/worksheets/sheet1.xml": sheet_xml(
        '<row r="1"><c r="XFD1"><v>1</v></c><c><v>2</v></c></row>')}),
     "cell XFE1 of sheet 'S' lies past the last row (1048576) or column (XFD) of a sheet"),
]


@pytest.mark.parametrize("title,change,message", PACKAGE_FAILURES, ids=[c[0] for c in PACKAGE_FAILURES])
def test_package_failures(tmp_path, title, change, message):
    parts = xlsx_parts([("S", '<row r="1"><c r="A1"><v>1</v></c></row>')], "<si><t>x</t></si>")
    change(parts)
    path = write_zip(tmp_path / "bad.xlsx", parts)
    with pytest.raises(OSError, match=re.escape(message)) as raised:
        morvane.load_workbook(str(path))
    # Not an error of the operating system: a plain OSError naming the file.
    assert type(raised.value) is OSError and raised.value.errno is None
    assert str(raised.value) == f"{message}: {str(path)!r}"


def test_corrupt_compressed_data_fails(tmp_path):
    path = write_zip(tmp_path / "crc.xlsx", xlsx_parts([("S", '<row r="1"><c r="A1"><v>1</v></c></row>' * 50)]))
    data = bytearray(path.read_bytes())
    with zipfile.ZipFile(path) as z:
        info = z.getinfo("xl/worksheets/sheet1.xml")
    start = info.header_offset + 30 + len(info.filename) + len(info.extra)
    for i in range(start + 5, start + 25):
        data[i] ^= 0x5A
    path.write_bytes(bytes(data))
    with pytest.raises(OSError):
        morvane.load_workbook(str(path))


# ---------------------------------------------------------------- saving

def sample_vm():
    vm = morvane.Vm()
    values = {(1, 1): 1, (1, 2): 2.5, (1, 3): "text", (1, 4): True, (1, 5): False,
              (2, 1): -9223372036854775808, (2, 2): 9223372036854775807, (2, 3): 2**53 + 1,
              (3, 1): " lead", (3, 2): "trail\t", (3, 3): "a&b<c>\"'", (3, 4): "line\nbreak",
              (4, 1): ExcelError("#N/A"), (4, 2): "#N/A", (4, 3): 1e-300, (4, 4): -0.1,
              (5, 28): "AB5", (7, 1): None}
    for (r, c), v in values.items():
        vm.set_cell(r, c, v)
    vm.run("Sub M()\nRange(\"E2\").Value = #3/15/2023#\nEnd Sub", "M")
    vm.set_sheet("Second & <Last>")
    vm.set_cell(1, 1, "shared")
    vm.set_sheet("sheet1")
    vm.set_cell(10, 1, "shared")
    return vm


SAVED = {(1, 1): 1, (1, 2): 2.5, (1, 3): "text", (1, 4): True, (1, 5): False,
         (2, 1): -9223372036854775808, (2, 2): 9223372036854775807, (2, 3): 2**53 + 1,
         (2, 5): datetime.date(2023, 3, 15),
         (3, 1): " lead", (3, 2): "trail\t", (3, 3): "a&b<c>\"'", (3, 4): "line\nbreak",
         (4, 1): ExcelError("#N/A"), (4, 2): "#N/A", (4, 3): 1e-300, (4, 4): -0.1, (5, 28): "AB5",
         (10, 1): "shared"}
# As openpyxl reads them: the date as a date, the error as its literal.
SAVED_OPENPYXL = {**SAVED, (2, 5): datetime.datetime(2023, 3, 15), (4, 1): "#N/A"}


def test_saved_xlsx_reads_back_through_load_workbook(tmp_path):
    path = tmp_path / "out.xlsx"
    sample_vm().save_workbook(str(path))
    got = load_cells(path)
    assert same(got["sheet1"], SAVED)
    assert got["second & <last>"] == {(1, 1): "shared"}


def test_saved_xlsx_reads_back_through_openpyxl(tmp_path):
    path = tmp_path / "out.xlsx"
    sample_vm().save_workbook(str(path))
    wb = openpyxl.load_workbook(path)
    assert wb.sheetnames == ["Sheet1", "Second & <Last>"]  # tab order, names as written
    ws = wb["Sheet1"]
    got = {(c.row, c.column): c.value for row in ws.iter_rows() for c in row if c.value is not None}
    assert same(got, SAVED_OPENPYXL)  # integers up to 64 bits come back exact
    assert ws["A4"].data_type == "e" and ws["E2"].is_date
    assert wb["Second & <Last>"]["A1"].value == "shared"


def test_saved_xlsx_reads_back_through_pandas(tmp_path):
    path = tmp_path / "out.xlsx"
    sample_vm().save_workbook(str(path))
    frames = pd.read_excel(path, sheet_name=None, header=None, engine="openpyxl")
    df = frames["Sheet1"]
    assert df.shape == (10, 28)
    assert df.iat[0, 2] == "text" and df.iat[2, 0] == " lead" and df.iat[2, 1] == "trail\t"
    assert df.iat[0, 1] == 2.5 and df.iat[9, 0] == "shared" and df.iat[4, 27] == "AB5"
    assert frames["Second & <Last>"].iat[0, 0] == "shared"
    calamine = pd.read_excel(path, sheet_name="Sheet1", header=None, engine="calamine")
    assert calamine.iat[2, 0] == " lead" and calamine.iat[2, 3] == "line\nbreak"


def test_saved_package_layout(tmp_path):
    path = tmp_path / "layout.xlsx"
    morvane.Vm().save_workbook(str(path))
    with zipfile.ZipFile(path) as z:
        names = [i.filename for i in z.infolist()]
        assert names == ["[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                         "xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml"]
        for info in z.infolist():
            assert info.date_time == (1980, 1, 1, 0, 0, 0)
            assert info.external_attr >> 16 == 0o100644
            assert info.compress_type == zipfile.ZIP_DEFLATED
        assert 'count="0" uniqueCount="0"' in z.read("xl/sharedStrings.xml").decode()
        assert "<sheetData>\n</sheetData>" in z.read("xl/worksheets/sheet1.xml").decode()
    first = path.read_bytes()
    morvane.Vm().save_workbook(str(path))
    assert path.read_bytes() == first  # the same cells give the same bytes


@pytest.mark.parametrize("name", ["book.xlsm", "BOOK.XLSX", "Book.Xlsm"])
def test_xlsx_and_xlsm_paths_in_any_case_are_written_as_xlsx_packages(tmp_path, name):
    vm = morvane.Vm()
    vm.set_cell(1, 1, 5)
    vm.save_workbook(str(tmp_path / name))
    with zipfile.ZipFile(tmp_path / name) as z:
        assert "xl/workbook.xml" in z.namelist()


def test_save_into_missing_directory_creates_nothing(tmp_path):
    target = tmp_path / "missing" / "out.xlsx"
    with pytest.raises(FileNotFoundError) as raised:
        morvane.Vm().save_workbook(str(target))
    assert (raised.value.errno, raised.value.strerror, raised.value.filename) == (2, os.strerror(2), str(target))
    assert not (tmp_path / "missing").exists()


REFUSED = [
    ("NaN", lambda vm: vm.set_cell(2, 2, math.nan),
     "cannot save cell B2 of sheet 'Sheet1': a workbook file cannot hold the number NaN"),
    ("infinity", lambda vm: vm.set_cell(1, 3, -math.inf),
     "cannot save cell C1 of sheet 'Sheet1': a workbook file cannot hold the number -inf"),
]


@pytest.mark.parametrize("title,change,message", REFUSED, ids=[c[0] for c in REFUSED])
def test_refused_cells_leave_the_old_file(tmp_path, title, change, message):
    path = tmp_path / "keep.xlsx"
    path.write_bytes(b"old contents")
    vm = morvane.Vm()
    vm.set_cell(1, 2, "fine")
    change(vm)
    with pytest.raises(OSError, match=re.escape(message)):
        vm.save_workbook(str(path))
    assert path.read_bytes() == b"old contents"
    assert os.listdir(tmp_path) == ["keep.xlsx"]


def test_failed_rename_leaves_no_temporary_file(tmp_path):
    target = tmp_path / "dir.xlsx"
    target.mkdir()
    with pytest.raises(IsADirectoryError):
        morvane.Vm().save_workbook(str(target))
    assert os.listdir(tmp_path) == ["dir.xlsx"]


def test_saving_over_a_file_keeps_its_mode(tmp_path):
    path = tmp_path / "private.xlsx"
    path.write_bytes(b"old")
    os.chmod(path, 0o600)
    morvane.Vm().save_workbook(path)
    assert os.stat(path).st_mode & 0o7777 == 0o600
    os.chmod(path, 0o755)
    morvane.Vm().save_workbook(path)
    assert os.stat(path).st_mode & 0o7777 == 0o755
    fresh = tmp_path / "fresh.xlsx"
    morvane.Vm().save_workbook(fresh)
    umask = os.umask(0)
    os.umask(umask)
    assert os.stat(fresh).st_mode & 0o7777 == 0o666 & ~umask


def test_saving_through_a_link_keeps_the_link(tmp_path):
    (tmp_path / "real").mkdir()
    real = tmp_path / "real" / "book.xlsx"
    real.write_bytes(b"old")
    link = tmp_path / "link.xlsx"
    link.symlink_to(os.path.join("real", "book.xlsx"))  # relative, as links often are
    chain = tmp_path / "chain.xlsx"
    chain.symlink_to(link)
    vm = morvane.Vm()
    vm.set_cell(1, 1, "through")
    vm.save_workbook(chain)
    assert chain.is_symlink() and link.is_symlink()
    assert morvane.load_workbook(real).get_cell(1, 1) == "through"
    dangling = tmp_path / "dangling.xlsx"
    dangling.symlink_to(tmp_path / "real" / "new.xlsx")
    vm.save_workbook(dangling)
    assert dangling.is_symlink() and morvane.load_workbook(tmp_path / "real" / "new.xlsx").get_cell(1, 1) == "through"
    assert sorted(os.listdir(tmp_path / "real")) == ["book.xlsx", "new.xlsx"]


def test_saved_values_read_back_exactly(tmp_path):
    vm = morvane.Vm()
    values = {(1, 1): 1.7976931348623157e308, (1, 2): 1e21, (1, 3): -2.5e300, (1, 4): 1e20, (1, 5): 2.0**63,
              (2, 1): "x\r\ny", (2, 2): "_x0041_", (2, 3): "_X005f_", (2, 4): "a_x00_b", (2, 5): "\r"}
    for (r, c), v in values.items():
        vm.set_cell(r, c, v)
    path = tmp_path / "exact.xlsx"
    vm.save_workbook(path)
    assert same(load_cells(path)["sheet1"], values)
    ws = openpyxl.load_workbook(path)["Sheet1"]
    # openpyxl reads 1e20's digits as an int, equal to the float; the rest as written.
    assert {(c.row, c.column): c.value for row in ws.iter_rows() for c in row} == values


ERROR_CODES = ["#DIV/0!", "#N/A", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#NULL!",
               "#SPILL!", "#CALC!", "#FIELD!", "#BLOCKED!", "#GETTING_DATA"]


def test_every_error_code_saves_and_reloads(tmp_path):
    vm = morvane.Vm()
    for col, code in enumerate(ERROR_CODES, 1):
        vm.set_cell(1, col, ExcelError(code))
    path = tmp_path / "errors.xlsx"
    vm.save_workbook(path)
    assert load_cells(path)["sheet1"] == {(1, col): ExcelError(code) for col, code in enumerate(ERROR_CODES, 1)}
    ws = openpyxl.load_workbook(path)["Sheet1"]
    assert [(c.data_type, c.value) for c in ws[1]] == [("e", code) for code in ERROR_CODES]


def test_dates_and_errors_as_other_readers_see_them(tmp_path):
    vm = morvane.Vm()
    vm.run('Sub M()\nRange("A1").Value = #3/15/2023#\n'
           'Range("D1").Value = #3/15/2023# + 0.75\nEnd Sub', "M")
    vm.set_cell(1, 2, ExcelError("#DIV/0!"))
    vm.set_cell(1, 3, ExcelError("#N/A"))
    path = tmp_path / "kinds.xlsx"
    vm.save_workbook(path)
    assert vm.get_cell(1, 2) == ExcelError("#DIV/0!")
    ws = openpyxl.load_workbook(path)["Sheet1"]
    assert ws["A1"].value == datetime.datetime(2023, 3, 15) and ws["A1"].is_date
    assert ws["D1"].value == datetime.datetime(2023, 3, 15, 18) and ws["D1"].number_format == "m/d/yy h:mm"
    assert (ws["B1"].data_type, ws["B1"].value) == ("e", "#DIV/0!")
    df = pd.read_excel(path, header=None, engine="openpyxl")
    assert df.iat[0, 0] == pd.Timestamp(2023, 3, 15)
    from python_calamine import CalamineWorkbook
    row = CalamineWorkbook.from_path(str(path)).get_sheet_by_index(0).to_python()[0]
    assert row[0] in (datetime.datetime(2023, 3, 15), datetime.date(2023, 3, 15))
    reloaded = morvane.load_workbook(path)
    assert reloaded.get_cell(1, 2) == ExcelError("#DIV/0!") and reloaded.get_cell(1, 3) == ExcelError("#N/A")


def test_saving_replaces_an_existing_file(tmp_path):
    path = tmp_path / "over.xlsx"
    path.write_bytes(b"x" * 100000)
    vm = morvane.Vm()
    vm.set_cell(1, 1, "new")
    vm.save_workbook(str(path))
    assert morvane.load_workbook(str(path)).get_cell(1, 1) == "new"
    assert os.listdir(tmp_path) == ["over.xlsx"]


@pytest.mark.parametrize("method", ["load", "save"])
def test_path_with_nul_is_refused(tmp_path, method):
    path = str(tmp_path / "a.xlsx") + "\0ignored"
    with pytest.raises(ValueError, match="embedded null byte"):
        if method == "load":
            morvane.load_workbook(path)
        else:
            morvane.Vm().save_workbook(path)
    assert os.listdir(tmp_path) == []


def test_save_workbook_signature_and_arguments():
    vm = morvane.Vm()
    assert vm.save_workbook.__text_signature__ == "($self, path)"
    assert vm.save_workbook.__doc__.startswith("Save all sheets to a workbook file")
    with pytest.raises(TypeError, match=re.escape("save_workbook() argument 'path' must be str or os.PathLike, not int")):
        vm.save_workbook(1)
    methods = [m for m in vars(morvane.Vm) if not m.startswith("__")]
    assert methods[methods.index("get_sheet"):] == ["get_sheet", "save_workbook", "cells_df"]
