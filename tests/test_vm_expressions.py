"""Expressions and the VBA value rules seen from a macro: operators with
their result types, names and constants, cell and range reads, End and
Find, and the exact failure messages."""
import datetime
import re

import pytest

import morvane
from morvane import ExcelError
from vmhelp import run_body, same, value_of


OPERATORS = [
    ('"2" + 3', 5), ('"2" + "3"', "23"), ('"2" & "3"', "23"), ("Empty + 1", 1), ("True + 0", 1),
    ("True And 7", 7), ("Not True", False), ("Not 0", -1), ("Not 5", -6), ("Not 2.5", -3), ('Not "1"', -2),
    ('"1" = 1', True), ('"1" <= 1', True), ('"1" >= 1', True), ('"1" < 2', True), ('"abc" = "ABC"', True),
    ('"abc" < "ABD"', True), ('"abc" > 5', False), ('"10" < "9"', True), ('"10" > 9', True),
    ("10 / 4", 2.5), ("10 / 5", 2.0), ("2 ^ 10", 1024), ("2 ^ 0.5", 2 ** 0.5), ("2 ^ 63", 2**63 - 1),
    ("2 ^ 64", 2.0**64), ("9007199254740993 + 0", 2**53), ("7 \\ 2", 3), ("-7 \\ 2", -3), ("-7 Mod 2", -1),
    ("7 Mod -2", 1), ("-2147483648 Mod 7", -2), ("2147483648 Mod 3", 2), ("-2147483647 \\ 2", -1073741823),
    ("5.5 Mod 2", 0), ("2.5 \\ 1", 2), ("3.5 \\ 1", 4), ("6 And 3", 2), ("1 Or 2", 3),
    ("True Xor 1", -2), ("True Or False", True), ("0.1 + 0.2", 0.1 + 0.2), ("1.5 * 2", 3), ("-2.5", -2.5),
    ("-(3)", -3), ("3 - 5", -2), ("1 + 2 * 3", 7), ("5 = 5.0", True), ("4 <> 4", False), ("True = True", True),
    ("True & \"\"", "True"), ("1 & 2.5", "12.5"), ('"a" & Empty & 1', "a1"),
    ("#3/15/2023# & \"\"", "2023-03-15"), ("#3/15/2023# = 45000", True), ("#3/15/2023# + 1", datetime.date(2023, 3, 16)),
]


@pytest.mark.parametrize("expr, want", OPERATORS)
def test_operators(expr, want):
    got = value_of(expr)
    assert same(got, want), f"{expr}: {got!r}"


def test_integer_edges():
    vm = run_body("m = -9223372036854775807 - 1\nn = -m\nz = m * 1")
    v = vm.variables()
    assert same(v["m"], -(2**63)) and same(v["n"], 2**63 - 1) and same(v["z"], -(2**63))


def test_mod_and_backslash_by_constants():
    # Mod and the backslash by a constant divisor, and the test of Mod
    # against 0, are worked out by multiplication for dividends below 2^32;
    # every dividend, past that bound too, gives what the division by a
    # variable divisor gives.
    dividends = [0, 1, -1, 6, 7, -7, 2**31 - 1, -(2**31), 2**31, 2**32 - 1, -(2**32 - 1), 2**32, -(2**32), 2**40 + 5,
                 -(2**53), 2**53, 2**62, "7.5", '"9"']
    lines = ["Dim r(100)", "k = 0", 'bad = ""']
    for a in dividends:
        for d in [2, 3, 7, 65536, 2147483647]:
            lines.append(f"a = {a}\nd = {d}")
            for op in ["Mod", "\\"]:
                lines.append(f"r(k) = (a {op} {d}) = (a {op} d) And TypeName(a {op} {d}) = TypeName(a {op} d)")
                lines.append(f"If Not r(k) Then bad = bad & a & \" {op} {d};\"")
            for test in ["= 0", "<> 0"]:
                lines.append(f"If (a Mod {d} {test}) <> (a Mod d {test}) Then bad = bad & a & \" Mod {d} {test};\"")
    vm = run_body("\n".join(lines))
    assert vm.variables()["bad"] == ""
    v = run_body("a = -7\nb = 2 ^ 32 - 1\nx = a Mod 3\ny = a \\ 3\nz = b Mod 7\nw = (b + 1) \\ 2").variables()
    assert (v["x"], v["y"], v["z"], v["w"]) == (-1, -2, (2**32 - 1) % 7, 2**31)


