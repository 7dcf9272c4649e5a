"""Seeds for the fuzz targets, taken from the test suites' own macros and formulas.

Writes one file per seed under OUT/<target>/: every string literal of the
Python tests that holds a whole VBA module (fuzz_vba, with the Sub name
"main" on the first line), every body passed to the tests' sub() helper
(wrapped in Sub Main), every literal that starts with "=" (fuzz_formula), and
calls of every worksheet function name with a few argument lists, so that
fuzzing the formulas starts from each function; and every pattern of the
number-format table with its value (fuzz_number_format: a mode byte, the
value's eight bytes, the pattern).
"""
import ast
import datetime
import hashlib
import pathlib
import re
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def literals(tree):
    for node in ast.walk(tree):
        if isinstance(node, ast.Call) and getattr(node.func, "id", None) in ("sub", "run_body"):
            if node.args and isinstance(node.args[0], ast.Constant) and isinstance(node.args[0].value, str):
                yield "body", node.args[0].value
        elif isinstance(node, ast.Constant) and isinstance(node.value, str):
            yield "text", node.value


# Argument lists that reach past the arity checks of most functions: numbers,
# the fuzz sheet's cells and ranges (numbers, texts, booleans, errors), texts.
FUNCTION_ARGS = ["", "1", "0, -1", "A1:A6", "A1:C6, 2", "B2, \"a\", 3", "A1:A6, B1:B6, 1, 0",
                 "C1:C6, \">1\", A1:A6", "-1, 0.5, 1" + "0" * 300 + ", TRUE"]


# Macro bodies over the object model: formula cells that inserted and deleted
# rows and columns move, then pasted over, cleared or deleted; Range
# variables used after their cells moved or their sheet was deleted; sheets
# added, renamed and deleted around copies and pastes.
OBJECT_MODEL_BODIES = [
    'Range("C5").Formula = "=1+2"\nRows(7).Insert\nRange("A1").Copy Destination:=Range("C5")\n'
    'Range("D1").Value = Range("C5").Value',
    'Range("C5").Formula = "=1+2"\nColumns(1).Insert\nx = Range("D5").Value\nColumns(4).Delete\n'
    'Range("A1").Value = Range("D5").Value',
    'Range("C5").Formula = "=1+2"\nRows(2).Delete\nx = Range("C4").Value\nRange("C4").Delete Shift:=xlUp\n'
    'Range("D1").Value = Range("C4").Value',
    'Range("B1:B20").Formula = "=SUM($A$1:A1)"\nRows(5).Insert\nx = Range("B9").Value\n'
    'Range("B3:B12").ClearContents\nRange("A1:A3").Value = 2\nRange("C1").Value = Range("B20").Value',
    'Range("A1").Value = 1\nRange("B1").Formula = "=A1*2"\nRange("A1:B1").Copy\nRange("A3").PasteSpecial\n'
    'Columns(1).Delete\nRange("A2").Value = Range("A3").Value',
    'Set r = Range("B2")\nSheets.Add\nSheets(1).Delete\nx = r.End(xlDown).Row',
    'Set r = Range("B2:C4")\nr.Formula = "=ROW()"\nSheets.Add After:=Sheets(1)\nSheets(1).Delete\n'
    'On Error Resume Next\nr.Value = 1\nx = r.Value\nSet u = Union(r, Range("A1"))\nFor Each c In r\nNext\n'
    'n = Err.Number',
    'Set ws = Sheets.Add\nws.Name = "Data"\nSet r = ws.Range("A1:A3")\nr.Value = 5\nws.Range("B1").Formula = "=SUM(A1:A3)"\n'
    'Rows(1).Insert\nr.Copy Destination:=Range("C1")\nApplication.DisplayAlerts = False\nws.Delete\n'
    'x = r.Offset(1, 0).Address',
    'Set r = Range("A5")\nr.Value = 3\nRange("A1:A3").EntireRow.Delete\nRows(1).Insert\nr.Value = r.Value + 1\n'
    'With r\n.Offset(1, 0).Formula = "=A5*2"\nEnd With\nColumns("A:B").Insert\nx = r.Row',
    # A block of formulas that read no cell when they run.
    'Range("G11:AZ400").Formula = "=IF(2, 0, $GI14)"',
]


def function_names():
    """The engine's list of worksheet function names, read from its source."""
    source = (ROOT / "src" / "formula" / "eval.cpp").read_text()
    table = re.search(r"kKnownNames\[\] = \{(.*?)\};", source, re.S).group(1)
    return re.findall(r'"([A-Z0-9.]+)"', table)


def number_format_seeds():
    sys.path.insert(0, str(ROOT / "tests"))
    import numfmt_cases

    seeds = set()
    rows = numfmt_cases.SHARED + numfmt_cases.WORKSHEET + numfmt_cases.VBA
    rows += [(1234.5, pattern, None) for pattern, _ in numfmt_cases.REFUSED]
    for value, pattern, _ in rows:
        if isinstance(value, datetime.date):
            value = numfmt_cases.serial(value)
        if isinstance(value, str):
            value = 0.0
        for mode in (0, 1):
            # Mode 1 carries a whole number's own bits, for the exact-integer road.
            exact = isinstance(value, int) and mode == 1
            bits = struct.pack("<q", value) if exact else struct.pack("<d", float(value))
            seeds.add(bytes([mode]) + bits + pattern.encode("utf-8"))
    return seeds


def main(out):
    seeds = {"fuzz_vba": set(), "fuzz_formula": set()}
    for path in sorted((ROOT / "tests").glob("test_*.py")):
        for kind, text in literals(ast.parse(path.read_text(), str(path))):
            if kind == "body":
                seeds["fuzz_vba"].add("main\nSub Main()\n" + text + "\nEnd Sub\n")
            elif text.startswith("=") and len(text) > 1:
                seeds["fuzz_formula"].add(text)
            elif "end sub" in text.lower():
                seeds["fuzz_vba"].add("main\n" + text)
    for body in OBJECT_MODEL_BODIES:
        seeds["fuzz_vba"].add("main\nSub Main()\n" + body + "\nEnd Sub\n")
    for name in function_names():
        for args in FUNCTION_ARGS:
            seeds["fuzz_formula"].add(f"={name}({args})")
    seeds["fuzz_number_format"] = number_format_seeds()
    # The workbook readers' targets are seeded with whole files and their parts.
    sys.path.insert(0, str(ROOT / "scripts"))
    import fuzz_workbook_seeds
    fuzz_workbook_seeds.write(out)
    for target, texts in seeds.items():
        folder = pathlib.Path(out) / target
        folder.mkdir(parents=True, exist_ok=True)
        for text in texts:
            data = text if isinstance(text, bytes) else text.encode("utf-8", "surrogatepass")
            (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1])
