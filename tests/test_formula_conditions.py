"""Conditional aggregates: date criteria compare as dates, and the summed
range adds numbers only."""
import pytest

from formulahelp import DIV0, NA, check, column

# A1:A3 dates, B1:B3 amounts; C1:C6 what a summed range may hold.
CELLS = {
    "A1": "=DATE(2019,12,31)", "A2": "=DATE(2020,1,1)", "A3": "=DATE(2020,6,30)",
    "B1": 10, "B2": 20, "B3": 30,
    **column(1, [5, "5", True, None, 2.5, "x"], "C"),
    **column(1, ["a", "b", "a", "b", "a", "b"], "D"),
    "E1": 1, "E2": NA, "E3": 3,
    **column(1, ["a", "b", "a"], "F"),
    # IDs kept as text beside one kept as a number; amounts; formulas that
    # give a word or the empty text, and a blank below them.
    **column(1, ["110", "120", 110, "abc", "0110"], "G"),
    **column(1, [100, 200, 300, 400, 500], "H"),
    **column(1, ['=IF(H1>250,"bonus","")', '=IF(H2>250,"bonus","")', '=IF(H3>250,"bonus","")',
                 '=IF(H4>250,"bonus","")'], "I"),
}

DATE_CRITERIA = [
    ('=COUNTIF(A1:A3, ">=" & DATE(2020,1,1))', 2),
    ('=COUNTIF(A1:A3, ">2020-01-01")', 1),
    ('=COUNTIF(A1:A3, "<2020-01-01")', 1),
    ('=COUNTIF(A1:A3, "<=2020-01-01")', 2),
    ('=COUNTIF(A1:A3, "<>2020-01-01")', 2),
    ('=COUNTIF(A1:A3, "2020-01-01")', 1),
    ('=COUNTIF(A1:A3, "=2020-01-01")', 1),
    ('=COUNTIF(A1:A3, DATE(2020,1,1))', 1),
    ('=COUNTIF(A1:A3, ">=" & DATEVALUE("2020-01-01"))', 2),
    ('=COUNTIFS(A1:A3, ">=2020-01-01", A1:A3, "<2020-06-30")', 1),
    ('=SUMIF(A1:A3, ">=" & DATE(2020,1,1), B1:B3)', 50),
    ('=SUMIFS(B1:B3, A1:A3, "<" & DATE(2020,6,30))', 30),
    ('=AVERAGEIF(A1:A3, ">=2020-01-01", B1:B3)', 25.0),
    ('=AVERAGEIFS(B1:B3, A1:A3, "<>2020-01-01")', 20.0),
    ('=MAXIFS(B1:B3, A1:A3, "<2020-06-30")', 20),
    ('=MINIFS(B1:B3, A1:A3, ">2019-12-31")', 20),
    # Only the engine's own form of a date is read as one; nothing else changes.
    ('=COUNTIF(A1:A3, ">2020-1-1")', 0),
    ('=COUNTIF(A1:A3, ">2020-02-30")', 0),
]

