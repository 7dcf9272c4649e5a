"""WorksheetFunction: the sixteen functions a macro can call, agreeing with
the worksheet functions of the same names (Log's base, which cells of a
range the aggregates take, the criteria of CountIf and SumIf), and a macro
that cleans a column end to end."""
import math
import re

import pytest

import morvane
from morvane import ExcelError
from vmhelp import same, sub, value_of

# Column A: a number, a numeric text, an empty cell, a boolean.
# Column B: 2, 4, empty.   Column C: -1, -2, empty.   Column D: texts only.
# Column E: the criteria range.   Columns F and G: SumIf ranges.
CELLS = {
    "A": [1, "2", None, True],
    "B": [2, 4, None],
    "C": [-1, -2, None],
    "D": ["x", "y"],
    "E": ["apple", "Apricot", "banana", 5, 5.0, "5", None, "a*"],
    "F": [1, 2, 3, 4],
    "G": [10, "20", True, 40],
    "H": [None, 1],
}


@pytest.fixture(scope="module")
def vm():
    vm = morvane.Vm()
    for col, values in CELLS.items():
        for row, value in enumerate(values, 1):
            if value is not None:
                vm.set_cell(row, ord(col) - 64, value)
    vm.run(sub("Cells(1, 8).Value = #1/1/2000#"), "Main")  # a Date cell
    return vm


def wsf(vm, call):
    return value_of(f"WorksheetFunction.{call}", vm=vm)


VALUES = [
    # From a range only numbers count; single values convert as VBA converts.
    ('Sum(Range("A1:A4"))', 1), ("Sum()", 0), ('Sum(1, "2", True)', 4), ('Sum(1, "x", Empty)', 1),
    ('Sum(Range("A1:A4"), 10)', 11), ('Sum(Range("H1:H2"))', 36527),
    ('Average(Range("B1:B3"))', 3), ("Average(2, 4, Empty)", 2), ('Average(Range("B1:B3"), "6")', 4),
    ('Max(Range("C1:C3"))', -1), ('Min(Range("C1:C3"))', -2), ('Min(3, "1")', 1), ('Max((10 ^ 308 * 10 - 10 ^ 308 * 10), 1)', 1),
    ('Min(Range("A1:A4"), 0.5)', 0.5),
    # No numbers give 0, as =MAX and =MIN do; dates count as numbers.
    ('Max(Range("D1:D2"))', 0), ('Min("x")', 0), ('Count(Range("H1:H2"))', 2),
    ('Count(Range("A1:A4"))', 1), ('Count(1, "2", True, Empty)', 1), ('CountA(1, "", Empty)', 2),
    ('CountA(Range("A1:A4"))', 3), ('CountBlank("", Empty)', 1), ('CountBlank(Range("B1:B3"))', 1),
    # Criteria as on a worksheet: wildcards match texts, numeric tests numbers.
    ('CountIf(Range("E1:E8"), "a*")', 3), ('CountIf(Range("E1:E8"), "?anana")', 1),
    ('CountIf(Range("E1:E8"), "=5")', 2), ('CountIf(Range("E1:E8"), 5)', 2), ('CountIf(Range("E1:E8"), ">=5")', 2),
    ('CountIf(Range("E1:E8"), ">4")', 2), ('CountIf(Range("E1:E8"), "<>5")', 6),
    ('CountIf(Range("E1:E8"), "BANANA")', 1), ('CountIf(Range("E1:E8"), "<>apple")', 7),
    ('CountIf(Range("E1:E8"), "")', 1), ('CountIf(5, 5)', 1),
    ('SumIf(Range("F1:F4"), ">2")', 7), ('SumIf(Range("F1:F4"), ">2", Range("G1:G4"))', 40),
    ('SumIf(Range("F1:F4"), ">0", Range("G1:G2"))', 10), ('SumIf(Range("F1:F4"), "<>3")', 7),
    ('SumIf(Range("F1:F4"), 2, Range("G1:G4"))', 0), ('SumIf(Range("E1:E8"), "a*", Range("F1:F8"))', 3),
    # Match type 1 (the default) takes the last of an ascending run at most the value,
    # -1 the last of a descending run at least it, 0 an equal one.
    ('Match("B", Split("a,b,c", ","))', 2), ('Match(2.5, Range("F1:F4"))', 2), ('Match(9, Range("F1:F4"), 1)', 4),
('Match("c", Split("c,b,a", ","), -1)', 1),
    ('Match("a", Split("c,b,a", ","), -1)', 3), ('Match("b", Split("c,b,a", ","), 0)', 2),
    ('Match(2, Range("F1:F4"))', 2), ("Match(1, 1)", 1),
    ('Index(Split("a,b,c", ","), 0)', "a"), ('Index(Split("a,b,c", ","), 2.9)', "b"),
    ('Index(Split("a,b,c", ","), -1)', "a"), ('Index(Range("F1:G4"), 2, 2)', "20"), ('Index(Range("F1:G4"), 4, 1)', 4),
    ('Index(Split("a,b,c", ","), 1, 3)', "c"),
    ('Index(Range("G1:G4"), 2)', "20"),
    ("Abs(-2)", 2), ("Abs(-2.5)", 2.5), ("Sqrt(4)", 2.0),
    # Log is base 10 without a base, as on a worksheet.
    ("Log(100)", 2.0), ("Log(1000)", 3.0), ("Log(8, 2)", 3.0),
    ("Power(2, 10)", 1024), ("Power(2, 0.5)", math.sqrt(2)),
    ("Round(2.5)", 3), ("Round(-2.5)", -3), ("Round(1.25, 1)", 1.3), ("Round(1234, -2)", 1200),
    # A one-cell range where a single value is expected stands for its cell.
    ('Round(Range("G4"), -1)', 40), ('Abs(Range("C2"))', 2), ('Power(Range("F2"), Range("F3"))', 8),
    ('CountIf(Range("F1:F4"), Range("F2"))', 1), ('Match(Range("F3"), Range("F1:F4"))', 3),
    ('Index(Range("F1:F4"), Range("F2"))', 2),
]


