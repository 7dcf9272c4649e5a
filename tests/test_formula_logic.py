"""Logic and information functions: deciding, combining truths, testing and
describing values and cells."""
import subprocess
import sys

import pytest

from formulahelp import DIV0, NA, NAME, VALUE, check, evaluate, failure, shown_for

CELLS = {"A3": "", "A4": "text", "A5": 42, "A6": 2.5, "C7": "=1+1"}

DECIDING = [
    ("=IF(1,\"a\")", "a"),
    ("=IF(0,\"a\")", False),
    ("=IF(0,1/0,2)", 2),             # the branch not taken is never evaluated
    ("=IF(1,2,A1:A2)", 2),
    ("=IF(NA(),1,2)", NA),           # an error condition is the result
    ("=IFS(FALSE,1,TRUE,2)", 2),
    ("=IFS(0,1/0,1,\"b\")", "b"),
    ("=IFS(TRUE,1,A1:A2,2)", 1),     # conditions after the first true one are not reached
    ("=IFS(FALSE,1)", NA),           # no condition met
    ("=IFS(NA(),1,TRUE,2)", NA),
    ("=SWITCH(2,1,\"a\",2,\"b\")", "b"),
    ("=SWITCH(\"B\",\"b\",1)", 1),
    ("=SWITCH(3,1,\"a\",\"none\")", "none"),
    ("=SWITCH(3,1,\"a\")", NA),
    ("=SWITCH(NA(),NA(),1)", NA),    # error values equal nothing
    ("=SWITCH(1,1,\"a\",A1:A2)", "a"),
    ("=IFERROR(1/0,0)", 0),
    ("=IFERROR(\"a\"+1,0)", 0),      # a conversion failure counts as an error
    ("=IFERROR(A1:A2,0)", [0, 0]),        # one result per cell (blanks show 0)
    ("=IFERROR(5,1/0)", 5),
    ("=IFERROR(NA(),\"missing\")", "missing"),
]

# AND, OR and XOR take numbers and booleans wherever they stand and a text
# typed as an argument when it reads TRUE or FALSE; blanks and texts in a
# reference are passed over; an error anywhere is the result.
TRUTHS = [
    ("=AND(TRUE,1,\"true\")", True),
    ("=AND(TRUE,1,\"x\")", VALUE),
    ("=AND(1,0,1/0)", DIV0),         # an error after the deciding argument still shows
    ("=AND(0,A1:A2)", False),
    ("=AND(1,1/0)", DIV0),           # an error is the result, not a silent false
    ("=AND(A1,3)", True),            # the blank is passed over
    ("=AND(A1:A2)", VALUE),          # nothing to combine
    ("=AND(A4,A5)", True),           # ... the text in a cell is passed over too
    ("=AND(A4)", VALUE),
    ("=AND(A1:A6)", True),
    ("=OR(0,\"\")", VALUE),
    ("=OR(1,NA())", NA),
    ("=OR(TRUE,1/0)", DIV0),
    ("=OR(0,NA())", NA),
    ("=OR(\"FALSE\")", False),
    ("=OR(A3,0)", False),            # the empty text in a cell is passed over
    ("=XOR(TRUE,TRUE,TRUE)", True),
    ("=XOR(TRUE,1)", False),
    ("=XOR(A1:A6)", False),          # 42 and 2.5: two truths
    ("=XOR(FALSE,NA())", NA),
    # IF, IFS and NOT read a text as a truth only when it says TRUE or FALSE.
    ("=IF(\"FALSE\",1,2)", 2),
    ("=IF(\"true\",1,2)", 1),
    ("=IF(\"x\",1,2)", VALUE),
    ("=IF(A4,1,2)", VALUE),
    ("=IF(A3,1,2)", VALUE),          # the empty text too
    ("=IF(A1,1,2)", 2),              # a blank is false
    ("=IFS(\"x\",1,TRUE,2)", VALUE),
    ("=NOT(\"x\")", VALUE),
    ("=NOT(\"false\")", True),
    ("=NOT(0)", True),
    ("=NOT(A5)", False),
    ("=NOT(NA())", NA),
]

