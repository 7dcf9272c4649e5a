"""Values as a VBA macro sees them: blanks against "" and 0, numbers against
numeric texts, dates and times, the text of numbers, texts written to cells,
texts as conditions, built-in arguments, and the warnings for what a run
passes over."""
import datetime
import re
import warnings

import openpyxl
import pytest

import morvane
from vmhelp import run, run_body, same, sub, value_of

# ---------------------------------------------------------------- blanks and numeric texts

# Each row: a condition, with A1 blank, A2 holding 1001 and v never assigned.
BLANKS = [
    ('Cells(1, 1).Value = ""', True), ("Cells(1, 1).Value = 0", True), ('Cells(1, 1).Value <> ""', False),
    ("Cells(1, 1).Value <> 0", False), ('Cells(1, 1).Value < "a"', True), ("Cells(1, 1).Value < 1", True),
    ("Cells(1, 1).Value >= 0", True), ('Cells(1, 1).Value > ""', False), ("Cells(1, 1).Value = False", True),
    ('v = ""', True), ("v = 0", True), ("v = Empty", True), ("v <= 0", True), ('v = "x"', False), ("v = 1", False),
    ('Cells(2, 1).Value = "1001"', True), ('Cells(2, 1).Value = " 1001 "', True), ('Cells(2, 1).Value < "999"', False),
    ('Cells(2, 1).Value = "1001x"', False), ('2 = "2"', True), ('"2.50" = 2.5', True), ('"a" = 0', False),
]


@pytest.mark.parametrize("condition, want", BLANKS)
def test_blanks_equal_empty_text_and_zero_and_numbers_meet_numeric_texts(condition, want):
    vm = morvane.Vm()
    vm.set_cell(2, 1, 1001)
    body = f"Dim v\nd = 0\nb = {condition}\nIf {condition} Then i = 1 Else i = 0\nDo While {condition}\nd = d + 1\nExit Do\nLoop"
    run(sub(body), vm=vm)
    got = vm.variables()
    assert same(got["b"], want) and same(got["i"], int(want)) and (got["d"] == 1) is want


@pytest.mark.parametrize("case, want", [('Case ""', 1), ("Case 0", 1), ("Case Is < 1", 1), ('Case "x"', 2)])
def test_select_case_matches_a_blank_cell(case, want):
    vm = run_body(f"Select Case Cells(1, 1).Value\n{case}\nx = 1\nCase Else\nx = 2\nEnd Select")
    assert vm.variables()["x"] == want


def test_a_loop_until_the_first_blank_cell_ends():
    vm = morvane.Vm()
    for r in range(1, 4):
        vm.set_cell(r, 1, r * 10)
    vm.run(sub('r = 1\nDo Until Cells(r, 1).Value = ""\nr = r + 1\nLoop'), "Main")
    assert vm.variables()["r"] == 4


# ---------------------------------------------------------------- dates and times

DATES = [
    ("#1/2/2020# + 1", datetime.date(2020, 1, 3)), ("30 + #1/2/2020#", datetime.date(2020, 2, 1)),
    ("#1/2/2020# - 2", datetime.date(2019, 12, 31)), ("#3/1/2020# - #2/1/2020#", 29),
    ("#1/2/2020# + 0.5", datetime.datetime(2020, 1, 2, 12, 0)), ('Format(#1/2/2020# + 30, "yyyy-mm-dd")', "2020-02-01"),
    ("#1/2/2020# + 1 > #1/2/2020#", True), ("TypeName(#1/2/2020# + 1)", "Date"),
]


@pytest.mark.parametrize("expr, want", DATES)
def test_date_arithmetic_stays_a_date(expr, want):
    assert same(value_of(expr), want)


def test_dates_and_now_written_to_cells_read_back_as_python_dates():
    vm = run_body("Cells(1, 1).Value = #1/2/2020# + 30\nCells(1, 2).Value = Now\nok = Now >= Date\nt = Time < 1")
    due, stamp = vm.get_cell(1, 1), vm.get_cell(1, 2)
    assert same(due, datetime.date(2020, 2, 1))
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    if isinstance(stamp, datetime.datetime):  # a plain date only at midnight exactly
        assert abs((now - stamp).total_seconds()) < 60
    assert vm.variables()["ok"] is True and vm.variables()["t"] is True


