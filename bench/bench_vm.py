"""Interpreter benchmark: four macros, each timed beside the same algorithm
in CPython, in one process and one run. Prints each time and the ratio
morvane / CPython (below 1.0 means morvane is faster).

Run: PYTHONPATH=build/dev .venv/bin/python bench/bench_vm.py
"""
import time

import morvane

N = 1_000_000

COUNT_VBA = f"""
Sub Main()
    Dim s As Long
    For i = 1 To {N}
        s = s + i
    Next
End Sub
"""


def count_py():
    s = 0
    for i in range(1, N + 1):
        s = s + i
    return s


MOD_VBA = f"""
Sub Main()
    Dim s As String, n As Long
    For i = 1 To {N}
        If i Mod 3 = 0 Then
            s = s & "a"
        ElseIf i Mod 5 = 0 Then
            s = s & "b"
        Else
            n = n + 1
        End If
    Next
End Sub
"""


def mod_py():
    s = ""
    n = 0
    for i in range(1, N + 1):
        if i % 3 == 0:
            s = s + "a"
        elif i % 5 == 0:
            s = s + "b"
        else:
            n = n + 1
    return s, n


FIB_VBA = """
Function Fib(n)
    If n < 2 Then
        Fib = n
    Else
        Fib = Fib(n - 1) + Fib(n - 2)
    End If
End Function

Sub Main()
    x = Fib(25)
End Sub
"""


def fib_py(n):
    if n < 2:
        return n
    return fib_py(n - 1) + fib_py(n - 2)


CELLS_VBA = f"""
Sub Main()
    For i = 1 To {N}
        Cells(i, 1).Value = i
    Next
End Sub
"""


def cells_py():
    d = {}
    for i in range(1, N + 1):
        d[(i, 1)] = i
    return d


def best_of(fn, repeat=5):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def run_vba(code):
    def go():
        morvane.Vm().run(code, "Main")
    return go


def check_results():
    vm = morvane.Vm()
    vm.run(COUNT_VBA, "Main")
    assert vm.variables()["s"] == count_py()
    vm = morvane.Vm()
    vm.run(MOD_VBA, "Main")
    s, n = mod_py()
    assert vm.variables()["s"] == s and vm.variables()["n"] == n
    vm = morvane.Vm()
    vm.run(FIB_VBA, "Main")
    assert vm.variables()["x"] == fib_py(25)
    vm = morvane.Vm()
    vm.run(CELLS_VBA, "Main")
    assert vm.get_cell(N, 1) == N


def main():
    check_results()
    cases = [
        ("counting loop (1e6)", run_vba(COUNT_VBA), count_py),
        ("Mod/If/concat loop (1e6)", run_vba(MOD_VBA), mod_py),
        ("recursive fib(25)", run_vba(FIB_VBA), lambda: fib_py(25)),
        ("cell writes (1e6)", run_vba(CELLS_VBA), cells_py),
    ]
    print(f"{'case':28} {'morvane s':>10} {'CPython s':>10} {'ratio':>7}")
    for name, vba, py in cases:
        t_vba = best_of(vba)
        t_py = best_of(py)
        print(f"{name:28} {t_vba:10.4f} {t_py:10.4f} {t_vba / t_py:7.2f}")


if __name__ == "__main__":
    main()