NUMBERS_AND_ERRORS = [
    ("=N(5)", 5),
    ("=N(2.5)", 2.5),
    ("=N(TRUE)", 1),
    ("=N(DATE(2020,1,1))", 43831),
    ("=TYPE(DATE(2020,1,1))", 1),
    ("=N(\"7\")", 0),
    ("=N(A1)", 0),
    ("=N(NA())", NA),
    ("=NA()", NA),
    ("=ERROR.TYPE(1/0)", 2),
    ("=ERROR.TYPE(NA())", 7),
    ("=ERROR.TYPE(A1:A2)", 3),
    ("=ERROR.TYPE(5)", NA),
    ("=TYPE(1)", 1),
    ("=TYPE(\"a\")", 2),
    ("=TYPE(TRUE)", 4),
    ("=TYPE(NA())", 16),
    ("=TYPE(A1)", 1),
    ("=TYPE(SEQUENCE(3))", 64),
]

IS_TESTS = [
    ("=ISBLANK(A1)", True),
    ("=ISBLANK(A3)", False),         # the empty text is not blank
    ("=ISTEXT(A3)", True),
    ("=ISTEXT(A5)", False),
    ("=ISNONTEXT(A4)", False),
    ("=ISNONTEXT(A1)", True),
    ("=ISNONTEXT(A1:A2)", [True, True]),
    ("=ISNUMBER(A6)", True),
    ("=ISNUMBER(\"5\")", False),
    ("=ISNUMBER(DATE(2020,1,1))", True),   # a date is a number
    ("=ISNUMBER(TODAY())", True),
    ("=ISLOGICAL(1)", False),
    ("=ISLOGICAL(A5>1)", True),
    ("=ISERROR(NA())", True),
    ("=ISERROR(A1:A2)", [False, False]),
    ("=ISERROR(A5)", False),
    ("=ISERR(NA())", False),         # ISERR leaves out #N/A
    ("=ISERR(1/0)", True),
    ("=ISERR(A1:A2)", [False, False]),
    ("=ISNA(NA())", True),
    ("=ISNA(1/0)", False),
    ("=ISNA(A1:A2)", [False, False]),
    # An error, or an argument that fails, is no number, text, boolean or blank.
    ("=ISNUMBER(VALUE(A4))", False),
    ("=ISNUMBER(A4+0)", False),
    ("=IF(ISNUMBER(A4+0),1,2)", 2),
    ("=ISNUMBER(1/0)", False),
    ("=ISTEXT(NA())", False),
    ("=ISLOGICAL(NA())", False),
    ("=ISBLANK(NA())", False),
    ("=ISNONTEXT(NA())", True),
    ("=ISNONTEXT(A4+0)", True),
]

CELL_INFO = [
    ("=CELL(\"row\",C7)", 7),
    ("=CELL(\"col\",C7)", 3),
    ("=CELL(\"address\",AB12)", "$AB$12"),
    ("=CELL(\"ADDRESS\")", "$A$1"),
    ("=CELL(\"row\",D4:B2)", 4),
    ("=CELL(\"row\",5)", 1),
    ("=CELL(\"type\",A1)", "b"),
    ("=CELL(\"type\",A4)", "l"),
    ("=CELL(\"type\",A5)", "v"),
    ("=CELL(\"contents\",A4)", "text"),
    ("=CELL(\"contents\",C7)", 2),
    ("=CELL(\"width\")", 8),
    ("=CELL(\"color\")", 0),
    ("=CELL(\"format\")", ""),
]


@pytest.mark.parametrize("formula, want", DECIDING + TRUTHS + NUMBERS_AND_ERRORS + IS_TESTS + CELL_INFO)
def test_values(formula, want):
    check(formula, CELLS, want)


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=AND()", "AND requires at least 1 argument"),
        ("=OR()", "OR requires at least 1 argument"),
        ("=TYPE(A1:A2)", "Range cannot be used as a scalar value"),
        ("=IF(1)", "IF requires 2 or 3 arguments"),
        ("=IFS(TRUE)", "IFS requires an even number of arguments"),
        ("=IFS(TRUE,1,FALSE)", "IFS requires an even number of arguments"),
        ("=SWITCH(1,2)", "SWITCH requires at least 3 arguments"),
        ("=IFERROR(1)", "IFERROR requires 2 arguments"),
        ("=XOR()", "XOR requires at least 1 argument"),
        ("=NOT(1,2)", "NOT requires 1 argument"),
        ("=N()", "N requires 1 argument"),
        ("=NA(1)", "NA takes no arguments"),
        ("=ISERR()", "ISERROR requires 1 argument"),
        ("=ISNONTEXT(1,2)", "ISNONTEXT requires 1 argument"),
        ("=TYPE()", "TYPE requires 1 argument"),
        ("=ERROR.TYPE()", "ERROR.TYPE requires 1 argument"),
        ("=CELL()", "CELL requires 1 or 2 arguments"),
        ("=IFERROR(1/0,A1:A2)", "Range cannot be used as a scalar value"),
    ],
)
def test_failures(formula, message):
    assert failure(formula, CELLS) == shown_for(message)


