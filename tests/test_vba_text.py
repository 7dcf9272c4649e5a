"""Text built-ins: Len, Left, Right, Mid, InStr, Replace, the trims, UCase,
LCase, Chr, Asc, Split and Join. Lengths and positions count characters,
never bytes; case mappings are the full Unicode ones."""
import re

import morvane
import pytest

from vmhelp import same, value_of

SETUP = "Dim a(1)\na(0) = 1\na(1) = 2"

VALUES = [
    # Len counts characters: the euro sign takes three bytes, the emoji four.
    ("Len(123)", 3), ("Len(True)", 4), ("Len(Empty)", 0), ('Len("ab€")', 3), ('Len("😀")', 1), ("Len(2.5)", 3),
    ("Len(#3/15/2023#)", 10), ("Len(a)", 6), ('Len("")', 0),
    ('Left("abc", -1)', ""), ('Left("abc", 2)', "ab"), ('Left("héllo", 2)', "hé"), ('Left("abc", 10)', "abc"),
    ("Left(12345, 2.9)", "123"),
    ('Right("abc", 10)', "abc"), ('Right("héllo", 4)', "éllo"), ('Right("abc", 0)', ""), ('Right("abc", "1")', "c"),
    ('Mid("abcdef", 0, 2)', "ab"), ('Mid("abc", 5)', ""), ('Mid("abcdef", 3)', "cdef"), ('Mid("abcdef", 2, 3)', "bcd"),
    ('Mid("😀a😀b", 2, 2)', "a😀"), ('Mid("abc", 2, -1)', ""),
    # InStr ignores case; positions are characters of the whole haystack.
    ('InStr("Hello", "LL")', 3), ('InStr(3, "abcabc", "a")', 4), ('InStr(0, "abc", "a")', 1), ('InStr("abc", "")', 1),
    ('InStr(5, "abc", "")', 5), ('InStr(0, "abc", "")', 0), ('InStr(4, "abc", "c")', 0), ('InStr("abc", "d")', 0),
    ('InStr("aß", "S")', 2), ('InStr("ÄÖÜ", "öü")', 2), ('InStr("x€y€", "€")', 2), ('InStr(3, "x€y€", "€")', 4),
    ('InStr(1, "aaa", "aa", 1)', 1), ("InStr(12345, 34)", 3),
    ('Replace("aAa", "a", "x")', "xAx"), ('Replace("abc", "", "x")', "abc"), ('Replace("aaa", "aa", "b")', "ba"),
    ('Replace("a.b.c", ".", "")', "abc"), ('Replace("€1€", "€", "EUR")', "EUR1EUR"), ("Replace(1.5, \".\", \",\")", "1,5"),
    ('Trim("  x y  ")', "x y"), ('LTrim("  x  ")', "x  "), ('RTrim("  x  ")', "  x"), ("Trim(5)", "5"),
    ('Trim(Chr(160) & Chr(9) & "x" & Chr(12288) & vbCrLf)', "x"),
    ('UCase("straße")', "STRASSE"), ('UCase("ﬁx")', "FIX"), ('LCase("ÀB")', "àb"), ('LCase("İ")', "i̇"),
    ("UCase(True)", "TRUE"), ('LCase("ΟΔΟΣ")', "οδος"),
    ("Chr(65)", "A"), ("Chr(8364)", "€"), ("Chr(-5)", "\x00"), ("Chr(65.9)", "B"), ("Chr(128512)", "😀"),
    ('Asc("A")', 65), ('Asc("€uro")', 8364), ("Asc(1)", 49), ('Asc("😀")', 128512),
    ('Split("a,,b", ",")', ["a", "", "b"]), ('Split("")', []), ('Split("abc", "")', ["abc"]),
    ('Split("a b c")', ["a", "b", "c"]), ('Split("a--b--", "--")', ["a", "b", ""]), ('Split("aXbxc", "x")', ["aXb", "c"]),
    ('Split(12.5, ".")', ["12", "5"]), ('Split("é€", "")', ["é€"]), ('Split("x", "x")', ["", ""]),
    ('Join(Split("a b c"))', "a b c"), ('Join("x", "-")', "x"), ('Join(a, "+")', "1+2"), ('Join(Split(""), "-")', ""),
    ('Join(b, ";")', "1, 2;z"),
]


@pytest.mark.parametrize("expr, want", VALUES)
def test_values(expr, want):
    got = value_of(expr, setup=SETUP + "\nDim b(1)\nb(0) = a\nb(1) = \"z\"")
    assert same(got, want), f"{expr}: {got!r}"


ERRORS = [
    ("Len()", "Len requires 1 argument"), ('Left("a")', "Left requires 2 arguments"),
    ('Right("a")', "Right requires 2 arguments"), ('Mid("a")', "Mid requires at least 2 arguments"),
    ('InStr("a")', "InStr requires at least 2 arguments"), ('Replace("a", "b")', "Replace requires at least 3 arguments"),
    ("Trim()", "Trim requires 1 argument"), ("LTrim()", "LTrim requires 1 argument"),
    ("RTrim()", "RTrim requires 1 argument"), ("UCase()", "UCase requires 1 argument"),
    ("LCase()", "LCase requires 1 argument"), ("Chr()", "Chr requires 1 argument"), ("Asc()", "Asc requires 1 argument"),
    ("Split()", "Split requires at least 1 argument"), ("Join()", "Join requires at least 1 argument"),
    ("Chr(55296)", "Chr: invalid code 55296"), ("Chr(1114112)", "Chr: invalid code 1114112"),
    ('Chr("1e30")', "Chr: invalid code 4294967295"), ('Asc("")', "Asc: empty string"),
    ('Left("abc", "x")', "Cannot convert 'x' to number"), ('InStr("x", "abc", "a")', "Cannot convert 'x' to number"),
    ('Mid("abc", 1, Split("a"))', "Cannot convert array to number"),
]