def test_a_date_past_the_calendar_overflows():
    with pytest.raises(RuntimeError, match="(?m)^Overflow$"):
        value_of("#12/31/9999# + 1")


# Each row: setup lines, an expression, and its value, or the VBA error number
# it raises (an int inside a tuple). Literals fold when compiled and typed
# variables take the numeric fast path; both must agree with the plain rule.
OPERATOR_AND_DATE_ZERO = [
    # `/` always gives a Double
    ("", "TypeName(7 / 7)", "Double"), ("", "TypeName(140 / 4)", "Double"), ("", "7 / 7", 1.0),
    ("v = 12", "v / 4", 3.0), ("Dim i As Long\ni = 12", "i / 4", 3.0), ("Const c = 10 / 5", "c", 2.0),
    ("Dim i As Long, s\nFor i = 1 To 4\ns = i / 2\nNext", "s", 2.0),
    ("Cells(1, 1).Value = 9 / 3", "Cells(1, 1).Value", 3.0),
    # `^` past the Double range overflows; a power with no value is an invalid argument
    ("", "2 ^ 10", 1024), ("", "10 ^ 309", (6,)), ("a = 10\nb = 309", "a ^ b", (6,)),
    ("Dim a As Double\na = 10 ^ 200", "a ^ 2", (6,)), ("Dim i As Long\ni = 7", "i ^ 400", (6,)),
    ("", "0 ^ -1", (5,)), ("", "(-8) ^ (1 / 3)", (5,)), ("", "(-8) ^ 3", -512),
    # a Date of zero is midnight
    ("Dim d As Date", "d", datetime.time(0, 0)), ("", "CDate(0)", datetime.time(0, 0)),
    ("Dim d As Date", '"at " & d', "at 00:00:00"), ("", "CStr(CDate(0))", "00:00:00"),
    ("Dim d As Date", "TypeName(d)", "Date"), ("", "CDate(0.5)", datetime.time(12, 0)),
    ("Dim d As Date\nCells(1, 1).Value = d", "Cells(1, 1).Value", datetime.time(0, 0)),
    ('Dim d As Date\nCells(1, 1).Value = d\nCells(1, 2).Formula = "=A1&""|"""', "Cells(1, 2).Value", "00:00:00|"),
]


@pytest.mark.parametrize("setup, expr, want", OPERATOR_AND_DATE_ZERO)
def test_division_powers_and_the_date_zero(setup, expr, want):
    vm = run_body(f"{setup}\nOn Error Resume Next\nx = {expr}\nn = Err.Number")
    got = vm.variables()
    if isinstance(want, tuple):
        assert got["n"] == want[0] and "x" not in got
    else:
        assert got["n"] == 0 and same(got["x"], want)


def test_a_date_zero_cell_comes_to_python_as_midnight():
    vm = run_body("Dim d As Date\nCells(1, 1).Value = d\nCells(2, 1).Value = CDate(0)")
    assert vm.cells() == {(1, 1): datetime.time(0, 0), (2, 1): datetime.time(0, 0)}
    assert morvane.run_macro(sub("Dim d As Date\nCells(1, 1).Value = d"), "Main") == {(1, 1): datetime.time(0, 0)}


def test_times_of_day_alone_save_as_times(tmp_path):
    vm = run_body('Dim d As Date\nCells(1, 1).Value = d\nCells(2, 1).Value = "8:30 PM"\n'
                  'Cells(3, 1).Value = "2024-03-15"\nCells(4, 1).Value = "2024-03-15 13:45"')
    vm.save_workbook(str(tmp_path / "times.xlsx"))
    sheet = openpyxl.load_workbook(tmp_path / "times.xlsx").active
    assert [sheet.cell(r, 1).value for r in range(1, 5)] == [
        datetime.time(0, 0), datetime.time(20, 30),
        datetime.datetime(2024, 3, 15), datetime.datetime(2024, 3, 15, 13, 45),
    ]


# ---------------------------------------------------------------- cells written by a macro

def test_writing_the_empty_text_empties_the_cell():
    vm = morvane.Vm()
    for r in (1, 2, 3):
        vm.set_cell(r, 1, "x")
    vm.run(sub('Cells(3, 1).Value = ""\nRange("B1").Value = "y"\nRange("B1").Value = ""\n'
               "e = IsEmpty(Cells(3, 1).Value)\nlast = Cells(100, 1).End(xlUp).Row"), "Main")
    assert vm.variables()["e"] is True and vm.variables()["last"] == 2
    assert vm.cells() == {(1, 1): "x", (2, 1): "x"}


