"""Lookup functions over a small lookup table, a sorted list of names, an
unsorted list and a horizontal table."""
import pytest

from formulahelp import DIV0, NA, NAME, REF, VALUE, check, column, evaluate, failure, shown_for

TABLE = {
    **column(1, [1, 3, 5, 7], "A"),
    **column(1, ["a", "b", "c", "d"], "B"),
    **column(1, [10, 30, 50, 70], "C"),
    # A sorted column of names (case mixed) with their ranks beside them.
    **column(1, ["apple", "Banana", "cherry", "date"], "D"),
    **column(1, [1, 2, 3, 4], "E"),
    # Unsorted numbers with a repeat, and a column of labels.
    **column(1, [1, 5, 3, 5], "F"),
    **column(1, ["p", "q", "r", "s"], "G"),
    # Numbers sort before texts: a mixed key column in spreadsheet order.
    **column(1, [1, 2, "a", "b"], "H"),
    **column(1, ["one", "two", "ay", "bee"], "I"),
    # A horizontal table in K1:N2 and a text "5" in K4.
    "K1": 1, "L1": 3, "M1": 5, "N1": 7,
    "K2": "w", "L2": "x", "M2": "y", "N2": "z",
    "K4": "5", "L4": "text five",
    # Sorted names along a row, their ranks below.
    "K6": "ant", "L6": "Bee", "M6": "cat", "N6": "dog",
    "K7": 1, "L7": 2, "M7": 3, "N7": 4,
    # Keys holding wildcard characters; amounts; keys around a blank.
    **column(1, ["apple pie", "banana", "a*b", "what?"], "P"),
    **column(1, [1, 2, 3, 4], "Q"),
    **column(1, [100, 200, 300], "R"),
    **column(1, ["x", None, "z"], "S"),
    **column(1, [1, 2, 3], "T"),
}

VLOOKUPS = [
    ("=VLOOKUP(5,A1:B4,2)", "c"),
    ("=VLOOKUP(5,A1:B4,2,FALSE)", "c"),
    ("=VLOOKUP(6,A1:B4,2)", "c"),
    ("=VLOOKUP(6,A1:B4,2,FALSE)", NA),
    ("=VLOOKUP(0,A1:B4,2)", NA),
    ("=VLOOKUP(99,A1:B4,2)", "d"),
    ("=VLOOKUP(6,A1:B4,2,\"FALSE\")", "c"),     # non-empty text is true: approximate
    ("=VLOOKUP(5,A1:C4,2.9)", "c"),
    ("=VLOOKUP(5,A1:C4,3)", 50),
    ("=VLOOKUP(5,A1:C4,0)", VALUE),
    ("=VLOOKUP(5,A1:C4,-2)", VALUE),
    ("=VLOOKUP(5,A1:C4,4)", REF),
    ("=VLOOKUP(\"B\",B1:C4,2,FALSE)", 30),      # exact text match ignores case
    ("=VLOOKUP(5,K4:L4,2,FALSE)", NA),          # the number 5 is not the text 5
    ("=VLOOKUP(1/0,A1:B4,2)", DIV0),            # an error looked up is the result
    ("=VLOOKUP(7,A1:B1048576,2,FALSE)", "d"),   # a whole column costs only the cells visited
    ("=VLOOKUP(5,C4:A1,2)", "c"),               # reversed corners name the same table
    ("=VLOOKUP(6,A1:B1000,2)", "c"),            # blank rows below the table are no keys
    ("=VLOOKUP(99,A1:B1000,2)", "d"),
    # Approximate matches on text keys.
    ("=VLOOKUP(\"banana\",D1:E4,2)", 2),
    ("=VLOOKUP(\"coconut\",D1:E4,2)", 3),
    ("=VLOOKUP(\"zebra\",D1:E4,2)", 4),
    ("=VLOOKUP(\"aardvark\",D1:E4,2)", NA),
    ("=VLOOKUP(\"az\",H1:I4,2)", "ay"),
    ("=VLOOKUP(9,H1:I4,2)", "two"),
    ("=VLOOKUP(\"abc\",A1:B4,2)", NA),          # a text matches no number
    ("=VLOOKUP(\"5\",A1:B4,2)", NA),             # a text finds no number, whatever it holds
    ("=VLOOKUP(\"APPLE\",D1:E4,2,FALSE)", 1),
]

