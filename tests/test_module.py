"""The module's face: attributes, hello, and the ExcelError class."""
import re

import pytest

import morvane
from morvane import ExcelError


def test_module_attributes_and_doc():
    public = {n for n in dir(morvane) if not n.startswith("__")}
    assert public <= {"hello", "run_macro", "load_workbook", "Vm", "ExcelError", "SkippedStatementWarning"}
    assert {"hello", "ExcelError"} <= public
    assert morvane.__doc__ == ""


def test_hello_names_the_module():
    text = morvane.hello()
    assert isinstance(text, str) and "morvane" in text and "\n" not in text
    assert morvane.hello.__text_signature__ == "()"


def test_excel_error_value_semantics():
    na = ExcelError("#N/A")
    assert na.code == "#N/A"
    assert str(na) == "#N/A"
    assert repr(na) == "ExcelError('#N/A')"
    assert na == ExcelError(code="#N/A")
    assert na != ExcelError("#VALUE!")
    assert na != "#N/A" and not (na == "#N/A")
    assert na != object() and "#N/A" != na
    assert len({na, ExcelError("#N/A")}) == 1
    assert hash(na) == 4 and hash(ExcelError("#DIV/0!")) == 7
    empty = ExcelError("")
    assert hash(empty) == 0 and repr(empty) == "ExcelError('')"
    assert repr(ExcelError("it's")) == "ExcelError('it's')"


@pytest.mark.parametrize("a, b", [("#N/A", "#N/A"), ("#N/A", "#REF!"), ("", ""), ("\ud800", "\ud800")])
def test_excel_error_not_equal_is_the_negation_of_equal(a, b):
    x, y = ExcelError(a), ExcelError(b)
    assert (x != y) is (not (x == y))
    assert (x != y) is (a != b)
    assert (y != x) is (a != b)


def test_excel_error_rejects_bad_use():
    with pytest.raises(TypeError, match=re.escape("argument 'code' must be str, not int")):
        ExcelError(1)
    with pytest.raises(TypeError):
        ExcelError()
    with pytest.raises(TypeError):
        ExcelError("#N/A") < ExcelError("#REF!")
    with pytest.raises(AttributeError):
        ExcelError("#N/A").code = "#REF!"


def test_excel_error_docs():
    assert ExcelError.__doc__.startswith("Represents an Excel cell error value")
    assert ExcelError.__text_signature__ == "(code)"
    assert ExcelError.code.__doc__ == 'The error string, e.g. ``"#N/A"``, ``"#VALUE!"``, ``"#DIV/0!"``.'
