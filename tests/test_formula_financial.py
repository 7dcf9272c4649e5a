"""Financial functions: annuities, cash-flow sums and the rate solvers."""
import pytest

from formulahelp import DIV0, NA, NUM, VALUE, column, evaluate, failure, shown_for


# Results a spreadsheet gives, to the digits it shows or to the last bit.
KNOWN = [
    ("=FV(0.005,10,-2,-5,1)", 25.81403374),
    ("=FV(0.06/12,10,-200,-500,1)", 2581.403374),
    ("=FV(0,10,-100)", 1000.0),
    ("=PV(0.08/12,240,5)", -597.7714585),
    ("=PV(0.08/12,12*20,500)", -59777.14585),
    ("=PV(0,10,-100,50)", 950.0),
    ("=PMT(0.08/12,10,100)", -10.37032089),
    ("=PMT(0.08/12,10,10000)", -1037.032089),
    ("=PMT(0,10,1000)", -100.0),
    ("=PMT(0.06/12,18*12,0,50000)", -129.0811609),
    ("=IPMT(0.1/12,1,36,8000)", -66.66666666666667),
    ("=IPMT(0.1,3,3,8000)", -292.4471299093658),
    ("=IPMT(0.1,1,3,8000,0,1)", 0.0),
    ("=PPMT(0.1/12,1,24,2000)", -75.62318601),
    ("=PPMT(0.08,10,10,200000)", -27598.05346),
    ("=NPER(0.01,-100,-1000,10000,1)", 59.67386567429457),
    ("=NPER(0.12/12,-100,-1000)", -9.578594039),
    ("=NPER(0,-100,1000)", 10.0),
    ("=NPV(0.1,-100,30,42,68)", 11.88443412),
    ("=NPV(0.1,-10000,3000,4200,6800)", 1188.443412),
    ("=RATE(48,-200,8000)", 0.0077014724882016085),
    ("=RATE(10,-1000,8000)", 0.04277497803511151),
    # A rate paid in advance: the present value of its payments is the loan.
    ("=PV(RATE(12,-100,1000,0,1),12,-100,0,1)", 1000.0),
]


@pytest.mark.parametrize("formula,want", KNOWN)
def test_known_results(formula, want):
    got = evaluate(formula)
    assert type(got) is float
    assert got == pytest.approx(want, rel=1e-9)


ERROR_VALUES = [
    ("=IPMT(0.1,1.5,3,8000)", VALUE),
    ("=PPMT(0.1,1.5,3,8000)", VALUE),
    ("=IPMT(0.1,0,3,8000)", NUM),
    ("=IPMT(0.1,4,3,8000)", NUM),
    ("=PPMT(0.1,4,3,8000)", NUM),
    ("=NPER(0,0,1000)", DIV0),
    ("=NPER(0.1,-100,2000)", NUM),  # a payment smaller than the interest
    ("=NPV(0.1,\"a\",TRUE)", -0.0),
    ("=MIRR(5,0.1,0.1)", NUM),
    ("=FV(NA(),1,1)", NA),
    ("=NPV(NA(),1)", NA),
]


@pytest.mark.parametrize("formula,want", ERROR_VALUES)
def test_domain_problems_are_error_values(formula, want):
    got = evaluate(formula)
    assert type(got) is type(want) and got == want


@pytest.mark.parametrize("per", [1, 2, 3, 4])
@pytest.mark.parametrize("kind", [0, 1])
def test_principal_and_interest_add_up_to_the_payment(per, kind):
    args = f"0.07/12,{per},4,5000,100,{kind}"
    parts = evaluate(f"=PPMT({args})") + evaluate(f"=IPMT({args})")
    assert parts == pytest.approx(evaluate(f"=PMT(0.07/12,4,5000,100,{kind})"), rel=1e-12)


FLOWS = [-70000, 12000, 15000, 18000, 21000, 26000]


