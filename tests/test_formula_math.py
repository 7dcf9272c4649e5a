"""Arithmetic and rounding worksheet functions, evaluated through Vm.set_cell_formula."""
import math

import pytest

from formulahelp import DIV0, NA, NUM, check, evaluate, failure, same, shown_for


CELLS = {(1, 1): 12, (2, 1): 18, (3, 1): 30, (4, 1): "x", (1, 2): True}

# Whole results are Integers, computed fractions Floats; EXP, LN, LOG, LOG10,
# ATAN2 and PI always give Floats.
VALUES = [
    ("=ABS(-3)", 3),
    ("=ABS(-2.5)", 2.5),
    ('=ABS("-4")', 4),                 # numeric text converts
    ("=ABS(B1)", 1),                   # TRUE is 1
    ("=ABS(Z99)", 0),                  # a blank cell is 0
    ("=SIGN(-0.5)", -1),
    ("=SIGN(0)", 0),
    ("=SIGN(7)", 1),
    ("=SQRT(4)", 2),
    ("=SQRT(2)", 1.4142135623730951),
    ("=EXP(0)", 1.0),
    ("=EXP(1)", 2.718281828459045),
    ("=LN(1)", 0.0),
    ("=LOG10(1000)", 3.0),
    ("=LOG(8,2)", 3.0),
    ("=LOG(1000)", 3.0),               # base 10 is the exact base-10 logarithm
    ("=LOG(1000,10)", 3.0),
    ("=INT(LOG(1000))", 3),
    ("=LOG(100,10,99)", 2.0),          # arguments after the base are ignored
    ("=POWER(2,10)", 1024),
    ("=POWER(2,0.5)", 1.4142135623730951),
    ("=POWER(-2,3)", -8),
    ("=PI()", 3.141592653589793),
    ("=PI", 3.141592653589793),
    ("=INT(-2.5)", -3),
    ("=INT(2.5)", 2),
    ("=MOD(-3,2)", 1),                 # the result takes the divisor's sign
    ("=MOD(3,-2)", -1),
    ("=MOD(5.5,2)", 1.5),
    ("=QUOTIENT(-7,2)", -3),
    ("=QUOTIENT(7,2)", 3),
    ("=ATAN2(1,1)", 0.7853981633974483),
    ("=ATAN2(-1,0)", 3.141592653589793),  # the first argument is the x coordinate
    ("=SIN(0)", 0),
    ("=COS(0)", 1),
    ("=TAN(0)", 0),
    ("=ACOS(1)", 0),
    ("=ATAN(1)", 0.7853981633974483),
    ("=DEGREES(PI())", 180),
    ("=RADIANS(180)", 3.141592653589793),
    ("=FACT(0)", 1),
    ("=FACT(5.9)", 120),               # the argument is truncated
    ("=FACT(20)", 2432902008176640000),
    ("=FACT(21)", 5.109094217170944e19),  # beyond 2^63: a Float
    ("=FACT(170)", 7.257415615307994e306),
    ("=COMBIN(5,2)", 10),
    ("=COMBIN(5,0)", 1),
    ("=COMBIN(60,30)", 118264581564861424),
    ("=COMBIN(1000000000000000000,1)", 1000000000000000000),
    ("=PERMUT(5,2)", 20),
    ("=PERMUT(5,0)", 1),
    ("=PERMUT(9223372036854775807,0)", 1),  # no factor, and no step past the largest n
    ("=GCD(12,18)", 6),
    ("=GCD(0)", 0),
    ("=GCD(A1:A3)", 6),
    ("=GCD(A1:A3,Z1:Z5)", 6),          # blank cells leave the divisor unchanged
    ("=LCM(4,6)", 12),
    ("=LCM(3,4,5)", 60),
    ("=LCM(4,0)", 0),
]

