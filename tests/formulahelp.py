"""Formula tests: a sheet built from A1 addresses and one formula evaluated
against it through Vm.set_cell_formula."""
import re

import morvane
from morvane import ExcelError
from vmhelp import same

NA = ExcelError("#N/A")
VALUE = ExcelError("#VALUE!")
REF = ExcelError("#REF!")
DIV0 = ExcelError("#DIV/0!")
NAME = ExcelError("#NAME?")
NUM = ExcelError("#NUM!")

# Where the formula under test is written: far from the cells the tests use.
FORMULA_CELL = (500, 500)


def position(address):
    """(row, column) of an A1 address such as "B2"."""
    letters, digits = re.fullmatch(r"([A-Z]+)(\d+)", address).groups()
    col = 0
    for ch in letters:
        col = col * 26 + ord(ch) - ord("A") + 1
    return int(digits), col


def sheet(cells):
    """A Vm holding `cells`, keyed by A1 address or (row, column); a text
    value starting with "=" is a formula."""
    vm = morvane.Vm()
    for address, value in (cells or {}).items():
        row, col = position(address) if isinstance(address, str) else address
        if isinstance(value, str) and value.startswith("="):
            vm.set_cell_formula(row, col, value)
        else:
            vm.set_cell(row, col, value)
    return vm


def evaluate(formula, cells=None):
    vm = sheet(cells)
    vm.set_cell_formula(*FORMULA_CELL, formula)
    return vm.get_cell(*FORMULA_CELL)


def failure(formula, cells=None):
    """What storing `formula` gives when its evaluation fails: the error value
    the cell then holds, or, for a failure that stops the run (a formula that
    does not parse, a bound of the evaluation), its message, the cell keeping
    its old value."""
    vm = sheet(cells)
    vm.set_cell(*FORMULA_CELL, "kept")
    try:
        vm.set_cell_formula(*FORMULA_CELL, formula)
    except ValueError as e:
        assert vm.get_cell(*FORMULA_CELL) == "kept"
        return str(e)
    got = vm.get_cell(*FORMULA_CELL)
    assert isinstance(got, ExcelError), f"{formula} did not fail: {got!r:.200}"
    return got


# Failures that stop the run rather than give the cell an error value: the
# bounds of an evaluation, and what the engine does not support.
STOPPING = ("Range too large", "TEXTSPLIT result too large", "Formula reads too many cells",
            "Formula builds too", "Formula is nested too deeply")


def shown_for(message):
    """What `failure` gives for an evaluation that fails with `message`: the
    message of a bound or of a limit, else #VALUE! (the message says why)."""
    return message if message.startswith(STOPPING) or "not supported" in message else VALUE


def check(formula, cells, want):
    got = evaluate(formula, cells)
    assert same(got, want), f"{formula}: {got!r} != {want!r}"


def column(top, values, col="A"):
    """Cells {"A1": v1, "A2": v2, ...} from row `top` down."""
    return {f"{col}{top + i}": v for i, v in enumerate(values) if v is not None}
