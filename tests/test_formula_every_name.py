"""Every worksheet function name, called with a few awkward argument lists,
ends quickly with a value, an error value or a clear failure.

The calls run in a child process that reports each call before making it, so a
call that never returns (or crashes the process) fails the test by name
instead of hanging or ending the test run.
"""
import json
import pathlib
import re
import subprocess
import sys

from vmhelp import SANITIZED

ROOT = pathlib.Path(__file__).resolve().parent.parent


def function_names():
    """The engine's list of worksheet function names, read from its source."""
    source = (ROOT / "src" / "formula" / "eval.cpp").read_text()
    table = re.search(r"kKnownNames\[\] = \{(.*?)\};", source, re.S).group(1)
    return re.findall(r'"([A-Z0-9.]+)"', table)


# One argument each: nothing, small numbers, a blank cell, a text, an error
# value, a huge number and a one-column range; each alone, twice and three times.
SINGLE = ["0", "1", "-1", "Z99", '"abc"', "NA()", "1" + "0" * 300, "A1:A6"]


def argument_lists():
    yield ""
    for arg in SINGLE:
        for times in (1, 2, 3):
            yield ", ".join([arg] * times)


CHILD = r'''
import json, sys, time, morvane
calls = json.loads(sys.stdin.read())
vm = morvane.Vm()
for row, value in enumerate([1, 2.5, "abc", True, None, -7], start=1):
    if value is not None:
        vm.set_cell(row, 1, value)
vm.set_cell_formula(5, 1, "=NA()")
for formula in calls:
    print("start " + formula, flush=True)
    began = time.monotonic()
    try:
        vm.set_cell_formula(20, 20, formula)
        vm.get_cell(20, 20)
        outcome = "value"
    except ValueError as e:
        outcome = "failure" if str(e).strip() else "empty message"
    except BaseException as e:
        outcome = "unexpected " + type(e).__name__ + ": " + str(e)
    print(json.dumps([formula, outcome, time.monotonic() - began]), flush=True)
print("done", flush=True)
'''


def test_the_list_holds_every_name():
    names = function_names()
    assert len(names) == 217 and len(set(names)) == 217


def test_every_name_with_awkward_arguments_ends_quickly():
    calls = [f"={name}({args})" for name in function_names() for args in argument_lists()]
    slowest_allowed = 20.0 if SANITIZED else 2.0
    try:
        done = subprocess.run([sys.executable, "-c", CHILD], input=json.dumps(calls), capture_output=True,
                              text=True, timeout=600 if SANITIZED else 120)
        out, code, err = done.stdout, done.returncode, done.stderr
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
        code, err = "timeout", ""
    lines = out.splitlines()
    started = [line[len("start "):] for line in lines if line.startswith("start ")]
    assert code == 0 and lines and lines[-1] == "done", (
        f"child ended with {code} during {started[-1] if started else None}: {err[-2000:]}")
    results = [json.loads(line) for line in lines if line.startswith("[")]
    assert len(results) == len(calls)
    bad = [(f, outcome) for f, outcome, _ in results if outcome not in ("value", "failure")]
    assert bad == []
    slow = [(f, round(seconds, 2)) for f, _, seconds in results if seconds > slowest_allowed]
    assert slow == []
