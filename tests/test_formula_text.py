"""Text functions: lengths, cuts, case, joins, repeats, codes and rewrites."""
import pytest

import morvane

from morvane import ExcelError
from formulahelp import DIV0, NA, VALUE, check, evaluate, failure, shown_for


# A1 "x", B2 "y", A1:B2 otherwise empty; C1 holds the empty text.
GRID = {(1, 1): "x", (2, 2): "y", (1, 3): ""}

VALUES = [
    # LEN counts characters, of any value's text
    ('=LEN("")', {}, 0),
    ("=LEN(A1)", {}, 0),
    ("=LEN(TRUE)", {}, 4),
    ("=LEN(1/4)", {}, 4),
    ('=LEN("日本")', {}, 2),
    ('=LEN("naïve")', {}, 5),
    ("=LEN(A1)", {(1, 1): "😀a"}, 2),
    # LEFT, RIGHT, MID
    ('=LEFT("abc")', {}, "a"),
    ('=LEFT("abc",0)', {}, ""),
    ('=LEFT("abc",-1)', {}, VALUE),     # a count below 0, or a start below 1, is no place
    ('=RIGHT("abc",-1)', {}, VALUE),
    ('=LEFT("abc",10)', {}, "abc"),
    ('=LEFT("abc",1.9)', {}, "a"),
    ('=LEFT("日本語",2)', {}, "日本"),
    ('=RIGHT("abc",2)', {}, "bc"),
    ('=RIGHT("abc",5)', {}, "abc"),
    ('=RIGHT("abc")', {}, "c"),
    ('=RIGHT("café",2)', {}, "fé"),
    ('=MID("abcdef",2,3)', {}, "bcd"),
    ('=MID("hello",0,2)', {}, VALUE),
    ('=MID("abcdef",-4,2)', {}, VALUE),
    ('=MID("abcdef",0.9,2)', {}, VALUE),
    ('=MID("abc",5,2)', {}, ""),
    ('=MID("abc",2,-1)', {}, VALUE),
    ('=MID("abc",2,0)', {}, ""),
    ('=MID("ἀβγδ",2,2)', {}, "βγ"),
    # Case: full mappings, the final sigma
    ('=UPPER("straße")', {}, "STRASSE"),
    ('=UPPER("élan")', {}, "ÉLAN"),
    ('=LOWER("ΣΑΣ")', {}, "σας"),
    ('=LOWER("ΟΔΥΣΣΕΥΣ ΚΑΙ")', {}, "οδυσσευς και"),
    ('=LOWER("ÀÉÎ")', {}, "àéî"),
    ("=UPPER(12.5)", {}, "12.5"),
    ('=PROPER("hello WORLD")', {}, "Hello World"),
    ('=PROPER("2nd place")', {}, "2Nd Place"),  # a word starts after anything that is no letter
    ("=PROPER(\"o'neil-smith\")", {}, "O'Neil-Smith"),
    ('=PROPER("x2y")', {}, "X2Y"),
    ('=PROPER("٣rd")', {}, "٣Rd"),
    ('=PROPER("élan vital")', {}, "Élan Vital"),
    ('=PROPER("ß")', {}, "S"),  # a mapping to several characters is cut to its first
    ('=PROPER("ΣΟΦΙΑ ΚΑΙ")', {}, "Σοφια Και"),
    ("=PROPER(TRUE)", {}, "True"),
    ("=PROPER(123)", {}, "123"),
    ('=PROPER("")', {}, ""),
    # TRIM: runs of any white space become one blank
    ('=TRIM("  a   b  ")', {}, "a b"),
    ("=TRIM(A1)", {(1, 1): "\ta\n\u00a0b"}, "a b"),
    ("=TRIM(A1)", {(1, 1): "\u3000 \u2003"}, ""),
    ("=TRIM(A1)", {(1, 1): "日本\u3000\u3000語"}, "日本 語"),
    # EXACT: case and all
    ('=EXACT("a","A")', {}, False),
    ('=EXACT(1,"1")', {}, True),
    ('=EXACT("é","é")', {}, True),
    # CONCATENATE: one value per argument
    ("=CONCATENATE()", {}, ""),
    ('=CONCATENATE("a",1,TRUE)', {}, "a1TRUE"),
    ('=CONCATENATE("日",A1,"本")', {}, "日本"),
    # CONCAT opens ranges row by row
    ("=CONCAT(A1:B2)", GRID, "xy"),
    ("=CONCAT(A1:C1,B2)", GRID, "xy"),
    ("=CONCAT()", {}, ""),
    ('=CONCAT("a",1,TRUE)', {}, "a1TRUE"),
    # TEXTJOIN
    ('=TEXTJOIN(",",TRUE,"a","","b")', {}, "a,b"),
    ('=TEXTJOIN(",",FALSE,"a","","b")', {}, "a,,b"),
    ('=TEXTJOIN("-",TRUE,A1:B2)', GRID, "x-y"),
    ('=TEXTJOIN("-",FALSE,A1:B2)', GRID, "x---y"),
    ('=TEXTJOIN("-",TRUE,A1:C1)', GRID, "x"),  # the empty text is skipped too
    ('=TEXTJOIN(", ",1,"α","β")', {}, "α, β"),
    ('=TEXTJOIN("",TRUE,"a","b")', {}, "ab"),
    # REPT
    ('=REPT("ab",3)', {}, "ababab"),
    ('=REPT("ab",2.9)', {}, "abab"),
    ('=REPT("ab",0)', {}, ""),
    ('=REPT("ab",-0.5)', {}, ""),
    ('=REPT("ab",-1)', {}, VALUE),
    ('=REPT("日",3)', {}, "日日日"),
    ('=REPT("",1000000000)', {}, ""),
    # CHAR and CODE, UNICHAR and UNICODE
    ("=CHAR(65)", {}, "A"),
    ("=CHAR(8364)", {}, "€"),
    ("=CHAR(65.9)", {}, "A"),
    ("=CHAR(0)", {}, "\x00"),
    ("=CHAR(-5)", {}, "\x00"),
    ("=UNICHAR(65)", {}, "A"),
    ("=UNICHAR(128512)", {}, "😀"),
    ('=CODE("A")', {}, 65),
    ('=CODE("€uro")', {}, 8364),
    ("=CODE(65)", {}, 54),
    ('=UNICODE("😀")', {}, 128512),
    # SUBSTITUTE
    ('=SUBSTITUTE("a-b-c","-","+")', {}, "a+b+c"),
    ('=SUBSTITUTE("a-b-c","-","+",2)', {}, "a-b+c"),
    ('=SUBSTITUTE("a-b-c","-","+",0)', {}, VALUE),
    ('=SUBSTITUTE("a-b-c","-","+",5)', {}, "a-b-c"),
    ('=SUBSTITUTE("abc","","x",NA())', {}, "abc"),  # instance is not read
    ('=SUBSTITUTE("aaa","aa","b",2)', {}, "ab"),  # overlapping occurrences count
    ('=SUBSTITUTE("aaa","aa","b")', {}, "ba"),
    ('=SUBSTITUTE("ÀbÀ","À","A")', {}, "AbA"),
    ('=SUBSTITUTE("日本日本","本","語",2)', {}, "日本日語"),
    # REPLACE
    ('=REPLACE("abcdef",2,3,"X")', {}, "aXef"),
    ('=REPLACE("abc",0,1,"X")', {}, VALUE),
    ('=REPLACE("abc",1,-1,"X")', {}, VALUE),
    ('=REPLACE("abc",2,0,"X")', {}, "aXbc"),
    ('=REPLACE("abc",10,1,"X")', {}, "abcX"),
    ('=REPLACE("日本語",2,1,"-")', {}, "日-語"),
]