ROUNDING = [
    ("=ROUND(2.5,0)", 3),
    ("=ROUND(-2.5,0)", -3),
    ("=ROUND(1250,-2)", 1300),
    ("=ROUND(1234,-2)", 1200),
    ("=ROUND(123.456,-1)", 120),
    ("=ROUND(1.9,1.9)", 1.9),          # the digits are truncated
    ("=ROUND(1.5,400)", 1.5),          # more digits than a double holds
    ("=ROUND(1234,-400)", 0),
    ("=ROUNDUP(-1.21,1)", -1.3),
    ("=ROUNDUP(3.2,0)", 4),
    ("=ROUNDUP(-3.2,0)", -4),
    ("=ROUNDDOWN(-1.29,1)", -1.2),
    ("=ROUNDDOWN(3.9,0)", 3),
    ("=TRUNC(-2.5)", -2),
    ("=TRUNC(1299,-2)", 1200),
    ("=CEILING(2.3)", 3),
    ("=CEILING(5,0)", 0),
    ("=CEILING(-2.5,2)", -2),          # a negative number toward zero ...
    ("=CEILING(-2.5,-2)", -4),         # ... or, with a negative significance, away from it
    ("=CEILING(7,-1)", NUM),           # a positive number has no negative multiple above it
    ("=CEILING(0,-1)", 0),
    ("=FLOOR(2.7)", 2),
    ("=FLOOR(5,0)", 0),
    ("=FLOOR(2.5,-1)", NUM),
    ("=FLOOR(-2.5,2)", -4),
    ("=FLOOR(-2.5,-2)", -2),
    # The .MATH forms ignore the significance's sign; the mode turns how a
    # negative number rounds.
    ("=CEILING.MATH(2.1)", 3),
    ("=CEILING.MATH(7,-2)", 8),
    ("=CEILING.MATH(-5.5,2)", -4),
    ("=CEILING.MATH(-5.5,2,0)", -4),
    ("=CEILING.MATH(-5.5,2,-1)", -6),
    ("=CEILING.MATH(5.5,2,1)", 6),     # the mode leaves positive numbers alone
    ("=CEILING.MATH(-5.5,0)", 0),
    ("=FLOOR.MATH(2.9)", 2),
    ("=FLOOR.MATH(-5.5,2)", -6),
    ("=FLOOR.MATH(-5.5,2,1)", -4),
    ("=FLOOR.MATH(-5.5,-2,1)", -4),
    ("=FLOOR.MATH(5.5,2,1)", 4),
    ("=MROUND(10,3)", 9),
    ("=MROUND(-10,-3)", -9),
    ("=MROUND(7,0)", 0),
    ("=MROUND(7.5,3)", 9),             # halves away from zero
]

# Binary representation error does not decide a rounding: the scaled value
# counts at 15 significant digits, as in spreadsheets.
COMPENSATED = [
    ("=ROUND(1.005,2)", 1.01),         # 1.005 * 100 is 100.49999999999999 in binary
    ("=ROUND(0.285,2)", 0.29),
    ("=ROUND(2.675,2)", 2.68),
    ("=ROUND(-1.005,2)", -1.01),
    ("=ROUNDUP(0.1+0.2,1)", 0.3),      # 0.30000000000000004 is 0.3
    ("=ROUNDDOWN(4.35,2)", 4.35),      # 4.35 * 100 is 434.99999999999994
    ("=TRUNC(4.35,2)", 4.35),
    ("=MROUND(1.15,0.1)", 1.2),        # 1.15 / 0.1 is 11.499999999999998
    ("=MROUND(1.005,0.01)", 1.01),
    ("=CEILING(0.1*3,0.1)", 0.3),      # 0.30000000000000004 / 0.1 is 3.0000000000000004
    ("=CEILING(0.3,0.1)", 0.3),
    ("=FLOOR(0.3,0.1)", 0.3),          # 0.3 / 0.1 is 2.9999999999999996
    ("=FLOOR(0.6,0.2)", 0.6),
]

