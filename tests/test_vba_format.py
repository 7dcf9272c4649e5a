"""Format: numbers, dates and texts through number formats and VBA's named
formats. The rows shared with TEXT are in numfmt_cases.py."""
import datetime
import re

import pytest

import morvane
from numfmt_cases import REFUSED, SHARED, VBA
from vmhelp import same, value_of

CASES = [
    ("3.14159", "0.00", "3.14"), ("3.14159", "0.0#", "3.14"), ("3.14159", "0.00#", "3.142"),
    # Decimals round half away from zero on the 15-digit decimal value.
    ("2.5", "0", "3"), ("3.5", "0", "4"), ("0.125", "0.00", "0.13"), ("45000.5", "yyyy-mm-dd", "2023-03-15"),
    ("1234567", "#,##0", "1,234,567"), ("1234567", "#,##0.00", "1,234,567.00"), ("-1234567", "#,##0", "-1,234,567"),
    ("-1234.5", "#,##0", "-1,235"), ("1234.7", "#,##0", "1,235"), ("-0.5", "#,##0", "-1"),
    ("1234.567", "#,##0.00", "1,234.57"), ("999.996", "#,##0.00", "1,000.00"), ("-1234.567", "#,##0.0", "-1,234.6"),
    ("1234.56", "0.0,0", "1,234.56"), ("123", "#,##0", "123"), ("-0.04", "0.0", "-0.0"),
    ("5", "0.00", "5.00"), ("-5", "0.0", "-5.0"), ("5", "", "5"), ("0.1", "General Number", "0.1"),
    ("0.1", "GENERAL", "0.1"), ("2.5", "general number", "2.5"), ("1234", "0", "1234"),
    ('"12.5"', "0.00", "12.50"), ("True", "0", "True"), ("#3/15/2023#", "yyyy", "2023"), ("Empty", "0.00", ""),
    ("#3/15/2023#", "", "2023-03-15"), ("#3/15/2023#", "0.00", "45000.00"), ("#3/15/2023# + 0.75", "hh:mm", "18:00"),
    ("#3/15/2023# + 0.75", "General Date", "3/15/2023 6:00:00 PM"),
    # Before 1900 the day counts back and the time of day forward.
    ("#1/1/1900# - 2.75", "yyyy-mm-dd hh:mm", "1899-12-29 06:00"),
    ('CDbl(10 ^ 308 * 10 - 10 ^ 308 * 10)', "0.00", "NaN"), ('CDbl(10 ^ 308 * 10)', "#,##0.00", "inf"),
    ('CDbl(-10 ^ 308 * 10)', "0", "-inf"),
    ('CDbl("1e-7")', "0.000000000", "0.000000100"), ("0.1", "0." + "0" * 30, "0.1" + "0" * 29),
    ("-9223372036854775807 - 1", "#,##0", "-9,223,372,036,854,775,808"),
    ('CDbl("1e20")', "#,##0", "100,000,000,000,000,000,000"),
    # Each "%" shows the value times 100; a pattern without digit
    # placeholders shows only its text.
    ("0.5", "0%", "50%"), ("0.1234", "0.0%", "12.3%"), ("1", "0%", "100%"), ("12345", "#,##0%", "1,234,500%"),
    ("-0.256", "0.0%", "-25.6%"), ("0.5", "%", "%"), ("0.5", "0%x", "50%x"), ('"abc"', "0%", "abc"),
    ("9223372036854775807", "0%", "922337203685477580700%"), ("0.015", "0.00%", "1.50%"),
]


@pytest.mark.parametrize("value, pattern, want", CASES)
def test_format(value, pattern, want):
    got = value_of(f'Format({value}, "{pattern}")')
    assert same(got, want), f"Format({value}, {pattern!r}): {got!r}"


def test_format_without_pattern_and_non_text_patterns():
    assert same(value_of("Format(2.50)"), "2.5")
    assert same(value_of("Format(0.5, 0)"), "1")
    assert same(value_of("Format(1234.5, True)"), "True")  # the pattern "True" holds no placeholder


def test_decimals_beyond_fifteen_digits_are_zeros():
    got = value_of('Format(0.5, p)', setup='p = "0."\nFor i = 1 To 2000\n p = p & "0"\nNext')
    assert got == "0.5" + "0" * 1999
    # Under "#" the zeros after the 15 digits are not shown.
    tiny = value_of('Format(CDbl("5e-324"), p)', setup='p = "0."\nFor i = 1 To 1100\n p = p & "#"\nNext')
    assert tiny == "0." + "0" * 323 + "494065645841247"


def test_format_requires_an_argument():
    with pytest.raises(RuntimeError, match="(?m)^Format requires at least 1 argument$"):
        value_of("Format()")


def format_of(value, pattern):
    """Format of a cell's value (as Python gives it), or of a date literal,
    with a pattern held in another cell."""
    vm = morvane.Vm()
    operand = "Cells(1, 1).Value"
    if isinstance(value, datetime.date):
        operand = f"#{value.month}/{value.day}/{value.year}#"
    else:
        vm.set_cell(1, 1, value)
    vm.set_cell(1, 2, pattern)
    vm.run(f"Sub Main()\nx = Format({operand}, Cells(1, 2).Value)\nEnd Sub\n", "Main")
    return vm.variables()["x"]


@pytest.mark.parametrize("value, pattern, want", SHARED + VBA)
def test_format_table(value, pattern, want):
    assert same(format_of(value, pattern), want)


@pytest.mark.parametrize("pattern, message", REFUSED)
def test_patterns_refused_with_a_message(pattern, message):
    with pytest.raises(RuntimeError, match="(?m)^Format: " + re.escape(message) + "$"):
        format_of(1, pattern)


def test_a_date_outside_the_calendar_is_refused():
    with pytest.raises(RuntimeError, match="(?m)^Format: the date serial 3e\\+06 is outside the dates a format can show$"):
        format_of(3e6, "yyyy")
    assert format_of(-1.25, "yyyy-mm-dd hh:mm") == "1899-12-30 06:00"  # before 1900 VBA's dates go on


def test_a_repeated_pattern_is_read_once_and_stays_right():
    # Many patterns in turn: the cache keeps each one's own compiled form.
    vm = morvane.Vm()
    vm.run("""Sub Main()
For i = 1 To 600
    s = Format(i, "0") & "/" & Format(i, "0.0") & "/" & Format(i, "#,##0." & Left("0000", i Mod 5))
Next
End Sub
""", "Main")
    assert vm.variables()["s"] == "600/600.0/600."
