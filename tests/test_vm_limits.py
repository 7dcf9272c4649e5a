"""Runaway macros and hostile arguments end in ordinary exceptions, never in
a crash or an exhausted process."""
import signal

import pytest

import morvane
from vmhelp import run_body


def test_doubling_text_runs_out_of_string_space():
    vm = morvane.Vm()
    with pytest.raises(RuntimeError, match="(?m)^Out of string space$"):
        vm.run("Sub Main()\ns = \"x\"\nFor i = 1 To 40\n s = s + s\nNext\nEnd Sub\n", "Main")
    # The failure is an ordinary one: the text built so far stays.
    assert vm.variables()["i"] == 29
    assert len(vm.variables()["s"]) == 1 << 28


def test_out_of_string_space_is_caught_by_on_error():
    # s = s & s appends in place; the limit holds there too.
    vm = run_body("On Error Resume Next\ns = \"x\"\nFor i = 1 To 30\n s = s & s\nNext\ndone = 1")
    assert vm.variables()["done"] == 1
    assert len(vm.variables()["s"]) == 1 << 28


def test_recursion_without_loops_can_be_interrupted():
    # fib(38) by plain recursion runs for seconds without a single loop pass;
    # bounded, so a broken interrupt fails the test instead of hanging it.
    code = ("Function Fib(n)\n If n < 2 Then\n  Fib = n\n Else\n  Fib = Fib(n - 1) + Fib(n - 2)\n End If\n"
            "End Function\nSub Main()\n x = Fib(38)\nEnd Sub\n")

    def handler(signum, frame):
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.02)
    try:
        vm = morvane.Vm()
        with pytest.raises(KeyboardInterrupt):
            vm.run(code, "Main")
        vm.run("Sub Main()\n y = 1\nEnd Sub\n", "Main")  # usable afterwards
        assert vm.variables()["y"] == 1
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


def test_batch_reads_a_dict_subclass_as_the_dict_itself():
    class Sly(dict):
        def items(self):
            raise AssertionError("items() must not be called")

        def __iter__(self):
            raise AssertionError("iteration must not be called")

        def __getitem__(self, key):
            raise AssertionError("lookup must not be called")

    vm = morvane.Vm()
    vm.set_cell(1, 1, 4)
    vm.set_cell_formula_batch(Sly({(1, 2): "=A1*2", (1, 3): "=B1+1"}))
    assert vm.cells() == {(1, 1): 4, (1, 2): 8, (1, 3): 9}
    with pytest.raises(TypeError, match=r"^keys must be \(row, col\) tuples of integers$"):
        vm.set_cell_formula_batch(Sly({(2, 1): "=1", (2 ** 32, 1): "=2", (2, 2): "=3"}))
    assert vm.get_cell(2, 1) is None and vm.get_cell(2, 2) is None
    vm.set_cell(9, 9, 1)  # the object is free again