ERRORS = [
    ('"a" + 1', "Cannot convert 'a' to number"), ('"5 5" + 0', "Cannot convert '5 5' to number"),
    ("1 / 0", "Division by zero"), ("0 / 0", "Division by zero"), ("5 \\ 0", "Division by zero"),
    ("5 Mod 0", "Division by zero"), ("5 Mod 0.4", "Division by zero"),
    ("(-9223372036854775807 - 1) \\ -1", "Integer division overflow"),
    ("(-9223372036854775807 - 1) Mod -1", "Integer division overflow"),
    ('(10 ^ 308 * 10 - 10 ^ 308 * 10) < 1', "Cannot compare NaN values"), ('-"5"', "Unary minus on non-numeric: 5"),
    ("-True", "Unary minus on non-numeric: True"), ("-Empty", "Unary minus on non-numeric: "),
    ("nope + 1", "Undefined variable: 'nope'"), ("Cells(0, 1).Value", "Cell row must be a positive integer, got 0"),
    ("Cells(1, 2.5).Value", "Cell col must be a positive integer, got 2.5"),
    ('Range("1A").Value', "RangeRead: invalid address '1A'"),
    ('Range("nothere").Value', "RangeRead: invalid address 'NOTHERE'"),
    ("Len(1 / 0)", "Division by zero"), ("NoSuchFunc(1)", "Unknown VBA function: 'nosuchfunc'"),
    ("WorksheetFunction.VLookup(1, 2)", "WorksheetFunction.vlookup is not implemented"),
]


