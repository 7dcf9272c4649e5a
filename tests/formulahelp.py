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
    """A Vm holding `cells` ({"A1": value}; a value starting with "=" is a formula)."""
    vm = morvane.Vm()
    for address, value in (cells or {}).items():
        row, col = position(address)
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
    """The message of the failure that `formula` must raise."""
    vm = sheet(cells)
    try:
        vm.set_cell_formula(*FORMULA_CELL, formula)
    except ValueError as e:
        return str(e)
    raise AssertionError(f"{formula} did not fail: {vm.get_cell(*FORMULA_CELL)!r:.200}")


def check(formula, cells, want):
    got = evaluate(formula, cells)
    assert same(got, want), f"{formula}: {got!r} != {want!r}"


def column(top, values, col="A"):
    """Cells {"A1": v1, "A2": v2, ...} from row `top` down."""
    return {f"{col}{top + i}": v for i, v in enumerate(values) if v is not None}
