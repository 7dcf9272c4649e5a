"""Dynamic-array and reshaping functions over a grid, a list with duplicates
and a list of names. Results are flat lists, row after row."""
import pytest

from formulahelp import NA, NAME, VALUE, check, column, evaluate, failure, shown_for

SHEET = {
    # A1:B3 a grid, C1:C3 the flags that filter it.
    "A1": 1, "B1": 2, "A2": 3, "B2": 4, "A3": 5, "B3": 6,
    "C1": True, "C2": False, "C3": True,
    # D1:D6 a list with duplicates and a blank (D5).
    **column(1, [3, "a", 3, "A", None, 1], "D"),
    # E1:E4 unsorted values of mixed kinds, F1:F4 keys, G1:G4 names.
    **column(1, [3, "x", 1, 2], "E"),
    **column(1, [2, 3, 1, 2], "F"),
    **column(1, ["pear", "Apple", "fig", "banana"], "G"),
    # H1:J3 a table of name, count and price.
    "H1": "b", "I1": 2, "J1": 0.5,
    "H2": "c", "I2": 1, "J2": 0.25,
    "H3": "a", "I3": 3, "J3": 2,
    # K1:O1 a row and its flags.
    "K1": 10, "L1": 20, "M1": 30, "N1": 40, "O1": 50,
    "K2": True, "L2": False, "M2": True, "N2": False, "O2": False,
}

FILTERS = [
    ("=FILTER(A1:B3,C1:C3)", [1, 2, 5, 6]),
    ("=FILTER(A1:A3,A1:A3>2)", [3, 5]),
    ("=FILTER(A1:A3,A1:A3=3)", 3),                    # one value, not a list
    ("=FILTER(A1:A3,A1:A3>9)", NA),
    ("=FILTER(A1:A3,A1:A3>9,\"none\")", "none"),
    ("=FILTER(A1:A3,K2:M2)", [1, 5]),                 # a row of flags filters rows too
    ("=FILTER(K1:O1,K2:O2)", [10, 30]),               # flags along a row pick columns
    ("=FILTER(5,FALSE)", 5),
    ("=FILTER(SEQUENCE(5),SEQUENCE(5)>3)", [4, 5]),
    ("=FILTER(A1:A1,A1>0)", 1),
    ("=FILTER(B1:B1,A1:A1>0)", 2),
    ("=FILTER(A1:A3,A1:A3>=A1:A3)", [1, 3, 5]),     # a comparison of two lists
    ("=FILTER(A1:A3,(A1:A3>1)*C1:C3)", 5),            # two conditions multiplied
    ("=FILTER(E1:E4,E1:E4>2)", [3, "x"]),             # a text sorts after every number
    ("=FILTER(H1:H3,I1:I3>=2)", ["b", "a"]),
]

SORTS = [
    ("=SORT(E1:E4)", [1, 2, 3, "x"]),
    ("=SORT(E1:E4,1,-1)", ["x", 3, 2, 1]),
    ("=SORT(E1:E4,1,0)", VALUE),                      # order 0 is neither way
    ("=SORT(G1:G4)", ["Apple", "banana", "fig", "pear"]),  # texts in alphabetical order
    ("=SORT(G1:G4,1,-1)", ["pear", "fig", "banana", "Apple"]),
    ("=SORT(SEQUENCE(3,1,3,-1))", [1, 2, 3]),
    ("=SORT(HSTACK(1,A9,-1))", [-1, 0, 1]),           # HSTACK shows the blank as 0
    ("=SORT(H1:J3)", ["a", 3, 2, "b", 2, 0.5, "c", 1, 0.25]),     # rows kept whole
    ("=SORT(H1:J3,2)", ["c", 1, 0.25, "b", 2, 0.5, "a", 3, 2]),
    ("=SORT(H1:J3,3,-1)", ["a", 3, 2, "b", 2, 0.5, "c", 1, 0.25]),
    ("=SORT(H1:J3,4)", VALUE),
    ("=SORT(E1:E4,2)", VALUE),
    ("=SORTBY(E1:E4,F1:F4)", [1, 3, 2, "x"]),          # equal keys keep their order
    ("=SORTBY(E1:E4,F1:F4,-1)", ["x", 3, 2, 1]),
    ("=SORTBY(G1:G3,E1:E3)", ["fig", "pear", "Apple"]),  # a word key sorts last
    ("=SORTBY(H1:H3,I1:I3)", ["c", "b", "a"]),
    ("=SORTBY(H1:J3,J1:J3)", ["c", 1, 0.25, "b", 2, 0.5, "a", 3, 2]),
    ("=SORTBY(H1:H3,G1:G3)", ["c", "a", "b"]),        # by names: Apple, fig, pear
]

