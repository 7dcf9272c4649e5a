"""Reference functions over a 3 x 3 grid in B2:D4 (values 11..33 by row and
column) with a formula in F1."""
import pytest

from formulahelp import FORMULA_CELL, NA, NAME, REF, VALUE, check, evaluate, failure, shown_for

GRID = {f"{col}{row}": (row - 1) * 10 + (ord(col) - ord("A")) for row in (2, 3, 4) for col in "BCD"}
GRID.update({"B1": "above", "A2": "left", "B5": "below", "F1": "=1+1"})

INDEXES = [
    ("=INDEX(B2:D4,1,1)", 11),
    ("=INDEX(B2:D4,2)", 21),
    ("=INDEX(B2:D4,3,3)", 33),
    ("=INDEX(B2:D4,2.9,1.2)", 21),
    ("=INDEX(B2:D4,4,1)", REF),          # below the table
    ("=INDEX(B2:D4,1,4)", REF),
    ("=INDEX(B2:D4,-1,1)", VALUE),
    ("=INDEX(B2:D4,0,2)", [12, 22, 32]),  # a whole column
    ("=INDEX(B2:D4,2,0)", [21, 22, 23]),  # a whole row
    ("=INDEX(B2:D2,3)", 13),             # one row: the index is a column
    ("=INDEX(B2:B4,3)", 31),
    ("=INDEX(D4:B2,1,1)", 11),           # reversed corners name the same table
    ("=SUM(INDEX(B2:D4,0,1))", 63),
    ("=INDEX(B2,1)", 11),                # one cell is a table of one
    # A list a function made is one row or one column: the index runs along it.
    ("=INDEX(SORT(D2:D4,1,-1),2)", 23),
    ("=INDEX(SORT(D2:D4,1,-1),3,1)", 13),
    ("=INDEX(UNIQUE(B2:B4),2)", 21),
    ("=INDEX(FILTER(B2:B4,C2:C4>15),2)", 31),
    ('=INDEX(TEXTSPLIT("a,b,c",","),2)', "b"),
    ('=INDEX(TEXTSPLIT("a,b,c",","),1,3)', "c"),
    ("=INDEX(SORT(B2:B4),4)", REF),
    ("=INDEX(SORT(B2:B4),2,2)", REF),
    ("=INDEX(SORT(B2:B4),-1)", VALUE),
    ("=INDEX(SORT(B2:B4),0)", [11, 21, 31]),
    ("=INDEX(SEQUENCE(3),2)", 2),
    ("=INDEX(7,1)", 7),
]

OFFSETS = [
    ("=OFFSET(B2,1,1)", 22),
    ("=OFFSET(B2,-1,0)", "above"),
    ("=OFFSET(B2,0,-1)", "left"),
    ("=OFFSET(B2,-2,0)", REF),
    ("=OFFSET(B2,0,-2)", REF),
    ("=OFFSET(B2,1.9,0)", 21),
    ("=OFFSET(B2,0,0,2,2)", [11, 12, 21, 22]),          # height and width give a block
    ("=OFFSET(B2:D4,0,0,3,3)", [11, 12, 13, 21, 22, 23, 31, 32, 33]),
    ("=OFFSET(B2:C3,1,1)", [22, 23, 32, 33]),            # by default the reference's size
    ("=OFFSET(B2,0,0,0,1)", REF),
    ("=SUM(OFFSET(B2,0,0,3,1))", 63),
]

INDIRECTS = [
    ("=INDIRECT(\"b2\")", 11),
    ("=INDIRECT(\"  B2  \")", 11),
    ("=INDIRECT(\"$B$2\")", 11),                         # the forms ADDRESS writes
    ("=INDIRECT(\"C$3\")", 22),
    ("=INDIRECT(ADDRESS(4,4))", 33),
    ("=INDIRECT(ADDRESS(3,2,4))", 21),
    ("=INDIRECT(\"B2:C3\")", [11, 12, 21, 22]),
    ("=INDIRECT(\"Z99\")", 0),
    ("=INDIRECT(\"R1C1\")", REF),                      # no A1 address: no reference
    ("=INDIRECT(\" B2:\")", REF),
    ("=INDIRECT(\"A1048577\")", REF),                  # past the sheet's edge
    ("=INDIRECT(NA())", NA),
]

