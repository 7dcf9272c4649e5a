"""Whole columns and rows cost what the sheet stores in them, not their area."""
import time

import pytest

from formulahelp import NA, NUM, REF, check, column
from vmhelp import SANITIZED

LAST = 1048576
CELLS = {
    **column(1, [3, 1, 4, 1, 5, "x", None, 9], "A"),
    **column(1, [10, 20, 30, 40, 50, 60, 70, 80], "B"),
    "A100000": 2, "B100000": 100,
}

WHOLE = [
    (f"=SUM(A1:A{LAST})", 25),
    (f"=COUNT(A1:A{LAST})", 7),
    (f"=COUNTA(A1:A{LAST})", 8),
    (f"=AVERAGE(A1:A{LAST})", 25 / 7),
    (f"=MAX(A1:A{LAST})", 9),
    (f"=MIN(A1:A{LAST})", 1),
    (f"=PRODUCT(A1:A{LAST})", 1080),
    (f"=MEDIAN(A1:A{LAST})", 3),
    (f"=LARGE(A1:A{LAST}, 2)", 5),
    (f"=SUBTOTAL(9, A1:A{LAST})", 25),
    (f"=AGGREGATE(4, 6, A1:A{LAST})", 9),
    (f"=SUM(A1:B{LAST})", 485),
    (f"=SUM(A1:XFD499)", 383),
    (f"=SUM(A1:XFD{LAST})", REF),                 # holds the formula's own cell: a cycle
    (f"=COUNTIF(A1:A{LAST}, \">0\")", 7),
    (f"=COUNTIF(A1:A{LAST}, \"\")", LAST - 8),
    (f"=COUNTBLANK(A1:A{LAST})", LAST - 8),
    (f"=COUNTIFS(A1:A{LAST}, \">1\", B1:B{LAST}, \">20\")", 4),
    (f"=COUNTIFS(A1:A{LAST}, \"\", B1:B{LAST}, \"\")", LAST - 9),
    (f"=SUMIF(A1:A{LAST}, \">2\", B1:B{LAST})", 170),
    (f"=SUMIFS(B1:B{LAST}, A1:A{LAST}, \"<3\")", 160),
    (f"=AVERAGEIF(A1:A{LAST}, \"<3\", B1:B{LAST})", 160 / 3),
    (f"=MAXIFS(B1:B{LAST}, A1:A{LAST}, \"<3\")", 100),
    (f"=MINIFS(A1:A{LAST}, B1:B{LAST}, \">40\")", 2),
    (f"=SUMPRODUCT(A1:A{LAST}, B1:B{LAST})", 1380),
    (f"=MATCH(5, A1:A{LAST}, 0)", 5),
    (f"=MATCH(2, A1:A{LAST}, 0)", 100000),
    (f"=MATCH(7, A1:A{LAST}, 0)", NA),
    (f"=XMATCH(9, A1:A{LAST})", 8),
    (f"=XLOOKUP(2, A1:A{LAST}, B1:B{LAST})", 100),
    (f"=VLOOKUP(2, A1:B{LAST}, 2, FALSE)", 100),
    (f"=VLOOKUP(7, A1:B{LAST}, 2, FALSE)", NA),
    (f"=COUNTIF(B1:B{LAST}, \">=\" & 50)", 5),
    (f"=SUM(A{LAST}:A1)", 25),
]


@pytest.mark.parametrize("formula, want", WHOLE)
def test_whole_columns(formula, want):
    check(formula, CELLS, want)


def test_whole_column_formulas_cost_their_stored_cells():
    import morvane

    vm = morvane.Vm()
    for r in range(1, 201):
        vm.set_cell(r, 1, r)
    began = time.perf_counter()
    for r in range(1, 201):
        vm.set_cell_formula(r, 3, f"=SUM(A1:A{LAST})+COUNTIF(A1:A{LAST},\">100\")+MATCH(50,A1:A{LAST},0)")
    spent = time.perf_counter() - began
    assert vm.get_cell(200, 3) == 20100 + 100 + 50
    # 200 formulas over whole columns: far below one walk of a million cells each.
    assert spent < (20 if SANITIZED else 2)


DATABASE = {
    "A1": "Name", "B1": "Amount", **column(2, ["a", "b", "a"], "A"), **column(2, [1, 2, 4], "B"),
    "D1": "Name", "D2": "a", "F1": "Name", "F2": "b", "G1": "Amount", "G2": "<1",
}


@pytest.mark.parametrize("formula, want", [
    (f"=DSUM(A1:B{LAST}, \"Amount\", D1:D2)", 5),
    (f"=DCOUNT(A1:B{LAST}, \"Amount\", D1:D2)", 2),
    (f"=DMAX(A1:B{LAST}, 2, D1:D2)", 4),
    (f"=DAVERAGE(A1:B{LAST}, \"Amount\", D1:D2)", 2.5),
    (f"=DGET(A1:B{LAST}, \"Amount\", F1:F2)", 2),
    (f"=DGET(A1:B{LAST}, \"Amount\", D1:D2)", NUM),           # two records match
    (f"=DGET(A1:B{LAST}, \"Amount\", G1:G2)", NUM),           # every blank record reads as 0 < 1
    (f"=DAVERAGE(A1:B{LAST}, \"Amount\", D1:D{LAST})", 7 / 3),  # a blank criteria row takes every record
])
def test_database_functions_over_whole_columns(formula, want):
    check(formula, DATABASE, want)