SUMMED_NUMBERS = [
    # C1:C6 holds 5, "5", TRUE, a blank, 2.5, "x": only 5 and 2.5 add.
    ('=SUMIF(D1:D6, "*", C1:C6)', 7.5),
    ('=SUMIF(D1:D6, "a", C1:C6)', 7.5),   # 5, TRUE and 2.5
    ('=SUMIF(D1:D6, "b", C1:C6)', 0),     # "5", a blank and "x"
    ('=SUMIF(C1:C6, "<>q")', 7.5),
    ('=SUMIFS(C1:C6, D1:D6, "<>z")', 7.5),
    ('=AVERAGEIF(D1:D6, "*", C1:C6)', 3.75),
    ('=AVERAGEIFS(C1:C6, D1:D6, "b")', DIV0),  # "5", a blank and "x": no number
    ('=AVERAGEIF(D1:D6, "zz", C1:C6)', DIV0),  # the average of nothing
    ('=AVERAGEIFS(C1:C6, D1:D6, "zz")', DIV0),
    # An error value that would be added is the result; one passed over is not.
    ('=SUMIF(F1:F3, "a", E1:E3)', 4),
    ('=SUMIF(F1:F3, "b", E1:E3)', NA),
    ('=SUMIF(F1:F3, "*", E1:E3)', NA),
    ('=SUMIFS(E1:E3, F1:F3, "a")', 4),
    ('=SUMIFS(E1:E3, F1:F3, "b")', NA),
    ('=AVERAGEIF(F1:F3, "b", E1:E3)', NA),
    ('=AVERAGEIFS(E1:E3, F1:F3, "a")', 2.0),
    # MAXIFS and MINIFS with no matching row give 0.
    ('=MAXIFS(B1:B3, D1:D3, "zz")', 0),
    ('=MINIFS(B1:B3, D1:D3, "zz")', 0),
]


# A criterion that reads as a number equals the numbers and the texts that
# read as it; comparisons look at numbers only. "=" asks for an empty cell,
# "<>" for one that is not empty (the empty text a formula gives counts).
TEXT_NUMBERS_AND_EMPTY = [
    ('=COUNTIF(G1:G5, "110")', 3),
    ('=COUNTIF(G1:G5, 110)', 3),
    ('=COUNTIF(G1:G5, "=110")', 3),
    ('=COUNTIF(G1:G5, "<>110")', 2),
    ('=COUNTIF(G1:G5, ">100")', 1),
    ('=COUNTIF(G1:G5, "abc")', 1),
    ('=COUNTIF(G1:G5, "0110")', 3),
    ('=SUMIF(G1:G5, "110", H1:H5)', 900),
    ('=SUMIF(G1:G5, "120", H1:H5)', 200),
    ('=SUMIFS(H1:H5, G1:G5, 110)', 900),
    ('=COUNTIFS(G1:G5, "110", H1:H5, ">150")', 2),
    ('=AVERAGEIF(G1:G5, "110", H1:H5)', 300.0),
    ('=AVERAGEIFS(H1:H5, G1:G5, "<>110")', 300.0),
    ('=MAXIFS(H1:H5, G1:G5, "110")', 500),
    ('=MINIFS(H1:H5, G1:G5, "110")', 100),
    ('=COUNTIF(I1:I5, "<>")', 4),
    ('=COUNTIF(I1:I5, "=")', 1),
    ('=COUNTIF(I1:I5, "")', 3),
    ('=COUNTIF(I1:I5, "<>bonus")', 3),
    ('=SUMIF(I1:I5, "<>", H1:H5)', 1000),
    ('=SUMIF(I1:I5, "=", H1:H5)', 500),
    ('=COUNTIFS(I1:I5, "<>", H1:H5, "<250")', 2),
]


@pytest.mark.parametrize("formula, want", DATE_CRITERIA + SUMMED_NUMBERS + TEXT_NUMBERS_AND_EMPTY)
def test_conditional_aggregates(formula, want):
    check(formula, CELLS, want)


def test_database_criteria_rows_compare_dates():
    cells = {"A1": "When", "B1": "Amount", "A2": "=DATE(2019,5,1)", "B2": 1, "A3": "=DATE(2020,5,1)", "B3": 2,
             "A4": "=DATE(2021,5,1)", "B4": 4, "D1": "When", "D2": ">=2020-01-01"}
    check("=DSUM(A1:B4, \"Amount\", D1:D2)", cells, 6)
    check("=DCOUNT(A1:B4, \"Amount\", D1:D2)", cells, 2)
    cells.update({"E1": "When", "E2": "<2020-01-01", "F1": "When", "F2": "2020-05-01"})
    check("=DGET(A1:B4, \"Amount\", E1:E2)", cells, 1)
    check("=DGET(A1:B4, \"Amount\", F1:F2)", cells, 2)