ADDRESSES = [
    ("=ADDRESS(1,1)", "$A$1"),
    ("=ADDRESS(5,28,4)", "AB5"),
    ("=ADDRESS(5,3,1)", "$C$5"),
    ("=ADDRESS(5,3,2)", "C$5"),
    ("=ADDRESS(5,3,3)", "$C5"),
    ("=ADDRESS(5,3,7)", "C5"),
    ("=ADDRESS(1,16384)", "$XFD$1"),
    ("=ADDRESS(1,702)", "$ZZ$1"),
    ("=ADDRESS(1,703)", "$AAA$1"),
    ("=ADDRESS(0,0)", VALUE),
]

CHOICES = [
    ("=CHOOSE(2,\"a\",\"b\",\"c\")", "b"),
    ("=CHOOSE(1,\"a\",A1:A2)", "a"),     # only the chosen value is evaluated
    ("=CHOOSE(1.9,\"a\",\"b\")", "a"),
    ("=CHOOSE(4,\"a\",\"b\",\"c\")", VALUE),
    ("=CHOOSE(0,\"a\")", VALUE),
    ("=CHOOSE(-1,\"a\")", VALUE),
    ("=CHOOSE(NA(),\"a\")", NA),
]

POSITIONS = [
    ("=COLUMN(C5)", 3),
    ("=ROW(C5)", 5),
    ("=ROW(C5:A1)", 5),
    ("=ROW(1+1)", 1),
    ("=ROW()", FORMULA_CELL[0]),          # the formula's own cell
    ("=COLUMN()", FORMULA_CELL[1]),
    ("=FORMULATEXT(F1)", "=1+1"),
    ("=FORMULATEXT(F1:F2)", "=1+1"),
    ("=FORMULATEXT(B2)", NA),
    ("=FORMULATEXT(Z99)", NA),
    ("=FORMULATEXT(\"F1\")", VALUE),
]


@pytest.mark.parametrize("formula, want", INDEXES + OFFSETS + INDIRECTS + ADDRESSES + CHOICES + POSITIONS)
def test_values(formula, want):
    check(formula, GRID, want)


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=INDEX(SORT(B2:D4),1,1)", "INDEX: a table made by a function is not supported"),
        ("=INDEX(FILTER(B2:C4,B2:B4>15),1)", "INDEX: a table made by a function is not supported"),
        ('=INDEX(TEXTSPLIT("a,b;c,d",",",";"),2)', "INDEX: a table made by a function is not supported"),
        ("=INDEX(SEQUENCE(2,2),2)", "INDEX: a table made by a function is not supported"),
        ("=INDEX(B2:D4)", "INDEX requires 2 or 3 arguments"),
        ("=OFFSET(5,1,1)", "OFFSET: first argument must be a cell reference"),
        ("=OFFSET(B2,1)", "OFFSET requires at least 3 arguments"),
        ("=OFFSET(B2,0,0,1001,1000)", "Range too large (1001000 cells); maximum is 1,000,000"),
        ("=INDIRECT(5)", "INDIRECT: expected string, got 5"),
        ("=INDIRECT()", "INDIRECT requires 1 argument"),
        ("=ADDRESS(1)", "ADDRESS requires at least 2 arguments"),
        ("=CHOOSE(1)", "CHOOSE requires at least 2 arguments"),
        ("=CHOOSE(2,\"a\",A1:A2)", "Range cannot be used as a scalar value"),
        ("=FORMULATEXT()", "FORMULATEXT requires 1 argument"),
        ("=ROW(1+\"x\")", "Cannot convert 'x' to a number"),
    ],
)
def test_failures(formula, message):
    assert failure(formula, GRID) == shown_for(message)


@pytest.mark.parametrize("name", ["ADDRESS", "CHOOSE", "COLUMN", "FORMULATEXT", "INDEX", "INDIRECT", "OFFSET", "ROW"])
def test_every_name_is_built(name):
    try:
        got = evaluate(f"={name}(B2:C3,1,1)")
    except ValueError:
        return  # an argument message: the function exists
    assert got != NAME
