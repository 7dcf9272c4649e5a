"""Array and type information built-ins (IIf, IsEmpty, IsNull, IsArray,
IsNumeric, TypeName, VarType, UBound, LBound), the Range built-in, the
clock (Date, Now, Time), and how a call evaluates its arguments."""
import datetime
import re

import pytest

import morvane
from vmhelp import run_body, same, sub, value_of


VALUES = [
    ("IIf(True, 1, 2)", 1), ('IIf(0, "a", "b")', "b"), ('IIf("False", 1, 2)', 2), ("IIf(Empty, 1, 2)", 2),
    ('IIf(1 > 0, Split("a b"), 0)', ["a", "b"]),
    ("IsEmpty()", True), ("IsEmpty(Empty)", True), ('IsEmpty("")', False), ("IsEmpty(0)", False), ("IsEmpty(d)", True),
    ("IsNull(Null)", True), ("IsNull(0)", False), ("IsNull()", True),
    ("IsArray()", False), ('IsArray(Split("a"))', True), ('IsArray("a")', False),
    ("TypeName(1)", "Long"), ("TypeName(2.5)", "Double"), ('TypeName("a")', "String"), ("TypeName(True)", "Boolean"),
    ("TypeName(#1/1/2000#)", "Date"), ("TypeName(Empty)", "Empty"), ('TypeName(Split("a"))', "Variant()"),
    ("VarType(1)", 3), ("VarType(2.5)", 5), ('VarType("a")', 8), ("VarType(True)", 11), ("VarType(#1/1/2000#)", 7),
    ("VarType(Empty)", 0), ('VarType(Split("a"))', 8204),
    ('UBound(Split("a,b,c", ","))', 2), ('UBound(Split(""))', -1), ('UBound(Range("B2:A1"))', 4),
    ('UBound(Split("a,b", ","), 1)', 1), ('LBound(Split("a,b", ","))', 0), ('LBound(Range("B2:A1"))', 1),
]


@pytest.mark.parametrize("expr, want", VALUES)
def test_values(expr, want):
    got = value_of(expr, setup="Dim d")
    assert same(got, want), f"{expr}: {got!r}"


# A text counts when it holds a number, blanks around it allowed; the other
# kinds of value count only when they are numbers.
IS_NUMERIC = [
    ('"12"', True), ('" 3.5 "', True), ('"1e3"', True), ('"-.5"', True), ('Chr(160) & "7"', True), ("5", True),
    ("2.5", True), ('"abc"', False), ('""', False), ('"12abc"', False), ('"1,000"', True), ('"nan"', False),
    ('"inf"', False), ("True", True), ("#1/1/2000#", False), ("Empty", True), ('Split("1")', False), ("", False),
]


@pytest.mark.parametrize("arg, want", IS_NUMERIC)
def test_isnumeric(arg, want):
    assert same(value_of(f"IsNumeric({arg})"), want), arg


def test_type_information_of_records_and_error_values():
    vm = morvane.Vm()
    vm.set_cell(1, 1, morvane.ExcelError("#N/A"))
    vm.run("Type Pt\n X As Long\nEnd Type\n" + sub("Dim p As Pt\na = TypeName(p)\nb = VarType(p)\n"
                                                   "c = TypeName(Cells(1, 1).Value)\nd = VarType(Cells(1, 1).Value)"),
           "Main")
    v = vm.variables()
    assert same([v["a"], v["b"], v["c"], v["d"]], ["Object", 0, "Error", 10])


def test_range_reads_the_active_sheet_row_by_row():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 5)
    vm.set_cell(1, 2, "x")
    vm.set_cell(2, 1, 2.5)
    assert same(value_of('Range("A1")', vm=vm), [5])
    assert same(value_of('Range("A1:B2")', vm=vm), [5, "x", 2.5, None])
    assert same(value_of('Range("B2:A1")', vm=vm), value_of('Range("A1:B2")', vm=vm))  # put in order
    with pytest.raises(RuntimeError, match=re.escape("Range: invalid address '1A'")):
        value_of('Range("1A")', vm=vm)
    # A defined name reads the cells it names.
    assert same(value_of('Range("data")', setup='Range("A1:A2").Name = "data"', vm=vm), [5, 2.5])


def test_range_too_large_fails_with_a_message():
    with pytest.raises(RuntimeError, match=re.escape("Range 'A1:Z1000000' is too large to read (26000000 cells")):
        value_of('Range("A1:Z1000000")')


ERRORS = [
    ("IIf(True, 1)", "IIf requires 3 arguments"), ("TypeName()", "TypeName requires 1 argument"),
    ("VarType()", "VarType requires 1 argument"), ("UBound()", "UBound requires 1 argument"),
    ("LBound()", "LBound requires 1 argument"), ("UBound(5)", "UBound: argument is not an array"),
    ('LBound("x")', "LBound: argument is not an array"),
    # Arguments are evaluated before anything else: both IIf branches, and the
    # arguments of a name that is no built-in.
    ("IIf(True, 1, 1 / 0)", "Division by zero"), ("NoSuchFunc(1 / 0)", "Division by zero"),
    ("NoSuchFunc(1)", "Unknown VBA function: 'nosuchfunc'"), ("WorksheetFunction.Sum(1 / 0)", "Division by zero"),
]


@pytest.mark.parametrize("expr, message", ERRORS)
def test_errors(expr, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        value_of(expr)


def utc_today():
    return datetime.datetime.now(datetime.timezone.utc).date()


def test_clock_gives_dates_with_the_time_of_day():
    before = utc_today()
    v = run_body("d = Date\ne = Date()\nn = Now\nt = Time()\nok = Now >= Date\nk = Now - Date").variables()
    after = utc_today()
    assert isinstance(v["d"], datetime.date) and before <= v["d"] <= after
    assert v["e"] == v["d"]
    # Now is a date with its time (a plain date only at midnight exactly).
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    stamp = v["n"] if isinstance(v["n"], datetime.datetime) else datetime.datetime.combine(v["n"], datetime.time())
    assert abs((now - stamp).total_seconds()) < 60
    assert isinstance(v["t"], (datetime.time, type(None)))
    assert v["ok"] is True
    assert 0 <= v["k"] < 1


def test_date_is_the_day_the_worksheet_today_gives():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 1, "=TODAY()")
    vm.run(sub("d = Date"), "Main")
    today = vm.get_cell(1, 1)
    assert isinstance(today, datetime.date) and vm.variables()["d"] in (today, today + datetime.timedelta(days=1))


def test_date_arithmetic_stays_a_date_and_shows_as_text():
    before = utc_today()
    v = run_body("d = Date + 1\ns = Date & \"\"").variables()
    after = utc_today()
    assert v["d"] in {day + datetime.timedelta(days=1) for day in (before, after)}
    assert datetime.date.fromisoformat(v["s"]) in (before, after)


def test_a_variable_named_like_a_clock_built_in_wins():
    assert same(value_of("now", setup="now = 5"), 5)
