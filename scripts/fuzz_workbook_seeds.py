"""Seeds for the workbook fuzz targets: files from openpyxl, XlsxWriter,
odfpy and morvane itself (when importable), the XML parts inside them, and
hand-made edge cases in the shape of the file tests'. Called by fuzz_seeds.py.

    python scripts/fuzz_workbook_seeds.py OUT_DIR   (writes OUT_DIR/fuzz_xml, fuzz_xlsx, fuzz_ods)
"""
import datetime
import io
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

import openpyxl  # noqa: E402
import xlsxwriter  # noqa: E402
from odf.opendocument import OpenDocumentSpreadsheet  # noqa: E402
from odf.table import Table, TableCell, TableRow  # noqa: E402
from odf.text import P, S  # noqa: E402

from filehelp import ods_content, xlsx_parts  # noqa: E402


def openpyxl_file():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.append([1, 2.5, "text", True, datetime.date(2024, 1, 2), "=A1*2"])
    ws["C3"] = "  spaced & <escaped>"
    buf = io.BytesIO()
    wb.save(buf)
    return buf.getvalue()


def xlsxwriter_file(constant_memory):
    buf = io.BytesIO()
    wb = xlsxwriter.Workbook(buf, {"constant_memory": constant_memory, "in_memory": True})
    ws = wb.add_worksheet("Data")
    ws.write_row(0, 0, [3, 0.1, "shared", True])
    ws.write_formula(1, 0, "=A1*2", None, 6)
    ws.write_string(1, 1, "rich")
    wb.close()
    return buf.getvalue()


def odfpy_file():
    doc = OpenDocumentSpreadsheet()
    table = Table(name="Data")
    row = TableRow(numberrowsrepeated=2)
    cell = TableCell(valuetype="float", value=3, numbercolumnsrepeated=2)
    cell.addElement(P(text="3"))
    row.addElement(cell)
    text = TableCell(valuetype="string")
    p = P(text="a")
    p.addElement(S(c=2))
    p.addText("b")
    text.addElement(p)
    row.addElement(text)
    table.addElement(row)
    doc.spreadsheet.addElement(table)
    buf = io.BytesIO()
    doc.save(buf)
    return buf.getvalue()


def morvane_files():
    try:
        import morvane
    except ImportError:
        return []
    vm = morvane.Vm()
    for (r, c), v in {(1, 1): 1, (1, 2): 2.5, (2, 1): "x & y", (2, 2): True, (3, 3): " pad "}.items():
        vm.set_cell(r, c, v)
    out = []
    for suffix in (".xlsx", ".ods"):
        path = Path(f"/tmp/morvane-seed{suffix}")
        vm.save_workbook(str(path))
        out.append(path.read_bytes())
        path.unlink()
    return out


def zip_bytes(parts):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts.items():
            z.writestr(name, data)
    return buf.getvalue()


def xml_parts(package):
    with zipfile.ZipFile(io.BytesIO(package)) as z:
        return [z.read(n) for n in z.namelist() if n.endswith((".xml", ".rels"))]


def write(out):
    out = Path(out)
    seeds = {"fuzz_xml": [], "fuzz_xlsx": [], "fuzz_ods": []}
    xlsx = [openpyxl_file(), xlsxwriter_file(False), xlsxwriter_file(True)]
    hand = xlsx_parts([("S", '<row><c><v>1</v></c><c t="inlineStr"><is><t>i</t></is></c></row>'
                             '<row r="3"><c r="B3" t="s"><v>0</v></c></row>')],
                      '<si><r><t>a</t></r><r><t>b</t></r><rPh><t>p</t></rPh></si><si/>')
    xlsx.append(zip_bytes(hand))
    ods = [odfpy_file()]
    content = ods_content('<table:table table:name="T"><table:table-row table:number-rows-repeated="3">'
                          '<table:table-cell office:value-type="boolean" office:boolean-value="true"/>'
                          '<table:covered-table-cell office:value-type="string"><office:annotation><text:p>n'
                          '</text:p></office:annotation><text:p>x<text:tab/>y</text:p><text:p/></table:covered-'
                          'table-cell></table:table-row></table:table>')
    ods.append(zip_bytes({"mimetype": "application/vnd.oasis.opendocument.spreadsheet", "content.xml": content}))
    for package in morvane_files():
        (ods if package[30:38] == b"mimetype" else xlsx).append(package)
    for package in xlsx:
        seeds["fuzz_xlsx"].append(package)
        with zipfile.ZipFile(io.BytesIO(package)) as z:
            names = z.namelist()
            sheet = next((z.read(n) for n in names if n.startswith("xl/worksheets/")), b"")
            sst = z.read("xl/sharedStrings.xml") if "xl/sharedStrings.xml" in names else b""
        seeds["fuzz_xlsx"].append(sst + b"\0" + sheet)
        seeds["fuzz_xml"].extend(xml_parts(package))
    for package in ods:
        seeds["fuzz_ods"].append(package)
        with zipfile.ZipFile(io.BytesIO(package)) as z:
            seeds["fuzz_ods"].append(z.read("content.xml"))
        seeds["fuzz_xml"].extend(xml_parts(package))
    seeds["fuzz_xml"].append(b'<a x="1>2" y=\'"\'/><![CDATA[&amp;]]><!-- c -->&#x41;&#+66;&lt<?p?></a >')
    for target, items in seeds.items():
        d = out / target
        d.mkdir(parents=True, exist_ok=True)
        for i, data in enumerate(items):
            (d / f"seed{i:03d}").write_bytes(data)


if __name__ == "__main__":
    write(sys.argv[1])
