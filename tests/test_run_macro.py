"""run_macro: the module function that runs one macro in a fresh workbook."""
import re

import pytest

import morvane
from vmhelp import RUN_ERRORS_DOC, same, sub


def test_returns_the_active_sheet_cells_with_their_types():
    cells = morvane.run_macro(sub('Cells(1, 1).Value = 1\nRange("B2").Value = "x"\nCells(3, 1).Value = 2.5'), "Main")
    assert same(cells, {(1, 1): 1, (2, 2): "x", (3, 1): 2.5})


def test_a_macro_that_writes_nothing_returns_an_empty_dict():
    assert morvane.run_macro(sub("x = 1"), "main") == {}


def test_each_call_starts_from_a_fresh_workbook():
    code = sub("Cells(1, 1).Value = Cells(1, 1).Value + 1")
    assert morvane.run_macro(code, "Main") == {(1, 1): 1}
    assert morvane.run_macro(code, "Main") == {(1, 1): 1}


def test_empty_cells_are_left_out():
    cells = morvane.run_macro(sub('Cells(1, 1).Value = Empty\nCells(2, 1).Value = ""'), "Main")
    assert same(cells, {})


def test_keywords_and_macro_name_case():
    cells = morvane.run_macro(vba_code=sub("Cells(1, 1).Value = 7", "DoIt"), macro_name="DOIT", on_msgbox="skip")
    assert cells == {(1, 1): 7}


@pytest.mark.parametrize("mode, fails", [("error", True), ("skip", False)])
def test_on_msgbox(mode, fails):
    code = sub('MsgBox "hi"\nCells(1, 1).Value = 1')
    if fails:
        with pytest.raises(RuntimeError, match="(?m)^MsgBox: hi$"):
            morvane.run_macro(code, "Main", on_msgbox=mode)
    else:
        assert morvane.run_macro(code, "Main", on_msgbox=mode) == {(1, 1): 1}


def test_syntax_error_and_missing_sub():
    with pytest.raises(SyntaxError):
        morvane.run_macro("Sub Main(\n", "Main")
    with pytest.raises(RuntimeError, match=re.escape("Sub 'MAIN2' not found")):
        morvane.run_macro(sub("x = 1"), "MAIN2")


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1, "Main"), {}, "run_macro() argument 'vba_code' must be str, not int"),
        (("", None), {}, "run_macro() argument 'macro_name' must be str, not NoneType"),
        (("", "Main"), {"on_msgbox": None}, "run_macro() argument 'on_msgbox' must be str, not NoneType"),
    ],
)
def test_argument_type_errors(args, kwargs, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        morvane.run_macro(*args, **kwargs)


def test_argument_count_errors():
    with pytest.raises(TypeError):
        morvane.run_macro("x")
    with pytest.raises(TypeError):
        morvane.run_macro("x", "y", "z", "w")
    with pytest.raises(TypeError):
        morvane.run_macro("x", "y", bogus=1)


def test_signature_and_doc():
    assert morvane.run_macro.__text_signature__ == '(vba_code, macro_name, on_msgbox="skip")'
    assert morvane.run_macro.__doc__ == (
        "Run a VBA macro string and return the resulting cells as ``{(row, col): value}``.\n\n"
        "The cells are those of the sheet active when the macro ends.\n\n"
        "Parameters\n----------\nvba_code : str\n    Full VBA source containing the target Sub.\n"
        "macro_name : str\n    Name of the Sub to execute.\non_msgbox : str\n"
        '    ``"skip"`` (default) or ``"error"``; any other text raises ``ValueError``.\n\n'
        + RUN_ERRORS_DOC
    )


def test_module_attribute_order():
    names = [n for n in vars(morvane) if not n.startswith("__")]
    assert names.index("hello") < names.index("run_macro") < names.index("Vm")
