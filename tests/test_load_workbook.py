"""load_workbook: sheets into a new Vm, the active sheet, its arguments and
failures, and hostile files that must fail fast within bounded memory."""
import os
import pathlib
import re
import subprocess
import sys
import textwrap
import zipfile

import pytest

import morvane

from filehelp import sheet_xml, write_ods, write_zip, xlsx_parts

ROW = '<row r="1"><c r="A1"><v>{}</v></c></row>'


@pytest.fixture
def two_sheets(tmp_path):
    parts = xlsx_parts([("Summary", ROW.format(1)), ("Data", '<row r="2"><c r="B2" t="s"><v>0</v></c></row>')],
                       "<si><t>d</t></si>")
    return str(write_zip(tmp_path / "two.xlsx", parts))


def test_sheets_and_the_first_active(two_sheets):
    vm = morvane.load_workbook(two_sheets)
    assert vm.sheet_names() == ["summary", "data"]  # the file's sheets, in its order
    assert vm.active_sheet() == "summary"
    assert vm.get_cell(1, 1) == 1 and vm.cells() == {(1, 1): 1}
    assert vm.get_sheet("Data") == {(2, 2): "d"}


@pytest.mark.parametrize("sheet,active", [("DATA", "data"), (None, "summary"), ("summary", "summary")])
def test_requested_sheet_is_active(two_sheets, sheet, active):
    assert morvane.load_workbook(two_sheets, sheet=sheet).active_sheet() == active


def test_missing_sheet_lists_the_sheets_there_are(two_sheets):
    with pytest.raises(ValueError, match=re.escape("Sheet 'missing' not found; the sheets are 'summary', 'data'")):
        morvane.load_workbook(two_sheets, sheet="Missing")


def test_sheets_differing_in_case_merge(tmp_path):
    parts = xlsx_parts([("Dup", '<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c></row>'),
                        ("DUP", '<row r="1"><c r="A1"><v>3</v></c></row>')])
    vm = morvane.load_workbook(str(write_zip(tmp_path / "dup.xlsx", parts)))
    assert vm.sheet_names() == ["dup"]
    assert vm.cells() == {(1, 1): 3, (1, 2): 2}


def test_loaded_workbook_runs_macros(two_sheets):
    vm = morvane.load_workbook(two_sheets, on_msgbox="error")
    vm.run('Sub M()\nRange("A2").Value = Range("A1").Value + 41\nEnd Sub', "M")
    assert vm.get_cell(2, 1) == 42
    with pytest.raises(RuntimeError):
        vm.run('Sub M()\nMsgBox "hi"\nEnd Sub', "M")
    morvane.load_workbook(two_sheets, on_msgbox="skip").run('Sub M()\nMsgBox "hi"\nEnd Sub', "M")


ENCRYPTED = "workbook is encrypted (password-protected); save it without a password to load it"
LEGACY = "legacy .xls workbook (Excel 97-2003) cannot be read; save it as .xlsx or .ods to load it"

FAILURES = [
    ("missing file", "nothing.xlsx", FileNotFoundError, "[Errno 2] No such file or directory: '{dir}/nothing.xlsx'"),
    ("a directory", "dir.xlsx", IsADirectoryError, "[Errno 21] Is a directory: '{dir}/dir.xlsx'"),
    ("unsupported extension", "book.csv", OSError, "unsupported file format: {dir}/book.csv"),
    ("short name", "x", OSError, "unsupported file format: {dir}/x"),
    ("not a zip archive", "plain.xlsx", OSError, "Not a zip archive: '{dir}/plain.xlsx'"),
    ("no sheets", "empty.xlsx", ValueError, "Workbook has no sheets"),
    ("a legacy .xls by its name", "book.XLS", OSError, LEGACY + ": '{dir}/book.XLS'"),
    ("a legacy .xls under an .xlsx name", "legacy.xlsx", OSError, LEGACY + ": '{dir}/legacy.xlsx'"),
    ("a password-protected .xlsx", "locked.xlsx", OSError, ENCRYPTED + ": '{dir}/locked.xlsx'"),
    # The stream's name straddles two of the blocks the search reads.
    ("a password-protected .xlsm, its stream far in", "locked.xlsm", OSError, ENCRYPTED + ": '{dir}/locked.xlsm'"),
    ("an encrypted .ods", "locked.ods", OSError, ENCRYPTED + ": '{dir}/locked.ods'"),
]