HLOOKUPS = [
    ("=HLOOKUP(5,K1:N2,2)", "y"),
    ("=HLOOKUP(4,K1:N2,2)", "x"),
    ("=HLOOKUP(3,K1:N2,2,FALSE)", "x"),
    ("=HLOOKUP(4,K1:N2,2,FALSE)", NA),
    ("=HLOOKUP(5,K1:N2,1)", 5),
    ("=HLOOKUP(5,K1:N2,3)", REF),               # below the table
    ("=HLOOKUP(5,K1:N2,0)", VALUE),
    ("=HLOOKUP(0,K1:N2,2)", NA),
    ("=HLOOKUP(\"boar\",K6:N7,2)", 2),
    ("=HLOOKUP(\"BEE\",K6:N7,2,FALSE)", 2),
    ("=HLOOKUP(\"aa\",K6:N7,2)", NA),
]

LOOKUPS = [
    ("=LOOKUP(4,A1:A3,B1:B3)", "b"),
    ("=LOOKUP(0,A1:A3,B1:B3)", NA),
    ("=LOOKUP(9,A1:A3,B1:B3)", "c"),
    ("=LOOKUP(4,A1:A3)", 3),
    ("=LOOKUP(9,A1:A3,B1:B2)", NA),              # the result list is too short
    ("=LOOKUP(\"cat\",D1:D4,E1:E4)", 2),
    ("=LOOKUP(4,H1:H4,I1:I4)", "two"),
    ("=LOOKUP(\"b\",H1:H4,I1:I4)", "bee"),
    ("=LOOKUP(\"x\",A1:A4,B1:B4)", NA),
    ("=LOOKUP(99,A1:A100,B1:B100)", "d"),
]

MATCHES = [
    ("=MATCH(4,F1:F3)", 3),                      # the last element at or below 4
    ("=MATCH(4,F1:F3,-1)", 2),
    ("=MATCH(5,F1:F4,0)", 2),
    ("=MATCH(5,F1:F3,0.7)", 2),                  # 0.7 truncates to an exact match
    ("=MATCH(0,F1:F3)", NA),
    ("=MATCH(99,A1:A100)", 4),
    ("=MATCH(\"CHERRY\",D1:D4,0)", 3),
    ("=MATCH(\"coconut\",D1:D4)", 3),
    ("=MATCH(\"abc\",A1:A3)", NA),               # a text is past every number
    ("=MATCH(\"zz\",H1:H4)", 4),
    ("=MATCH(3,SEQUENCE(5),0)", 3),              # a list made by a function is a list
    ("=MATCH(\"c\",B1:C3,0)", 5),                # a block is searched row by row
    ("=MATCH(\"b\",H1:H4)", 4),
    ("=MATCH(9,H1:H4)", 2),
    ("=MATCH(\"A\",H1:H4,-1)", 4),
    ("=MATCH(NA(),A1:A4,0)", NA),
]

XLOOKUPS = [
    ("=XLOOKUP(\"c\",B1:B4,C1:C4)", 50),
    ("=XLOOKUP(\"x\",B1:B4,C1:C4,\"none\")", "none"),
    ("=XLOOKUP(\"x\",B1:B4,C1:C4)", NA),
    ("=XLOOKUP(\"x\",B1:B4,C1:C4,NA())", NA),
    ("=XLOOKUP(5,F1:F4,G1:G4,\"none\",0,-1)", "s"),   # searching from the end
    ("=XLOOKUP(5,F1:F4,G1:G4,\"none\",0,1)", "q"),
    ("=XLOOKUP(5,F1:F4,G1:G4,\"none\",0,2)", "q"),
    ("=XLOOKUP(4,F1:F4,G1:G4,\"none\",-1)", "r"),
    ("=XLOOKUP(4,F1:F4,G1:G4,\"none\",1)", "q"),      # the earlier of the two 5s
    ("=XLOOKUP(9,F1:F4,G1:G4,\"none\",1)", "none"),
    ("=XLOOKUP(7,A1:A4,B1:B2)", 0),                # the return list is too short
    ("=XLOOKUP(5,A1:A4,B1:C4)", ["c", 50]),           # a return block gives the whole row
    ("=XLOOKUP(5,K1:N1,K2:N2)", "y"),
    ("=XLOOKUP(5,K1:N1,K1:N2)", [5, "y"]),
    ("=XMATCH(5,A1:A4)", 3),
    ("=XMATCH(6,A1:A4,1)", 4),
    ("=XMATCH(6,A1:A4,-1)", 3),
    ("=XMATCH(5,F1:F4,0,-1)", 4),
    ("=XMATCH(\"x\",B1:B4)", NA),
]