@pytest.mark.parametrize("expr, message", ERRORS)
def test_errors(expr, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        value_of(expr)


def test_error_values_from_cells():
    vm = morvane.Vm()
    vm.set_cell(1, 1, ExcelError("#N/A"))
    for expr, want in [
        ("Cells(1, 1).Value = Cells(1, 1).Value", False),
        ("Cells(1, 1).Value > \"ERROR(M)\"", True),
        ("Cells(1, 1).Value & \"\"", "#N/A"),
    ]:
        vm.run(f"Sub M()\nx = {expr}\nEnd Sub", "M")
        assert same(vm.variables()["x"], want), expr
    with pytest.raises(RuntimeError, match="(?m)^#N/A$"):
        vm.run("Sub M()\nx = Cells(1, 1).Value + 1\nEnd Sub", "M")


def test_array_element_reads():
    v = run_body("Dim a(2)\na(0) = 1\na(1) = 2\na(2) = 3\np = a(0)\nq = a(2.9)\nr = a(-1)").variables()
    assert (v["p"], v["q"], v["r"]) == (1, 3, 1)
    with pytest.raises(RuntimeError, match=re.escape("Array 'a' requires index")):
        run_body("Dim a(2)\nx = a()")


def test_a_function_hides_an_array_and_an_array_hides_a_builtin():
    code = "Function A(n)\n A = \"called\"\nEnd Function\nSub Main()\n Dim a(1)\n x = a(0)\n ReDim len(1)\n len(0) = 9\n y = len(0)\nEnd Sub"
    vm = morvane.Vm()
    vm.run(code, "Main")
    assert vm.variables()["x"] == "called" and vm.variables()["y"] == 9


def test_cell_and_range_reads():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell(1, 2, "b")
    vm.set_cell(2, 1, 2.5)
    vm.set_cell(2, 3, 3)
    vm.run("Sub M()\n"
           "a = Range(\"A1:B2\").Value\n"
           "b = Range(\"B2:A1\").Value\n"
           "c = Range(\"C3\").Value\n"
           "d = Range(\"B3\").Offset(-1, 1.9).Value\n"

           "f = Cells(2, 1).Value\n"
           "g = Rows.Count + Columns.Count\n"
           "Range(\"A1:B1\").Name = \"top\"\n"
           "h = Range(\"top\").Value\n"
           "End Sub", "M")
    # B2:A1 reads as A1:B2.
    assert same(vm.variables(), {"a": [1, "b", 2.5, None], "b": [1, "b", 2.5, None], "c": None, "d": 3, "f": 2.5,
                                 "g": 1048576 + 16384, "h": [1, "b"]})


def test_end_searches():
    vm = morvane.Vm()
    for r in (1, 2, 3):
        vm.set_cell(r, 1, r)
    vm.set_cell(1, 3, "x")
    vm.set_cell(1, 4, "y")
    vm.run("Sub M()\n"
           "a = Cells(Rows.Count, 1).End(xlUp).Row\n"
           "b = Cells(3, 1).End(xlUp).Row\n"
           "c = Cells(1, 1).End(xlDown).Row\n"
           "d = Cells(5, 1).End(xlDown).Row\n"
           "e = Cells(1, 5).End(xlUp).Row\n"
           "f = Cells(1, 3).End(xlToRight).Column\n"
           "g = Cells(1, 100).End(xlToLeft).Column\n"
           "Cells(4, 1).Value = 4\n"
           "h = Cells(Rows.Count, 1).End(xlUp).Row\n"
           "End Sub", "M")
    v = vm.variables()
    assert [v[k] for k in "abcdefgh"] == [3, 3, 3, 4, 1, 4, 4, 4]


def test_find():
    vm = morvane.Vm()
    vm.set_cell(2, 1, "x")
    vm.set_cell(1, 2, "X")
    vm.set_cell(3, 3, 5)
    vm.run("Sub M()\n"
           "r = Cells.Find(What:=\"x\").Row\n"
           "c = Cells.Find(What:=\"x\").Column\n"
           "n = Cells.Find(What:=\"5\").Row\n"
           "m = Cells.Find(What:=5).Column\n"
           "End Sub", "M")
    # The text 5 finds the number 5, as the number 5 does.
    assert vm.variables() == {"r": 1, "c": 2, "n": 3, "m": 3}


def test_dates_cross_as_python_dates():
    vm = run_body("d = #12/31/2024#\nCells(1, 1).Value = d")
    assert vm.get_cell(1, 1) == datetime.date(2024, 12, 31)


def test_cell_writes():
    vm = morvane.Vm()
    vm.run("Sub M()\n"
           "Range(\"A1:B2\").Value = 5\n"
           "Range(\"D2:C1\").Value = 9\n"
           "Range(\"E1\").Offset(1, 1).Value = \"off\"\n"
           "Cells(3, 1).Value = True\n"
           "Range(\"A2:B2\").ClearContents\n"
           "End Sub", "M")
    assert same(vm.cells(), {(1, 1): 5, (1, 2): 5, (1, 3): 9, (1, 4): 9, (2, 3): 9, (2, 4): 9, (2, 6): "off",
                             (3, 1): True})
    # Reading or writing off the sheet fails.
    with pytest.raises(RuntimeError, match=re.escape("RangeOffsetRead: invalid address 'A1'")):
        vm.run("Sub M()\nx = Range(\"A1\").Offset(-1, 0).Value\nEnd Sub", "M")
    with pytest.raises(RuntimeError, match=re.escape("RangeOffsetWrite: invalid address 'A1'")):
        vm.run("Sub M()\nRange(\"A1\").Offset(-1, 0).Value = 1\nEnd Sub", "M")
    vm.run("Sub M()\nRange(\"A1:A2\").Formula = \"=1+1\"\nEnd Sub", "M")
    assert vm.get_cell(1, 1) == 2 and vm.get_cell(2, 1) == 2
