"""Order statistics, dispersion and distributions, evaluated through Vm.set_cell_formula."""
import pytest

from formulahelp import DIV0, NA, NUM, REF, check, evaluate, failure, same, shown_for


# A1:A4 1..4; B1:B3 2, 4, 6; C1:C5 and D1:D5 a noisy pair; E1:E4 with an
# error value; F1:F5 mixed kinds; G1:G3 constant.
CELLS = {
    (1, 1): 1, (2, 1): 2, (3, 1): 3, (4, 1): 4,
    (1, 2): 2, (2, 2): 4, (3, 2): 6,
    (1, 3): 1, (2, 3): 2, (3, 3): 3, (4, 3): 4, (5, 3): 5,
    (1, 4): 2, (2, 4): 4, (3, 4): 5, (4, 4): 4, (5, 4): 5,
    (1, 5): 5, (2, 5): NA, (3, 5): 1, (4, 5): REF,
    (1, 6): 3, (2, 6): "7", (3, 6): True, (4, 6): 4.0, (5, 6): 4,
    (1, 7): 7, (2, 7): 7, (3, 7): 7,
}

ORDER = [
    ("=MEDIAN(1,2,3,4)", 2.5),
    ("=MEDIAN(3,1,2)", 2),
    ("=MEDIAN(5,1,9,3)", 4),
    ("=MEDIAN(A1:A4,10)", 3),
    ("=MEDIAN(F1:F5)", 4),             # numbers only: the text and the boolean are ignored
    ('=MEDIAN("a")', NUM),             # no numbers
    ("=LARGE(A1:A4,1)", 4),
    ("=LARGE(A1:A4,1.9)", 4),          # k is truncated
    ("=LARGE(A1:A4,4)", 1),
    ("=SMALL(A1:A4,1)", 1),
    ("=SMALL(A1:A4,3)", 3),
    ("=LARGE(A1:A4,0)", NUM),
    ("=LARGE(A1:A4,5)", NUM),
    ("=SMALL(A1:A4,-1)", NUM),
    ("=PERCENTILE(A1:A4,0.5)", 2.5),
    ("=PERCENTILE(A1:A4,0)", 1),
    ("=PERCENTILE(A1:A4,1)", 4),
    ("=PERCENTILE.INC(C1:C5,0.3)", 2.2),
    ("=PERCENTILE(A1:A4,1.5)", NUM),
    ("=PERCENTILE(Z1:Z4,0.5)", NUM),
    ("=PERCENTRANK(A1:A4,3)", 0.666),  # cut down, not rounded, to three digits
    ("=PERCENTRANK(A1:A4,3,1)", 0.6),
    ("=PERCENTRANK(A1:A4,4)", 1.0),
    ("=PERCENTRANK.INC(A1:A4,1)", 0.0),
    ("=PERCENTRANK(A1:A4,2.5)", 0.5),  # between two values: between their ranks
    ("=PERCENTRANK(A1:A4,1.1)", 0.033),
    ("=PERCENTRANK(C1:C5,4.5,4)", 0.875),
    ("=PERCENTRANK(A1:A4,0.5)", NA),   # outside the data
    ("=PERCENTRANK(A1:A4,4.5)", NA),
    ("=PERCENTRANK(G1,7)", 1.0),       # a single value
    ("=PERCENTRANK(A1:A4,3,0)", NUM),
    ("=PERCENTRANK(Z1:Z4,3)", NUM),
    ("=RANK(3,A1:A4)", 2),
    ("=RANK(3,A1:A4,1)", 3),
    ("=RANK(2.5,A1:A4)", NA),          # a value that is not in the list has no rank
    ("=RANK(7,G1:G3)", 1),             # equal values share a rank
    ("=MODE.MULT(1,2,2,3,3)", 2),      # the first value with the highest count
    ("=MODE.MULT(1,2,3)", 1),
    ("=MODE.MULT(F1:F5)", 4),          # the Float 4.0 counts with the Integer 4
    ("=MODE.MULT(1.5,2.5)", NA),
    # An array made by a function counts element by element.
    ("=MEDIAN(MAP(A1:A4,LAMBDA(x,x*2)))", 5),
    ("=LARGE(MAP(A1:A4,LAMBDA(x,x*2)),1)", 8),
    ("=PERCENTILE(MAP(A1:A4,LAMBDA(x,x*2)),0.5)", 5),
    ("=RANK(4,MAP(A1:A4,LAMBDA(x,x*2)))", 3),
]

