"""Text search and splitting: FIND, SEARCH, TEXTBEFORE, TEXTAFTER, TEXTSPLIT."""
import pytest

import morvane
from morvane import ExcelError
from formulahelp import NA, VALUE, check, evaluate, failure, same, shown_for


VALUES = [
    # FIND: exact, positions in characters
    ('=FIND("b","abcb")', {}, 2),
    ('=FIND("b","abcb",3)', {}, 4),
    ('=FIND("","abc")', {}, 1),
    ('=FIND("","abc",3)', {}, 3),
    ('=FIND("","abc",4)', {}, 4),
    ('=FIND("c","日本c")', {}, 3),
    ('=FIND("本","日本日本",3)', {}, 4),
    ('=FIND("é","cafÉé")', {}, 5),
    ('=FIND("b","abc",0)', {}, VALUE),   # a start below 1 is no place
    ('=FIND(1,2013)', {}, 3),
    # SEARCH: any case, * and ?
    ('=SEARCH("B","abc")', {}, 2),
    ('=SEARCH("b*d","abcd")', {}, 2),
    ('=SEARCH("?c","abc")', {}, 2),
    ('=SEARCH("*","abc")', {}, 1),
    ('=SEARCH("*c","abc")', {}, 1),
    ('=SEARCH("c*","abc")', {}, 3),
    ('=SEARCH("a*c*e","xxabxxcxe")', {}, 3),
    ('=SEARCH("a?c","xabcabc",3)', {}, 5),
    ('=SEARCH("","abc",4)', {}, 4),
    ('=SEARCH("","abc")', {}, 1),
    ("=SEARCH(1,2013)", {}, 3),
    ('=SEARCH("Σ","αβσ")', {}, 3),
    ('=SEARCH("ÉLAN","un élan")', {}, 4),
    ('=SEARCH("ß","straße")', {}, 5),  # pattern and text map alike, character by character
    ('=SEARCH("e","straßE")', {}, 6),
    ('=SEARCH("ẞ","straße")', {}, 5),
    ('=SEARCH("ς","ΟΔΥΣΣΕΥΣ")', {}, 4),  # the final and medial sigma are one letter
    ('=SEARCH("ǰ","J̌ǰ")', {}, 3),
    ('=SEARCH("?本","日本")', {}, 1),
    # TEXTBEFORE and TEXTAFTER
    ('=TEXTBEFORE("a-b-c","-")', {}, "a"),
    ('=TEXTBEFORE("a-b-c","-",2)', {}, "a-b"),
    ('=TEXTBEFORE("a-b-c","-",-1)', {}, "a-b"),
    ('=TEXTAFTER("a-b-c","-")', {}, "b-c"),
    ('=TEXTAFTER("a-b-c","-",-1)', {}, "c"),
    ('=TEXTAFTER("a-b-c","-",-3)', {}, NA),
    ('=TEXTBEFORE("a-b","-",3)', {}, NA),
    ('=TEXTBEFORE("a-b","-",0)', {}, VALUE),            # instance 0 names no occurrence
    ('=TEXTAFTER("a-b","-",0)', {}, VALUE),
    ('=TEXTBEFORE("a-b","x",1,0,0,"none")', {}, "none"),
    ('=TEXTBEFORE("a-b","x",1,0,0,NA())', {}, NA),
    ('=TEXTBEFORE("aXb","x")', {}, NA),
    ('=TEXTBEFORE("aXb","x",1,1)', {}, "a"),
    ('=TEXTBEFORE("aaa","aa",-1)', {}, ""),
    ('=TEXTAFTER("aaaa","aa",2)', {}, ""),
    ('=TEXTAFTER("Ελλάδα ΚΑΙ Κύπρος"," και ",1,TRUE)', {}, "Κύπρος"),
    ('=TEXTBEFORE("日本、東京、港区","、",-1)', {}, "日本、東京"),
    ('=TEXTAFTER("İstanbul-İzmir","i̇",-1,TRUE)', {}, "zmir"),  # a cut never splits a character
    ('=TEXTBEFORE("a-b","-",1,0,1/0)', {}, "a"),  # match_end is not read
    # TEXTSPLIT: columns, and rows flattened row by row
    ('=TEXTSPLIT("a,b,,c",",")', {}, ["a", "b", "", "c"]),
    ('=TEXTSPLIT("a,b,,c",",","",TRUE)', {}, ["a", "b", "c"]),
    ('=TEXTSPLIT("abc",",")', {}, "abc"),
    ('=TEXTSPLIT(",",",","",TRUE)', {}, 0),
    ('=TEXTSPLIT("aXbxc","x","",FALSE,TRUE)', {}, ["a", "b", "c"]),
    ('=TEXTSPLIT("aXbxc","x")', {}, ["aXb", "c"]),
    ('=TEXTSPLIT("α β γ"," ")', {}, ["α", "β", "γ"]),
    ('=TEXTSPLIT("a,b;c,d",",",";")', {}, ["a", "b", "c", "d"]),
    ('=TEXTSPLIT("a,b;c",",",";")', {}, ["a", "b", "c", NA]),
    ('=TEXTSPLIT("a,b;c",",",";",FALSE,FALSE,"-")', {}, ["a", "b", "c", "-"]),
    ('=TEXTSPLIT("a;;b",",",";",TRUE)', {}, ["a", "b"]),
    ('=TEXTSPLIT("a;;b",",",";")', {}, ["a", "", "b"]),
    ('=TEXTSPLIT("a,b",",",";",FALSE,FALSE,1/0)', {}, ["a", "b"]),  # no padding, pad_with unread
]


