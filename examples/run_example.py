"""Run the example macro on a small order sheet and print the cells.

    PYTHONPATH=build/dev python examples/run_example.py
"""
from pathlib import Path

import morvane

ORDER = [
    ("Item", "Qty", "Price"),
    ("Pencils", 12, 0.5),
    ("Paper", 4, 6.25),
    ("Stapler", 1, 14.9),
    ("Desk lamp", 2, 54.0),
]


def main():
    code = (Path(__file__).parent / "invoice.bas").read_text()
    vm = morvane.Vm()
    for r, row in enumerate(ORDER, start=1):
        for c, value in enumerate(row, start=1):
            vm.set_cell(r, c, value)
    vm.run(code, "PriceOrder")
    cells = vm.cells()
    rows = max(r for r, _ in cells)
    cols = max(c for _, c in cells)
    for r in range(1, rows + 1):
        print(" | ".join(f"{'' if cells.get((r, c)) is None else cells[(r, c)]!s:>12}" for c in range(1, cols + 1)))


if __name__ == "__main__":
    main()
