"""Reading OpenDocument spreadsheets written by odfpy and by hand, and
writing .ods files that pandas (through odfpy) and load_workbook read back."""
import datetime
import os
import re
import zipfile

import pandas as pd
import pytest
from odf.office import Annotation
from odf.opendocument import OpenDocumentSpreadsheet
from odf.table import CoveredTableCell, Table, TableCell, TableRow
from odf.text import LineBreak, P, S, Span, Tab

import morvane
from morvane import ExcelError

from filehelp import load_cells, write_ods
from vmhelp import same


def cell(value_type=None, value=None, text=None, **attrs):
    kwargs = dict(attrs)
    if value_type:
        kwargs["valuetype"] = value_type
    if value is not None:
        kwargs["value"] = value
    c = TableCell(**kwargs)
    if text is not None:
        c.addElement(P(text=text))
    return c


def row(*cells, **attrs):
    r = TableRow(**attrs)
    for c in cells:
        r.addElement(c)
    return r


def test_reads_odfpy_cell_for_cell(tmp_path):
    doc = OpenDocumentSpreadsheet()
    data = Table(name="Data")
    rich = TableCell(valuetype="string")
    p = P(text="a")
    p.addElement(S(c=2))
    p.addText("b")
    p.addElement(Tab())
    p.addElement(Span(text="c"))
    p.addElement(LineBreak())
    p.addText("d")
    rich.addElement(p)
    rich.addElement(P(text="second paragraph"))
    noted = TableCell(valuetype="string")
    note = Annotation()
    note.addElement(P(text="a comment"))
    noted.addElement(note)
    noted.addElement(P(text="visible"))
    data.addElement(row(cell("float", 3, "3"), cell("float", 2.5, "2.5"), cell("string", text="text"),
                        cell("boolean", booleanvalue="true", text="TRUE"),
                        cell("boolean", booleanvalue="false", text="FALSE")))
    data.addElement(row(cell("percentage", 0.25, "25%"), cell("currency", 9.99, "$9.99", currency="USD"),
                        cell("date", datevalue="2024-01-01", text="01/01/24"), cell(text="no type"),
                        cell("float", 9007199254740993, "big")))
    data.addElement(row(rich, noted))
    data.addElement(row(cell("float", 7, "7", numbercolumnsrepeated=3), cell(numbercolumnsrepeated=1000),
                        numberrowsrepeated=2))
    data.addElement(row(cell(numbercolumnsrepeated=2), CoveredTableCell(), cell("string", text="after covered")))
    data.addElement(row(cell(numbercolumnsrepeated=16384), numberrowsrepeated=1048000))
    doc.spreadsheet.addElement(data)
    doc.spreadsheet.addElement(Table(name="Empty"))
    doc.save(str(tmp_path / "odfpy.ods"))

    got = load_cells(tmp_path / "odfpy.ods")
    want = {(1, 1): 3, (1, 2): 2.5, (1, 3): "text", (1, 4): True, (1, 5): False,
            (2, 1): 0.25, (2, 2): 9.99, (2, 3): datetime.date(2024, 1, 1), (2, 4): "no type",
            (2, 5): 9007199254740993,
            (3, 1): "a  b\tc\nd\nsecond paragraph", (3, 2): "visible",
            (4, 1): 7, (4, 2): 7, (4, 3): 7, (5, 1): 7, (5, 2): 7, (5, 3): 7,
            (6, 4): "after covered"}
    assert same(got["data"], want)
    assert got["empty"] == {}