@pytest.mark.parametrize("formula, cells, want", VALUES)
def test_search_values(formula, cells, want):
    check(formula, cells, want)


# A text that is not there is the error value #VALUE!, which formulas can
# test, not a failure of the whole formula.
NOT_FOUND = [
    '=FIND("B","abc")',
    '=FIND("a","abc",9)',
    '=FIND("abcd","abc")',
    '=SEARCH("x*","abc")',
    '=SEARCH("","abc",5)',
    '=SEARCH("~*","a*b")',  # the tilde is an ordinary character
    '=SEARCH("ss","ß")',  # the searched text keeps its length: ß is S
    '=SEARCH("a?","xa")',
    '=SEARCH("b","abc",3)',
]


@pytest.mark.parametrize("formula", NOT_FOUND)
def test_not_found_is_value_error(formula):
    assert evaluate(formula) == VALUE


@pytest.mark.parametrize(
    "formula, want",
    [
        ('=ISNUMBER(SEARCH("x","abc"))', False),
        ('=ISNUMBER(SEARCH("B","abc"))', True),
        ('=IFERROR(FIND("z","abc"),0)', 0),
        ('=TEXTJOIN(",",TRUE,SEQUENCE(3))', "1,2,3"),  # array elements joined like cells
    ],
)
def test_search_results_feed_other_functions(formula, want):
    assert same(evaluate(formula), want)


def test_not_found_does_not_stop_recalculation():
    vm = morvane.Vm()
    vm.set_cell(1, 1, "abc")
    vm.set_cell_formula(1, 2, '=SEARCH("x",A1)')
    vm.set_cell_formula(1, 3, '=FIND("b",A1)')
    vm.set_cell_formula(1, 4, "=LEN(A1)")
    assert vm.get_cell(1, 2) == VALUE
    vm.set_cell(1, 1, "xyz")
    vm.recalculate()
    assert [vm.get_cell(1, c) for c in (2, 3, 4)] == [1, VALUE, 3]


ERRORS_PROPAGATE = [
    ('=FIND(NA(),"a")', NA),
    ('=SEARCH("a",NA())', NA),
    ('=FIND("a","abc",NA())', NA),
    ('=TEXTBEFORE(NA(),"-")', NA),
    ('=TEXTAFTER("a-b","-",1/0)', ExcelError("#DIV/0!")),
    ('=TEXTSPLIT("a,b",NA())', NA),
]


@pytest.mark.parametrize("formula, want", ERRORS_PROPAGATE)
def test_error_values_propagate(formula, want):
    assert evaluate(formula) == want


FAILURES = [
    ('=FIND("a")', "FIND requires 2 or 3 arguments"),
    ('=SEARCH("a","b",1,2)', "SEARCH requires 2 or 3 arguments"),
    ('=TEXTAFTER("a")', "TEXTAFTER requires at least 2 arguments"),
    ('=TEXTBEFORE("a")', "TEXTBEFORE requires at least 2 arguments"),
    ('=TEXTBEFORE("a-b","")', "TEXTBEFORE: delimiter cannot be empty"),
    ('=TEXTAFTER("a-b","")', "TEXTAFTER: delimiter cannot be empty"),
    ('=TEXTSPLIT("a")', "TEXTSPLIT requires at least 2 arguments"),
    ('=TEXTSPLIT("a","")', "TEXTSPLIT: delimiter cannot be empty"),
    ('=FIND("a","abc","x")', "Cannot convert 'x' to a number"),
]


@pytest.mark.parametrize("formula, message", FAILURES)
def test_search_failures(formula, message):
    assert failure(formula) == shown_for(message)


def test_search_with_many_stars_on_a_long_text_is_fast():
    cells = {(1, 1): "a" * 30000 + "b"}
    assert evaluate('=SEARCH("a*a*a*a*a*c",A1)', cells) == VALUE
    assert evaluate('=SEARCH("*a?b",A1)', cells) == 1
    assert evaluate('=SEARCH("a?b",A1)', cells) == 29999


def test_textsplit_refuses_a_result_beyond_a_million_cells():
    # 1,001 rows padded to 1,001 columns.
    text = ",".join("x" * 1001) + ";" + ";".join("y" * 1000)
    assert failure("=TEXTSPLIT(A1,\",\",\";\")", {(1, 1): text}) == (
        "TEXTSPLIT result too large (1002001 cells); maximum is 1,000,000"
    )
