"""Number built-ins: Int, Fix, Sgn, Abs, Sqr, Round, CInt and CLng, with the
result types and the failure messages."""
import math
import re

import pytest

from vmhelp import same, value_of


VALUES = [
    ("Int(-2.5)", -3), ("Int(2.7)", 2), ('Int("3.9")', 3), ("Int(True)", 1), ("Int(Empty)", 0),
    ("Fix(-2.5)", -2), ("Fix(2.7)", 2), ("Fix(-0.5)", 0),
    ("Sgn(-0.5)", -1), ("Sgn(0)", 0), ("Sgn(7)", 1), ('Sgn(10 ^ 308 * 10 - 10 ^ 308 * 10)', 0),
    ("Abs(-3.5)", 3.5), ("Abs(-3)", 3), ("Abs(False)", 0),
    ("Sqr(4)", 2.0), ("Sqr(2)", math.sqrt(2)),
    # Round sends halves to the even neighbour; CInt and CLng send them away
    # from zero and fail with Overflow past their type's range.
    ("Round(2.5)", 2), ("Round(3.5)", 4), ("Round(-2.5)", -2), ("Round(1234, -2)", 1200),
    ("Round(3.14159, 3)", 3.142), ("Round(0.125, 2)", 0.12), ("Round(2.675, 2)", 2.68), ("Round(7, 2)", 7),
    ('Round(2.5, (10 ^ 308 * 10 - 10 ^ 308 * 10))', 2),
    ("CInt(2.5)", 3), ("CInt(-2.5)", -3), ("CInt(1.4)", 1), ("CLng(3.5)", 4), ("CInt(-32768)", -32768),
    ("CInt(32767.4)", 32767), ("CLng(2147483647)", 2147483647), ("CLng(-2147483648)", -2147483648),
]


@pytest.mark.parametrize("expr, want", VALUES)
def test_values(expr, want):
    got = value_of(expr)
    assert same(got, want), f"{expr}: {got!r}"


# A digit count whose power of ten overflows leaves the number as it is, one
# that underflows gives 0: never NaN.
HUGE_DIGITS = [
    ("Round(1.5, 400)", 1.5), ("Round(1.25, 2147483647)", 1.25), ("Round(123.456, -400)", 0),
    ('Round(CDbl("1e300"), 100)', 1e300), ('Round(CDbl("1e300"), 400)', 1e300),
    ("Round(5, \"-1e30\")", 0), ("Round(5, \"1e30\")", 5),
    ("WorksheetFunction.Round(1.5, 400)", 1.5), ("WorksheetFunction.Round(5, -400)", 0),
    ('WorksheetFunction.Round(CDbl("1e300"), 100)', 1e300),
]


@pytest.mark.parametrize("expr, want", HUGE_DIGITS)
def test_round_with_huge_digit_counts(expr, want):
    got = value_of(expr)
    assert same(got, want), f"{expr}: {got!r}"


ERRORS = [
    ("Int()", "INT requires 1 argument"), ("Fix()", "Fix requires 1 argument"), ("Sgn()", "Sgn requires 1 argument"),
    ("Abs()", "Abs requires 1 argument"), ("Sqr()", "Sqr requires 1 argument"), ("Round()", "Round requires 1 argument"),
    ("CInt()", "CInt/CLng requires 1 argument"), ("CLng()", "CInt/CLng requires 1 argument"),
    ('Int("a")', "Cannot convert 'a' to number"), ('Round(1, "x")', "Cannot convert 'x' to number"),
    ('Abs(Split("a"))', "Cannot convert array to number"), ('CInt("5 5")', "Type mismatch"),
    ("CInt((10 ^ 308 * 10 - 10 ^ 308 * 10))", "Overflow"), ('CLng("1E+30")', "Overflow"), ('CLng("-1E+30")', "Overflow"),
    ("CInt(100000)", "Overflow"), ("CInt(32767.5)", "Overflow"), ("CLng(2147483648)", "Overflow"),
    ('CInt(Split("a"))', "Type mismatch"),
]


@pytest.mark.parametrize("expr, message", ERRORS)
def test_errors(expr, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        value_of(expr)


def test_extra_arguments_are_evaluated_and_ignored():
    assert same(value_of("Int(2.5, 99, \"x\")"), 2)
    with pytest.raises(RuntimeError, match="(?m)^Division by zero$"):
        value_of("Int(2.5, 1 / 0)")
