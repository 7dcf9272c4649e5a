"""Texts read as numbers the way a cell reads typed input, in arithmetic,
unary minus and number arguments."""
import pytest

from formulahelp import VALUE, check, failure

SHEET = {"A1": " 7 ", "A2": "50%", "A3": "$1,200", "A4": "(12)", "A5": "2025-03-01", "A6": "8:00", "A7": "abc"}

ARITHMETIC = [
    ('=" 7 "+1', 8),
    ('="50%"*2', 1),
    ('="$1,200"/2', 600),
    ('="(12)"-1', -13),
    ('="2025-03-01"+0', 45717),
    ('="8:00"*24', 8),
    ('="1e3"+1', 1001),
    ('="-$1,234.5"+0', -1234.5),
    ("=A1*2", 14),
    ("=A3-A4", 1212),
    ("=A5+A6*24", 45725),
    ('=IFERROR("24.9%"*1,0)', 0.249),          # not a silent 0
    ('=-"0"', 0),
    ("=-FALSE", 0),
    ("=-TRUE", -1),
    ('=-" 7 "', -7),
    ("=-A2", -0.5),
]

NUMBER_ARGUMENTS = [
    ('=ABS("(12)")', 12),
    ('=ROUND("$1,234.567",1)', 1234.6),
    ('=SQRT(" 16 ")', 4),
    ('=YEAR("2025-03-01")', 2025),
    ('=HOUR("8:00")', 8),
    ('=NPV("50%",3)', 2.0),
    ('=POWER(A1,2)', 49),
]

NOT_NUMBERS = [
    '="TRUE"+0',                               # logicals are no numbers in arithmetic
    '="#N/A"+0',                               # nor are error literals written as text
    '=""+0',
    "=A7*1",
    '="1 2"+0',
    '="$5%"+0',
    '="nan"+0',
    '="(-1)"+0',
    '=ABS("abc")',
]


@pytest.mark.parametrize("formula, want", ARITHMETIC + NUMBER_ARGUMENTS)
def test_text_reads_as_a_number(formula, want):
    check(formula, SHEET, want)


@pytest.mark.parametrize("formula", NOT_NUMBERS)
def test_text_that_is_no_number(formula):
    assert failure(formula, SHEET) == VALUE

