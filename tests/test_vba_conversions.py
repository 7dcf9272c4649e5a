"""Conversion built-ins: CDbl, CSng, CCur, CByte, CDate, CBool, Str, CStr and Val,
result types and the failure messages."""
import math
import re

import pytest

import morvane
from vmhelp import same, value_of

NBSP = "Chr(160)"

VALUES = [
    ("CDbl(5)", 5.0), ('CDbl("2.5")', 2.5), ("CDbl(True)", 1.0), ("CDbl(#1/1/2000#)", 36526.0),
    ("CSng(0.1)", 0.1), ('CSng("1e3")', 1000.0),
    ("CBool(True)", True), ('CBool("TRUE ")', True), ('CBool(" false")', False), (f'CBool({NBSP} & "True")', True),
    ('CBool("0")', False), ('CBool("2")', True), ("CBool(0)", False), ("CBool(-1)", True), ("CBool(0.5)", True),
    ("CBool(Empty)", False), ('CBool((10 ^ 308 * 10 - 10 ^ 308 * 10))', True), ("CBool(#1/1/2000#)", True),
    ("Str(5)", "5"), ("Str(-2.5)", "-2.5"), ("CStr(True)", "True"), ("Str(a)", "[1, 2]"),
    ("CStr(#3/15/2023#)", "2023-03-15"), ("CStr(Empty)", ""), ("CStr(0.1 + 0.2)", "0.3"),
    ('CStr("x")', "x"),
    ("CByte(254.5)", 255), ("CCur(1.23456)", 1.2346), ('CDate("2020-01-03")', __import__("datetime").date(2020, 1, 3)),
    ("CDate(#1/2/2020#)", __import__("datetime").date(2020, 1, 2)), ("CLngLng(2147483648)", 2147483648),
]


@pytest.mark.parametrize("expr, want", VALUES)
def test_values(expr, want):
    got = value_of(expr, setup="Dim a(1)\na(0) = 1\na(1) = 2")
    assert same(got, want), f"{expr}: {got!r}"


# Val reads the number a text starts with, after leading white space; a text
# with no leading number is 0. Whole numeric texts read whole.
VAL = [
    ('"12abc"', 12), ('" 3.5 kg"', 3.5), ('" 7 "', 7), ('"42"', 42), ('"1e3"', 1000), ('"-4.5e1x"', -45),
    ('"1e"', 1), ('"1e+"', 1), ('"2E-1 m"', 0.2), ('"..5"', 0), ('".5.5"', 0.5), ('"&H10"', 16), ('"1,000"', 1),
    ('"abc"', 0), ('""', 0), ('"+"', 0), ('"-"', 0), ('"+.5x"', 0.5), ('"-0"', 0), ('"inf"', 0),
    ('"  -12.50 EUR"', -12.5), (f'{NBSP} & "5"', 0), (f'"5" & {NBSP}', 5),
    ("True", 0), ("42", 42), ("2.5", 2.5), ("Empty", 0),
]


@pytest.mark.parametrize("arg, want", VAL)
def test_val_reads_the_leading_number(arg, want):
    got = value_of(f"Val({arg})")
    assert same(got, want), f"Val({arg}): {got!r}"


ERRORS = [
    ("CDbl()", "CDbl requires 1 argument"), ("CSng()", "CDbl requires 1 argument"),
    ("CBool()", "CBool requires 1 argument"), ("Str()", "CStr requires 1 argument"),
    ("CStr()", "CStr requires 1 argument"), ("Val()", "Val requires 1 argument"),
    # A value that does not read as the type is a type mismatch, as in VBA.
    ('CDbl("x")', "Type mismatch"), ('CBool("yes")', "Type mismatch"),
    # The number reading after "true"/"false" is of the untrimmed text.
    ('CBool("one")', "Type mismatch"), ('CBool(Split("a"))', "Type mismatch"), ('CStr(Split("a"))', "Type mismatch"),
    ('CDate("x")', "Type mismatch"), ("CDate(3000000)", "Overflow"), ("CByte(256)", "Overflow"), ("CByte(-1)", "Overflow"),
    ("CCur(10 ^ 16)", "Overflow"), ('CSng("1e39")', "Overflow"),
]


@pytest.mark.parametrize("expr, message", ERRORS)
def test_errors(expr, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        value_of(expr)


def test_cbool_of_an_error_value_is_a_type_mismatch():
    vm = morvane.Vm()
    vm.set_cell(1, 1, morvane.ExcelError("#N/A"))
    with pytest.raises(RuntimeError, match="(?m)^Type mismatch$"):
        value_of("CBool(Cells(1, 1).Value)", vm=vm)
