"""Number and text conversion: TEXT, VALUE, NUMBERVALUE and VALUETOTEXT."""
import datetime
import math

import pytest

import morvane

from formulahelp import NA, VALUE, check, evaluate, failure, shown_for
from numfmt_cases import REFUSED, SHARED, WORKSHEET, serial
from vmhelp import same


TEXT = [
    # Whole numbers: rounded half away from zero
    ('=TEXT(3.7,"0")', {}, "4"),
    ('=TEXT(-3.7,"0")', {}, "-4"),
    ('=TEXT(2.5,"0")', {}, "3"),
    ('=TEXT(3.5,"0")', {}, "4"),
    ('=TEXT(-2.5,"0")', {}, "-3"),
    ('=TEXT(-0.2,"0")', {}, "-0"),
    ('=TEXT(0,"0")', {}, "0"),
    ('=TEXT(5,"")', {}, "5"),
    ('=TEXT(TRUE,"0")', {}, "1"),
    ('=TEXT(A1,"0")', {(1, 1): 1e20}, "100000000000000000000"),
    ('=TEXT(A1,"0")', {(1, 1): 123456789012345678}, "123456789012346000"),  # 15 digits, as shown
    # Thousands
    ('=TEXT(234.5,"#,##0")', {}, "235"),
    ('=TEXT(1234.5,"#,##0.00")', {}, "1,234.50"),
    ('=TEXT(1234567.891,"#,##0.0")', {}, "1,234,567.9"),
    ('=TEXT(-1234567,"#,##0")', {}, "-1,234,567"),
    ('=TEXT(999999.5,"#,##0")', {}, "1,000,000"),
    ('=TEXT(12345,"0,")', {}, "12"),  # a comma after the placeholders divides by a thousand
    # Fixed decimals: as many as characters follow the point
    ('=TEXT(234.567,"#,##0.00")', {}, "234.57"),
    ('=TEXT(2.5,"0.")', {}, "3."),
    ('=TEXT(0.125,"0.00")', {}, "0.13"),
    ('=TEXT(1.005,"0.00")', {}, "1.01"),  # the decimal value, not the binary one
    ('=TEXT(2.675,"0.00")', {}, "2.68"),
    ('=TEXT(999.996,"0.00")', {}, "1000.00"),
    ('=TEXT(1.5,"0.0.0")', {}, "1.5.0"),  # a second point is text
    ('=TEXT(0.0000001234,"0.000000000")', {}, "0.000000123"),
    ('=TEXT(0.0004,"0.000")', {}, "0.000"),
    ('=TEXT(0.0005,"0.000")', {}, "0.001"),
    ('=TEXT(-0.001,"0.00")', {}, "-0.00"),
    ('=TEXT(7,"0.000")', {}, "7.000"),
    # Percent
    ('=TEXT(0.256,"0%")', {}, "26%"),
    ('=TEXT(0.1234,"0.00%")', {}, "12.34%"),
    ('=TEXT(0.5,"%%")', {}, "%%"),  # no digit placeholder: only the text shows
    ('=TEXT(0.125,"0%")', {}, "13%"),
    ('=TEXT(12345.678,"#,##0.0%")', {}, "1,234,567.8%"),
    ('=TEXT(45000,"mm/yyyy%")', {}, "03/2023%"),  # in a date "%" is text
    # Dates: the codes written all upper or all lower case
    ('=TEXT(45000,"yyyy-mm-dd")', {}, "2023-03-15"),
    ('=TEXT(45000,"DD.MM.YY")', {}, "15.03.23"),
    ('=TEXT(45000,"mmm yyyy")', {}, "Mar 2023"),
    ('=TEXT(45000.9,"dd/mm/yyyy")', {}, "15/03/2023"),
    ('=TEXT(45000,"hh:mm dd")', {}, "00:00 15"),
    ('=TEXT(45000,"Yy dd")', {}, "23 15"),
    ('=TEXT(45000,"mm")', {}, "03"),
    ('=TEXT("abc","0")', {}, "abc"),  # a text that is no number passes through
    ('=TEXT(" 12.5 ","0.00")', {}, "12.50"),
    ('=TEXT("50%","0.00")', {}, "0.50"),           # a text read as typed input
    ('=TEXT("$1,200","0")', {}, "1200"),
    ('=TEXT("TRUE","0")', {}, "TRUE"),
    ('=TEXT(A1,"yyyy-mm-dd")', {}, "1900-01-00"),
    ('=TEXT(59,"yyyy-mm-dd")', {}, "1900-02-28"),
    ('=TEXT(61,"yyyy-mm-dd")', {}, "1900-03-01"),
    ('=TEXT(45000,"yyyy年mm月dd日")', {}, "2023年03月15日"),
    ('=TEXT(-1,"yyyy-mm-dd")', {}, VALUE),
    ('=TEXT(A1,"0")', {(1, 1): math.inf}, "inf"),
    ('=TEXT(A1,"0.0")', {(1, 1): -math.inf}, "-inf"),
]