# An OLE compound file: its magic, then directory entries naming streams in UTF-16.
COMPOUND = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + bytes(504)


def compound_file(stream, at=512, size=4096):
    name = stream.encode("utf-16-le")
    data = bytearray(COMPOUND + bytes(max(size, at + len(name)) - len(COMPOUND)))
    data[at:at + len(name)] = name
    return bytes(data)


def encrypted_ods(path):
    manifest = (
        '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">'
        '<manifest:file-entry manifest:full-path="/" '
        'manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
        '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml" '
        'manifest:size="2048"><manifest:encryption-data manifest:checksum-type="SHA1/1K" '
        'manifest:checksum="x"><manifest:algorithm manifest:algorithm-name="Blowfish CFB" '
        'manifest:initialisation-vector="x"/></manifest:encryption-data></manifest:file-entry>'
        '</manifest:manifest>')
    write_zip(path, {"mimetype": "application/vnd.oasis.opendocument.spreadsheet",
                     "META-INF/manifest.xml": manifest, "content.xml": b"\x8f\x01\xfe" * 100})


@pytest.mark.parametrize("title,name,exc,message", FAILURES, ids=[f[0] for f in FAILURES])
def test_failures(tmp_path, title, name, exc, message):
    (tmp_path / "plain.xlsx").write_text("just text")
    (tmp_path / "dir.xlsx").mkdir()
    write_zip(tmp_path / "empty.xlsx", xlsx_parts([]))
    (tmp_path / "book.XLS").write_bytes(compound_file("Workbook"))
    (tmp_path / "legacy.xlsx").write_bytes(compound_file("Workbook", size=200_000))
    (tmp_path / "locked.xlsx").write_bytes(compound_file("EncryptedPackage"))
    (tmp_path / "locked.xlsm").write_bytes(compound_file("EncryptedPackage", at=(1 << 16) - 9, size=300_000))
    encrypted_ods(tmp_path / "locked.ods")
    with pytest.raises(exc, match=re.escape(message.format(dir=tmp_path))):
        morvane.load_workbook(str(tmp_path / name))


def test_unsupported_name_is_reported_even_when_absent():
    with pytest.raises(OSError, match=re.escape("unsupported file format: x")):
        morvane.load_workbook("x")


def test_missing_file_error_carries_errno_and_filename(tmp_path):
    with pytest.raises(FileNotFoundError) as raised:
        morvane.load_workbook(tmp_path / "nothing.ods")
    assert (raised.value.errno, raised.value.strerror) == (2, os.strerror(2))
    assert raised.value.filename == str(tmp_path / "nothing.ods")


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
def test_unreadable_file_is_a_permission_error(two_sheets):
    os.chmod(two_sheets, 0)
    with pytest.raises(PermissionError):
        morvane.load_workbook(two_sheets)


class FsPath:
    """An os.PathLike of its own, as some libraries define them."""
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


def test_paths_as_python_passes_them(two_sheets, tmp_path):
    for path in (pathlib.Path(two_sheets), FsPath(two_sheets), FsPath(two_sheets.encode())):
        assert morvane.load_workbook(path).get_cell(1, 1) == 1
        morvane.load_workbook(path).save_workbook(FsPath(str(tmp_path / "copy.ods")))
        morvane.load_workbook(path).save_workbook(tmp_path / "copy.xlsx")
    assert morvane.load_workbook(tmp_path / "copy.ods").get_sheet("data") == {(2, 2): "d"}
    assert morvane.load_workbook(tmp_path / "copy.xlsx").get_sheet("data") == {(2, 2): "d"}
    with pytest.raises(TypeError, match=re.escape("load_workbook() argument 'path' must be str or os.PathLike, not int")):
        morvane.load_workbook(3)
    with pytest.raises(TypeError, match=re.escape("argument 'path' must be str or os.PathLike, not FsPath")):
        morvane.load_workbook(FsPath(3))


