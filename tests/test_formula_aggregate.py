"""Aggregates: SUM, PRODUCT, SUMPRODUCT, AVERAGE, MAX, MIN, COUNT, COUNTA, SUBTOTAL, AGGREGATE."""
import pytest

from formulahelp import DIV0, NA, NUM, REF, VALUE, check, evaluate, failure, same, shown_for


# Column A: a number, a boolean and numeric text. Column B: 1..5.
# Column C: numbers and texts. Column D: numbers around an error value.
# E1:F2: two errors in reading order F1 (#N/A) before E2 (#REF!).
# Column G: a boolean, numeric text and a number.
CELLS = {
    (1, 1): 1, (2, 1): True, (3, 1): "5",
    (1, 2): 1, (2, 2): 2, (3, 2): 3, (4, 2): 4, (5, 2): 5,
    (1, 3): 10, (2, 3): 2.5, (3, 3): "abc", (4, 3): "2",
    (1, 4): 4, (2, 4): DIV0, (3, 4): 1, (4, 4): 9,
    (1, 6): NA, (2, 5): REF,
    (1, 7): True, (2, 7): "5", (3, 7): 3,
}

SUM = [
    ("=SUM(A1:A3)", 1),                # the boolean and the text in cells add nothing
    ("=SUM(A1:A3,0)", 1),              # ... whatever other arguments stand beside them
    ("=SUM(A3:A1)", 1),                # reversed corners name the same cells
    ("=SUM(B1:B5)", 15),
    ("=SUM(B5:B1,A1)", 16),
    ("=SUM(TRUE,1)", 2),               # a boolean given directly adds 1
    ("=SUM(A2)", 0),                   # a single cell reference is a reference
    ("=SUM(A2:A2)", 0),
    ("=SUM()", 0),
    ("=SUM(C1:C4)", 12.5),
    ("=SUM(Z1:Z1000000)", 0),          # a million blank cells
    ("=MAX(A1:B500001)", 5),           # past a million cells: only the stored ones cost
    ("=SUMPRODUCT(B1:B5,A1:B500001)", 11),  # 1*A1 + 2*B1 + 4*B2; A2 (TRUE) and A3 ("5") count 0
    ("=SUM(2.5,0.5)", 3),
]

AVERAGE_MAX_MIN = [
    ("=AVERAGE(A1:A3)", 1.0),          # numbers only: the boolean and the text are ignored
    ("=AVERAGE(A1:A3,0)", 0.5),
    ("=AVERAGE(B1:B5)", 3.0),
    ("=AVERAGE(TRUE,3)", 2.0),
    ("=AVERAGE(C1:C4)", 6.25),
    ("=AVERAGE(Z1:Z9)", DIV0),         # no numbers
    ("=AVERAGE()", DIV0),
    ("=MAX(B1:B5)", 5),
    ("=MIN(B1:B5)", 1),
    ("=MAX(-1,-5)", -1),
    ("=MIN(2.5,7)", 2.5),
    ("=MAX(Z1:Z9)", 0),                # no numbers: 0
    ("=MIN()", 0),
    ("=MAX(A1:A3)", 1),
    ("=PRODUCT(B1:B5)", 120),

    ("=PRODUCT(Z1:Z3)", 1),
    ("=PRODUCT(0.5,3)", 1.5),
]

COUNTS = [
    ('=COUNT(1,"x",TRUE,1/0)', 2),
    ('=COUNTA(1,"x",TRUE,1/0)', 4),
    ("=COUNTA(Z1:Z9)", 0),
    ('=COUNTA("")', 1),                # the empty text is a value
    ("=COUNT(D1:D4)", 3),              # error values are passed over
    ("=COUNTA(D1:D4)", 4),             # ... and counted by COUNTA
    ("=COUNT(C1:C4)", 2),              # numeric text is no number
    ("=COUNT(B1:B5,A1:A3)", 6),
]

SUMPRODUCT = [
    ("=SUMPRODUCT(B1:B3,B4:B5)", 14),  # 1*4 + 2*5 + 3*0
    ("=SUMPRODUCT(B1:B2,B3:B5)", 11),  # 1*3 + 2*4; B5 is never read
    ("=SUMPRODUCT(B1:B5)", 15),
    ("=SUMPRODUCT(C2:C4,B1:B3)", 2.5),  # 2.5*1; ‹abc› and ‹2› count 0
    ("=SUMPRODUCT(G1:G3)", 3),         # TRUE and ‹5› in cells are no numbers
    ("=SUMPRODUCT(B1:B3,B1:B3,B1:B3)", 36),
    ("=SUMPRODUCT(2,3)", 6),
    ("=SUMPRODUCT(B1:B5,D1:D1)", 4),
]