HAND_MADE = [
    ("a row repeated twice, then another",
     '<table:table table:name="R"><table:table-row table:number-rows-repeated="2"><table:table-cell '
     'office:value-type="float" office:value="1"/></table:table-row><table:table-row><table:table-cell '
     'office:value-type="float" office:value="3"/></table:table-row></table:table>',
     {"r": {(1, 1): 1, (2, 1): 1, (3, 1): 3}}),
    ("unnamed tables are both sheet1",
     '<table:table><table:table-row><table:table-cell office:value-type="float" office:value="1"/>'
     '</table:table-row></table:table><table:table><table:table-row><table:table-cell/><table:table-cell '
     'office:value-type="float" office:value="2"/></table:table-row></table:table>',
     {"sheet1": {(1, 1): 1, (1, 2): 2}}),
    ("a float cell that is not a number stores nothing",
     '<table:table table:name="N"><table:table-row><table:table-cell office:value-type="float" '
     'office:value="abc"/><table:table-cell office:value-type="boolean" office:boolean-value="TRUE"/>'
     '</table:table-row></table:table>',
     {"n": {(1, 2): False}}),
    ("the last cell without an end tag is lost",
     '<table:table table:name="T"><table:table-row><table:table-cell office:value-type="string">'
     '<text:p>kept</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>lost',
     {"t": {(1, 1): "kept"}}),
    ("a cell left open before the next keeps its value, not its text",
     '<table:table table:name="O"><table:table-row><table:table-cell office:value-type="string">'
     '<text:p>dropped</text:p><table:table-cell office:value-type="float" office:value="2">'
     '<text:p>2</text:p></table:table-cell></table:table-row></table:table>',
     {"o": {(1, 1): "", (1, 2): 2}}),
    ("each type reads its own attribute, and only a string reads its text",
     '<table:table table:name="V"><table:table-row><table:table-cell office:value-type="time" '
     'office:time-value="PT12H00M00S" office:value="7"><text:p>12:00</text:p></table:table-cell>'
     '<table:table-cell office:value-type="float" office:value="1.5" office:date-value="2024-01-01">'
     '<text:p>text</text:p></table:table-cell><table:table-cell office:value-type="boolean" '
     'office:value="1" office:boolean-value="true"/><table:table-cell office:value-type="date" '
     'office:value="3" office:date-value="2024-01-01T06:00:00"/><table:table-cell '
     'office:value-type="string" office:value="4"><text:p>four</text:p></table:table-cell>'
     '</table:table-row></table:table>',
     {"v": {(1, 1): datetime.time(12), (1, 2): 1.5, (1, 3): True, (1, 4): datetime.datetime(2024, 1, 1, 6),
            (1, 5): "four"}}),
    ("a boolean written as 1, a cell without a value type, and a stored string over its shown text",
     '<table:table table:name="C"><table:table-row><table:table-cell office:value-type="boolean" '
     'office:boolean-value="1"/><table:table-cell office:value-type="boolean" office:boolean-value="0"/>'
     '<table:table-cell><text:p>typed by hand</text:p></table:table-cell><table:table-cell/>'
     '<table:table-cell office:value-type="string" office:string-value="stored"><text:p>shown</text:p>'
     '</table:table-cell><table:table-cell office:value-type="void"><text:p>void</text:p></table:table-cell>'
     '</table:table-row></table:table>',
     {"c": {(1, 1): True, (1, 2): False, (1, 3): "typed by hand", (1, 5): "stored"}}),
    ("a cell past the last column",
     '<table:table table:name="Wide"><table:table-row><table:table-cell table:number-columns-repeated="16384"/>'
     '<table:table-cell office:value-type="float" office:value="1"/></table:table-row></table:table>',
     OSError("cell XFE1 of sheet 'Wide' lies past the last row (1048576) or column (XFD) of a sheet")),
]


@pytest.mark.parametrize("title,tables,want", HAND_MADE, ids=[c[0] for c in HAND_MADE])
def test_hand_made_content(tmp_path, title, tables, want):
    path = write_ods(tmp_path / "hand.ods", tables)
    if isinstance(want, Exception):
        with pytest.raises(type(want), match=re.escape(f"{want}: {str(path)!r}")):
            load_cells(path)
    else:
        assert same(load_cells(path), want)


# A formula's error result as LibreOffice writes it: a string with an empty
# stored value and its own value type "error", the error shown in the paragraph.
LIBREOFFICE_ERROR = ('<table:table-cell table:formula="{formula}" office:value-type="string" '
                     'office:string-value="" calcext:value-type="error"><text:p>{error}</text:p></table:table-cell>')