UNIQUES = [
    ("=UNIQUE(D1:D6)", [3, "a", 0, 1]),                # first occurrences, one blank shown as 0
    ("=UNIQUE(HSTACK(\"a\",\"b\",\"a\"))", ["a", "b"]),
    ("=UNIQUE(HSTACK(3,1,3,2))", [3, 1, 2]),
    ("=UNIQUE(HSTACK(1,1.0,\"1\",TRUE,1))", [1, "1", True]),
    ("=UNIQUE(HSTACK(NA(),NA()))", [NA, NA]),         # error values equal nothing
    ("=UNIQUE(A7:A9)", 0),
    ("=UNIQUE(HSTACK(\"x\",\"X\"))", "x"),
]

SEQUENCES = [
    ("=SEQUENCE(3)", [1, 2, 3]),
    ("=SEQUENCE(2,2,0,0.5)", [0, 0.5, 1, 1.5]),
    ("=SEQUENCE(2,3)", [1, 2, 3, 4, 5, 6]),
    ("=SEQUENCE(0)", VALUE),                           # an empty list no cell can show
    ("=SEQUENCE(-1)", VALUE),
    ("=SEQUENCE(1)", 1),
    ("=SEQUENCE(2.9)", [1, 2]),
    ("=TRANSPOSE(A1:B2)", [1, 3, 2, 4]),
    ("=TRANSPOSE(A1:C1)", [1, 2, True]),
    ("=TRANSPOSE(B2:A1)", [1, 3, 2, 4]),
    ("=TRANSPOSE(5)", 5),
]

RESHAPES = [
    ("=WRAPROWS(SEQUENCE(5),2)", [1, 2, 3, 4, 5, NA]),  # padded with #N/A
    ("=WRAPROWS(SEQUENCE(5),2,0)", [1, 2, 3, 4, 5, 0]),
    ("=WRAPCOLS(SEQUENCE(5),2,0)", [1, 3, 5, 2, 4, 0]),
    ("=WRAPROWS(SEQUENCE(5),5)", [1, 2, 3, 4, 5]),
    ("=WRAPCOLS(K1:O1,3)", [10, 40, 20, 50, 30, NA]),
    ("=TAKE(D1:D6,2)", [3, "a"]),
    ("=TAKE(D1:D6,-2)", [0, 1]),                       # the blank shows 0
    ("=TAKE(D1:D6,1)", 3),
    ("=TAKE(D1:D6,0)", VALUE),                         # an empty list no cell can show
    ("=TAKE(SEQUENCE(5),9)", [1, 2, 3, 4, 5]),
    ("=DROP(SEQUENCE(5),2)", [3, 4, 5]),
    ("=DROP(SEQUENCE(5),-4)", 1),
    ("=DROP(SEQUENCE(5),5)", 0),                       # nothing left: a blank result shows 0
    ("=DROP(SEQUENCE(5),0)", [1, 2, 3, 4, 5]),
    ("=TOCOL(D4:D6)", ["A", 0, 1]),                    # a blank shows 0
    ("=TOCOL(D4:D6,1)", ["A", 1]),
    ("=TOCOL(HSTACK(1,NA(),A9,\"\"),2)", [1, 0, ""]),
    ("=TOROW(HSTACK(1,NA(),\"\"),3)", [1, ""]),          # the empty text is not blank
    ("=TOCOL(HSTACK(1,NA()),7)", [1, NA]),
    ("=HSTACK(K1:L1,K1:M1)", [10, 20, 10, 20, 30]),
    ("=VSTACK(A1:A2,K1:M1)", [1, 3, 10, 20, 30]),
    ("=HSTACK(1,SEQUENCE(2))", [1, 1, 2]),
    ("=CHOOSECOLS(K1:O1,1,-1)", [10, 50]),
    ("=CHOOSEROWS(D1:D6,0)", VALUE),
    ("=CHOOSECOLS(K1:O1,2,9)", [20, VALUE]),
]


@pytest.mark.parametrize("formula, want", FILTERS + SORTS + UNIQUES + SEQUENCES + RESHAPES)
def test_values(formula, want):
    check(formula, SHEET, want)


