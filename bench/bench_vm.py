"""Interpreter benchmark: each macro beside the same algorithm in plain
Python, timed in child processes in one run.

The Python side runs under the fastest CPython found on the machine (each
candidate times a short calibration loop; the winner is named with its
version), so the ratios compare against an optimised interpreter rather
than whichever one happens to run this script. The morvane side runs under
this script's interpreter with the morvane build it imports, or, with
--build DIR (repeatable), once per build directory: that puts a baseline
and a new build side by side in the same run.

Prints, per case, the best time of each side, the time per iteration and
the ratio morvane / CPython (below 1.0 means morvane is faster).

Run: PYTHONPATH=build/dev .venv/bin/python bench/bench_vm.py
     .venv/bin/python bench/bench_vm.py --build /tmp/base --build build/dev
"""
import argparse
import glob
import json
import os
import subprocess
import sys
import time

N = 1_000_000
CELLS_READ = 100_000
FIB_N = 25


def fib_calls(n):
    """Calls fib(n) makes, itself included."""
    a, b = 1, 1
    for _ in range(n - 1):
        a, b = b, a + b + 1
    return b


def fib_case(label, header):
    """The recursive Fib case, its Function declared by `header`."""
    return {
        "name": f"recursive fib({FIB_N}){label} (per call)",
        "iters": fib_calls(FIB_N),
        "vba": f"""
{header}
    If n < 2 Then
        Fib = n
    Else
        Fib = Fib(n - 1) + Fib(n - 2)
    End If
End Function

Sub Main()
    x = Fib({FIB_N})
End Sub
""",
        "py": f"""
def setup():
    return None

def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)

def run(_):
    return fib({FIB_N})
""",
        "check": "vars:x",
    }