def test_libreoffice_error_results_load_as_errors(tmp_path):
    cells = "".join(LIBREOFFICE_ERROR.format(formula=f, error=e) for f, e in
                    [("of:=NA()", "#N/A"), ("of:=1/0", "#DIV/0!"), ("of:=[.Z1]", "Err:502")])
    # Without LibreOffice's own value type (ODF 1.2 strict), a formula's error literal still names the error.
    cells += ('<table:table-cell table:formula="of:=#VALUE!" office:value-type="string" office:string-value="">'
              '<text:p>#VALUE!</text:p></table:table-cell>')
    path = write_ods(tmp_path / "errors.ods", f'<table:table table:name="E"><table:table-row>{cells}'
                                              '</table:table-row></table:table>')
    vm = morvane.load_workbook(path)
    assert same(vm.get_sheet("e"), {(1, 1): ExcelError("#N/A"), (1, 2): ExcelError("#DIV/0!"), (1, 3): "Err:502",
                                    (1, 4): ExcelError("#VALUE!")})
    # So the functions that test for errors go the way the spreadsheet went.
    for col, formula, want in [(6, "=ISNA(A1)", True), (7, '=IFERROR(B1, "none")', "none"), (8, "=ISERROR(D1)", True),
                               (9, "=ISERROR(C1)", False)]:
        vm.set_cell_formula(1, col, formula)
        assert vm.get_cell(1, col) == want, formula