@pytest.mark.parametrize("call, want", VALUES)
def test_values(vm, call, want):
    got = wsf(vm, call)
    assert same(got, want), f"{call}: {got!r}"


def test_range_variables_give_the_cells_of_their_areas():
    vm = morvane.Vm()
    for (row, col), value in {(1, 1): 5, (2, 1): "x", (1, 3): 2.5, (2, 3): True}.items():
        vm.set_cell(row, col, value)
    vm.run("Dim r As Range\n" + sub('Set r = Range("A1:A2,C1:C2")\nSet one = Range("C1")\na = WorksheetFunction.Sum(r)\n'
                                    'b = WorksheetFunction.CountA(r)\nc = WorksheetFunction.CountIf(r, ">1")\n'
                                    'd = WorksheetFunction.Max(one)\nSheets.Add'), "Main")
    v = vm.variables()
    assert same([v[k] for k in "abcd"], [7.5, 4, 2, 2.5])
    # The module's variable keeps its own sheet when another one becomes active.
    vm.set_sheet("sheet2")
    vm.run("Dim r As Range\n" + sub('e = WorksheetFunction.Sum(r)\nf = WorksheetFunction.Sum(Range("A1:A2"))'), "Main")
    v = vm.variables()
    assert same([v[k] for k in "ef"], [7.5, 0])


def test_an_ordinary_variable_wins_over_a_range_variable_of_the_same_name():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 5)
    vm.run(sub('Set r = Range("A1")'), "Main")
    assert same(value_of("WorksheetFunction.Sum(r)", setup="r = 2", vm=vm), 2)


def test_application_prefix_and_statement_form(vm):
    assert same(value_of("Application.WorksheetFunction.Sum(1, 2)", vm=vm), 3)


