"""List functions give what a spreadsheet gives, or say plainly what the
engine's one-dimensional lists cannot do."""
import pytest

from formulahelp import NA, VALUE, check, column, failure

# A1:A6 keys, B1:B6 numbers with a blank (B3), C1:C6 repeats, D1:D6 FILTER
# data, E1:E6 FILTER flags with an error value (E4), G1:I3 a small grid, K1:L4
# rows with one repeated.
CELLS = {
    **column(1, [1, 2, 3, 4, 5, 6], "A"),
    **column(1, [5, -1, None, 3, 0, 2], "B"),
    **column(1, ["a", "b", "a", None, "c", "c"], "C"),
    **column(1, [10, 20, 30, 40, 50, 60], "D"),
    **column(1, [1, 2, 0, "=NA()", 3, 0], "E"),
    "G1": 1, "H1": 2, "I1": 3, "G2": 4, "H2": 5, "I2": 6, "G3": 7, "H3": 8, "I3": 9,
    **column(1, ["a", "b", "a", "a"], "K"),
    **column(1, ["x", "y", "x", "z"], "L"),
}

VALUES = [
    ("=SORT(B1:B6)", [-1, 0, 2, 3, 5, 0]),             # the blank last, shown as 0
    ("=SORT(B1:B6,1,-1)", [5, 3, 2, 0, -1, 0]),
    ("=SORT(B1:B6,1,0)", VALUE),
    ("=UNIQUE(C1:C6)", ["a", "b", 0, "c"]),           # one blank entry, shown as 0
    ("=UNIQUE(C1:C6,FALSE,TRUE)", ["b", 0]),          # only what occurs exactly once
    ("=UNIQUE(A1:A6,FALSE,TRUE)", [1, 2, 3, 4, 5, 6]),
    ("=UNIQUE(C1:C3,FALSE,TRUE)", "b"),
    ("=UNIQUE(VSTACK(1,1),FALSE,TRUE)", VALUE),
    # Rows of a grid are compared whole, and its columns with by_col.
    ("=UNIQUE(K1:L4)", ["a", "x", "b", "y", "a", "z"]),
    ("=UNIQUE(K1:L4,FALSE,TRUE)", ["b", "y", "a", "z"]),
    ("=UNIQUE(K1:L2,TRUE)", ["a", "x", "b", "y"]),
    ("=UNIQUE(G1:I2,TRUE)", [1, 2, 3, 4, 5, 6]),
    ("=UNIQUE(K1:K4,TRUE)", ["a", "b", "a", "a"]),    # one column is one entry by_col
    ("=UNIQUE(K1:L4,TRUE,TRUE)", ["a", "x", "b", "y", "a", "x", "a", "z"]),
    ("=FILTER(D1:D6,E1:E6>1)", NA),                   # the error in the flags is the result
    ("=FILTER(D1:D6,E1:E6)", NA),
    ("=FILTER(D1:D3,E1:E3>1)", 20),
    ("=FILTER(D1:D6,MAP(E1:E6,LAMBDA(x,IFERROR(x>1,FALSE))))", [20, 50]),
    ("=FILTER(B1:B6,A1:A6>2)", [0, 3, 0, 2]),         # a blank cell in a list shows 0
    ("=SEQUENCE(0)", VALUE),
    ("=SEQUENCE(-1)", VALUE),
    ("=SEQUENCE(Z99)", VALUE),
    ("=SEQUENCE(2,0)", VALUE),
    ("=TAKE(A1:A6,0)", VALUE),
    ("=RANDARRAY(0)", VALUE),
    ("=RANDARRAY(Z99,2)", VALUE),
    ("=WRAPROWS(A1:A5,2)", [1, 2, 3, 4, 5, NA]),
    ("=WRAPROWS(A1:A5,2,\"-\")", [1, 2, 3, 4, 5, "-"]),
    ("=WRAPCOLS(A1:A5,2)", [1, 3, 5, 2, 4, NA]),
    ("=WRAPCOLS(A1:A5,2,0)", [1, 3, 5, 2, 4, 0]),
    ("=XMATCH(3,A1:A6,0,0)", VALUE),
    ("=XLOOKUP(3,A1:A6,D1:D6,\"none\",0,0)", VALUE),
    ("=XMATCH(3,A1:A6,0,-1)", 3),
    ("=LET(x,1,x,2,x)", VALUE),
    ("=LET(x,1,y,2,x+y)", 3),
    ('=TEXTBEFORE("a-b-c","-",0)', VALUE),
    ('=TEXTAFTER("a-b-c","-",0)', VALUE),
    ('=TEXTBEFORE("a-b-c","-",2)', "a-b"),
    ("=TAKE(B1:B6,3)", [5, -1, 0]),
    ("=TRANSPOSE(B2:B3)", [-1, 0]),
    ("=VSTACK(B3,1)", [0, 1]),
    ("=TOCOL(B1:B6,1)", [5, -1, 3, 0, 2]),            # ignore 1 still leaves blanks out
    # One row or one column is a list as it stands.
    ("=CHOOSECOLS(G1:I1,3,1)", [3, 1]),
    ("=CHOOSEROWS(A1:A6,2,-1)", [2, 6]),
    ("=HSTACK(G1:H1,I1)", [1, 2, 3]),
    ("=TOCOL(G1:I1,0,TRUE)", [1, 2, 3]),
    ("=SORT(G1:I3,2,-1)", [7, 8, 9, 4, 5, 6, 1, 2, 3]),
    ("=SORT(A1:A3,1,1,FALSE)", [1, 2, 3]),
]


@pytest.mark.parametrize("formula, want", VALUES)
def test_list_results(formula, want):
    check(formula, CELLS, want)


@pytest.mark.parametrize("formula, message", [
    ("=TAKE(G1:I3,2)", "TAKE: a range of more than one column is not supported"),
    ("=DROP(G1:I3,1)", "DROP: a range of more than one column is not supported"),
    ("=CHOOSEROWS(G1:I3,1)", "CHOOSEROWS: a range of more than one column is not supported"),
    ("=CHOOSECOLS(G1:I3,1)", "CHOOSECOLS: a range of more than one row is not supported"),
    ("=CHOOSECOLS(A1:A6,1)", "CHOOSECOLS: a range of more than one row is not supported"),
    ("=HSTACK(A1:A3,D1:D3)", "HSTACK: a range of more than one row is not supported"),
    ("=SORT(G1:I3,1,1,TRUE)", "SORT: sorting by columns is not supported"),
    ("=TOCOL(G1:I3,0,TRUE)", "TOCOL: scanning by column is not supported"),
    ("=TOROW(G1:I3,0,TRUE)", "TOROW: scanning by column is not supported"),
    ("=WRAPROWS(G1:I3,2)", "WRAPROWS: a range of more than one row and column is not supported"),
    ("=WRAPCOLS(G1:I3,2)", "WRAPCOLS: a range of more than one row and column is not supported"),
])
def test_what_one_dimensional_lists_cannot_do(formula, message):
    assert failure(formula, CELLS) == message
