"""Load the example order workbook, run the pricing macro on it, save the
priced workbook and print its cells.

    PYTHONPATH=build/dev python examples/run_example.py [output.xlsx or .ods]
"""
import sys
import tempfile
from pathlib import Path

import morvane

HERE = Path(__file__).parent


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else str(Path(tempfile.gettempdir()) / "order-priced.xlsx")
    vm = morvane.load_workbook(str(HERE / "order.xlsx"), sheet="order")
    vm.run((HERE / "invoice.bas").read_text(), "PriceOrder")
    vm.save_workbook(out)

    cells = morvane.load_workbook(out, sheet="order").cells()
    rows = max(r for r, _ in cells)
    cols = max(c for _, c in cells)
    for r in range(1, rows + 1):
        print(" | ".join(f"{'' if cells.get((r, c)) is None else cells[(r, c)]!s:>12}" for c in range(1, cols + 1)))
    print(f"saved to {out}")


if __name__ == "__main__":
    main()
