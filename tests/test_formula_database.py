"""Database functions: DSUM, DAVERAGE, DCOUNT, DCOUNTA, DMAX, DMIN and DGET."""
import pytest

from formulahelp import DIV0, NA, NUM, REF, VALUE, evaluate, failure, shown_for


# A1:C5 is the database; E1:F3 holds the criteria of each case.
DATABASE = [
    ["Name", "Age", "City"],
    ["Ann", 30, "Oslo"],
    ["Bob", 45, "Rome"],
    ["Cid", 30, "Oslo"],
    ["Dan", None, "Rome"],
]


def grid(rows, first_col="A"):
    """Cells {"A1": ...} of rows written from row 1, `first_col` on."""
    return {f"{chr(ord(first_col) + c)}{r}": value
            for r, line in enumerate(rows, 1) for c, value in enumerate(line) if value is not None}


def database(criteria):
    """The database with the criteria grid written from E1."""
    return {**grid(DATABASE), **grid(criteria, "E")}


AGE_FROM_30 = [["Age"], [">=30"]]

CASES = [
    (AGE_FROM_30, '=DSUM(A1:C5,"Age",E1:E2)', 105),
    (AGE_FROM_30, "=DSUM(A1:C5,2,E1:E2)", 105),
    (AGE_FROM_30, '=DCOUNT(A1:C5,"age",E1:E2)', 3),
    (AGE_FROM_30, "=DAVERAGE(A1:C5,2,E1:E2)", 35.0),
    (AGE_FROM_30, "=DCOUNTA(A1:C5,1,E1:E2)", 3),  # Dan's blank age is 0
    (AGE_FROM_30, "=DMAX(A1:C5,2,E1:E2)", 45),
    (AGE_FROM_30, "=DMIN(A1:C5,2,E1:E2)", 30),
    (AGE_FROM_30, "=DCOUNT(A1:C5,1,E1:E2)", 0),  # names are no numbers
    (AGE_FROM_30, '=DGET(A1:C5,"Name",E1:E2)', NUM),  # three records
    (AGE_FROM_30, "=DSUM(A1:C5,4,E1:E2)", REF),
    (AGE_FROM_30, "=DGET(A1:C5,4,E1:E2)", REF),
    ([["Age"], [99]], "=DSUM(A1:C5,2,E1:E2)", 0),
    ([["Age"], [99]], "=DMAX(A1:C5,2,E1:E2)", 0),
    ([["Age"], [99]], "=DMIN(A1:C5,2,E1:E2)", 0),
    ([["Age"], [99]], "=DAVERAGE(A1:C5,2,E1:E2)", DIV0),
    ([["Age"], [45]], '=DGET(A1:C5,"Name",E1:E2)', "Bob"),
    ([["Age"], [99]], '=DGET(A1:C5,"Name",E1:E2)', VALUE),
    # Only a header row selects nothing; an empty criteria row selects all.
    (AGE_FROM_30, "=DCOUNTA(A1:C5,1,E1:E1)", 0),
    (AGE_FROM_30, "=DGET(A1:C5,1,E1:E1)", VALUE),
    ([["Age"]], "=DCOUNTA(A1:C5,1,E1:E2)", 4),
    ([["Age"], [None], [45]], "=DCOUNTA(A1:C5,1,E1:E2)", 4),
    # Rows are alternatives, conditions within a row must all hold.
    ([["Age"], [30], [45]], "=DCOUNTA(A1:C5,1,E1:E3)", 3),
    ([["Age", "City"], [30, "Rome"]], "=DCOUNTA(A1:C5,1,E1:F2)", 0),
    ([["Age", "City"], [30, "oslo"]], "=DSUM(A1:C5,2,E1:F2)", 60),
    ([["City"], ["<>Oslo"]], "=DCOUNTA(A1:C5,1,E1:E2)", 2),
    ([["City"], ["<>Oslo"]], "=DGET(A1:C5,1,E1:E2)", VALUE),
    ([["City"], ['="=Oslo"']], "=DCOUNTA(A1:C5,1,E1:E2)", 2),  # "=" as COUNTIF reads it
    ([["City"], ['="=Oslo"']], "=DGET(A1:C5,1,E1:E2)", VALUE),
    ([["Name"], ["B*"]], "=DGET(A1:C5,3,E1:E2)", "Rome"),
    ([["Name"], ["?i?"]], "=DSUM(A1:C5,2,E1:E2)", 30),
    ([["Name", "Age"], ["a*", ">20"]], "=DGET(A1:C5,2,E1:F2)", 30),
    ([["AGE"], ["<31"]], "=DGET(A1:C5,1,E1:E2)", NUM),  # Ann, Cid and blank Dan
    ([["Age"], ["45"]], "=DGET(A1:C5,1,E1:E2)", "Bob"),
    # A criteria header the database lacks makes its row select nothing.
    ([["Zip", "Age"], [1234, 30]], "=DCOUNTA(A1:C5,1,E1:F2)", 0),
    ([["Zip", "Age"], [1234, 30]], "=DGET(A1:C5,1,E1:F2)", VALUE),
    ([["Zip", "Age"], [None, 45]], "=DGET(A1:C5,1,E1:F2)", "Bob"),
    # A condition under an empty header is ignored.
    ([[None, "Age"], ["x", 45]], "=DCOUNTA(A1:C5,1,E1:F2)", 1),
    # A database written upside down has no records.
    (AGE_FROM_30, "=DCOUNTA(A5:C1,1,E1:E2)", 0),
    (AGE_FROM_30, "=DGET(A5:C1,1,E1:E2)", VALUE),
    ([["Age"], [45]], '=DGET(A1:C5,"Name",E1:E2)&""', "Bob"),
]