# Each row: a VBA expression written to cells, and what every cell holds after
# it, as the spreadsheet stores typed input.
ENTERED = [
    ('"10"', 10), ('" -2.5 "', -2.5), ('"1e3"', 1000), ('"007"', 7), ("10", 10),
    ('"TRUE"', True), ('"false"', False),
    # thousands separators, a currency sign, a percent, a negative in parentheses
    ('"1,000"', 1000), ('Format(1234.5, "#,##0.00")', 1234.5), ('"$5"', 5), ('"-$1,250.75"', -1250.75),
    ('"25%"', 0.25), ('"(42)"', -42), ('"($3.50)"', -3.5),
    # ISO and m/d/yyyy dates, with or without a time; times of day
    ('"2024-03-15"', datetime.date(2024, 3, 15)), ('"2024-03-15 13:45"', datetime.datetime(2024, 3, 15, 13, 45)),
    ('"3/15/2024"', datetime.date(2024, 3, 15)), ('"3/15/2024 8:00 PM"', datetime.datetime(2024, 3, 15, 20)),
    ('"8:00"', datetime.time(8)), ('"8:00 PM"', datetime.time(20)), ('"13:45:10"', datetime.time(13, 45, 10)),
    # error literals are the errors
    ('"#N/A"', morvane.ExcelError("#N/A")), ('"#DIV/0!"', morvane.ExcelError("#DIV/0!")),
    ('"#value!"', morvane.ExcelError("#VALUE!")),
    # a leading apostrophe keeps the rest as text
    ('"\'00123"', "00123"), ('"\'#N/A"', "#N/A"), ('"\'2024-03-15"', "2024-03-15"),
    # texts that read as none of these stay as written
    ('"1,23"', "1,23"), ('"$5%"', "$5%"), ('"2/30/2024"', "2/30/2024"), ('"25:00"', "25:00"), ('"inf"', "inf"),
    ('"10 kg"', "10 kg"), ('"abc"', "abc"), ('"#hashtag"', "#hashtag"), ('" x "', " x "),
]

# Every road a macro writes a cell by, each to its own cells (listed after it).
WRITES = [
    ("Cells(1, 1).Value = {v}", [(1, 1)]),
    ("Cells(2, 1) = {v}", [(2, 1)]),
    ('Range("B1").Value = {v}', [(1, 2)]),
    ('Range("C1:C2").Value = {v}', [(1, 3), (2, 3)]),
    ('Range("D1").Formula = {v}', [(1, 4)]),
    ('Range("A1").Offset(3, 0).Value = {v}', [(4, 1)]),
    ('Sheets("Sheet1").Cells(1, 5).Value = {v}', [(1, 5)]),
    ('Sheets("Sheet1").Range("F1:F2").Value = {v}', [(1, 6), (2, 6)]),
    ('Set r = Range("G1:G2")\nr.Value = {v}', [(1, 7), (2, 7)]),
    ('Set r = Range("H1")\nr.Formula = {v}', [(1, 8)]),
    ('With Range("I1:I2")\n.Value = {v}\nEnd With', [(1, 9), (2, 9)]),
    ('With Worksheets("Sheet1")\n.Cells(1, 10).Value = {v}\nEnd With', [(1, 10)]),
    ('Dim a(1)\na(0) = {v}\na(1) = {v}\nRange("K1:L1").Value = a', [(1, 11), (1, 12)]),
    ('Set r = Range("N1:N2")\nr.Value = a', [(1, 14), (2, 14)]),
    ("Dim t As String\nt = {v}\nCells(1, 13).Value = t", [(1, 13)]),
    ('Range("O1").Select\nActiveCell.Value = {v}', [(1, 15)]),
    ('Range("P1:P2").Select\nSelection.Value = {v}', [(1, 16), (2, 16)]),
    ("Cells(1, 17).Resize(2, 1).Value = {v}", [(1, 17), (2, 17)]),
]


@pytest.mark.parametrize("text, want", ENTERED)
def test_texts_written_to_cells_read_as_typed(text, want):
    vm = run_body("\n".join(write.format(v=text) for write, _ in WRITES))
    for _, cells in WRITES:
        for cell in cells:
            assert same(vm.get_cell(*cell), want), cell


