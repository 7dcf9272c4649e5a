"""Hand-made workbook packages for the file tests: the few parts a reader
needs, assembled with zipfile, so each edge case is one small XML text."""
import zipfile

import morvane

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL = "http://schemas.openxmlformats.org/package/2006/relationships"


def load_cells(path, **kwargs):
    """{sheet: {(row, col): value}} of every sheet load_workbook gives."""
    vm = morvane.load_workbook(str(path), **kwargs)
    return {name: vm.get_sheet(name) for name in vm.sheet_names()}


def write_zip(path, parts, compression=zipfile.ZIP_DEFLATED):
    """A ZIP archive holding `parts` ({name: str or bytes}) in order."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in parts.items():
            z.writestr(name, data)
    return path


def sheet_xml(sheet_data):
    return f'<?xml version="1.0"?><worksheet xmlns="{MAIN}"><sheetData>{sheet_data}</sheetData></worksheet>'


def xlsx_parts(sheets, shared_strings=None, targets=None):
    """The parts of a package with `sheets` [(name, sheet_data xml)], an
    optional shared-string part (the <si> elements) and optional relationship
    targets per sheet (default worksheets/sheetN.xml)."""
    entries = "".join(f'<sheet name="{name}" sheetId="{i}" r:id="rId{i}"/>' for i, (name, _) in enumerate(sheets, 1))
    targets = targets or [f"worksheets/sheet{i}.xml" for i in range(1, len(sheets) + 1)]
    rels = "".join(
        f'<Relationship Id="rId{i}" Type="{REL}/worksheet" Target="{t}"/>' for i, t in enumerate(targets, 1))
    parts = {
        "[Content_Types].xml": '<?xml version="1.0"?><Types/>',
        "xl/workbook.xml": f'<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>{entries}</sheets></workbook>',
        "xl/_rels/workbook.xml.rels": f'<Relationships xmlns="{PKG_REL}">{rels}</Relationships>',
    }
    if shared_strings is not None:
        parts["xl/sharedStrings.xml"] = f'<sst xmlns="{MAIN}">{shared_strings}</sst>'
    for i, (_, data) in enumerate(sheets, 1):
        if data is not None:
            parts[f"xl/worksheets/sheet{i}.xml"] = sheet_xml(data)
    return parts


def ods_content(tables):
    return (
        '<?xml version="1.0" encoding="UTF-8"?><office:document-content '
        'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
        'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
        'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0">'
        f"<office:body><office:spreadsheet>{tables}</office:spreadsheet></office:body></office:document-content>")


def write_ods(path, tables):
    return write_zip(path, {"mimetype": "application/vnd.oasis.opendocument.spreadsheet",
                            "content.xml": ods_content(tables)})
