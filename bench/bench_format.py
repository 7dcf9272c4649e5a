"""Number formats: one million Format(x, "#,##0.00") calls in a macro, and
one million =TEXT(A<r>, "#,##0.00") evaluations in one recalculation, each
beside Python's format(x, ",.2f") over the same numbers.

The Python side runs under the fastest CPython found on the machine (as in
bench_vm.py); the morvane side under this script's interpreter with the
morvane build it imports. Each side runs in a child process. Prints the best
time per call of each side and the ratio morvane / CPython (below 1.0 means
morvane is faster). A recalculation does its own work per cell (ordering
the cells, reading A<r>, storing the result), so a third row recalculates
=A<r> alone on the same sheet, and a last line gives TEXT's own share: the
difference of the two recalculations beside Python's format.

Run: PYTHONPATH=build/dev .venv/bin/python bench/bench_format.py
"""
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_vm  # noqa: E402
from bench_vm import best_of, fastest_python  # noqa: E402

N = 1_000_000
CELLS = 1_000_000

FORMAT_VBA = f"""
Sub Main()
    Dim s As String
    For i = 1 To {N}
        s = Format(i * 1.37, "#,##0.00")
    Next
End Sub
"""

FORMAT_PY = f"""
def setup():
    return None

def run(_):
    for i in range(1, {N} + 1):
        s = format(i * 1.37, ",.2f")
    return s
"""

TEXT_PY = f"""
def setup():
    return [r * 1.37 for r in range(1, {CELLS} + 1)]

def run(xs):
    for x in xs:
        s = format(x, ",.2f")
    return s
"""


def worker(side, case):
    if side == "py":
        scope = {}
        exec(FORMAT_PY if case == "format" else TEXT_PY, scope)
        return best_of(scope["run"], scope["setup"], min_repeat=3, budget=1.0, max_repeat=5)
    import morvane

    if case == "format":
        def run(vm):
            vm.run(FORMAT_VBA, "Main")
            return vm.variables()["s"]

        return best_of(run, morvane.Vm, min_repeat=3, budget=1.0, max_repeat=5)

    vm = morvane.Vm()
    for r in range(1, CELLS + 1):
        vm.set_cell(r, 1, r * 1.37)
    formula = '=TEXT(A{},"#,##0.00")' if case == "text" else "=A{}"
    vm.set_cell_formula_batch({(r, 2): formula.format(r) for r in range(1, CELLS + 1)})

    def recalc(_):
        vm.recalculate()
        got = vm.get_cell(CELLS, 2)
        return got if case == "text" else format(got, ",.2f")

    return best_of(recalc, lambda: None, min_repeat=3, budget=1.0, max_repeat=5)


def child(python, args, pythonpath=None):
    return bench_vm.child(python, args, pythonpath, script=__file__)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--worker":
        seconds, result = worker(sys.argv[2], sys.argv[3])
        print(json.dumps({"seconds": seconds, "result": result}))
        return
    py, version = fastest_python(False)
    print(f"Python side: {py} (CPython {version}); morvane side: {sys.executable}")
    print(f"{'case':40} {'CPython':>12} {'morvane':>12} {'ratio':>6}")
    failed = False
    seconds = {}
    for case, label, count in (("format", 'Format(x, "#,##0.00") in a macro', N),
                               ("text", '=TEXT(A<r>, "#,##0.00") recalculated', CELLS),
                               ("plain", "=A<r> recalculated", CELLS)):
        ref = child(py, ["--worker", "py", "format" if case == "format" else "text"])
        got = child(sys.executable, ["--worker", "vba", case], os.environ.get("PYTHONPATH"))
        seconds[case] = (ref["seconds"], got["seconds"])
        if got["result"] != ref["result"]:
            failed = True
            print(f"  result mismatch: morvane {got['result']!r}, Python {ref['result']!r}")
        print(f"{label:40} {ref['seconds'] / count * 1e9:9.1f} ns {got['seconds'] / count * 1e9:9.1f} ns "
              f"{got['seconds'] / ref['seconds']:6.2f}", flush=True)
    own = seconds["text"][1] - seconds["plain"][1]
    print(f"{'TEXT own share (difference of the two)':40} {seconds['text'][0] / CELLS * 1e9:9.1f} ns "
          f"{own / CELLS * 1e9:9.1f} ns {own / seconds['text'][0]:6.2f}")
    if failed:
        sys.exit(1)


if __name__ == "__main__":
    main()
