"""Ctrl-C stops any macro or formula within a second, and formulas have bounded work."""
import signal
import time

import pytest

from morvane import Vm
from vmhelp import SANITIZED, sub

# About 25 million LAMBDA calls: several seconds if nothing stops it.
SLOW_FORMULA = "=SUM(MAP(A1:A5000, LAMBDA(x, REDUCE(0, A1:A5000, LAMBDA(a, y, a + y)))))"


def column(n):
    vm = Vm()
    for r in range(1, n + 1):
        vm.set_cell(r, 1, r)
    return vm


def stopped_within_a_second(call):
    """Ctrl-C 0.1 s into `call`: it must raise KeyboardInterrupt within a second."""
    def handler(signum, frame):
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.1)
    begun = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert time.monotonic() - begun < (10 if SANITIZED else 1.1)


@pytest.mark.parametrize("what", ["set_cell_formula", "recalculate", "macro"])
def test_ctrl_c_stops_a_long_formula(what):
    vm = column(5000)
    if what == "set_cell_formula":
        stopped_within_a_second(lambda: vm.set_cell_formula(1, 2, SLOW_FORMULA))
    elif what == "recalculate":
        vm.set_cell_formula(1, 2, "=IF(C1 = 1, " + SLOW_FORMULA[1:] + ", 0)")  # quick while C1 is empty
        vm.set_cell(1, 3, 1)
        stopped_within_a_second(vm.recalculate)
    else:
        code = sub('On Error Resume Next\nRange("B1").Formula = "' + SLOW_FORMULA.replace('"', '""') + '"')
        stopped_within_a_second(lambda: vm.run(code, "Main"))
    vm.set_cell(1, 1, 1)  # usable afterwards


def test_ctrl_c_stops_ordering_a_long_cycle_of_formulas():
    # Each formula reads the ones below it and none reads a cell when it runs:
    # putting them in order is all the work, and it must reach the check too.
    code = sub('Range("G11:G8000").Formula = "=IF(1, 0, $G$11:I14)"')
    stopped_within_a_second(lambda: Vm().run(code, "Main"))


def test_an_on_error_goto_loop_stops_on_ctrl_c():
    stopped_within_a_second(lambda: Vm().run(sub("On Error GoTo h\nx = 1 / 0\nExit Sub\nh:\nResume"), "Main"))


@pytest.mark.parametrize("formulas, message", [
    # Each call returns the 20,000 elements of B1: the arrays built add up.
    ({(1, 2): "=MAP(A1:A20000, LAMBDA(x, x))", (1, 3): "=MAP(A1:A20000, LAMBDA(x, B1))"},
     "Formula builds too many array elements; maximum is 10,000,000"),
    # Reading a named array visits its elements each time.
    ({(1, 3): "=LET(b, MAP(A1:A100000, LAMBDA(x, x)), SUM(MAP(A1:A100000, LAMBDA(x, SUM(b)))))"},
     "Formula reads too many cells; maximum is 100,000,000"),
])
def test_formula_work_is_bounded(formulas, message):
    vm = column(100000)
    begun = time.monotonic()
    with pytest.raises(ValueError, match="^" + message.replace("(", r"\(").replace(")", r"\)") + "$"):
        for (row, col), text in formulas.items():
            vm.set_cell_formula(row, col, text)
    assert time.monotonic() - begun < (120 if SANITIZED else 10)


@pytest.mark.parametrize("body", [
    # Each pass copies five million elements: 256 passes would take many seconds.
    "Dim a(5000000), b\nDo\n    b = a\nLoop",
    # Each pass writes two million cells.
    'Do\n    Range("A1:B1000000").Value = 1\nLoop',
    # Each pass copies a text of 128 MiB (a fuzz finding: with recursion and
    # On Error Resume Next, passes like these never reached the check).
    's = "x"\nFor i = 1 To 27\n    s = s & s\nNext\nDo\n    t = s\nLoop',
])
def test_ctrl_c_stops_a_loop_of_long_statements(body):
    stopped_within_a_second(lambda: Vm().run(sub(body), "Main"))