def test_irr_and_mirr_over_cells():
    cells = column(1, FLOWS)
    assert evaluate("=IRR(A1:A6)", cells) == pytest.approx(0.08663094803653162, rel=1e-12)
    assert evaluate("=IRR(A1:A5)", cells) == pytest.approx(-0.021244848273410943, rel=1e-12)
    assert evaluate("=IRR(A1:A6,0.5)", cells) == pytest.approx(0.08663094803653162, rel=1e-12)
    assert evaluate("=IRR(A2:A6)", cells) == NUM  # only inflows
    assert evaluate("=IRR(B1:B6)", cells) == NUM  # no numbers at all
    cells = column(1, [-40000, 8000, 9200, 10000, 12000, 14500])
    assert evaluate("=NPV(0.08,A2:A6)+A1", cells) == pytest.approx(1922.061554, rel=1e-9)
    more = 1922.061554 + 9000 / 1.08**6 - 9000 / 1.08**7
    assert evaluate("=NPV(0.08,A2:A6,9000,-9000)+A1", cells) == pytest.approx(more, rel=1e-9)
    assert evaluate("=MIRR(A1:A6,0.1,0.1)", column(1, [1, 2, 3])) == DIV0  # no outflow
    assert evaluate("=MIRR(A1:A6,0.1,0.1)", column(1, [-1, -2])) == DIV0  # no inflow
    cells = column(1, [-120, 39, 30, 21, 37, 46, "text"])
    assert evaluate("=MIRR(A1:A8,0.1,0.12)", cells) == pytest.approx(0.1260941304, rel=1e-9)


# Dated cash flows; the dates as DATE() values or as plain serials.
DATED = [-100, 27.5, 42.5, 32.5, 27.5]
DATES = ["=DATE(2008,1,1)", "=DATE(2008,3,1)", "=DATE(2008,10,30)", "=DATE(2009,2,15)", "=DATE(2009,4,1)"]
SERIALS = [39448, 39508, 39751, 39859, 39904]


@pytest.mark.parametrize("dates", [DATES, SERIALS], ids=["date values", "serials"])
def test_xnpv_and_xirr(dates):
    cells = {**column(1, DATED), **column(1, dates, "B")}
    assert evaluate("=XNPV(0.09,A1:A5,B1:B5)", cells) == pytest.approx(20.86647602, rel=1e-9)
    assert evaluate("=XIRR(A1:A5,B1:B5)", cells) == pytest.approx(0.3733625335, rel=1e-9)
    assert evaluate("=XIRR(A1:A5,B1:B5,0.5)", cells) == pytest.approx(0.3733625335, rel=1e-9)


def test_dated_flow_list_problems():
    cells = {**column(1, DATED + ["text", 10]), **column(1, SERIALS + [39950, "not a date"], "B")}
    assert evaluate("=XNPV(0.09,A1:A4,B1:B5)", cells) == VALUE  # lengths differ
    assert evaluate("=XNPV(0.09,A1:A6,B1:B6)", cells) == VALUE  # a text value
    assert evaluate("=XNPV(0.09,A2:A5,B6:B9)", cells) == VALUE  # first date is no number
    # XIRR leaves out pairs that are not two numbers.
    assert evaluate("=XIRR(A1:A7,B1:B7)", cells) == pytest.approx(0.3733625335, rel=1e-9)
    assert evaluate("=XIRR(A6:A7,B6:B7)", cells) == VALUE


@pytest.mark.parametrize("formula,message", [
    ("=FV(1,2)", "FV requires 3 to 5 arguments"),
    ("=PV(1,2,3,4,5,6)", "PV requires 3 to 5 arguments"),
    ("=PMT(1,2)", "PMT requires 3 to 5 arguments"),
    ("=IPMT(1,2,3)", "IPMT requires 4 to 6 arguments"),
    ("=PPMT(1,2,3)", "PPMT requires 4 to 6 arguments"),
    ("=NPER(1,2)", "NPER requires 3 to 5 arguments"),
    ("=NPV(0.1)", "NPV requires at least 2 arguments"),
    ("=XNPV(1,2)", "XNPV requires 3 arguments"),
    ("=MIRR(1,2)", "MIRR requires 3 arguments"),
    ("=RATE(1,2)", "RATE requires 3 to 6 arguments"),
    ("=IRR()", "IRR requires 1 to 2 arguments"),
    ("=XIRR(1)", "XIRR requires 2 to 3 arguments"),
    ("=PMT(0.1,0,1000)", "PMT: nper cannot be 0"),
    ("=FV(\"x\",1,1)", "Cannot convert 'x' to a number"),
])
def test_financial_failures(formula, message):
    assert failure(formula) == shown_for(message)