@pytest.mark.parametrize("expr, message", ERRORS)
def test_errors(expr, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        value_of(expr)


def test_huge_results_fail_with_a_message():
    # 2^24 characters: splitting at each letter would make more pieces than any array may hold.
    big = 's = "a"\nFor i = 1 To 24\n s = s & s\nNext'
    with pytest.raises(RuntimeError, match=re.escape("Split result is too large (16777217 pieces; the limit is 10000000)")):
        value_of('Split(s, "a")', setup=big)
    # Each of the 2^24 letters would become 20: over the text limit, refused before building.
    with pytest.raises(RuntimeError, match="(?m)^Out of string space$"):
        value_of('Replace(s, "a", "abcdefghijabcdefghij")', setup=big)
    assert value_of('Len(Replace(s, "a", "bc"))', setup=big) == 2**25


def test_long_searches_stay_linear():
    # A naive search would compare about 2^40 characters here.
    setup = 's = "a"\nFor i = 1 To 20\n s = s & s\nNext\nn = Left(s, 2 ^ 19) & "b"'
    assert value_of("InStr(s & \"b\", n)", setup=setup) == 2**20 - 2**19 + 1
    assert value_of("UBound(Split(s & \"b\", n))", setup=setup) == 1


# Len of a variable's text, or of Left, Right or Mid of one, is counted
# without building the text; each row also takes the general way (the text
# passed through `& ""`), and both must agree with the expected length.
LENGTHS = [
    ("Len(s)", 5), ("Len(Left(s, n))", 2), ("Len(Left(s, -3))", 0), ("Len(Left(s, 99))", 5), ("Len(Left(s, 2.5))", 3),
    ("Len(Right(s, n))", 2), ("Len(Right(s, 0))", 0), ("Len(Right(s, 9))", 5), ("Len(Mid(s, 2))", 4),
    ("Len(Mid(s, n, n))", 2), ("Len(Mid(s, 0, 3))", 3), ("Len(Mid(s, 5, 3))", 1), ("Len(Mid(s, 6, 3))", 0),
    ("Len(Mid(s, 2, -1))", 0), ("Len(Mid(s, n + 1, 2 ^ 60))", 3), ("Len(Mid(s, 2 ^ 60, 1))", 0), ("Len(t)", 4),
    ("Len(Left(t, n))", 2), ("Len(e)", 0), ("Len(Left(e, n))", 0), ('Len(Mid("héllo", n))', 4),
]


@pytest.mark.parametrize("expr, want", LENGTHS)
def test_lengths_counted_in_place(expr, want):
    setup = 's = "h€llo"\nn = 2\nt = 1234\ne = Empty'
    assert same(value_of(expr, setup=setup), want)
    general = expr.replace("(s,", '(s & "",').replace("(t,", '(t & "",').replace("(e,", '(e & "",')
    assert same(value_of(general, setup=setup), want), general


def test_in_place_arguments_keep_their_order():
    # A Function among the arguments may change a variable read before it:
    # the built-in sees the value the variable held when it was read.
    code = (
        "Function Bump()\n s = \"zzz\"\n Bump = 1\nEnd Function\n"
        "Sub Main()\n s = \"abc\"\n x = Mid(s, Bump(), 2)\n y = Len(Left(s, Bump()))\n z = Len(s)\nEnd Sub\n"
    )
    vm = morvane.Vm()
    vm.run(code, "Main")
    got = vm.variables()
    assert (got["x"], got["y"], got["z"]) == ("ab", 1, 3)


def test_built_in_names_holding_arrays_are_indexed():
    # An array named len is indexed, even where Len would count in place.
    assert value_of("Len(s)", setup='Dim len(3)\nlen(3) = 7\ns = "3"') == 7
    with pytest.raises(RuntimeError, match="multi-dimensional arrays are not supported"):
        value_of('Len(Left(s, 1))', setup='Dim left(3)\ns = "abc"')


@pytest.mark.parametrize("expr, want", [
    ("Len(Id(s))", 5), ("Left(Id(s), 2)", "h€"), ("Mid(s, Id(2), 2)", "€l"), ("UCase(Id(s))", "H€LLO"),
    ("Trim(Id(\" a \"))", "a"), ("Abs(Id(-2.5))", 2.5), ("Round(Id(2.5))", 2), ("Sgn(Id(n))", -1),
    # Arguments past those a built-in uses are evaluated and ignored, however many.
    ("Len(Id(s), 1, 2, 3, 4, 5, 6, 7, 8)", 5), ("Mid(s, Id(2), 3, 4, 5, 6, 7, 8, 9)", "€ll"),
])
def test_built_ins_over_function_results(expr, want):
    # A Function among the arguments: the built-in takes evaluated copies.
    # The same call over a variable reads it in place; both agree.
    vm = morvane.Vm()
    vm.run(f'Function Id(v)\n Id = v\nEnd Function\nSub Main()\n s = "h€llo"\n n = -4\n x = {expr}\n'
           f' y = {expr.replace("Id(", "(")}\nEnd Sub\n', "Main")
    got = vm.variables()
    assert same(got["x"], want) and same(got["y"], want)