# Each case: its label, the number of iterations its per-iteration figure
# divides by, the macro, the Python source (defining setup() and run(state),
# run returning something to compare), and how to read the macro's result
# from the Vm for that comparison.
CASES = [
    {
        "name": "counting loop",
        "iters": N,
        "vba": f"""
Sub Main()
    ' The sum passes the range of a Long, which would overflow.
    Dim s As LongLong
    For i = 1 To {N}
        s = s + i
    Next
End Sub
""",
        "py": f"""
def setup():
    return None

def run(_):
    s = 0
    for i in range(1, {N} + 1):
        s = s + i
    return s
""",
        "check": "vars:s",
    },
    {
        "name": "Mod/If/concat + Len/Left/Mid/UCase",
        "iters": N,
        "vba": f"""
Sub Main()
    Dim s As String, n As Long, k As Long
    For i = 1 To {N}
        If i Mod 3 = 0 Then
            s = s & "a"
        ElseIf i Mod 5 = 0 Then
            w = UCase(Mid("abcdefgh", 1 + i Mod 7, 2))
            k = k + Len(w)
        Else
            n = n + Len(Left("morvane", 1 + i Mod 5))
        End If
    Next
    t = Len(s) & "/" & n & "/" & k & "/" & w
End Sub
""",
        "py": f"""
def setup():
    return None

def run(_):
    s = ""
    n = 0
    k = 0
    w = None
    for i in range(1, {N} + 1):
        if i % 3 == 0:
            s = s + "a"
        elif i % 5 == 0:
            w = "abcdefgh"[i % 7:i % 7 + 2].upper()
            k = k + len(w)
        else:
            n = n + len("morvane"[:1 + i % 5])
    return f"{{len(s)}}/{{n}}/{{k}}/{{w}}"
""",
        "check": "vars:t",
    },
    fib_case("", "Function Fib(n)"),
    fib_case(", n As Long", "Function Fib(n As Long) As Long"),
    {
        "name": "3-argument Function calls",
        "iters": N,
        "vba": f"""
Function Mix(a, b, c)
    Mix = a * b + c
End Function

Sub Main()
    s = 0
    For i = 1 To {N}
        s = s + Mix(i, 3, 7)
    Next
End Sub
""",
        "py": f"""
def setup():
    return None

def mix(a, b, c):
    return a * b + c

def run(_):
    s = 0
    for i in range(1, {N} + 1):
        s = s + mix(i, 3, 7)
    return s
""",
        "check": "vars:s",
    },
    {
        "name": "cell writes (dict in Python)",
        "iters": N,
        "vba": f"""
Sub Main()
    For i = 1 To {N}
        Cells(i, 1).Value = i
    Next
End Sub
""",
        "py": f"""
def setup():
    return None

def run(_):
    d = {{}}
    for i in range(1, {N} + 1):
        d[(i, 1)] = i
    return [len(d), d[({N}, 1)]]
""",
        "check": f"cells:{N}",
    },
    {
        "name": "read, test, write 2nd column",
        "iters": CELLS_READ,
        "fill": CELLS_READ,
        "vba": f"""
Sub Main()
    For i = 1 To {CELLS_READ}
        v = Cells(i, 1).Value
        If v Mod 3 = 0 Then
            Cells(i, 2).Value = v * 2
        Else
            Cells(i, 2).Value = "x"
        End If
    Next
End Sub
""",
        "py": f"""
def setup():
    return {{(i, 1): i * 7 for i in range(1, {CELLS_READ} + 1)}}

def run(d):
    for i in range(1, {CELLS_READ} + 1):
        v = d[(i, 1)]
        if v % 3 == 0:
            d[(i, 2)] = v * 2
        else:
            d[(i, 2)] = "x"
    return [len(d), d[({CELLS_READ}, 2)], d[(3, 2)]]
""",
        "check": f"cells:{CELLS_READ}:2",
    },
    {
        "name": "mixed text loop: & = Len",
        "iters": N,
        "vba": f"""
Sub Main()
    Dim i, c, t, u
    c = 0
    u = ""
    For i = 1 To {N}
        t = "k" & (i Mod 7)
        If i Mod 3 = 0 Then
            c = c + 1
        ElseIf t = "k0" Then
            c = c + 2
        Else
            u = u & t
            If Len(u) > 12 Then
                c = c + Len(u)
                u = ""
            End If
        End If
    Next i
    Cells(1, 1).Value = c
    Cells(1, 2).Value = u
End Sub
""",
        "py": f"""
def setup():
    return None

def run(_):
    c = 0
    u = ""
    for i in range(1, {N} + 1):
        t = "k" + str(i % 7)
        if i % 3 == 0:
            c = c + 1
        elif t == "k0":
            c = c + 2
        else:
            u = u + t
            if len(u) > 12:
                c = c + len(u)
                u = ""
    return [c, u]
""",
        "check": "row:1",
    },
]


def best_of(run, setup, min_repeat=5, budget=1.5, max_repeat=25):
    """Best time of run(setup()) over a few repetitions; setup is not timed."""
    best = float("inf")
    result = None
    spent = 0.0
    count = 0
    while count < min_repeat or (spent < budget and count < max_repeat):
        state = setup()
        t0 = time.perf_counter()
        result = run(state)
        elapsed = time.perf_counter() - t0
        best = min(best, elapsed)
        spent += elapsed
        count += 1
    return best, result


# ------------------------------------------------------------ child side

def worker_py(case):
    scope = {}
    exec(compile(case["py"], case["name"], "exec"), scope)
    return best_of(scope["run"], scope["setup"])


def worker_vba(case):
    import morvane

    def setup():
        vm = morvane.Vm()
        for r in range(1, case.get("fill", 0) + 1):
            vm.set_cell(r, 1, r * 7)
        return vm

    def run(vm):
        vm.run(case["vba"], "Main")
        return vm

    seconds, vm = best_of(run, setup)
    kind, _, arg = case["check"].partition(":")
    if kind == "vars":
        result = vm.variables()[arg]
    elif kind == "row":
        result = [vm.get_cell(int(arg), 1), vm.get_cell(int(arg), 2)]
    elif ":" in arg:
        n = int(arg.split(":")[0])
        result = [len(vm.cells()), vm.get_cell(n, 2), vm.get_cell(3, 2)]
    else:
        n = int(arg)
        result = [len(vm.cells()), vm.get_cell(n, 1)]
    return seconds, result


def worker_main(side, index):
    case = CASES[index]
    seconds, result = (worker_py if side == "py" else worker_vba)(case)
    print(json.dumps({"seconds": seconds, "result": result}))


