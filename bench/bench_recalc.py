"""Formula storage and recalculation on the "nested SUM" workbook.

10,000 rows; columns A to C hold random numbers, D = SUM(A<r>,A<r>,B<r>:C<r>,10)
and E to Z each SUM(A<r>:<previous column><r>): 230,000 formulas. Times
set_cell_formula_batch of all formulas and one recalculate() separately.

Run: PYTHONPATH=build/dev .venv/bin/python bench/bench_recalc.py [rows]
"""
import random
import sys
import time

import morvane


def col_name(c):
    return chr(ord("A") + c - 1)


def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    rng = random.Random(7)
    vm = morvane.Vm()
    for r in range(1, rows + 1):
        for c in range(1, 4):
            vm.set_cell(r, c, rng.random() * 100)
    formulas = {}
    for r in range(1, rows + 1):
        formulas[(r, 4)] = f"=SUM(A{r},A{r},B{r}:C{r},10)"
        for c in range(5, 27):
            formulas[(r, c)] = f"=SUM(A{r}:{col_name(c - 1)}{r})"
    t0 = time.perf_counter()
    vm.set_cell_formula_batch(formulas)
    t1 = time.perf_counter()
    vm.recalculate()
    t2 = time.perf_counter()
    vm.recalculate()
    t3 = time.perf_counter()
    print(f"formulas: {len(formulas)}")
    print(f"set_cell_formula_batch: {t1 - t0:.3f} s")
    print(f"recalculate (first):    {t2 - t1:.3f} s")
    print(f"recalculate (again):    {t3 - t2:.3f} s")


if __name__ == "__main__":
    main()
