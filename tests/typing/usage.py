"""A small program against morvane's public surface, type-checked with mypy --strict in CI."""

import copy
import datetime
import pathlib
import pickle

import morvane


def total(vm: morvane.Vm) -> float:
    value = vm.get_cell(1, 1)
    return float(value) if isinstance(value, (int, float)) else 0.0


def main(folder: pathlib.Path) -> None:
    cells: dict[tuple[int, int], object] = dict(
        morvane.run_macro("Sub Fill()\n Cells(1, 1).Value = 2\nEnd Sub\n", "Fill", on_msgbox="error")
    )
    vm = morvane.Vm()
    vm.set_cell(1, 1, 3.5)
    vm.set_cell(2, 1, datetime.date(2024, 1, 2))
    vm.set_cell(3, 1, morvane.ExcelError("#N/A"))
    vm.set_cell_formula(4, 1, "=A1*2")
    vm.set_cell_formula_batch({(5, 1): "=A4+1"})
    vm.run("Sub Go()\n Cells(6, 1).Value = 1\nEnd Sub\n", "Go")
    vm.recalculate()
    vm.set_sheet("Other")
    names: list[str] = vm.sheet_names()
    vm.save_workbook(folder / "out.xlsx")
    again = morvane.load_workbook(folder / "out.xlsx", sheet=names[0])
    error = morvane.ExcelError("#DIV/0!")
    same: morvane.ExcelError = pickle.loads(pickle.dumps(error))
    print(cells, total(again), again.cells(), vm.variables(), copy.deepcopy(same).code, morvane.__version__)
