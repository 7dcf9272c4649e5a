"""Numbers in text take at most 15 significant digits, whole numbers too; the
comparison operators treat numbers equal at 15 digits and order kinds as
spreadsheets do."""
import pytest

from formulahelp import check

BIG = "123456789012345678"

TEXTS = [
    (f'="x" & {BIG}', "x1.23456789012346E+17"),
    (f"=LEN({BIG})", 20),
    (f"=CONCAT({BIG})", "1.23456789012346E+17"),
    (f'=CONCATENATE("n=", {BIG})', "n=1.23456789012346E+17"),
    (f'=TEXTJOIN(",", TRUE, {BIG}, 1)', "1.23456789012346E+17,1"),
    (f"=VALUETOTEXT({BIG})", "1.23456789012346E+17"),
    (f"=LEFT({BIG}, 4)", "1.23"),
    ('="x" & 1000000000000000', "x1E+15"),
    ('="x" & 999999999999999', "x999999999999999"),
    ('="x" & -1234567890123456', "x-1.23456789012346E+15"),
    ('="x" & A1', "x1.23456789012346E+17"),
    ('="x" & (0.1+0.2)', "x0.3"),
    ("=LEN(123456789012345)", 15),
]

COMPARISONS = [
    ("=0.1+0.2=0.3", True),
    ("=0.1+0.2<>0.3", False),
    ("=0.3>=0.1+0.2", True),
    ("=0.3<0.1+0.2", False),
    ("=1.00000000000001=1", False),   # 15 digits apart
    ("=TRUE>1", True),
    ("=FALSE>99", True),
    ('=TRUE>"abc"', True),
    ('="abc">5', True),
    ('="5">9', True),                 # a text is a text, whatever it holds
    ('="5"=5', False),
    ("=1<TRUE", True),
]


@pytest.mark.parametrize("formula, want", TEXTS + COMPARISONS)
def test_number_text_and_comparisons(formula, want):
    check(formula, {"A1": 123456789012345678}, want)


def test_vba_comparisons_are_unchanged():
    import morvane

    vm = morvane.Vm()
    vm.run("Sub M()\nRange(\"A1\").Value = (0.1 + 0.2 = 0.3)\nEnd Sub\n", "M")
    assert vm.get_cell(1, 1) is False