# A number, boolean or text typed as an argument itself counts as the
# spreadsheet reads it; in a reference or a list only numbers count.
DIRECT = [
    ('=SUM("7",1)', 8),
    ('=SUM("5",TRUE,3)', 9),
    ('=SUM("abc",1)', VALUE),          # a typed text that is no number
    ('=SUM(1,"")', VALUE),
    ('=SUM(A1:A3,"2")', 3),            # the cells' boolean and text add nothing
    ("=SUM(A3)", 0),                   # ... nor does one cell's
    ("=SUM(INDEX(A1:A3,3))", 0),       # INDEX gives a reference too
    ('=MAX("7",1)', 7),
    ('=MIN("-2",1,TRUE)', -2),
    ('=MAX(FALSE,-1)', 0),
    ('=MAX("x",1)', VALUE),
    ('=PRODUCT("2",3,TRUE)', 6),
    ('=PRODUCT(2,3,"x")', VALUE),
    ('=AVERAGE("4",2)', 3.0),
    ('=AVERAGE(A1:A3,"4")', 2.5),
    ('=AVERAGE("x",2)', VALUE),
    ('=COUNT("7",1,"x",TRUE)', 3),     # COUNT never fails: "x" is not counted
    ("=COUNT(A2,A3)", 0),
    ('=COUNTA("x",A2,A3)', 3),
]

# An array made by a function is a list of values, like a range: numbers
# count, booleans in it do not add.
ARRAYS = [
    ("=SUM(MAP(B1:B5,LAMBDA(x,x*2)))", 30),
    ("=SUM(MAP(B1:B5,LAMBDA(x,x>2)))", 0),
    ("=AVERAGE(MAP(B1:B4,LAMBDA(x,x*2)))", 5.0),
    ("=MAX(MAP(B1:B5,LAMBDA(x,-x)))", -1),
    ("=COUNT(MAP(B1:B5,LAMBDA(x,x>2)))", 0),
    ("=COUNTA(MAP(B1:B5,LAMBDA(x,x>2)))", 5),
    ("=SUMPRODUCT(MAP(B1:B3,LAMBDA(x,x*2)),B1:B3)", 28),
    ("=SUM(MAP(D1:D4,LAMBDA(x,x)))", DIV0),
]

SUBTOTAL_AGGREGATE = [
    ("=SUBTOTAL(109,B1:B5)", 15),
    ("=SUBTOTAL(9,B1:B5)", 15),
    ("=SUBTOTAL(9.9,B1:B5)", 15),      # the number is truncated
    ("=SUBTOTAL(1,B1:B5)", 3.0),
    ("=SUBTOTAL(2,A1:A3)", 1),
    ("=SUBTOTAL(3,A1:A3)", 3),
    ("=SUBTOTAL(4,B1:B5)", 5),
    ("=SUBTOTAL(5,B1:B5)", 1),
    ("=SUBTOTAL(6,B1:B5)", 120),
    ("=SUBTOTAL(1,Z1:Z3)", DIV0),
    ("=SUBTOTAL(9,D1:D4)", DIV0),
    ("=AGGREGATE(14,0,B1:B5,2)", 4),   # the last argument is k: the second largest
    ("=AGGREGATE(15,0,B1:B5,2)", 2),
    ("=AGGREGATE(14,6,D1:D4,2)", 4),   # option 6 passes the error over
    ("=AGGREGATE(15,6,D1:D4,1)", 1),
    ("=AGGREGATE(14,0,D1:D4,2)", DIV0),
    ("=AGGREGATE(14,0,B1:B5,6)", NUM),
    ("=AGGREGATE(12,0,1,2,3,4)", 2.5),
    ("=AGGREGATE(12,0,Z1:Z3)", NUM),
    ("=AGGREGATE(16,0,B1:B5,0.5)", 3),
    ("=AGGREGATE(16,0,B1:B4,0.5)", 2.5),
    ("=AGGREGATE(16,6,D1:D4,1)", 9),
    ("=AGGREGATE(16,0,B1:B5,2)", NUM),
    ("=AGGREGATE(1,0,B1:B5)", 3.0),
    ("=AGGREGATE(2,0,D1:D4)", 3),
    ("=AGGREGATE(3,0,D1:D4)", 4),      # COUNTA counts the error value
    ("=AGGREGATE(3,6,D1:D4)", 3),      # ... unless the option ignores errors
    ("=AGGREGATE(4,6,Z1:Z3)", 0),
    ("=AGGREGATE(5,0,B1:B5)", 1),
    ("=AGGREGATE(6,0,B1:B5)", 120),
    ("=AGGREGATE(9,6,D1:D4)", 14),
    ("=AGGREGATE(9,2,D1:D4)", 14),
    ("=AGGREGATE(9,3,D1:D4)", 14),
    ("=AGGREGATE(9,7,D1:D4)", 14),
    ("=AGGREGATE(9,4,D1:D4)", DIV0),
    ("=AGGREGATE(109,0,B1:B5)", 15),
    ("=AGGREGATE(1,6,Z1:Z3)", DIV0),
]

