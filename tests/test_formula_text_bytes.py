"""Byte counts and widths: LENB, LEFTB, RIGHTB, MIDB, ASC and JIS.

ASCII characters are one byte wide and every other character two.
"""
import pytest

from formulahelp import NA, VALUE, check, evaluate, failure, shown_for


VALUES = [
    ('=LENB("abc")', 3),
    ('=LENB("日本")', 4),
    ('=LENB("é")', 2),
    ('=LENB("")', 0),
    ("=LENB(12.5)", 4),
    ('=LENB("ｱ😀a")', 5),
    ('=LEFTB("日本語",3)', "日"),
    ('=LEFTB("日本語",4)', "日本"),
    ('=LEFTB("a日")', "a"),
    ('=LEFTB("日")', ""),
    ('=LEFTB("abc",0)', ""),
    ('=LEFTB("abc",-2)', VALUE),
    ('=LEFTB("abc",10)', "abc"),
    ('=RIGHTB("日本語",3)', "語"),
    ('=RIGHTB("ab日",2)', "日"),
    ('=RIGHTB("日a",2)', "a"),
    ('=RIGHTB("abc")', "c"),
    ('=MIDB("日本語",3,2)', "本"),
    ('=MIDB("日本語",2,2)', "本"),  # the character beginning a byte earlier is skipped
    ('=MIDB("日本語",1,3)', "日"),
    ('=MIDB("a日b",1,2)', "a"),  # the walk ends at the first character that does not fit
    ('=MIDB("abc",0,2)', VALUE),
    ('=MIDB("abc",9,2)', ""),
    ('=MIDB("abc",2,0)', ""),
    # ASC: full-width ASCII, the ideographic space and plain katakana
    ('=ASC("ＡＢＣ　１２３")', "ABC 123"),
    ('=ASC("ＡＢＣ１２３")', "ABC123"),
    ('=ASC("！～")', "!~"),
    ('=ASC("アイウ")', "ｱｲｳ"),
    ('=ASC("カタカナ")', "ｶﾀｶﾅ"),
    ('=ASC("ン")', "ﾝ"),
    ('=ASC("ガッャヲヴー")', "ガッャヲヴー"),  # voiced, small and other kana stay
    ('=ASC("ひらがな漢字")', "ひらがな漢字"),
    ('=ASC("ｱ")', "ｱ"),
    ('=ASC("")', ""),
    # JIS: ASCII and the blank become full-width; half-width kana stay
    ('=JIS("AB 12")', "ＡＢ\u3000１２"),
    ('=JIS("!~")', "！～"),
    ('=JIS("ｱ")', "ｱ"),
    ('=JIS(ASC("アイ"))', "ｱｲ"),
    ('=JIS("é")', "é"),
    ('=JIS("")', ""),
    ("=JIS(TRUE)", "ＴＲＵＥ"),
]


@pytest.mark.parametrize("formula, want", VALUES)
def test_width_values(formula, want):
    check(formula, None, want)


@pytest.mark.parametrize(
    "formula",
    ["=LENB(NA())", '=LEFTB(NA(),1)', '=RIGHTB("a",NA())', '=MIDB("a",NA(),1)', "=ASC(NA())", "=JIS(NA())"],
)
def test_error_values_propagate(formula):
    assert evaluate(formula) == NA


@pytest.mark.parametrize(
    "formula, message",
    [
        ("=LENB()", "LENB requires 1 argument"),
        ('=LEFTB("a",1,1)', "LEFTB requires 1 or 2 arguments"),
        ("=RIGHTB()", "RIGHTB requires 1 or 2 arguments"),
        ('=MIDB("a",1)', "MIDB requires 3 arguments"),
        ('=ASC("a","b")', "ASC requires 1 argument"),
        ("=JIS()", "JIS requires 1 argument"),
        ('=LEFTB("abc","x")', "Cannot convert 'x' to a number"),
    ],
)
def test_width_failures(formula, message):
    assert failure(formula) == shown_for(message)
