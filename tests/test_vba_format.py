"""Format: the named formats General and General Number, digit patterns
with 0, #, the point and the grouping comma, and percent patterns."""
import pytest

from vmhelp import same, value_of

CASES = [
    ("3.14159", "0.00", "3.14"), ("3.14159", "0.0#", "3.14"), ("3.14159", "0.00#", "3.142"),
    # Decimals round from the exact binary value, halves to the even digit.
    ("2.5", "0", "2"), ("3.5", "0", "4"), ("0.125", "0.00", "0.12"), ("45000.5", "yyyy-mm-dd", "45000"),
    ("1234567", "#,##0", "1,234,567"), ("1234567", "#,##0.00", "1,234,567.00"), ("-1234567", "#,##0", "-1,234,567"),
    ("-1234.5", "#,##0", "-1,234"), ("1234.7", "#,##0", "1,234"), ("-0.5", "#,##0", "-0"),
    ("1234.567", "#,##0.00", "1,234.57"), ("999.996", "#,##0.00", "1,000.00"), ("-1234.567", "#,##0.0", "-1,234.6"),
    ("1234.56", "0.0,0", "1,234.56"), ("123", "#,##0", "123"), ("-0.04", "0.0", "-0.0"),
    ("5", "0.00", "5.00"), ("-5", "0.0", "-5.0"), ("5", "", "5"), ("0.1", "General Number", "0.1"),
    ("0.1", "GENERAL", "0.1"), ("2.5", "general number", "2.5"), ("1234", "0", "1234"),
    ('"12.5"', "0.00", "12.5"), ("True", "0", "True"), ("#3/15/2023#", "yyyy", "2023-03-15"), ("Empty", "0.00", ""),
    ('CDbl(10 ^ 308 * 10 - 10 ^ 308 * 10)', "0.00", "NaN"), ('CDbl(10 ^ 308 * 10)', "#,##0.00", "inf"), ('CDbl(-10 ^ 308 * 10)', "0", "-inf"),
    ('CDbl("1e-7")', "0.000000000", "0.000000100"), ("0.1", "0." + "0" * 30, "0.100000000000000005551115123126"),
    ("-9223372036854775807 - 1", "#,##0", "-9,223,372,036,854,775,808"),
    ('CDbl("1e20")', "#,##0", "9,223,372,036,854,775,807"),
    # A pattern ending in "%" shows a percentage.
    ("0.5", "0%", "50%"), ("0.1234", "0.0%", "12.3%"), ("1", "0%", "100%"), ("12345", "#,##0%", "1,234,500%"),
    ("-0.256", "0.0%", "-25.6%"), ("0.5", "%", "50%"), ("0.5", "0%x", "0"), ('"abc"', "0%", "abc"),
    ("9223372036854775807", "0%", "922337203685477580800%"), ("0.015", "0.00%", "1.50%"),
]


@pytest.mark.parametrize("value, pattern, want", CASES)
def test_format(value, pattern, want):
    got = value_of(f'Format({value}, "{pattern}")')
    assert same(got, want), f"Format({value}, {pattern!r}): {got!r}"


def test_format_without_pattern_and_non_text_patterns():
    assert same(value_of("Format(2.50)"), "2.5")
    assert same(value_of("Format(0.5, 0)"), "0")
    assert same(value_of("Format(1234.5, True)"), "1234")


def test_decimals_beyond_the_exact_expansion_are_zeros():
    # A double has at most 1074 decimals; the rest of a long pattern pads with zeros.
    got = value_of('Format(0.5, p)', setup='p = "0."\nFor i = 1 To 2000\n p = p & "0"\nNext')
    assert got == "0.5" + "0" * 1999
    tiny = value_of('Format(CDbl("5e-324"), p)', setup='p = "0."\nFor i = 1 To 1100\n p = p & "#"\nNext')
    assert tiny.startswith("0." + "0" * 323 + "4940656458412") and len(tiny) == 1102 and tiny.endswith("0" * 26)


def test_format_requires_an_argument():
    with pytest.raises(RuntimeError, match="^Format requires at least 1 argument$"):
        value_of("Format()")