# Exact VLOOKUP, HLOOKUP and MATCH read *, ? and ~ in a text as a pattern
# over texts; a blank looked up finds nothing, not even a blank key.
PATTERNS_AND_BLANKS = [
    ("=VLOOKUP(\"app*\",P1:Q4,2,FALSE)", 1),
    ("=VLOOKUP(\"APP*\",P1:Q4,2,FALSE)", 1),
    ("=VLOOKUP(\"?anana\",P1:Q4,2,FALSE)", 2),
    ("=VLOOKUP(\"*e\",P1:Q4,2,FALSE)", 1),
    ("=VLOOKUP(\"a~*b\",P1:Q4,2,FALSE)", 3),      # ~ makes the star plain
    ("=VLOOKUP(\"what~?\",P1:Q4,2,FALSE)", 4),
    ("=VLOOKUP(\"b*\",P1:Q1048576,2,FALSE)", 2),  # a whole column, read by its stored cells
    ("=VLOOKUP(\"1*\",A1:B4,2,FALSE)", NA),       # a pattern finds texts only
    ("=MATCH(\"b*\",P1:P4,0)", 2),
    ("=MATCH(\"*~?\",P1:P4,0)", 4),
    ("=MATCH(\"a~*\",P1:P4,0)", NA),               # the whole text must match
    ("=HLOOKUP(\"c?t\",K6:N7,2,FALSE)", 3),
    ("=VLOOKUP(Z1,S1:T3,2,FALSE)", NA),
    ("=VLOOKUP(Z1,S1:T1048576,2,FALSE)", NA),
    ("=MATCH(Z1,S1:S3,0)", NA),
    ("=MATCH(Z1,S1:S1048576,0)", NA),
]

# Approximate matches compare the value with keys of its own kind only.
KINDS = [
    ("=MATCH(FALSE,R1:R3)", NA),
    ("=VLOOKUP(FALSE,R1:R3,1)", NA),
    ("=HLOOKUP(TRUE,K1:N2,2)", NA),
    ("=LOOKUP(TRUE,R1:R3)", NA),
    ("=MATCH(\"150\",R1:R3)", NA),
    ("=MATCH(150,R1:R3)", 1),
    ("=XLOOKUP(\"x\",R1:R3,R1:R3,\"none\",1)", "none"),
    ("=XLOOKUP(\"x\",R1:R3,R1:R3,\"none\",-1)", "none"),
    ("=XMATCH(\"x\",R1:R3,1)", NA),
    ("=XMATCH(\"150\",R1:R3,-1)", NA),
    ("=XMATCH(150,R1:R3,1)", 2),
    ("=XMATCH(150,R1:R3,-1)", 1),
    ("=XLOOKUP(\"b\",D1:D4,E1:E4,\"none\",1)", 2),   # the next text up: Banana
    ("=XLOOKUP(\"c\",D1:D4,E1:E4,\"none\",-1)", 2),  # the next text down
    ("=XLOOKUP(5,H1:H4,I1:I4,\"none\",1)", "none"),    # texts are no numbers above 5
    ("=XLOOKUP(TRUE,H1:H4,I1:I4,\"none\",-1)", "none"),
]


@pytest.mark.parametrize("formula, want", VLOOKUPS + HLOOKUPS + LOOKUPS + MATCHES + XLOOKUPS + PATTERNS_AND_BLANKS + KINDS)
def test_values(formula, want):
    check(formula, TABLE, want)


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=VLOOKUP(1,A1,1)", "VLOOKUP: table argument must be a range"),
        ("=HLOOKUP(1,SEQUENCE(3),1)", "HLOOKUP: table argument must be a range"),
        ("=VLOOKUP(1,A1:B2)", "VLOOKUP requires 3 or 4 arguments"),
        ("=HLOOKUP(1,A1:B2,1,1,1)", "HLOOKUP requires 3 or 4 arguments"),
        ("=VLOOKUP(5,A1:C4,4,A1:A2)", "Range cannot be used as a scalar value"),  # before #REF!
        ("=VLOOKUP(5,A1:C4,\"x\")", "Cannot convert 'x' to a number"),
        ("=LOOKUP(1)", "LOOKUP requires 2 or 3 arguments"),
        ("=MATCH(1,A1:A3,2)", "MATCH: invalid match_type 2"),
        ("=MATCH(1,A1:A3,-7.5)", "MATCH: invalid match_type -7"),
        ("=MATCH(1)", "MATCH requires 2 or 3 arguments"),
        ("=SORT(A1:B500001)", "Range too large (1000002 cells); maximum is 1,000,000"),
        ("=XLOOKUP(1,A1:A3,B1:B3,\"none\",2)", "XLOOKUP: unsupported match_mode 2"),
        ("=XLOOKUP(1,A1:A3,B1:B3,A1:A2)", "Range cannot be used as a scalar value"),
        ("=XLOOKUP(1,A1:A2)", "XLOOKUP requires 3 to 6 arguments"),
        ("=XMATCH(1,A1:A3,3)", "XMATCH: unsupported match_mode 3"),
        ("=XMATCH(1)", "XMATCH requires 2 to 4 arguments"),
    ],
)
def test_failures(formula, message):
    assert failure(formula, TABLE) == shown_for(message)


