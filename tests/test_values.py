"""Values crossing the boundary: set_cell / get_cell conversion both ways."""
import datetime
import math

import pytest

import morvane
from morvane import ExcelError


def roundtrip(value):
    vm = morvane.Vm()
    vm.set_cell(1, 1, value)
    return vm.get_cell(1, 1)


@pytest.mark.parametrize(
    "given, expected, kind",
    [
        (True, True, bool),
        (False, False, bool),
        (5, 5, int),
        (-(2**63), -(2**63), int),
        (2**63, float(2**63), float),  # beyond int64: stored as Float
        (2.5, 2.5, float),
        ("3.5", "3.5", str),  # text that looks like a number stays text
        ("größe", "größe", str),
        ("", "", str),
    ],
)
def test_scalar_roundtrip(given, expected, kind):
    got = roundtrip(given)
    assert type(got) is kind
    assert got == expected


def test_nan_and_infinity_roundtrip():
    assert math.isnan(roundtrip(float("nan")))
    assert roundtrip(float("-inf")) == float("-inf")


@pytest.mark.parametrize(
    "code, stored",
    [("#N/A", "#N/A"), ("#DIV/0!", "#DIV/0!"), ("#REF!", "#REF!"), ("#NAME?", "#NAME?"),
     ("#NUM!", "#NUM!"), ("#NULL!", "#NULL!"), ("#VALUE!", "#VALUE!"),
     ("#SPILL!", "#SPILL!"), ("#CALC!", "#CALC!"), ("#FIELD!", "#FIELD!"), ("#BLOCKED!", "#BLOCKED!"),
     ("#GETTING_DATA", "#GETTING_DATA"),
     ("#value!", "#VALUE!"), ("#spill!", "#VALUE!"), ("#BUSY!", "#VALUE!"), ("nonsense", "#VALUE!"),
     ("", "#VALUE!")],
)
def test_error_codes(code, stored):
    assert roundtrip(ExcelError(code)) == ExcelError(stored)


# ERROR.TYPE's numbers, the classic seven's among them unchanged.
ERROR_TYPES = [("#NULL!", 1), ("#DIV/0!", 2), ("#VALUE!", 3), ("#REF!", 4), ("#NAME?", 5), ("#NUM!", 6),
               ("#N/A", 7), ("#GETTING_DATA", 8), ("#SPILL!", 9), ("#BLOCKED!", 11), ("#FIELD!", 13),
               ("#CALC!", 14)]


@pytest.mark.parametrize("code,number", ERROR_TYPES)
def test_every_error_is_an_error_to_formulas(code, number):
    vm = morvane.Vm()
    vm.set_cell(1, 1, ExcelError(code))
    for col, (formula, want) in enumerate([("=ERROR.TYPE(A1)", number), ("=ISERROR(A1)", True),
                                           ("=ISNA(A1)", code == "#N/A"), ('=IFERROR(A1, "x")', "x"),
                                           ("=A1+1", ExcelError(code)), ("=A1", ExcelError(code))], 2):
        vm.set_cell_formula(1, col, formula)
        assert vm.get_cell(1, col) == want, formula
    # The hash of an error is the length of its code, as ever.
    assert hash(vm.get_cell(1, 1)) == len(code.encode())


@pytest.mark.parametrize("bad", [b"x", [1], (1, 2), {"a": 1}, datetime.timedelta(1), 10**400, object()])
def test_unsupported_values(bad):
    vm = morvane.Vm()
    vm.set_cell(1, 1, 7)
    with pytest.raises(TypeError, match="^Unsupported cell value type$"):
        vm.set_cell(1, 1, bad)
    assert vm.get_cell(1, 1) == 7  # nothing stored


def test_none_stores_an_empty_cell():
    vm = morvane.Vm()
    vm.set_cell(1, 1, None)
    assert vm.get_cell(1, 1) is None
    assert vm.cells() == {}


def test_index_objects_convert_as_integers():
    class Idx:
        def __index__(self):
            return 12

    assert roundtrip(Idx()) == 12


@pytest.mark.parametrize(
    "source, expected",
    [
        ("#1/1/1900#", datetime.date(1900, 1, 1)),
        ("#2023-03-15#", datetime.date(2023, 3, 15)),
        ("#12/31/9999#", datetime.date(9999, 12, 31)),
    ],
)
def test_dates_cross_as_datetime_date(source, expected):
    cells = morvane.run_macro(f"Sub T()\n  Range(\"A1\").Value = {source}\nEnd Sub\n", "T")
    assert cells[(1, 1)] == expected
    assert type(cells[(1, 1)]) is datetime.date