ERRORS = [
    ("VLookup(1, 2)", "WorksheetFunction.vlookup is not implemented"),
    ("Average()", "WorksheetFunction.Average: no values"), ('Average("x")', "WorksheetFunction.Average: no values"),
    # An error value as the result fails, naming the function and the error.
    ('Max(10 ^ 308 * 10 - 10 ^ 308 * 10)', "WorksheetFunction.Max: the result is #NUM! (Error 1004)"),
    ('Match(5, Split("5"))', "WorksheetFunction.Match: the result is #N/A (Error 1004)"),
    ('Match(2.5, Range("F1:F4"), 0)', "WorksheetFunction.Match: the result is #N/A (Error 1004)"),
    ('Index(Split("a,b,c", ","), 4)', "WorksheetFunction.Index: the result is #REF! (Error 1004)"),
    ('Index(Range("F1:G4"), 2)', "WorksheetFunction.Index: the result is #REF! (Error 1004)"),
    ("Sqrt(-1)", "WorksheetFunction.Sqrt: the result is #NUM! (Error 1004)"),
    ("Log(0)", "WorksheetFunction.Log: the result is #NUM! (Error 1004)"),
    ("Log(-1)", "WorksheetFunction.Log: the result is #NUM! (Error 1004)"),
    ("Log(8, 1)", "WorksheetFunction.Log: the result is #DIV/0! (Error 1004)"),
    ("CountIf(1)", "WorksheetFunction.CountIf requires 2 arguments"),
    ("SumIf(1)", "WorksheetFunction.SumIf requires at least 2 arguments"),
    ("Match(1)", "Match: requires at least 2 arguments"), ("Index(1)", "Index: requires at least 2 arguments"),
    ("Abs()", "Abs: no arg"), ("Sqrt()", "Sqrt: no arg"), ("Log()", "Log: no arg"),
    ("Power(1)", "Power requires 2 arguments"), ("Round()", "WorksheetFunction.Round requires arguments"),
    ('Abs("x")', "Cannot convert 'x' to number"), ('Log(10, "b")', "Cannot convert 'b' to number"),
    ('Index(Split("a"), "x")', "Cannot convert 'x' to number"), ('Power(Split("a b"), 1)', "Cannot convert array to number"),
]


@pytest.mark.parametrize("call, message", ERRORS)
def test_errors(vm, call, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        wsf(vm, call)


CLEAN_COLUMN = """
Sub CleanColumn()
    Dim i, s, p, words
    For i = 1 To 5
        s = UCase(Trim(Cells(i, 1).Value))
        s = Replace(s, "-", " ")
        p = InStr(s, " ")
        If p > 0 Then
            Cells(i, 3).Value = Mid(s, 1, p - 1)
        Else
            Cells(i, 3).Value = s
        End If
        words = Split(s, " ")
        Cells(i, 2).Value = Join(words, "_")
        Cells(i, 5).Value = Format(Cells(i, 4).Value, "#,##0.00")
    Next
    Cells(1, 6).Value = WorksheetFunction.Sum(Range("D1:D6"))
    Cells(2, 6).Value = WorksheetFunction.CountIf(Range("B1:B5"), "B*")
    Cells(3, 6).Value = WorksheetFunction.CountIf(Range("D1:D6"), ">=2")
End Sub
"""


def test_a_macro_cleans_a_column_end_to_end():
    vm = morvane.Vm()
    rows = [("  apple pie ", 1234.5), ("Banana-split", 1000000), ("\u00a0cherry tart\t", -0.125),
            ("blueberry", 2), ("straße", 7.005)]
    for i, (text, number) in enumerate(rows, 1):
        vm.set_cell(i, 1, text)
        vm.set_cell(i, 4, number)
    vm.set_cell(6, 4, "n/a")
    vm.run(CLEAN_COLUMN, "CleanColumn")
    column = lambda c: [vm.get_cell(r, c) for r in range(1, 6)]
    assert column(2) == ["APPLE_PIE", "BANANA_SPLIT", "CHERRY_TART", "BLUEBERRY", "STRASSE"]
    assert column(3) == ["APPLE", "BANANA", "CHERRY", "BLUEBERRY", "STRASSE"]
    # Halves round away from zero on the decimal value, as a report shows them;
    # texts that read as numbers are entered as numbers, as typing them would.
    assert column(5) == ["1,234.50", "1,000,000.00", -0.13, 2, 7.01]
    assert vm.get_cell(1, 6) == pytest.approx(1234.5 + 1000000 - 0.125 + 2 + 7.005)
    assert same(vm.get_cell(2, 6), 2) and same(vm.get_cell(3, 6), 4)


@pytest.mark.parametrize("dim", ["Dim rng", "Dim rng As Variant", "Dim rng As Object", "Dim rng As Range", ""])
def test_a_range_variable_works_whatever_its_dim(vm, dim):
    got = value_of("WorksheetFunction.Sum(rng) + WorksheetFunction.Count(ws.Range(\"F1:F4\"))",
                   setup=f"{dim}\nSet rng = Range(\"F1:F4\")\nSet ws = ActiveSheet", vm=vm)
    assert same(got, 14)