CONVERSIONS = [
    ('=VALUE("123")', 123),
    ('=VALUE("1,234")', 1234),
    ('=VALUE("1e3")', 1000),
    ('=VALUE("-2.5")', -2.5),
    ('=VALUE(" 5")', 5),
    ('=VALUE("5 ")', 5),
    ('=VALUE(" 1,234.5 ")', 1234.5),
    ("=VALUE(5)", 5),
    ("=VALUE(1/4)", 0.25),
    # texts as typed into a cell
    ('=VALUE(" 7 ")', 7),
    ('=VALUE("50%")', 0.5),
    ('=VALUE("$1,200")', 1200),
    ('=VALUE("(12)")', -12),
    ('=VALUE("2025-03-01")', 45717),
    ('=VALUE("3/1/2025 6:00")', 45717.25),
    ('=VALUE("8:00")', 1 / 3),
    ("=VALUE(A1)", 0),                         # a blank cell
    ("=VALUE(DATE(2025,3,1))", 45717),
    ("=VALUE(0.1+0.2)", 0.1 + 0.2),            # a number keeps all its digits
    ('=NUMBERVALUE("$1,200")', 1200),
    ('=NUMBERVALUE("(12)")', -12),
    ('=NUMBERVALUE("2025-03-01")', 45717),
    ('=NUMBERVALUE("1.234,5%",",")', 12.345),
    ("=NUMBERVALUE(A1)", 0),
    ('=NUMBERVALUE("1.234",",",".")', 1234),
    ('=NUMBERVALUE("2,5",",")', 2.5),  # a decimal comma brings the point as group separator
    ('=NUMBERVALUE("1.234,5",",")', 1234.5),
    ('=NUMBERVALUE("1,234")', 1234),
    ('=NUMBERVALUE("1,234.5")', 1234.5),
    ('=NUMBERVALUE("")', 0),
    ('=NUMBERVALUE("   ")', 0),
    ('=NUMBERVALUE("1 234,5",","," ")', 1234.5),
    ('=NUMBERVALUE(" 5")', 5),                 # blanks are ignored, even inside
    ('=NUMBERVALUE(" 1 234 ")', 1234),
    ('=NUMBERVALUE("5",".",".")', VALUE),
    ('=NUMBERVALUE("5","")', VALUE),
    ('=NUMBERVALUE("50%")', 0.5),
    ('=NUMBERVALUE("abc")', VALUE),
    ("=VALUETOTEXT(12.5)", "12.5"),
    ("=VALUETOTEXT(TRUE)", "TRUE"),
    ('=VALUETOTEXT("a")', "a"),
    ('=VALUETOTEXT("a",1)', '"a"'),
    ('=VALUETOTEXT("say ""hi""",1)', '"say ""hi"""'),
    ('=VALUETOTEXT("a",0)', "a"),
    ('=VALUETOTEXT("a",2)', "a"),
    ('=VALUETOTEXT("a",1.9)', '"a"'),
    ("=VALUETOTEXT(5,1)", "5"),
    ("=VALUETOTEXT(NA())", "#N/A"),
    ("=VALUETOTEXT(A1)", ""),
    ('=VALUETOTEXT("日本",1)', '"日本"'),
    ('=VALUETOTEXT("a",1,1/0)', '"a"'),  # arguments after the second are not read
]


@pytest.mark.parametrize("formula, cells, want", TEXT)
def test_text_formats(formula, cells, want):
    check(formula, cells, want)


def text_of(value, pattern):
    """TEXT of a cell's value (as Python gives it) with the pattern in another cell."""
    if isinstance(value, datetime.date):
        value = serial(value)
    return evaluate("=TEXT(A1,B1)", {(1, 1): value, (1, 2): pattern})