# A used-up bound ends the whole formula: no function turns it into an answer.
@pytest.mark.parametrize("outer", ["IFERROR({},0)", "ISNA({})", "ERROR.TYPE({})"])
def test_bounds_are_not_swallowed(outer):
    inner = "SUM(" + ",".join(["SEQUENCE(1000000)"] * 11) + ")"
    assert failure("=" + outer.format(inner)) == "Formula builds too many array elements; maximum is 10,000,000"


# A range copied into a list holds again every list its cells hold, and is
# refused before the copy is made when that passes the bound: a chain of
# formulas each listing the cells above it once grew until memory ran out.
# In a child process, so that its peak memory is this test's alone.
LISTS_OF_LISTS = """
import resource, morvane
vm = morvane.Vm()
for row in range(1, 12):
    vm.set_cell_formula(row, 2, "=SEQUENCE(1000000)")
vm.set_cell_formula(1, 1, "=IF(0,3,B1:B2)")
assert [len(x) for x in vm.get_cell(1, 1)] == [1000000, 1000000]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
try:
    vm.set_cell_formula(2, 1, "=IF(0,3,B1:B11)")
except ValueError as e:
    print(e)
print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)
"""


def test_a_range_of_lists_is_counted_before_it_is_copied():
    done = subprocess.run([sys.executable, "-c", LISTS_OF_LISTS], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    message, grown_mib = done.stdout.splitlines()
    assert message == "Formula builds too many array elements; maximum is 10,000,000"
    # The refused copy would have taken over 400 MiB.
    assert int(grown_mib) < 100


NAMES = ["AND", "CELL", "ERROR.TYPE", "IF", "IFERROR", "IFS", "ISBLANK", "ISERR", "ISERROR", "ISLOGICAL", "ISNA",
         "ISNONTEXT", "ISNUMBER", "ISTEXT", "N", "NA", "NOT", "OR", "SWITCH", "TYPE", "XOR"]


@pytest.mark.parametrize("name", NAMES)
def test_every_name_is_built(name):
    try:
        got = evaluate(f"={name}(1,1)")
    except ValueError:
        return  # an arity message: the function exists
    assert got != NAME


# IFERROR and the IS functions over a range or a list: one result per cell
# or element, row by row, which the aggregates around them see one by one.
OVER_RANGES = {"B1": 10, "B2": "=1/0", "B3": 30, "B4": "=NA()", "B5": 5,
               "C1": "x", "C3": True, "D1": 1, "E1": "=NA()", "D2": 2, "E2": 3}


@pytest.mark.parametrize("formula, want", [
    ("=SUMPRODUCT(IFERROR(B1:B5, 0))", 45),
    ("=SUM(IFERROR(B1:B5, 0))", 45),
    ("=MAX(IFERROR(B1:B5, 0))", 30),
    ("=IFERROR(B1:B5, -1)", [10, -1, 30, -1, 5]),
    ('=IFERROR(B1:B3, "bad")', [10, "bad", 30]),
    ("=IFERROR(D1:E2, 0)", [1, 0, 2, 3]),           # row by row
    ("=IFERROR(B1, 0)", 10),                        # a single value stays a value
    ("=IFERROR(B2, 0)", 0),
    ("=ISERROR(B1:B5)", [False, True, False, True, False]),
    ("=COUNTIF(ISERROR(B1:B5), TRUE)", 2),
    ("=ISERR(B1:B5)", [False, True, False, False, False]),
    ("=ISNA(B1:B5)", [False, False, False, True, False]),
    ("=ISNUMBER(B1:B5)", [True, False, True, False, True]),
    ("=ISBLANK(C1:C3)", [False, True, False]),
    ("=ISTEXT(C1:C3)", [True, False, False]),
    ("=ISNONTEXT(C1:C3)", [False, True, True]),
    ("=ISLOGICAL(C1:C3)", [False, False, True]),
    ("=ISNUMBER(SEQUENCE(3))", [True, True, True]),
    ("=IFERROR(MAP(SEQUENCE(3), LAMBDA(x, IF(x>1, 1/0, x))), 9)", [1, 9, 9]),
    ("=ISERROR(B2)", True),
])
def test_iferror_and_is_functions_over_ranges(formula, want):
    check(formula, OVER_RANGES, want)
