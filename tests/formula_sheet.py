"""Evaluating one formula against a few cells, for the function-family tests."""
import morvane


def put(vm, row, col, value):
    """A value, or a formula when it is text starting with "=" (how dates get in)."""
    if isinstance(value, str) and value.startswith("="):
        vm.set_cell_formula(row, col, value)
    elif value is not None:
        vm.set_cell(row, col, value)


def sheet(cells=None, rows=None):
    """A Vm holding `cells` ({(row, col): value}) and `rows`, a grid written from A1."""
    vm = morvane.Vm()
    for (row, col), value in (cells or {}).items():
        put(vm, row, col, value)
    for r, line in enumerate(rows or [], 1):
        for c, value in enumerate(line, 1):
            put(vm, r, c, value)
    return vm


def evaluate(formula, cells=None, vm=None):
    vm = vm or sheet(cells)
    vm.set_cell_formula(1000, 1000, formula)
    return vm.get_cell(1000, 1000)


def same(got, want):
    """Equal and of the same type (1, 1.0 and True differ)."""
    if type(got) is not type(want):
        return False
    if isinstance(want, list):
        return len(got) == len(want) and all(same(g, w) for g, w in zip(got, want))
    return got == want