# Out-of-domain arguments are error values, so one bad cell does not stop a
# recalculation.
DOMAIN_ERRORS = [
    ("=MOD(5,0)", DIV0),
    ("=QUOTIENT(5,0)", DIV0),
    ("=ATAN2(0,0)", DIV0),
    ("=LOG(10,1)", DIV0),              # ln 1 = 0 divides
    ("=POWER(0,-1)", DIV0),
    ("=SQRT(-1)", NUM),
    ("=LN(0)", NUM),
    ("=LN(-1)", NUM),
    ("=LOG10(0)", NUM),
    ("=LOG(0)", NUM),
    ('=LOG(0,"x")', NUM),              # the base is never read
    ("=LOG(100,0)", NUM),
    ("=LOG(8,-2)", NUM),
    ("=POWER(0,0)", NUM),
    ("=POWER(-8,1/3)", NUM),
    ("=EXP(1000)", NUM),
    ("=ASIN(2)", NUM),
    ("=ACOS(-2)", NUM),
    ("=FACT(171)", NUM),
    ("=FACT(-1)", NUM),
    ("=COMBIN(2,5)", NUM),
    ("=COMBIN(-1,0)", NUM),
    ("=PERMUT(2,5)", NUM),
    ("=GCD(-4)", NUM),
    ("=LCM(-2,4)", NUM),
    ("=LCM(4611686018427387904,3)", NUM),  # beyond the signed 64-bit range
    ("=MROUND(10,-3)", NUM),
    ("=MROUND(0,-2)", NUM),            # 0 counts as positive
    # An error value given as an argument is the result.
    ("=ABS(1/0)", DIV0),
    ("=ROUND(NA(),2)", NA),
    ("=ROUND(2.5,NA())", NA),
    ("=GCD(12,1/0)", DIV0),
]


@pytest.mark.parametrize("formula, want", VALUES + ROUNDING + COMPENSATED + DOMAIN_ERRORS)
def test_math_values(formula, want):
    check(formula, CELLS, want)


@pytest.mark.parametrize(
    "formula",
    [
        "=COMBIN(1000000000000000000,500000000000000000)",
        "=PERMUT(1000000000000000000,100000000000000000)",
        "=PERMUT(9223372036854775807,9223372036854775807)",
    ],
)
def test_huge_counts_overflow_quickly(formula):
    # The loops stop once the value overflows instead of running 10^17 steps.
    assert same(evaluate(formula), NUM)


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=ROUND(5)", "ROUND requires 2 arguments"),
        ("=ROUNDDOWN(5)", "ROUNDDOWN requires 2 arguments"),
        ("=TRUNC(1,2,3)", "TRUNC requires 1 or 2 arguments"),
        ("=SQRT()", "SQRT requires 1 argument"),
        ("=ATAN2(1)", "ATAN2 requires 2 arguments"),
        ("=SIN(1,2)", "Trig function requires 1 argument"),
        ("=DEGREES()", "Trig function requires 1 argument"),
        ("=PI(1)", "PI takes no arguments"),
        ("=LOG()", "LOG requires at least 1 argument"),
        ("=CEILING()", "CEILING requires at least 1 argument"),
        ("=FLOOR.MATH()", "FLOOR.MATH requires 1 to 3 arguments"),
        ("=CEILING.MATH(1,2,3,4)", "CEILING.MATH requires 1 to 3 arguments"),
        ("=GCD()", "GCD requires at least 1 argument"),
        ("=LCM()", "LCM requires at least 1 argument"),
        ('=ABS("x")', "Cannot convert 'x' to a number"),
        ("=GCD(A1:A4)", "Cannot convert 'x' to a number"),
        ("=SQRT(A1:A2)", "Range cannot be used as a scalar value"),
    ],
)
def test_math_failures(formula, message):
    assert failure(formula, CELLS) == shown_for(message)


def test_log_of_a_power_of_ten_is_exact():
    for k in range(16):
        assert same(evaluate(f"=LOG({10 ** k})"), float(k))
    assert same(evaluate("=LOG(0.001)"), -3.0)