def test_arguments(two_sheets, tmp_path):
    with pytest.raises(TypeError, match=re.escape("argument 'path' must be str or os.PathLike, not bytes")):
        morvane.load_workbook(two_sheets.encode())
    with pytest.raises(TypeError, match=re.escape("argument 'sheet' must be str, not int")):
        morvane.load_workbook(two_sheets, sheet=1)
    with pytest.raises(TypeError, match=re.escape("argument 'on_msgbox' must be str, not NoneType")):
        morvane.load_workbook(two_sheets, on_msgbox=None)
    vm = morvane.load_workbook(path=two_sheets, sheet="data", on_msgbox="skip")
    assert isinstance(vm, morvane.Vm)
    assert morvane.load_workbook.__text_signature__ == '(path, sheet=None, on_msgbox="skip")'
    assert morvane.load_workbook.__doc__ == (
        "Load cell data from a spreadsheet file (.xlsx / .xlsm / .ods) into a new ``Vm``.\n\n"
        "The VBA source code is **not** extracted from the file \u2014 pass it separately\nto ``vm.run()``.\n\n"
        "Parameters\n----------\npath : str or os.PathLike\n    Path to the spreadsheet file (.xlsx, .xlsm, or .ods).\n"
        "sheet : str, optional\n    The sheet to make active, in any letter case. Every sheet is read;\n"
        "    this only picks the active one. Defaults to the first sheet.\n"
        'on_msgbox : str, optional\n    ``"skip"`` (default) or ``"error"``; any other text raises ``ValueError``.\n\n'
        "Sheet names come back in lower case.\n\n"
        "Raises\n------\nOSError\n    The file cannot be read or is not a workbook.\n"
        "ValueError\n    ``sheet`` names no sheet of the file; the message lists the sheets there are.")


def test_module_attributes_in_order():
    public = [n for n in vars(morvane) if not n.startswith("__")]
    assert public == ["hello", "run_macro", "load_workbook", "Vm", "ExcelError", "SkippedStatementWarning"]


# ---------------------------------------------------------------- hostile files

def zip_bomb(path):
    """A worksheet part of 1 GiB of blanks, compressed to about a megabyte."""
    parts = xlsx_parts([("Bomb", None)])
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts.items():
            z.writestr(name, data)
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
            block = b" " * (1 << 20)
            for _ in range(1024):
                f.write(block)


def many_sheets(path):
    """Sixty sheets of 6 MiB each: no part too large, 360 MiB in all."""
    data = "<!--" + " " * (6 << 20) + "-->"
    sheets = [(f"S{i}", "") for i in range(60)]
    parts = xlsx_parts(sheets)
    for i in range(1, 61):
        parts[f"xl/worksheets/sheet{i}.xml"] = data
    write_zip(path, parts)