def test_sort_of_a_long_mixed_list_is_a_stable_order():
    # More values than the insertion sort takes: numbers, texts (some that read
    # as NaN), booleans, blanks and errors mixed, ascending and descending.
    values = []
    for i in range(60):
        values.append([i % 7 - 3, f"w{i % 5}", "nan", True, None, "#N/A", 2.5, "NaN", -1e300][i % 9])
    cells = column(1, values)
    cells.update({f"A{i + 1}": "=NA()" for i, v in enumerate(values) if v == "#N/A"})
    ascending = evaluate("=SORT(A1:A60)", cells)
    descending = evaluate("=SORT(A1:A60,1,-1)", cells)
    assert len(ascending) == len(descending) == 60
    # Blanks come last either way, shown as 0.
    blanks = values.count(None)
    assert ascending[-blanks:] == descending[-blanks:] == [0] * blanks
    ascending, descending = ascending[:-blanks], descending[:-blanks]
    numbers = [v for v in ascending if isinstance(v, (int, float))]
    assert numbers == sorted(numbers)
    words = [v for v in ascending if isinstance(v, str)]
    assert words == sorted(words, key=str.lower)
    # Numbers (booleans among them) first, then texts, then errors.
    kinds = ["number" if not isinstance(v, str) and not hasattr(v, "code") else "text" if isinstance(v, str)
             else "error" for v in ascending]
    assert kinds == sorted(kinds, key=["number", "text", "error"].index)
    assert descending[: kinds.count("error")] == ascending[-kinds.count("error"):]


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=FILTER(A1:A3,C1:C2)", "FILTER: data has 3 rows but include has 2 elements"),
        ("=FILTER(A1)", "FILTER requires at least 2 arguments"),
        ("=SORT()", "SORT requires 1 argument"),
        ("=SORT(A1:A3,1,\"x\")", "Cannot convert 'x' to a number"),
        ("=SORTBY(A1:A3,F1:F2)", "SORTBY: data and sort-by arrays must have equal length"),
        ("=SORTBY(A1:A3)", "SORTBY requires at least 2 arguments"),
        ("=UNIQUE()", "UNIQUE requires 1 argument"),
        ("=SEQUENCE()", "SEQUENCE requires at least 1 argument"),
        ("=TRANSPOSE()", "TRANSPOSE requires 1 argument"),
        ("=TAKE(A1)", "TAKE requires at least 2 arguments"),
        ("=DROP(A1)", "DROP requires at least 2 arguments"),
        ("=TOCOL()", "TOCOL requires 1 argument"),
        ("=TOROW()", "TOROW requires 1 argument"),
        ("=HSTACK()", "HSTACK requires at least 1 argument"),
        ("=VSTACK()", "VSTACK requires at least 1 argument"),
        ("=WRAPROWS(A1)", "WRAPROWS requires 2 arguments"),
        ("=WRAPCOLS(A1)", "WRAPCOLS requires 2 arguments"),
        ("=WRAPROWS(K1:O1,0.5)", "WRAPROWS: wrap_count must be > 0"),
        ("=WRAPCOLS(K1:O1,-3)", "WRAPCOLS: wrap_count must be > 0"),
        ("=CHOOSECOLS(A1:A5)", "CHOOSECOLS requires at least 2 arguments"),
        ("=CHOOSEROWS(A1:A5)", "CHOOSEROWS requires at least 2 arguments"),
        # Results above a million values are refused before they are built.
        ("=SEQUENCE(100000,100000)", "Range too large (10000000000 cells); maximum is 1,000,000"),
        ("=SEQUENCE(1000,1001)", "Range too large (1001000 cells); maximum is 1,000,000"),
        ("=WRAPROWS(K1:O1,1000000000000000)", "Range too large (1000000000000000 cells); maximum is 1,000,000"),
        ("=WRAPCOLS(K1:O1,1000001)", "Range too large (1000001 cells); maximum is 1,000,000"),
        ("=TRANSPOSE(A1:B500001)", "Range too large (1000002 cells); maximum is 1,000,000"),
        ("=HSTACK(SEQUENCE(1000000),1)", "Range too large (1000001 cells); maximum is 1,000,000"),
        ('=FILTER(A1:XFD100,A1:A100<>"x")', "Range too large (1638400 cells); maximum is 1,000,000"),
    ],
)
def test_failures(formula, message):
    assert failure(formula, SHEET) == shown_for(message)


NAMES = ["FILTER", "SEQUENCE", "SORT", "SORTBY", "TRANSPOSE", "UNIQUE", "CHOOSECOLS", "CHOOSEROWS", "DROP",
         "HSTACK", "TAKE", "TOCOL", "TOROW", "VSTACK", "WRAPCOLS", "WRAPROWS"]


@pytest.mark.parametrize("name", NAMES)
def test_every_name_is_built(name):
    try:
        got = evaluate(f"={name}(A1:A3,1)")
    except ValueError:
        return  # an argument message: the function exists
    assert got != NAME