DISPERSION = [
    ("=VAR.S(1,2,3,4)", 1.6666666666666667),
    ("=VAR(A1:A4)", 1.6666666666666667),
    ("=VAR.P(A1:A4)", 1.25),
    ("=VARP(A1:A4)", 1.25),
    ("=VAR.P(5)", 0.0),
    ("=VAR.S(5)", DIV0),
    ("=VAR.P()", DIV0),
    ("=STDEV.S(2,4,4,4,5,5,7,9)", 2.138089935299395),
    ("=STDEV(2,4,4,4,5,5,7,9)", 2.138089935299395),
    ("=STDEV.P(2,4,4,4,5,5,7,9)", 2.0),
    ("=STDEVP(2,4,4,4,5,5,7,9)", 2.0),
    ("=STDEV.S(F1:F5)", 0.5773502691896258),  # 3, 4.0 and 4
    ("=STDEV(Z1:Z3)", DIV0),
    ("=CORREL(A1:A3,B1:B3)", 1.0),     # a perfectly linear pair
    ("=CORREL(C1:C5,D1:D5)", 0.7745966692414834),
    ("=CORREL(A1:A3,G1:G3)", DIV0),    # a constant list
    ("=COVARIANCE.P(C1:C5,D1:D5)", 1.2),
    ("=COVARIANCE.S(C1:C5,D1:D5)", 1.5),
    ("=COVAR(C1:C5,D1:D5)", 1.2),      # COVAR is the population covariance
    ("=COVARIANCE.S(1,2)", DIV0),      # one pair
    ("=COVARIANCE.P(1,2)", 0.0),
    ("=VAR.S(MAP(A1:A4,LAMBDA(x,x*2)))", 6.666666666666667),
    # Pairs are kept by position: the text in F2 drops its pair only.
    ("=CORREL(F1:F3,A1:A3)", DIV0),    # one pair left
    ("=COVARIANCE.P(F1:F4,A1:A4)", 0.75),  # pairs (3, 1) and (4.0, 4)
]

# The first error value in the data is the result.
ERRORS = [
    ("=MEDIAN(E1:E4)", NA),
    ("=LARGE(E1:E4,1)", NA),
    ("=SMALL(E1:E4,NA())", NA),
    ("=SMALL(A1:A4,1/0)", DIV0),
    ("=PERCENTILE(E1:E4,0.5)", NA),
    ("=RANK(1,E1:E4)", NA),
    ("=RANK(NA(),A1:A4)", NA),
    ("=MODE.MULT(1,1,E4)", REF),
    ("=VAR.S(E1:E4)", NA),
    ("=STDEV.P(A1:A4,E4)", REF),
    ("=CORREL(E1:E4,A1:A4)", NA),
    ("=CORREL(A1:A4,E1:E4)", NA),
    ("=COVARIANCE.S(E3:E4,A1:A2)", REF),
]

DISTRIBUTIONS = [
    ("=NORM.DIST(0,0,1,TRUE)", 0.5),
    ("=NORM.DIST(1.96,0,1,TRUE)", 0.9750021048517795),
    ("=NORMDIST(1,2,3,TRUE)", 0.36944134018176367),
    ("=NORM.DIST(-8,0,1,TRUE)", 6.22096057427174e-16),
    ("=NORM.DIST(0,0,1,FALSE)", 0.3989422804014327),
    ("=NORM.DIST(1,2,3,FALSE)", 0.12579440923099774),
    ("=NORM.INV(0.975,0,1)", 1.959963984540054),
    ("=NORM.INV(0.5,10,2)", 10.0),
    ("=NORMINV(0.01,5,2)", 0.3473042519183185),
    ("=NORM.INV(0.0000000001,0,1)", -6.361340902404056),
    ("=T.DIST(0,10,TRUE)", 0.5),
    ("=T.DIST(1,1,TRUE)", 0.75),
    ("=T.DIST(-2,3,TRUE)", 0.06966298427942152),
    ("=T.DIST(1.5,2.5,TRUE)", 0.8760817734568519),  # the degrees of freedom need not be whole
    ("=T.DIST(3,30,TRUE)", 0.9973050179671741),
    ("=T.DIST(-40,2,TRUE)", 0.0003122073360923703),
    ("=T.DIST(2,10,FALSE)", 0.061145766321218174),
    ("=T.DIST(0,1,FALSE)", 0.31830988618379075),
    ("=T.DIST(-1.5,4,FALSE)", 0.12288000000000003),
    ('=T.DIST(1,1,"FALSE")', 0.75),    # a non-empty text is true
]