@pytest.mark.parametrize("fill, want", [
    ('p = Split("10,20,5.5", ",")\nFor i = 0 To 2\nCells(i + 1, 1).Value = p(i)\nNext i', 35.5),
    ('Cells(1, 1).Value = Format(1234.5, "#,##0.00")\nCells(2, 1).Value = "25%"\nCells(3, 1).Value = "$5"', 1239.75),
])
def test_a_formula_sums_the_texts_a_macro_wrote(fill, want):
    vm = run_body(f'{fill}\nRange("B1").Formula = "=SUM(A1:A3)"')
    assert vm.get_cell(1, 2) == want


def test_values_set_from_python_are_stored_as_given():
    vm = morvane.Vm()
    texts = ["10", "", "1,000", "25%", "#N/A", "2024-03-15", "'x"]
    for col, text in enumerate(texts, 1):
        vm.set_cell(1, col, text)
    for col, text in enumerate(texts, 1):
        assert same(vm.get_cell(1, col), text)


# ---------------------------------------------------------------- the text of numbers

TEXTS = [
    ('"Total: " & 1.1 * 3', "Total: 3.3"), ("CStr(0.1 + 0.2)", "0.3"), ("CStr(2 / 3)", "0.666666666666667"),
    ("CStr(10 ^ 20)", "1E+20"), ("CStr(1.5 / 10000000)", "1.5E-07"), ("CStr(0.0001)", "0.0001"),
    ("CStr(123456789012345#)", "123456789012345"), ("Str(-1 / 3)", "-0.333333333333333"), ("1 / 4 & \"\"", "0.25"),
    ("Join(Split(CStr(0.1 + 0.2)))", "0.3"),
]


@pytest.mark.parametrize("expr, want", TEXTS)
def test_numbers_print_with_fifteen_digits(expr, want):
    assert value_of(expr) == want


def test_a_string_variable_and_parameter_hold_the_fifteen_digit_text():
    vm = run(sub("Dim s As String\ns = 0.1 + 0.2\nt = Shown(1.1 * 3)") +
             "Function Shown(x As String)\nShown = x\nEnd Function\n")
    assert vm.variables()["s"] == "0.3" and vm.variables()["t"] == "3.3"


# ---------------------------------------------------------------- one answer on every road

# Joins and comparisons read constants and variables where they are, and
# build their texts in place; an operand that is a Function's result takes
# the general road. Each row: how b is set, and "a" & b.
JOINS = [
    ("b = 0.1 + 0.2", "a0.3"), ("b = 10 ^ 20", "a1E+20"), ("b = -7", "a-7"), ("b = 2 ^ 62", "a4611686018427387904"),
    ("b = True", "aTrue"), ("b = #1/2/2020#", "a2020-01-02"), ('b = "z"', "az"), ('b = ""', "a"), ("Dim b", "a"),
]
SAME = "Function Same(v)\nSame = v\nEnd Function\n"


@pytest.mark.parametrize("setup, want", JOINS)
def test_a_join_gives_one_text_on_every_road(setup, want):
    body = (f'{setup}\nj = "a" & b\np = "a"\np = p & b\nDim s As String\ns = "a" & b\ng = "a" & Same(b)\n'
            'n = ("a" & b) & ""')
    got = run(sub(body) + SAME).variables()
    assert [got[k] for k in "jpsgn"] == [want] * 5


@pytest.mark.parametrize("body, want", [
    ('t = "ab"\nt = "x" & t', "xab"), ('t = "ab"\nt = t & "c" & t', "abcab"), ('t = "ab"\nt = t & t', "abab"),
    ('t = 5\nt = "x" & t', "x5"), ('t = "ab"\nt = t', "ab"), ('t = 5\nDim s As String\ns = t\nt = s & s', "55"),
    ('t = "ab"\nt = t & "," & t', "ab,ab"), ('t = "ab"\nt = t & Len(t) & t', "ab2ab"),
    ('t = "a"\nt = t & 1 & 0.1 + 0.2 & True & "x"', "a10.3Truex"), ('t = "a"\nt = t & 1 & 2 & 3 & 4 & 5', "a12345"),
    # A failing operand leaves the variable as it was.
    ('On Error Resume Next\nt = "ab"\nt = "x" & (1 / 0)', "ab"), ('On Error Resume Next\nt = "ab"\nt = t & (1 / 0)', "ab"),
    ('On Error Resume Next\nt = "ab"\nt = t & "c" & (1 / 0)', "ab"),
])
def test_a_text_assigned_may_read_its_own_variable(body, want):
    assert run_body(body).variables()["t"] == want