# The first error value in the data is the result: arguments in order, the
# cells of a range row by row.
ERRORS = [
    ("=SUM(1/0,2)", DIV0),
    ("=SUM(D1:D4)", DIV0),
    ("=SUM(NA(),1/0)", NA),
    ("=SUM(E1:F2)", NA),               # F1 comes before E2
    ("=SUM(E2,F1)", REF),
    ("=AVERAGE(D1:D4)", DIV0),
    ("=MAX(B1:B5,E2)", REF),
    ("=MIN(D1:D4)", DIV0),
    ("=PRODUCT(B1:B5,NA())", NA),
    ("=SUMPRODUCT(D1:D4,B1:B4)", DIV0),
    ("=SUMPRODUCT(B1:B2,E1:F1)", NA),
    ("=SUMPRODUCT(E1:E2,F1:F2)", REF),  # the first argument's error wins over an earlier cell
]


@pytest.mark.parametrize(
    "formula, want", SUM + AVERAGE_MAX_MIN + COUNTS + SUMPRODUCT + DIRECT + ARRAYS + SUBTOTAL_AGGREGATE + ERRORS
)
def test_aggregate_values(formula, want):
    check(formula, CELLS, want)


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=PRODUCT()", "PRODUCT requires at least 1 argument"),
        ("=SUMPRODUCT()", "SUMPRODUCT requires at least 1 argument"),
        ("=SUBTOTAL(9)", "SUBTOTAL requires at least 2 arguments"),
        ("=AGGREGATE(9,0)", "AGGREGATE requires at least 3 arguments"),
        ("=SUBTOTAL(7,B1:B5)", "SUBTOTAL: unsupported function_num 7"),
        ("=SUBTOTAL(207,B1:B5)", "SUBTOTAL: unsupported function_num 7"),
        ("=AGGREGATE(8,0,B1:B5)", "AGGREGATE: unsupported function_num 8"),
        ("=AGGREGATE(8,0,B1:B5,A1:B500001)", "AGGREGATE: unsupported function_num 8"),
        ("=AGGREGATE(14,0,B1:B5)", "LARGE requires 2 arguments"),
        ("=AGGREGATE(16,0,B1:B5)", "PERCENTILE requires 2 arguments"),
        ('=SUBTOTAL("x",B1:B5)', "Cannot convert 'x' to a number"),
        ("=CONCAT(A1:B500001)", "Range too large (1000002 cells); maximum is 1,000,000"),
        ('=SUM(1+"x")', "Cannot convert 'x' to a number"),
    ],
)
def test_aggregate_failures(formula, message):
    assert failure(formula, CELLS) == shown_for(message)


# A grouped report: two subtotals inside the block a grand total covers.
REPORT = {
    "B1": 100, "B2": 200, "B3": "=SUBTOTAL(9,B1:B2)",
    "B4": 50, "B5": 200, "B6": "=subtotal(9, B4:B5)",
    "C1": 1, "C2": "=AGGREGATE(9,0,C1)", "C3": '="SUBTOTAL(9,C1)"', "C4": "=SUM(C1)+SUBTOTAL(9,C1)",
}


@pytest.mark.parametrize("formula, want", [
    ("=SUBTOTAL(9,B1:B6)", 550),       # the items once, not the subtotals
    ("=SUBTOTAL(109,B1:B6)", 550),
    ("=SUBTOTAL(2,B1:B6)", 4),
    ("=SUBTOTAL(3,B1:B6)", 4),
    ("=SUBTOTAL(4,B1:B6)", 200),
    ("=SUBTOTAL(1,B1:B6)", 137.5),
    ("=AGGREGATE(9,0,B1:B6)", 550),
    ("=AGGREGATE(14,0,B1:B6,1)", 200),
    ("=AGGREGATE(12,0,B1:B6)", 150),
    ("=SUM(B1:B6)", 1100),             # every other function still sees them
    ("=COUNT(B1:B6)", 6),
    # A cell that calls SUBTOTAL or AGGREGATE anywhere is left out; a text
    # that merely holds the word is not.
    ("=SUBTOTAL(9,C1:C4)", 1),
    ("=SUBTOTAL(3,C1:C4)", 2),
])
def test_subtotals_are_not_counted_twice(formula, want):
    check(formula, REPORT, want)


def test_error_cell_does_not_stop_recalculation():
    import morvane

    vm = morvane.Vm()
    vm.set_cell(1, 1, 4)
    vm.set_cell(2, 1, 2)
    vm.set_cell_formula(1, 2, "=MOD(A1,A2)")
    vm.set_cell_formula(2, 2, "=SUM(A1:A2,B1)")
    vm.set_cell(2, 1, 0)
    vm.recalculate()
    assert same(vm.get_cell(1, 2), DIV0)
    assert same(vm.get_cell(2, 2), DIV0)
    vm.set_cell(2, 1, 3)
    vm.recalculate()
    assert same(vm.get_cell(1, 2), 1)
    assert same(vm.get_cell(2, 2), 8)