@pytest.mark.parametrize("value, pattern, want", SHARED + WORKSHEET)
def test_text_table(value, pattern, want):
    got = text_of(value, pattern)
    assert same(got, want), f"TEXT({value!r}, {pattern!r}): {got!r}"


@pytest.mark.parametrize("pattern, message", REFUSED)
def test_text_refuses_patterns_with_a_message(pattern, message):
    assert failure(f'=TEXT(1,"{pattern}")') == shown_for("TEXT: " + message)


def test_worksheetfunction_text_is_the_worksheet_text():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 45000.75)
    vm.run("""Sub Main()
a = WorksheetFunction.Text(Range("A1"), "dd mmm yyyy h:mm AM/PM")
b = WorksheetFunction.Text(1 / 3, "General")
c = Application.WorksheetFunction.Text("abc", "0;0;0;@!")
End Sub
""", "Main")
    got = vm.variables()
    assert (got["a"], got["b"], got["c"]) == ("15 Mar 2023 6:00 PM", "0.333333333", "abc!")
    # An error value as the result fails, as the application's error 1004 does.
    with pytest.raises(RuntimeError, match=r"(?m)^WorksheetFunction.Text: the result is #VALUE! \(Error 1004\)$"):
        vm.run('Sub Main()\nd = WorksheetFunction.Text(-1, "yyyy")\nEnd Sub\n', "Main")
    with pytest.raises(RuntimeError, match="(?m)^WorksheetFunction.Text requires 2 arguments$"):
        vm.run("Sub Main()\nx = WorksheetFunction.Text(1)\nEnd Sub\n", "Main")
    with pytest.raises(RuntimeError, match=r"(?m)^WorksheetFunction.Text: conditions in brackets are not supported$"):
        vm.run('Sub Main()\nx = WorksheetFunction.Text(1, "[>1]0")\nEnd Sub\n', "Main")


@pytest.mark.parametrize("formula, want", CONVERSIONS)
def test_conversions(formula, want):
    check(formula, None, want)


@pytest.mark.parametrize(
    "formula",
    ['=TEXT(NA(),"0")', "=TEXT(1,NA())", "=VALUE(NA())", "=NUMBERVALUE(NA())", '=NUMBERVALUE("1",NA())',
     '=VALUETOTEXT("a",NA())'],
)
def test_error_values_propagate(formula):
    assert evaluate(formula) == NA


def test_text_too_long_for_a_cell_is_value_error():
    assert evaluate('=LEN(TEXT(1,"0."&REPT("0",30000)))') == 30002
    assert evaluate('=TEXT(1,"0."&REPT("0",40000))') == VALUE
    # A pattern as long as a cell holds, drawing a number of many digits.
    assert evaluate('=TEXT(POWER(10,300),A1)', {(1, 1): "0." + "0" * 32_765}) == VALUE


FAILURES = [
    ('=TEXT(1)', "TEXT requires 2 arguments"),
    ("=VALUE()", "VALUE requires 1 argument"),
    ("=NUMBERVALUE()", "NUMBERVALUE requires 1 to 3 arguments"),
    ('=NUMBERVALUE("1",".",",","x")', "NUMBERVALUE requires 1 to 3 arguments"),
    ("=VALUETOTEXT()", "VALUETOTEXT requires at least 1 argument"),
    ('=VALUE("")', "VALUE: cannot convert '' to number"),
    ("=VALUE(TRUE)", "VALUE: cannot convert 'TRUE' to number"),
    ('=VALUE("12a")', "VALUE: cannot convert '12a' to number"),
    ('=VALUE(" 1 2")', "VALUE: cannot convert ' 1 2' to number"),
    ('=VALUE("TRUE")', "VALUE: cannot convert 'TRUE' to number"),
    ('=VALUE("#N/A")', "VALUE: cannot convert '#N/A' to number"),
    ('=VALUE("$5%")', "VALUE: cannot convert '$5%' to number"),
    ('=VALUETOTEXT("a","x")', "Cannot convert 'x' to a number"),
]


@pytest.mark.parametrize("formula, message", FAILURES)
def test_conversion_failures(formula, message):
    assert failure(formula) == shown_for(message)