@pytest.mark.parametrize("extra", [0, 40])
@pytest.mark.parametrize("n", [0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33])
def test_a_text_copied_over_one_as_long_or_longer_keeps_every_byte(n, extra):
    want = "abcdefghijklmnopqrstuvwxyz0123456789"[:n]
    old = "Z" * (n + extra)
    head, tail = want[:n // 2], want[n // 2:]
    body = (f'k = "{want}"\nt = "{old}"\nt = k\nc = "{old}"\nc = "{want}"\nj = "{old}"\nj = "{head}" & "{tail}"\n'
            f'p = "{old}"\np = k & ""')
    got = run_body(body).variables()
    assert [got[v] for v in "tcjp"] == [want] * 4


# Each row: a, the operator, b and the answer, compared as variables, in an
# If, against the literal, a Function's result against the variable, and
# through Functions on both sides.
COMPARES = [
    ('"abc"', "=", '"ABC"', True), ('"abc"', "<", '"abd"', True), ('"straße"', "=", '"STRASSE"', True),
    ('"10"', "<", '"9"', True), ('"10"', ">", "9", True), ('"a"', "=", "0", False), ('"k1"', "<>", '"k0"', True),
    ("Empty", "=", "0", True), ("Empty", "<", "3", True), ("Empty", "=", '""', True), ('"x"', ">=", "Empty", True),
    ("Empty", ">", '""', False), ("Empty", "=", "Empty", True), ("Empty", "<>", "-0.5", True),
    ("2.5", "<=", "Empty", False), ("Empty", ">=", "0", True),
]


@pytest.mark.parametrize("a, op, b, want", COMPARES)
def test_a_comparison_gives_one_answer_on_every_road(a, op, b, want):
    body = (f"x = {a}\ny = {b}\nr = (x {op} y)\nIf x {op} y Then i = True Else i = False\nk = (x {op} {b})\n"
            f"h = (Same(x) {op} y)\ng = (Same(x) {op} Same(y))")
    got = run(sub(body) + SAME).variables()
    assert [got[k] for k in "rikhg"] == [want] * 5


# Each row: the subject, a Case clause whose values are {} (filled with
# constants, then with variables a and b holding them), and whether it matches.
CASES = [
    ('"ABC"', "Case {}", ['"abc"'], True), ('"b"', "Case Is > {}", ['"A"'], True), ("5", "Case {}", ['"5"'], True),
    ('"k3"', "Case {} To {}", ['"k1"', '"K5"'], True), ('"k6"', "Case {} To {}", ['"k1"', '"k5"'], False),
    ("Empty", "Case {}", ["0"], True), ("Empty", "Case Is < {}", ['"a"'], True), ('"x"', "Case Is <> {}", ['"X"'], False),
    ("2.5", "Case {} To {}", ["1", "3"], True),
]


@pytest.mark.parametrize("subject, clause, values, want", CASES)
def test_select_case_matches_constants_and_variables_alike(subject, clause, values, want):
    held = "".join(f"{v} = {x}\n" for v, x in zip("ab", values))
    for case in (clause.format(*values), clause.format(*"ab"[:len(values)])):
        vm = run_body(f"{held}Select Case {subject}\n{case}\nm = True\nCase Else\nm = False\nEnd Select")
        assert vm.variables()["m"] is want, case


def test_typed_array_elements_start_at_their_default():
    v = run_body("Dim s(2) As String\nDim n(2) As Long\na = (s(1) = \"\")\nb = n(1)").variables()
    assert v["s"] == ["", "", ""] and v["a"] is True and same(v["b"], 0)


# ---------------------------------------------------------------- texts as conditions

CONDITIONS = [
    ('"False"', 2), ('"0"', 2), ('"true"', 1), ('" TRUE "', 1), ('"2.5"', 1), ('"-1"', 1), ("Not \"False\"", 1),
    ('"True" And "False"', 2), ('"false" Or "TRUE"', 1), ('"1" And 1', 1),
]


@pytest.mark.parametrize("condition, want", CONDITIONS)
def test_texts_as_conditions_convert_as_cbool(condition, want):
    vm = run_body(f"If {condition} Then x = 1 Else x = 2\ny = IIf({condition}, 1, 2)\n"
                  f"Do While {condition}\nd = 1\nExit Do\nLoop")
    v = vm.variables()
    assert v["x"] == want and v["y"] == want and (v.get("d") == 1) is (want == 1)


@pytest.mark.parametrize("body", ['If "yes" Then x = 1', 'x = IIf("", 1, 2)', 'Do While "abc"\nLoop', 'x = Not "maybe"'])
def test_other_texts_are_a_type_mismatch(body):
    with pytest.raises(RuntimeError, match="(?m)^Type mismatch$"):
        run_body(body)


# ---------------------------------------------------------------- built-in arguments

BUILTINS = [
    ('UBound(Split(""))', -1), ('UBound(Split("a,b,c", ",", 2))', 1), ('Join(Split("a,b,c", ",", 2), "|")', "a|b,c"),
    ('Join(Split("abc", ""), "|")', "abc"), ('UBound(Split("aXbxc", "x", -1, 1))', 2), ('UBound(Split("a b", " ", 0))', -1),
    ('Replace("abcabc", "b", "X", 3)', "caXc"), ('Replace("aaaa", "a", "b", 1, 2)', "bbaa"),
    ('Replace("aAa", "a", "x", 1, -1, 1)', "xxx"), ('Replace("aAa", "a", "x", 1, -1, vbTextCompare)', "xxx"),
    ('Replace("Straße", "SSE", "x", 1, -1, 1)', "Straße"), ('Replace("abc", "b", "x", 4)', ""),
    ('Val("  1 2 3")', 123), ('Val("&H10")', 16), ('Val("&O17")', 15), ('Val("&HFFFF")', -1), ('Val("inf")', 0),
    ('Val("12abc")', 12), ('Val("1,000")', 1),
    ('Left("abcdefg", Len("abcdefg") / 2)', "abcd"), ('Right("abcdefg", 3.5)', "defg"), ('Mid("abcdef", 1.6, 2.5)', "bcd"),
    ('InStr(1.6, "abab", "a")', 3), ("Chr(65.5)", "B"), ('Replace("aaa", "a", "b", 1, 1.6)', "bba"),
    ('IsNumeric("1,000")', True), ('IsNumeric("$5")', True), ('IsNumeric("(5)")', True), ('IsNumeric("&HFF")', True),
    ("IsNumeric(True)", True), ("IsNumeric(Empty)", True), ('IsNumeric(" 12 ")', True), ('IsNumeric("inf")', False),
    ('IsNumeric("nan")', False), ('IsNumeric("1e400")', False), ('IsNumeric("")', False), ('IsNumeric("12abc")', False),
    ('CDbl(" 12 ")', 12.0), ('CLng("1,000")', 1000), ('CInt("(5)")', -5), ('CDbl("$1,234.5")', 1234.5),
    ('CLng("&HFF")', 255), ("CDbl(Empty)", 0.0),
    ("Sqr(4)", 2.0), ("Log(1)", 0), ("Exp(0)", 1.0),
]


@pytest.mark.parametrize("expr, want", BUILTINS)
def test_builtins_take_their_arguments_as_vba_does(expr, want):
    assert same(value_of(expr), want)


@pytest.mark.parametrize("text", ['"1,000"', '"$5"', '"(5)"', '"&HFF"', '" 12 "', "True", "Empty", '"inf"', '"nan"',
                                  '"1e400"', '"12abc"', '""'])
def test_isnumeric_agrees_with_the_conversions(text):
    numeric = value_of(f"IsNumeric({text})")
    for conversion in ("CDbl", "CLng", "CInt"):
        try:
            value_of(f"{conversion}({text})")
            converts = True
        except RuntimeError:
            converts = False
        assert converts is numeric, f"{conversion}({text})"


ERRORS = [
    ("Sqr(-1)", "Invalid procedure call or argument"), ("Log(0)", "Invalid procedure call or argument"),
    ("Log(-1)", "Invalid procedure call or argument"), ("Sqr(10 ^ 308 * 10)", "Invalid procedure call or argument"),
    ('Replace("abc", "b", "x", 0)', "Invalid procedure call or argument"),
    ('Split("a", ",", -2)', "Invalid procedure call or argument"),
    ("UBound(Split(\"a\"), 2)", "Subscript out of range"), ("LBound(Split(\"a\"), 0)", "Subscript out of range"),
    ('CDbl("inf")', "Type mismatch"), ('CDbl("1e400")', "Type mismatch"),
    ("Exp(1000)", "Overflow"), ('Val("1e400")', "Overflow"),
]


@pytest.mark.parametrize("expr, message", ERRORS)
def test_builtins_fail_where_vba_does(expr, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        value_of(expr)


@pytest.mark.parametrize("expr, number", [
    ("Sqr(-1)", 5), ('If "yes" Then x = 1', 13), ('UBound(Split("a"), 2)', 9), ("#12/31/9999# + 1", 6),
])
def test_the_failures_carry_vba_error_numbers(expr, number):
    line = expr if expr.startswith("If") else f"x = {expr}"
    vm = run_body(f"On Error Resume Next\n{line}\nn = Err.Number")
    assert vm.variables()["n"] == number


def test_a_square_root_of_a_negative_never_reaches_a_cell():
    vm = morvane.Vm()
    with pytest.raises(RuntimeError, match="(?m)^Invalid procedure call or argument$"):
        vm.run(sub("Cells(1, 1).Value = Sqr(-1)"), "Main")
    assert vm.cells() == {}


def test_a_range_read_into_an_array_starts_at_1():
    vm = morvane.Vm()
    for r in range(1, 6):
        vm.set_cell(r, 1, r * 10)
    vm.run(sub('x = Range("A1:A5").Value\nu = UBound(x)\nl = LBound(x)\nu1 = UBound(x, 1)\n'
               "s = 0\nFor i = 1 To UBound(x)\ns = s + x(i)\nNext i\nf = x(1)"), "Main")
    v = vm.variables()
    assert (v["u"], v["l"], v["u1"], v["s"], v["f"]) == (5, 1, 5, 150, 10)
    with pytest.raises(RuntimeError, match=r"index 0 out of bounds"):
        vm.run(sub('x = Range("A1:A5").Value\ny = x(0)'), "Main")


# ---------------------------------------------------------------- skipped statements

SKIPPING = '''Const Rate = 2
Sub Main()
    Debug.Print "start"
    For i = 1 To 3
        Debug.Print i
    Next i
    Cells(1, 1).Value = Rate - 1
End Sub
Sub Unused()
    Debug.Print "never runs"
End Sub
'''


def test_each_skipped_statement_that_ran_is_a_warning_in_source_order():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        cells = morvane.run_macro(SKIPPING, "Main")
    assert cells == {(1, 1): 1}
    assert [w.category for w in caught] == [morvane.SkippedStatementWarning] * 2
    assert issubclass(morvane.SkippedStatementWarning, UserWarning)
    texts = [str(w.message) for w in caught]
    # The module's Const is a value, not a skipped line.
    assert texts[0] == 'line 3 (Debug.Print "start"): Debug.Print/Debug.Assert has no effect (no-op)'
    # Run three times, said once.
    assert texts[1] == "line 5 (Debug.Print i): Debug.Print/Debug.Assert has no effect (no-op)"


def test_a_failed_run_warns_too_and_a_long_statement_is_cut():
    long_line = "Debug.Print " + " & ".join(f'"{i}"' for i in range(40))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with pytest.raises(RuntimeError, match="Division by zero"):
            run_body(f"{long_line}\nx = 1 / 0")
    (warning,) = caught
    shown = re.fullmatch(r"line 2 \((.*)\): Debug.Print/Debug.Assert has no effect \(no-op\)", str(warning.message))
    assert shown and shown.group(1) == long_line[:80] + "..."


def test_warnings_as_errors_give_a_strict_mode():
    with warnings.catch_warnings():
        warnings.simplefilter("error", morvane.SkippedStatementWarning)
        with pytest.raises(morvane.SkippedStatementWarning, match=r"^line 3 \(Debug"):
            morvane.Vm().run(SKIPPING.replace("Const Rate = 2\n", "\n"), "Main")
        # A run that skips nothing stays silent.
        assert run_body("x = 1").variables() == {"x": 1}