def test_exact_lookups_over_a_long_table():
    cells = {**column(1, list(range(1, 5001)), "A"), **column(1, [f"r{i}" for i in range(1, 5001)], "B")}
    for formula, want in [
        ("=VLOOKUP(4321,A1:B5000,2,FALSE)", "r4321"),
        ("=VLOOKUP(4321.5,A1:B5000,2)", "r4321"),
        ("=MATCH(4999,A1:A5000,0)", 4999),
        ("=MATCH(\"R17\",B1:B5000,0)", 17),
        ("=XLOOKUP(\"r5000\",B1:B5000,A1:A5000)", 5000),
    ]:
        check(formula, cells, want)


@pytest.mark.parametrize("name", ["HLOOKUP", "LOOKUP", "MATCH", "VLOOKUP", "XLOOKUP", "XMATCH"])
def test_every_name_is_built(name):
    try:
        got = evaluate(f"={name}(1,A1:A2)")
    except ValueError:
        return  # an arity message: the function exists
    assert got != NAME


# Keys with blanks inside: 10, blank, 30, 40 (and texts a, blank, c, d).
GAPS = {
    "A1": 10, "A3": 30, "A4": 40, **column(1, ["ten", "blank", "thirty", "forty"], "B"),
    "D1": "a", "D3": "c", "D4": "d", **column(1, [1, 2, 3, 4], "E"),
    "G1": 10, "I1": 30, "J1": 40, "G2": "ten", "H2": "blank", "I2": "thirty", "J2": "forty",
    **{f"K{r}": 5 * r for r in range(1, 2001) if r % 7}, **{f"L{r}": r for r in range(1, 2001)},
}


@pytest.mark.parametrize("formula, want", [
    ("=VLOOKUP(35, A1:B4, 2)", "thirty"),
    ("=VLOOKUP(30, A1:B4, 2)", "thirty"),
    ("=VLOOKUP(45, A1:B4, 2)", "forty"),
    ("=VLOOKUP(15, A1:B4, 2)", "ten"),
    ("=VLOOKUP(5, A1:B4, 2)", NA),
    ("=VLOOKUP(35, A1:B10, 2)", "thirty"),   # blanks after the keys too
    ("=VLOOKUP(35, A1:B1048576, 2)", "thirty"),
    ('=VLOOKUP("cc", D1:E4, 2)', 3),
    ('=VLOOKUP("b", D1:E4, 2)', 1),
    ('=VLOOKUP("zz", D1:E1048576, 2)', 4),
    ("=HLOOKUP(35, G1:J2, 2)", "thirty"),
    ("=HLOOKUP(45, G1:J2, 2)", "forty"),
    ("=LOOKUP(35, A1:A4, B1:B4)", "thirty"),
    ("=LOOKUP(35, A1:A1048576, B1:B1048576)", "thirty"),
    ('=LOOKUP("cz", D1:D4, E1:E4)', 3),
    ("=LOOKUP(35, A1:A4)", 30),
    ("=MATCH(35, A1:A4)", 3),
    ("=MATCH(35, A1:A1048576)", 3),
    # A long key column with a blank every seventh row: every probe finds its row.
    ("=VLOOKUP(5 * 700 + 1, K1:L2000, 2)", 699),
    ("=VLOOKUP(5 * 701, K1:L2000, 2)", 701),
    ("=VLOOKUP(10000, K1:L2000, 2)", 2000),
    ("=VLOOKUP(5 * 1999 + 4, K1:L1048576, 2)", 1999),
])
def test_approximate_lookups_pass_over_blank_keys(formula, want):
    check(formula, GAPS, want)