def test_saved_error_values_are_written_as_libreoffice_writes_them(tmp_path):
    vm = morvane.Vm()
    codes = ["#N/A", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#NULL!", "#SPILL!", "#GETTING_DATA"]
    for col, code in enumerate(codes, 1):
        vm.set_cell(1, col, ExcelError(code))
    path = tmp_path / "errors.ods"
    vm.save_workbook(path)
    with zipfile.ZipFile(path) as z:
        content = z.read("content.xml").decode()
    for code in codes:
        assert LIBREOFFICE_ERROR.format(formula=f"of:={code}", error=code) in content
    assert 'xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0"' in content
    assert 'xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"' in content
    assert same(load_cells(path)["sheet1"], {(1, col): ExcelError(code) for col, code in enumerate(codes, 1)})
    # odfpy reads each as a string cell with the formula and LibreOffice's error type.
    from odf.namespaces import OFFICENS, TABLENS
    from odf.opendocument import load
    calcext = "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0"
    first = load(str(path)).spreadsheet.getElementsByType(TableCell)[0]
    assert first.attributes[(OFFICENS, "value-type")] == "string"
    assert first.attributes[(calcext, "value-type")] == "error"
    assert first.attributes[(TABLENS, "formula")] == "of:=#N/A" and str(first) == "#N/A"


def test_missing_content_part(tmp_path):
    path = tmp_path / "nocontent.ods"
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
    with pytest.raises(OSError, match=re.escape("content.xml: specified file not found in archive")):
        morvane.load_workbook(str(path))


def test_document_without_tables(tmp_path):
    path = write_ods(tmp_path / "none.ods", "")
    with pytest.raises(ValueError, match="Workbook has no sheets"):
        morvane.load_workbook(str(path))


def sample_vm():
    vm = morvane.Vm()
    for (r, c), v in {(1, 1): 1, (1, 2): 2.5, (1, 3): "a < b", (2, 1): True, (2, 2): False,
                      (2, 3): ExcelError("#DIV/0!"), (3, 3): -9223372036854775808, (4, 1): None}.items():
        vm.set_cell(r, c, v)
    vm.set_sheet("Other")
    vm.set_cell(2, 2, 5)
    return vm


def test_saved_ods_reads_back_through_load_workbook(tmp_path):
    path = tmp_path / "out.ods"
    sample_vm().save_workbook(str(path))
    got = load_cells(path)
    assert same(got["sheet1"], {(1, 1): 1, (1, 2): 2.5, (1, 3): "a < b", (2, 1): True, (2, 2): False,
                                (2, 3): ExcelError("#DIV/0!"), (3, 3): -9223372036854775808})
    assert got["other"] == {(2, 2): 5}


def test_saved_ods_keeps_dates_empty_texts_and_line_ends(tmp_path):
    vm = morvane.Vm()
    vm.run('Sub M()\nRange("A1").Value = #3/15/2023#\nRange("E1").Value = #3/15/2023# + 0.75\n'
           'Range("C1").Value = "x" & Chr(13) & Chr(10) & "y" & Chr(13)\nEnd Sub', "M")
    # A macro's "" empties a cell; an empty text set from Python stays.
    vm.set_cell(1, 2, "")
    vm.set_cell(1, 4, 1.7976931348623157e308)
    path = tmp_path / "kept.ods"
    vm.save_workbook(path)
    # Each loads as it was saved.
    assert same(load_cells(path)["sheet1"], {(1, 1): datetime.date(2023, 3, 15), (1, 2): "", (1, 3): "x\r\ny\r",
                                             (1, 4): 1.7976931348623157e308,
                                             (1, 5): datetime.datetime(2023, 3, 15, 18)})
    df = pd.read_excel(path, header=None, engine="odf")
    assert df.iat[0, 0] == pd.Timestamp(2023, 3, 15) and df.iat[0, 4] == pd.Timestamp(2023, 3, 15, 18)
    with zipfile.ZipFile(path) as z:
        content = z.read("content.xml").decode()
    # Booleans and dates carry the data styles LibreOffice writes for them.
    assert '<number:boolean-style style:name="N2"><number:boolean/></number:boolean-style>' in content
    assert ('<table:table-cell table:style-name="ce1" office:value-type="date" office:date-value="2023-03-15">'
            in content)


def test_lists_and_records_are_saved_as_their_text(tmp_path):
    vm = morvane.Vm()
    vm.run("Type Pt\n X As Long\n Y As String\nEnd Type\n"
           'Sub M()\nDim p As Pt\np.X = 1\np.Y = "a"\nRange("A1").Value = p\n'
           'Range("C1").Value = 3\nRange("C2").Value = 1\nRange("C3").Value = 2\nEnd Sub', "M")
    vm.set_cell_formula(1, 2, "=SORT(C1:C3)")
    for name in ("lists.ods", "lists.xlsx"):
        vm.save_workbook(tmp_path / name)
        got = load_cells(tmp_path / name)["sheet1"]
        # A list result stays in its one cell, as its elements' text.
        assert got[(1, 1)] == "{x: 1, y: a}" and got[(1, 2)] == "1, 2, 3", name


def test_saved_ods_reads_back_through_pandas(tmp_path):
    path = tmp_path / "out.ods"
    sample_vm().save_workbook(str(path))
    frames = pd.read_excel(path, sheet_name=None, header=None, engine="odf")
    assert list(frames) == ["Sheet1", "Other"]  # tab order, names as written
    df = frames["Sheet1"]
    assert df.iat[0, 0] == 1 and df.iat[0, 1] == 2.5 and df.iat[0, 2] == "a < b"
    assert bool(df.iat[1, 0]) is True and bool(df.iat[1, 1]) is False and df.iat[1, 2] == "#DIV/0!"
    assert frames["Other"].iat[1, 1] == 5


def test_saved_ods_package(tmp_path):
    path = tmp_path / "UPPER.ODS"
    morvane.Vm().save_workbook(str(path))
    raw = path.read_bytes()
    # The stored mimetype is readable at its fixed place after the first local header.
    assert raw[30:38] == b"mimetype"
    assert raw[38:84] == b"application/vnd.oasis.opendocument.spreadsheet"
    with zipfile.ZipFile(path) as z:
        assert [i.filename for i in z.infolist()] == ["mimetype", "META-INF/manifest.xml", "content.xml"]
        assert z.getinfo("mimetype").compress_type == zipfile.ZIP_STORED
        assert all(i.date_time == (1980, 1, 1, 0, 0, 0) for i in z.infolist())
        assert '<table:table table:name="Sheet1">\n</table:table>' in z.read("content.xml").decode()


def test_four_character_path_ods_is_opendocument(tmp_path):
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        morvane.Vm().save_workbook(".ods")
    finally:
        os.chdir(cwd)
    with zipfile.ZipFile(tmp_path / ".ods") as z:
        assert z.read("mimetype") == b"application/vnd.oasis.opendocument.spreadsheet"


def test_a_far_corner_saves_sparse_but_no_dense_frame_is_built(tmp_path):
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell(1048576, 16384, 2)
    for name in ("huge.ods", "huge.xlsx"):  # both sparse
        vm.save_workbook(str(tmp_path / name))
        assert load_cells(tmp_path / name)["sheet1"] == {(1, 1): 1, (1048576, 16384): 2}
    with pytest.raises(MemoryError, match="10,000,000 cells"):
        vm.cells_df()