def deep_nesting(path):
    """Eighty million bytes of nested elements in one part."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in xlsx_parts([("Deep", None)]).items():
            z.writestr(name, data)
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
            for _ in range(80):
                f.write(b"<a>" * 333334)


def repeated_rows(path):
    write_ods(path, '<table:table table:name="R"><table:table-row table:number-rows-repeated="1000000">'
                    '<table:table-cell office:value-type="float" office:value="1" '
                    'table:number-columns-repeated="16384"/></table:table-row></table:table>')


def truncated(path):
    write_zip(path, xlsx_parts([("T", ROW.format(1) * 1000)]))
    data = path.read_bytes()
    path.write_bytes(data[: len(data) // 2])


RATIO = "part inflates to more than 100 times its compressed size"
HOSTILE = [
    ("zip bomb", "bomb.xlsx", zip_bomb, f"xl/worksheets/sheet1.xml: {RATIO}"),
    ("many large parts", "many.xlsx", many_sheets, f"xl/worksheets/sheet1.xml: {RATIO}"),
    ("deep nesting", "deep.xlsx", deep_nesting, f"xl/worksheets/sheet1.xml: {RATIO}"),
    ("a million repeated rows", "rows.ods", repeated_rows, "workbook repeats cells more than 1048576 times"),
    ("truncated archive", "cut.xlsx", truncated, None),
]

UNDER_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.parametrize("title,name,make,message", HOSTILE, ids=[h[0] for h in HOSTILE])
def test_hostile_files_fail_fast_in_bounded_memory(tmp_path, title, name, make, message):
    path = tmp_path / name
    make(path)
    # A fresh process, so its peak memory is the load's own.
    probe = textwrap.dedent(f"""
        import re, time, morvane
        start = time.perf_counter()
        try:
            morvane.load_workbook({str(path)!r})
            print("loaded")
        except OSError as e:
            print("OSError", e)
        print(time.perf_counter() - start)
        # The process's own peak (ru_maxrss would include the forking parent's).
        print(re.search(r"VmHWM:\\s*(\\d+)", open("/proc/self/status").read()).group(1))
    """)
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, check=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}).stdout.splitlines()
    outcome, seconds, peak_kib = out[0], float(out[1]), int(out[2])
    assert outcome.startswith("OSError"), outcome
    if message:
        assert outcome == f"OSError {message}: {str(path)!r}"
    if not UNDER_SANITIZER:  # the sanitizers' shadow memory and slowdown are not the reader's
        assert seconds < 2.0
        assert peak_kib < 256 * 1024


def test_ordinary_large_workbooks_load(tmp_path):
    """A sheet part past 64 MiB with more than 3,000,000 values, as large real workbooks have."""
    rows = 800_000
    data = "".join(f'<row r="{i}"><c r="A{i}"><v>{i}</v></c><c r="B{i}"><v>{i}.5</v></c><c r="C{i}"><v>-{i}</v></c>'
                   f'<c r="D{i}" t="b"><v>1</v></c></row>' for i in range(1, rows + 1))
    path = tmp_path / "large.xlsx"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        for name, part in xlsx_parts([("Big", None)]).items():
            z.writestr(name, part)
        z.writestr("xl/worksheets/sheet1.xml", sheet_xml(data))
        assert z.getinfo("xl/worksheets/sheet1.xml").file_size > 64 << 20
    vm = morvane.load_workbook(path)
    assert [vm.get_cell(rows, c) for c in range(1, 5)] == [rows, rows + 0.5, -rows, True]
    assert len(vm.cells()) == 4 * rows


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizers reserve address space past any limit")
def test_running_out_of_memory_is_a_memory_error(tmp_path):
    path = tmp_path / "many.ods"
    write_ods(path, '<table:table table:name="R"><table:table-row table:number-rows-repeated="1000000">'
                    '<table:table-cell office:value-type="float" office:value="1"/></table:table-row></table:table>')
    # A million cells need about 100 MiB; the process gets 48 MiB more than it has.
    probe = textwrap.dedent(f"""
        import re, resource, morvane
        size = int(re.search(r"VmSize:\\s*(\\d+)", open("/proc/self/status").read()).group(1)) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + (48 << 20), resource.RLIM_INFINITY))
        try:
            morvane.load_workbook({str(path)!r})
            print("loaded")
        except MemoryError:
            print("MemoryError")
    """)
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert out.stdout.strip() == "MemoryError", out.stderr
    assert morvane.load_workbook(path).get_cell(1000000, 1) == 1


def test_nesting_within_the_limit_is_read(tmp_path):
    data = ROW.format(7) + "<a>" * 1_000_000
    vm = morvane.load_workbook(str(write_zip(tmp_path / "nest.xlsx", xlsx_parts([("N", data)]))))
    assert vm.get_cell(1, 1) == 7
