"""Operators, unary minus and IF over ranges and lists: element by element in
reading order, a single value paired with every element."""
import pytest

import morvane
from formulahelp import DIV0, NA, VALUE, check, failure, shown_for

SHEET = {
    # A1:A3 and B1:B3 two columns, D1:F1 a row, A5:B6 a grid.
    "A1": 1, "A2": 2, "A3": 3,
    "B1": 10, "B2": 20, "B3": 30,
    "C1": "4", "C2": "x",                      # C3 blank
    "D1": 1, "E1": 2, "F1": 3,
    "A5": 1, "B5": 2, "A6": 3, "B6": 4,
}

CONDITIONAL_SUMS = [
    ("=SUMPRODUCT((A1:A3>1)*B1:B3)", 50),
    ("=SUMPRODUCT(A1:A3*B1:B3)", 140),
    ("=SUM(A1:A3*B1:B3)", 140),
    ("=SUM(IF(A1:A3>1,B1:B3,0))", 50),
    ("=SUMPRODUCT(IFERROR(B1:B3/(A1:A3-1),0))", 35),
    ("=SUMPRODUCT(--(A1:A3>1))", 2),
    ("=SUMPRODUCT((A1:A3>1)*(B1:B3<30))", 1),
    ("=MAX(A1:A3*B1:B3)", 90),
    ("=AVERAGE(IF(A1:A3>1,B1:B3))", 25.0),     # the FALSE of the first element is no number
    ("=SUM(D1:F1*D1:F1)", 14),
]

OPERATORS = [
    ("=A1:A3*2", [2, 4, 6]),
    ("=2*A1:A3", [2, 4, 6]),
    ("=A1:A3+B1:B3", [11, 22, 33]),
    ("=B1:B3/A1:A3-1", [9, 9, 9]),
    ("=A1:A3>1", [False, True, True]),
    ("=A1:A3=B1:B3/10", [True, True, True]),
    ("=A1:A3<>2", [True, False, True]),
    ('=A1:A3&"x"', ["1x", "2x", "3x"]),
    ("=A1:A1*B1:B3", [10, 20, 30]),             # one cell is a single value
    ("=D1:F1*10", [10, 20, 30]),                # a row
    ("=A5:B6*2", [2, 4, 6, 8]),                 # a grid, row after row
    ("=A5:B6*A1:A2", [1, 2, 6, 8]),             # a column repeats across the grid
    ("=A5:B6*D1:E1", [1, 4, 3, 8]),             # a row repeats down the grid
    ("=A1:A2*B1:B3", [10, 40, NA]),             # the shorter list is padded with #N/A
    ("=B1:B3/(A1:A3-1)", [DIV0, 20, 15]),       # an error stays in its element
    ("=C1:C3*1", [4, VALUE, 0]),                # numeric text, a word, a blank
    ("=C1:C3=0", [False, False, True]),
    ("=NA()+A1:A2", [NA, NA]),
    ("=SEQUENCE(3)*A1:A3", [1, 4, 9]),          # a list pairs with a range of its length
    ("=SEQUENCE(3)+SEQUENCE(3)", [2, 4, 6]),
    ("=SEQUENCE(2,2)*A5:B6", [1, 4, 9, 16]),
    ("=(A1:A3>1)*B1:B3", [0, 20, 30]),
    ("=(A1:A2*1)*B1:B3", [10, 40, NA]),         # a computed column keeps its shape
    ("=IF(A1>5,A1:A3,A1:A2)*B1:B2", [10, 40]),  # the branch taken decides the length
]

UNARY = [
    ("=--(A1:A3>1)", [0, 1, 1]),
    ("=-A1:A3", [-1, -2, -3]),
    ("=-C1:C3", [-4, VALUE, 0]),
    ('=--"5"', 5),
    ("=--TRUE", 1),
    ("=-(-3)", 3),
    ("=+-+-2", 2),
    ("=- -A1", 1),
    ("=--A1*2", 2),                             # the signs bind tighter than "*"
    ("=2*-A2", -4),
]

IFS = [
    ("=IF(A1:A3>1,B1:B3,0)", [0, 20, 30]),
    ("=IF(A1:A3,1,0)", [1, 1, 1]),              # a range as the condition
    ('=IF(A1:A3>1,"big")', [False, "big", "big"]),
    ("=IF(A1:A3=2,NA(),A1:A3)", [1, NA, 3]),
    ("=IF(A1:A3>0,G1:G3)", [0, 0, 0]),          # a blank cell taken shows as 0
    ('=IF(A1:A3>5,1+"x",A1:A3)', [1, 2, 3]),    # a branch no element takes may fail
    ("=IF(B1:B3/(A1:A3-1)>15,1,2)", [DIV0, 1, 2]),
    ("=IF(C1:C2,1,2)", [VALUE, VALUE]),          # a text that is no truth fails its element
    ("=SUM(IF(TRUE,B1:B3))", 60),               # a single condition may give a range
    ("=IF(A1>0,B1,0)", 10),
    ("=IFERROR(B1:B3/(A1:A3-1),0)", [0, 20, 15]),
]


@pytest.mark.parametrize("formula, want", CONDITIONAL_SUMS + OPERATORS + UNARY + IFS)
def test_values(formula, want):
    check(formula, SHEET, want)


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=A1:A3+D1:F1", "Operator '+': a 3x1 range against a 1x3 range is not supported"),
        ("=(A1:A3>1)*D1:F1", "Operator '*': a 3x1 range against a 1x3 range is not supported"),
        ("=-A1:A3*D1:F1", "Operator '*': a 3x1 range against a 1x3 range is not supported"),
        ("=IF(A1:A3>1,1,0)*D1:F1", "Operator '*': a 3x1 range against a 1x3 range is not supported"),
        ("=IFERROR(1/A1:A3,0)*D1:F1", "Operator '*': a 3x1 range against a 1x3 range is not supported"),
        ("=A5:B6*D1:F1", "Operator '*': a 2x2 range against a 1x3 range is not supported"),
        ("=A1:A3*SEQUENCE(2)", "Operator '*': a 3x1 range against a list of 2 values is not supported"),
        ("=SEQUENCE(3)=SEQUENCE(2)", "Operator '=': a list of 3 values against a list of 2 values is not supported"),
        ("=-A1:B500001", "Range too large (1000002 cells); maximum is 1,000,000"),
        ("=IF(A1:A3>1,D1:F1)", "IF: a 3x1 range against a 1x3 range is not supported"),
        # A refusal is not an error value that a function could turn into an answer.
        ("=SUMPRODUCT(A1:A3*D1:F1)", "Operator '*': a 3x1 range against a 1x3 range is not supported"),
        ("=IFERROR(A1:A3*D1:F1,0)", "Operator '*': a 3x1 range against a 1x3 range is not supported"),
        ('=-"abc"', "Unary minus on non-numeric value: abc"),
    ],
)
def test_failures(formula, message):
    assert failure(formula, SHEET) == shown_for(message)


def test_a_changed_cell_inside_an_operator_recalculates():
    vm = morvane.Vm()
    for row, (a, b) in enumerate([(1, 10), (2, 20), (3, 30)], start=1):
        vm.set_cell(row, 1, a)
        vm.set_cell(row, 2, b)
    vm.set_cell_formula(1, 4, "=SUMPRODUCT((A1:A3>1)*B1:B3)")
    vm.set_cell(1, 1, 5)
    assert vm.get_cell(1, 4) == 60