@pytest.mark.parametrize("formula, cells, want", VALUES)
def test_text_values(formula, cells, want):
    check(formula, cells, want)


# An error value given as text is the result, whatever the function.
ERRORS_PROPAGATE = [
    ("=UPPER(NA())", NA),
    ("=LOWER(NA())", NA),
    ("=PROPER(NA())", NA),
    ("=LEN(1/0)", DIV0),
    ("=LEFT(NA(),2)", NA),
    ('=LEFT("abc",NA())', NA),
    ('=MID("abc",NA(),1)', NA),
    ("=TRIM(NA())", NA),
    ('=EXACT("a",NA())', NA),
    ('=CONCATENATE("a",NA())', NA),
    ('=CONCAT("a",1/0)', DIV0),
    ('=TEXTJOIN(",",TRUE,NA())', NA),
    ('=TEXTJOIN(NA(),TRUE,"a")', NA),
    ('=REPT(NA(),2)', NA),
    ("=CODE(NA())", NA),
    ("=CHAR(1/0)", DIV0),
    ('=SUBSTITUTE(NA(),"a","b")', NA),
    ('=REPLACE("abc",1,1,NA())', NA),
]


@pytest.mark.parametrize("formula, want", ERRORS_PROPAGATE)
def test_error_values_propagate(formula, want):
    assert evaluate(formula) == want


def test_error_cells_propagate_through_joins():
    cells = {(1, 1): "a", (2, 1): NA}
    assert evaluate("=CONCAT(A1:A2)", cells) == NA
    assert evaluate('=TEXTJOIN(",",TRUE,A1:A2)', cells) == NA
    assert evaluate("=LEN(A2)", cells) == NA


