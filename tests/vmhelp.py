"""Small helpers shared by the interpreter tests."""
import os

import morvane

# The sanitizer pass runs a debug build many times slower: tests that bound
# time or stack use keep their checks but relax the bounds there.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


# What the documentation of run_macro and Vm.run says a failed run raises.
RUN_ERRORS_DOC = (
    "Raises\n------\n"
    "SyntaxError\n    The source does not parse; ``lineno``, ``offset`` and ``text``\n"
    "    point at the place.\n"
    "RuntimeError\n    The run failed; where the failing statement is known, its\n"
    "    ``procedure`` (lower case) and ``lineno`` are attributes of the error.")


def sub(body, name="Main"):
    """A module holding one Sub with the given body lines."""
    return f"Sub {name}()\n{body}\nEnd Sub\n"


def run(code, macro="Main", vm=None, **kwargs):
    vm = vm or morvane.Vm(**kwargs)
    vm.run(code, macro)
    return vm


def run_body(body, **kwargs):
    return run(sub(body), **kwargs)


def sheet(cells, **kwargs):
    """A Vm whose active sheet holds `cells` ({(row, column): value})."""
    vm = morvane.Vm(**kwargs)
    for (r, c), v in cells.items():
        vm.set_cell(r, c, v)
    return vm


def with_sheets(*names, vm=None):
    """A Vm (or `vm`) that also holds the named sheets, its first sheet still active."""
    vm = vm or morvane.Vm()
    active = vm.active_sheet()
    for name in names:
        vm.set_sheet(name)
    vm.set_sheet(active)
    return vm


def same(got, want):
    """Equal values of the same types all the way down (1, 1.0 and True differ)."""
    if type(got) is not type(want):
        return False
    if isinstance(want, list):
        return len(got) == len(want) and all(same(g, w) for g, w in zip(got, want))
    if isinstance(want, dict):
        return got.keys() == want.keys() and all(same(got[k], want[k]) for k in want)
    if isinstance(want, float) and want != want:
        return got != got
    return got == want


def value_of(expr, setup="", vm=None):
    """The value of one VBA expression, after the setup lines, in `vm` or a fresh Vm."""
    vm = run(sub(f"{setup}\nx = {expr}"), vm=vm)
    return vm.variables()["x"]


# In an expected-variables table: the variable must not exist.
MISSING = object()


def check(vm, expected):
    """The variables `vm` left behind hold the expected values (types compared)."""
    got = vm.variables()
    for name, want in expected.items():
        if want is MISSING:
            assert name not in got, name
        else:
            assert name in got, name
            assert same(got[name], want), f"{name}: {got[name]!r} != {want!r}"


MACROS_IN_CHILD = r'''
import json, sys, morvane
for code in json.loads(sys.stdin.read()):
    print("start", flush=True)
    vm = morvane.Vm()
    try:
        vm.run(code, "Main")
        error = None
    except Exception as e:
        error = type(e).__name__ + ": " + str(e)
    # Reading every sheet back is where a broken workbook shows.
    sheets = {name: sorted(vm.get_sheet(name).items()) for name in vm.sheet_names()}
    print(repr((error, sheets, sorted(vm.variables().items()))), flush=True)
print("done", flush=True)
'''


def outcomes_in_child(codes, timeout=60):
    """Runs Main of each module in a fresh Vm of one child process, so that a
    crash or a hang fails the test (naming the module) instead of ending the
    run. Per module: the repr of (error or None, {sheet: sorted cells},
    sorted variables)."""
    import json
    import subprocess
    import sys
    try:
        done = subprocess.run([sys.executable, "-c", MACROS_IN_CHILD], input=json.dumps(codes), capture_output=True,
                              text=True, timeout=timeout * (10 if SANITIZED else 1))
        out, status, err = done.stdout, done.returncode, done.stderr
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
        status, err = "timeout", ""
    lines = out.splitlines()
    results = [line for line in lines if line not in ("start", "done")]
    assert status == 0 and lines and lines[-1] == "done", (
        f"child ended with {status} in:\n{codes[len(results)] if len(results) < len(codes) else None}\n{err[-3000:]}")
    return results