DISTRIBUTION_ERRORS = [
    ("=NORM.DIST(1,0,0,TRUE)", NUM),
    ("=NORM.DIST(1,0,-1,FALSE)", NUM),
    ("=NORM.INV(0,0,1)", NUM),
    ("=NORM.INV(1,0,1)", NUM),
    ("=NORM.INV(0.5,0,0)", NUM),
    ("=T.DIST(1,0.5,TRUE)", NUM),
    ("=NORM.DIST(NA(),0,1,TRUE)", NA),
    ("=NORM.DIST(0,0,1,1/0)", DIV0),
    ("=T.DIST(1,5,NA())", NA),
]


@pytest.mark.parametrize("formula, want", ORDER + DISPERSION + ERRORS + DISTRIBUTION_ERRORS)
def test_statistics_values(formula, want):
    check(formula, CELLS, want)


@pytest.mark.parametrize("formula, want", DISTRIBUTIONS)
def test_distribution_values(formula, want):
    got = evaluate(formula, CELLS)
    assert type(got) is float and got == pytest.approx(want, rel=1e-13, abs=1e-300), f"{formula}: {got!r}"


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=MEDIAN()", "MEDIAN requires at least 1 argument"),
        ("=LARGE(A1:A4)", "LARGE requires 2 arguments"),
        ("=SMALL(A1:A4,1,2)", "SMALL requires 2 arguments"),
        ("=PERCENTILE.INC(A1:A4)", "PERCENTILE requires 2 arguments"),
        ("=PERCENTRANK.INC(A1:A4)", "PERCENTRANK requires 2 or 3 arguments"),
        ("=RANK(1)", "RANK requires 2 or 3 arguments"),
        ("=MODE.MULT()", "MODE.MULT requires at least 1 argument"),
        ("=CORREL(A1:A4)", "CORREL requires 2 arguments"),
        ("=COVAR(A1:A4)", "COVARIANCE.P requires 2 arguments"),
        ("=COVARIANCE.S(A1:A4,B1:B3)", "COVARIANCE.S: arrays must have equal length"),
        ("=CORREL(A1:A4,B1:B3)", "CORREL: arrays must have equal length"),
        ("=NORMDIST(1,0,1)", "NORM.DIST requires 4 arguments"),
        ("=NORMINV(0.5,0)", "NORM.INV requires 3 arguments"),
        ("=T.DIST(1,2)", "T.DIST requires 3 arguments"),
        ('=LARGE(A1:A4,"x")', "Cannot convert 'x' to a number"),
    ],
)
def test_statistics_failures(formula, message):
    assert failure(formula, CELLS) == shown_for(message)


def test_order_statistics_over_a_large_column():
    import morvane

    vm = morvane.Vm()
    n = 20001
    for r in range(1, n + 1):
        vm.set_cell(r, 1, (r * 7919) % n)  # a permutation of 0 .. n-1
    for formula, want in [
        (f"=MEDIAN(A1:A{n})", 10000),
        (f"=LARGE(A1:A{n},1)", n - 1),
        (f"=SMALL(A1:A{n},100)", 99),
        (f"=PERCENTILE(A1:A{n},0.25)", 5000),
        (f"=RANK(0,A1:A{n},1)", 1),
    ]:
        vm.set_cell_formula(1, 2, formula)
        assert same(vm.get_cell(1, 2), want), formula
    # A NaN has a place in the order (after every number), so sorting stays sound.
    vm.set_cell(n + 1, 1, float("nan"))
    vm.set_cell_formula(1, 2, f"=SMALL(A1:A{n + 1},{n})")
    assert same(vm.get_cell(1, 2), n - 1)