def test_concat_opens_arrays_and_concatenate_does_not():
    # A1:A3 through MAP gives an array value.
    cells = {(1, 1): "a", (2, 1): "b", (3, 1): "c"}
    assert evaluate("=CONCAT(MAP(A1:A3,LAMBDA(x,x)))", cells) == "abc"
    assert evaluate('=TEXTJOIN("-",TRUE,MAP(A1:A3,LAMBDA(x,x)))', cells) == "a-b-c"
    assert evaluate("=CONCATENATE(MAP(A1:A3,LAMBDA(x,x)))", cells) == "a, b, c"


FAILURES = [
    ("=LEN()", "LEN requires 1 argument"),
    ('=LEFT("a",1,2)', "LEFT requires 1 or 2 arguments"),
    ("=RIGHT()", "RIGHT requires 1 or 2 arguments"),
    ('=MID("a",1)', "MID requires 3 arguments"),
    ("=UPPER()", "UPPER requires 1 argument"),
    ('=LOWER("a","b")', "LOWER requires 1 argument"),
    ("=PROPER()", "PROPER requires 1 argument"),
    ("=TRIM()", "TRIM requires 1 argument"),
    ('=EXACT("a")', "EXACT requires 2 arguments"),
    ('=TEXTJOIN(",",TRUE)', "TEXTJOIN requires at least 3 arguments"),
    ('=REPT("a")', "REPT requires 2 arguments"),
    ("=CHAR()", "CHAR requires 1 argument"),
    ("=UNICHAR(1,2)", "CHAR requires 1 argument"),
    ("=CODE()", "CODE requires 1 argument"),
    ("=UNICODE()", "CODE requires 1 argument"),
    ('=SUBSTITUTE("a","b")', "SUBSTITUTE requires 3 or 4 arguments"),
    ('=REPLACE("a",1,1)', "REPLACE requires 4 arguments"),
    ("=CHAR(55296)", "CHAR: invalid code 55296"),
    ("=CHAR(1114112)", "CHAR: invalid code 1114112"),
    ("=CHAR(1000000000000)", "CHAR: invalid code 4294967295"),
    ('=CODE("")', "CODE: empty string"),
    ("=CONCATENATE(A1:A2)", "Range cannot be used as a scalar value"),
    ("=LEN(A1:A2)", "Range cannot be used as a scalar value"),
    ('=MID("abc","x",1)', "Cannot convert 'x' to a number"),
]


@pytest.mark.parametrize("formula, message", FAILURES)
def test_text_failures(formula, message):
    assert failure(formula) == shown_for(message)


# Built texts are held to what a cell can take (32,767 characters).
def test_built_texts_longer_than_a_cell_are_value_errors():
    assert evaluate('=LEN(REPT("ab",16383))') == 32766
    assert evaluate('=REPT("ab",16384)') == VALUE
    assert evaluate('=REPT("ab",A1)', {(1, 1): 1e18}) == VALUE  # refused before anything is built
    assert evaluate('=REPT("日",32768)') == VALUE
    long_cell = {(1, 1): "a" * 20000}
    assert evaluate('=SUBSTITUTE(A1,"a","bb")', long_cell) == VALUE
    assert evaluate('=REPLACE(A1,1,0,A1)', long_cell) == VALUE
    assert evaluate("=CONCATENATE(A1,A1)", long_cell) == VALUE
    assert evaluate("=CONCAT(A1,A1)", long_cell) == VALUE
    assert evaluate('=TEXTJOIN(",",TRUE,A1,A1)', long_cell) == VALUE


def test_joining_a_large_range_stops_at_the_cell_limit():
    cells = {(row, 1): "abcdefghij" for row in range(1, 5001)}
    assert evaluate("=CONCAT(A1:A5000)", cells) == VALUE
    assert evaluate("=LEN(CONCAT(A1:A3000))", cells) == 30000


TEXT_FAMILY_NAMES = [
    "CHAR", "CODE", "CONCAT", "CONCATENATE", "EXACT", "LEFT", "LEN", "LOWER", "MID", "PROPER", "REPLACE",
    "REPT", "RIGHT", "SUBSTITUTE", "TEXTJOIN", "TRIM", "UNICHAR", "UNICODE", "UPPER",
    "FIND", "SEARCH", "TEXTAFTER", "TEXTBEFORE", "TEXTSPLIT",
    "ASC", "JIS", "LEFTB", "LENB", "MIDB", "RIGHTB",
    "NUMBERVALUE", "TEXT", "VALUE", "VALUETOTEXT",
]


@pytest.mark.parametrize("name", TEXT_FAMILY_NAMES)
def test_every_text_family_name_is_built(name):
    # With no arguments each gives its arity message, or a value; never #NAME?.
    vm = morvane.Vm()
    try:
        vm.set_cell_formula(1, 1, f"={name}()")
    except ValueError as e:
        assert str(e).startswith({"UNICHAR": "CHAR", "UNICODE": "CODE"}.get(name, name))
    else:
        assert vm.get_cell(1, 1) != ExcelError("#NAME?")
