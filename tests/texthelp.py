"""Evaluating one formula for the text-family tests."""
import morvane


def _vm(cells):
    vm = morvane.Vm()
    for (row, col), value in (cells or {}).items():
        vm.set_cell(row, col, value)
    return vm


def evaluate(formula, cells=None):
    """The value a formula leaves in a cell of a sheet holding `cells`."""
    vm = _vm(cells)
    vm.set_cell_formula(100, 100, formula)
    return vm.get_cell(100, 100)


def failure(formula, cells=None):
    """The message a formula fails with; the cell keeps its old value."""
    vm = _vm(cells)
    vm.set_cell(100, 100, "kept")
    try:
        vm.set_cell_formula(100, 100, formula)
    except ValueError as e:
        assert vm.get_cell(100, 100) == "kept"
        return str(e)
    raise AssertionError(f"{formula} did not fail: {vm.get_cell(100, 100)!r}")