@pytest.mark.parametrize("criteria,formula,want", CASES)
def test_database_functions(criteria, formula, want):
    got = evaluate(formula, database(criteria))
    assert type(got) is type(want) and got == want


def test_repeated_header_names_its_rightmost_column():
    table = grid([["Key", "Key", "Val"], [1, 10, 100], [2, 20, 200]])
    assert evaluate("=DSUM(A1:C3,3,E1:E2)", {**table, **grid([["key"], [20]], "E")}) == 200
    # DGET looks for the first column of the name.
    assert evaluate("=DGET(A1:C3,3,E1:E2)", {**table, **grid([["key"], [2]], "E")}) == 200


def test_dget_gives_an_empty_field_as_is():
    assert evaluate('=DGET(A1:C5,"Age",E1:E2)&"|"', database([["Name"], ["Dan"]])) == "|"


@pytest.mark.parametrize("formula,message", [
    ("=DSUM(A1:C5,0,E1:E2)", "DGET: field index must be >= 1"),
    ("=DGET(A1:C5,-1,E1:E2)", "DGET: field index must be >= 1"),
    ('=DSUM(A1:C5,"Zip",E1:E2)', "DGET: field 'Zip' not found in database header"),
    ("=DMAX(A1:C5,TRUE,E1:E2)", "DGET: field argument must be a column number or field name string"),
    ("=DSUM(1,2,E1:E2)", "DSUM: table argument must be a range"),
    ("=DAVERAGE(A1:C5,2,5)", "DAVERAGE: table argument must be a range"),
    ("=DGET(A1,2,E1:E2)", "DGET: table argument must be a range"),
    ("=DSUM(A1:C5,2)", "DSUM requires 3 arguments"),
    ("=DCOUNT(A1:C5,2,E1:E2,1)", "DCOUNT requires 3 arguments"),
    ("=DGET(A1:C5,2)", "DGET requires 3 arguments"),
])
def test_database_failures(formula, message):
    assert failure(formula, database(AGE_FROM_30)) == shown_for(message)


def test_error_field_propagates():
    assert evaluate("=DSUM(A1:C5,NA(),E1:E2)", database(AGE_FROM_30)) == NA


def test_tall_database_costs_its_stored_cells():
    cells = database([["Age"], [">0"]])
    assert evaluate("=DSUM(A1:C1048576,2,E1:E2)", cells) == evaluate("=DSUM(A1:C5,2,E1:E2)", cells) == 105
    # The blank criteria rows below take every record.
    assert evaluate("=DCOUNT(A1:C1048576,2,E1:E1048576)", cells) == evaluate("=DCOUNT(A1:C5,2,E1:E3)", cells)
