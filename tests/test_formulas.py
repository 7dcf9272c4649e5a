"""Formula rules, evaluated through Vm.set_cell_formula."""
import re

import pytest

from morvane import ExcelError
from formulahelp import DIV0, NA, NAME, VALUE, check, evaluate, failure, shown_for


OPERATORS = [
    ("=1/0", {}, DIV0),
    ("=1/A1", {}, DIV0),
    ("=4/2", {}, 2),
    ("=3/2", {}, 1.5),
    ("=1+2*3-4", {}, 3),
    ("=A1+1", {(1, 1): NA}, NA),
    ("=A1+B1", {(1, 1): ExcelError("#REF!"), (1, 2): NA}, ExcelError("#REF!")),
    ('="abc"="ABC"', {}, True),
    ('=1="1"', {}, False),
    ("=TRUE>0", {}, True),
    ("=A1<1", {}, True),
    ('=1+"3"', {}, 4),
    ("=A1+1", {(1, 1): True}, 2),
    ("=$A$1*B$1", {(1, 1): 3, (1, 2): 4}, 12),
    ("=SUM($A$1:B$2)", {(1, 1): 1, (2, 2): 5}, 6),
    ("=SUM(B2:A1)", {(1, 1): 1, (2, 2): 5}, 6),  # reversed corners, same rectangle
    ("=NA()=NA()", {}, NA),
]

# Ordinary spreadsheet behaviour that the engine must match.
SPREADSHEET_RULES = [
    ('=A1=""', {}, True),             # a blank cell equals the empty text
    ("=A1=0", {}, True),              # ... and 0
    ("=A1=FALSE", {}, True),          # ... and FALSE
    ("=A1<>0", {}, False),
    ("=-A1", {}, 0),                  # minus a blank cell is 0
    ('="a"<"B"', {}, True),           # text order ignores case
    ('="b"<"A"', {}, False),
    ("=TRUE&1", {}, "TRUE1"),
    ('="x"&(0.1+0.2)', {}, "x0.3"),   # at most 15 significant digits
    ("=1.5&A1", {}, "1.5"),
    ("=IF(NA(),1,2)", {}, NA),        # an error condition is that error
    ("=LET(x,1,y,x+1,y)", {}, 2),     # LET names chain
    ("=LET(x,2,LET(x,3,x)+x)", {}, 5),
]

LAMBDAS = [
    ("=LET(x,2,x*3)", {}, 6),
    ("=LET(x,1,x,5,x)", {}, VALUE),                    # a name bound twice
    ("=LAMBDA(x,x+1)", {}, "#LAMBDA"),
    ("=MAP(A1:A3,LAMBDA(x,x*2))", {(1, 1): 1, (2, 1): 2, (3, 1): 3}, [2, 4, 6]),
    ("=MAP(A1:A1,LAMBDA(x,x*2))", {(1, 1): 4}, 8),
    ("=REDUCE(0,A1:A3,LAMBDA(a,x,a+x))", {(1, 1): 1, (2, 1): 2, (3, 1): 3}, 6),
    ("=SCAN(0,A1:A3,LAMBDA(a,x,a+x))", {(1, 1): 1, (2, 1): 2, (3, 1): 3}, [1, 3, 6]),
    ("=BYROW(A1:B2,LAMBDA(a,b,a+b))", {(1, 1): 1, (1, 2): 2, (2, 1): 3, (2, 2): 4}, [3, 7]),
    ("=BYCOL(A1:B2,LAMBDA(a,b,a+b))", {(1, 1): 1, (1, 2): 2, (2, 1): 3, (2, 2): 4}, [4, 6]),
    ("=BYROW(5,LAMBDA(x,x+1))", {}, 6),
]

CRITERIA_CELLS = {(1, 1): 4, (2, 1): 10, (3, 1): "3", (4, 1): True, (5, 1): "abc", (6, 1): ""}
CRITERIA = [
    ('=COUNTIF(A1:A100,"<5")', CRITERIA_CELLS, 1),      # numbers only, not the 94 blanks
    ('=COUNTIF(A1:A100,">=10")', CRITERIA_CELLS, 1),
    ('=COUNTIF(A1:A6,"<>4")', CRITERIA_CELLS, 5),
    ('=COUNTIF(A1:A7,"=")', CRITERIA_CELLS, 1),         # the blank, not the empty text
    ('=COUNTIF(A1:A7,"")', CRITERIA_CELLS, 2),          # the empty text and the blank
    ('=COUNTIF(A1:A7,"<>")', CRITERIA_CELLS, 6),        # every cell not empty, the empty text too
    ('=COUNTIF(A1:A6,"=abc")', CRITERIA_CELLS, 1),
    ('=COUNTIF(A1:A6,"ab?")', CRITERIA_CELLS, 1),
    ('=COUNTIF(A1:A6,"*")', CRITERIA_CELLS, 3),
    ('=SUMIF(A1:A6,">3")', CRITERIA_CELLS, 14),
]


@pytest.mark.parametrize("formula, cells, want", OPERATORS + SPREADSHEET_RULES + LAMBDAS + CRITERIA)
def test_formula_values(formula, cells, want):
    check(formula, cells, want)


@pytest.mark.parametrize(
    "formula, cells, message",
    [
        ('=1+"3 x"', {}, "Cannot convert '3 x' to a number"),
        ('=-"abc"', {}, "Unary minus on non-numeric value: abc"),
        ("=LET(x,2)", {}, None),
        ("=LET(A1,2,A1)", {}, "LET: name arguments must be identifiers"),
        ("=MAP(A1:A3,B1:B2,LAMBDA(a,b,a+b))", {}, "MAP: all array arguments must have equal length"),
        ("=MAP(A1:A3,LAMBDA(x,y,x))", {}, "LAMBDA: expected 2 args, got 1"),
        ("=CONCAT(A1:B500001)", {}, "Range too large (1000002 cells); maximum is 1,000,000"),
    ],
)
def test_formula_failures(formula, cells, message):
    got = failure(formula, cells)
    if message is not None:
        assert got == shown_for(message)


def test_unknown_function_is_name_error():
    assert evaluate("=NOSUCHFUNCTION(1)") == NAME


def test_deep_nesting_fails_cleanly():
    with pytest.raises(ValueError):
        evaluate("=" + "(" * 100_000 + "1" + ")" * 100_000)
    with pytest.raises(ValueError):
        evaluate("=" + "-" * 100_000 + "1")