# ------------------------------------------------------------ parent side

def child(python, args, pythonpath=None, script=__file__):
    """Runs `script` (this file by default) under `python` and returns the
    JSON its last line prints."""
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    if pythonpath:
        env["PYTHONPATH"] = pythonpath
    # A clean environment for the plain-Python side: no user site, no
    # startup file.
    cmd = [python, "-s", os.path.abspath(script)] + args
    done = subprocess.run(cmd, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed:\n{done.stderr}")
    return json.loads(done.stdout.strip().splitlines()[-1])


CALIBRATION = """
import time, sys
def loop():
    s = 0
    for i in range(300000):
        if i % 3 == 0:
            s = s + i
    return s
best = float("inf")
for _ in range(15):
    t0 = time.perf_counter()
    loop()
    best = min(best, time.perf_counter() - t0)
print(best, "%d.%d.%d" % sys.version_info[:3])
"""


def candidates():
    found = ["/usr/bin/python3", sys.executable]
    found += sorted(glob.glob("/usr/bin/python3.[0-9]*"))
    found += sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.*/bin/python3")))
    seen, out = set(), []
    for path in found:
        if not os.path.isfile(path) or not os.access(path, os.X_OK) or path.endswith("-config"):
            continue
        real = os.path.realpath(path)
        if real not in seen:
            seen.add(real)
            out.append(path)
    return out


def fastest_python(verbose):
    timed = []
    for path in candidates():
        try:
            out = subprocess.run([path, "-s", "-c", CALIBRATION], capture_output=True, text=True,
                                 timeout=60, check=True).stdout.split()
        except (OSError, subprocess.SubprocessError):
            continue
        timed.append((float(out[0]), path, out[1]))
        if verbose:
            print(f"  calibration {path} ({out[1]}): {float(out[0]) * 1e3:.1f} ms")
    timed.sort()
    return timed[0][1], timed[0][2]


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--worker":
        worker_main(sys.argv[2], int(sys.argv[3]))
        return
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", action="append", default=[],
                        help="a morvane build directory (repeatable); default: the imported morvane")
    parser.add_argument("--python", help="the CPython for the Python side (default: the fastest found)")
    parser.add_argument("--case", action="append", type=int, help="run only these case numbers (0-based)")
    parser.add_argument("-v", "--verbose", action="store_true", help="show the calibration times")
    args = parser.parse_args()

    if args.python:
        py, version = args.python, subprocess.run(
            [args.python, "-c", "import sys; print('%d.%d.%d' % sys.version_info[:3])"],
            capture_output=True, text=True, check=True).stdout.strip()
    else:
        py, version = fastest_python(args.verbose)
    builds = [os.path.abspath(b) for b in args.build] or [os.environ.get("PYTHONPATH", "")]
    print(f"Python side: {py} (CPython {version}); morvane side: {sys.executable}")
    labels = [(b if os.path.relpath(b).startswith("..") else os.path.relpath(b)) if b else "morvane" for b in builds]
    if len(builds) > 1:
        print("builds: " + ", ".join(f"[{i}] {label}" for i, label in enumerate(labels)))

    header = f"{'case':38} {'CPython':>14}"
    for i in range(len(builds)):
        tag = f"[{i}]" if len(builds) > 1 else "morvane"
        header += f" {tag + ' ns/it':>14} {'ratio':>6}"
    print(header)
    failed = False
    for index, case in enumerate(CASES):
        if args.case and index not in args.case:
            continue
        ref = child(py, ["--worker", "py", str(index)])
        ns_py = ref["seconds"] / case["iters"] * 1e9
        line = f"{case['name']:38} {ns_py:11.1f} ns"
        for build in builds:
            got = child(sys.executable, ["--worker", "vba", str(index)], build)
            if got["result"] != ref["result"]:
                failed = True
                print(f"  result mismatch: morvane {got['result']!r}, Python {ref['result']!r}")
            line += f" {got['seconds'] / case['iters'] * 1e9:11.1f} ns {got['seconds'] / ref['seconds']:6.2f}"
        print(line, flush=True)
    if failed:
        sys.exit(1)


if __name__ == "__main__":
    main()
