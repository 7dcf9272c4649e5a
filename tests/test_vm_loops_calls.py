"""Loops, arithmetic and calls at the edges where a numeric shortcut could
part from the general rules: counters leaving the exact-integer range,
Integer Mod and backslash, products beyond 2^53, Function arguments that
are not all numbers, built-ins hidden by arrays, cell reads inside
arithmetic. Expected values are VBA's, computed with the float rule."""
import pytest

import morvane

from vmhelp import run, run_body, same, sub, value_of

P52 = 2**52


def test_counter_leaves_the_exact_integer_range():
    # 2^52, 2^53, then 1.5 * 2^53: the last pass runs beyond 2^53.
    vm = run_body(f"n = 0\nFor i = {P52} To {3 * P52} Step {P52}\n n = n + 1\n last = i\nNext")
    got = vm.variables()
    assert got["n"] == 3 and same(got["last"], 3 * P52) and same(got["i"], 4 * P52)


def test_counter_beyond_two_to_the_53_follows_the_float_rule():
    # 2^53 + 1 is no double: each step from 2^53 by 1 gives 2^53 again, so
    # the loop below would never end; a bounded pass count shows the value.
    vm = run_body(f"n = 0\nFor i = {2**53 - 2} To {2**53 + 4}\n n = n + 1\n If n = 5 Then Exit For\nNext")
    got = vm.variables()
    assert got["n"] == 5 and same(got["i"], 2**53)


def test_whole_counter_with_float_step_and_bounds():
    vm = run_body("s = \"\"\nFor i = -1 To 1.5 Step 0.75\n s = s & i & \" \"\nNext")
    assert vm.variables()["s"] == "-1 -0.25 0.5 1.25 "


# Whole counters with a fractional or far end, up and down, over a body of
# one statement and of two: the passes and the counter after the loop are
# those the float comparison with the end gives.
@pytest.mark.parametrize("start, end, step, passes, after", [
    (1, 3.5, 1, 3, 4), (1, -3.5, 1, 0, 1), (-1, -3.5, -1, 3, -4), (5, 2.5, -2, 2, 1), (0, 0, 1, 1, 1),
    (0, -0.5, 1, 0, 0), (0, 0.5, -1, 0, 0), (0, -0.5, -1, 1, -1), (1, "-(10 ^ 300)", 1, 0, 1),
    (-1, "10 ^ 300", -1, 0, -1), (-1, "-(2 ^ 52)", -(2**51), 2, -(2**52) - 1), (3, 3, -1, 1, 2),
])
@pytest.mark.parametrize("body", ["n = n + 1", "n = n + 1\n m = i"])
def test_whole_counters_stop_where_the_float_comparison_does(start, end, step, passes, after, body):
    vm = run_body(f"n = 0\nFor i = {start} To {end} Step {step}\n {body}\nNext")
    got = vm.variables()
    assert got["n"] == passes and got["i"] == after


@pytest.mark.parametrize("expr, want", [
    ("-7 Mod 2", -1),
    ("7 Mod -2", 1),
    ("-7 \\ 2", -3),
    ("5.5 Mod 2", 0),
    ("2.5 \\ 1", 2),
    ("9007199254740993 Mod 2", 0),   # the dividend rounds to 2^53 first
    ("94906267 * 94906267", int(float(94906267) ** 2)),
    ("3037000500 * -3037000500", -float(3037000500) ** 2),   # beyond 2^63: a Float
    ("-3 * 0", 0),
    ("9007199254740992 + 1", 2**53),
])
def test_integer_shortcuts_agree_with_the_float_rule(expr, want):
    assert same(value_of(expr), want)


@pytest.mark.parametrize("expr, want", [
    ("i Mod 3 + i \\ 2 * 4 - k", 1 + 7 // 8 - 4),   # * binds before \ and \ before Mod
    ("k * i - 2", 26),
])
def test_loop_arithmetic_on_variables(expr, want):
    vm = run_body(f"k = 4\nFor i = 7 To 7\n x = {expr}\nNext")
    assert same(vm.variables()["x"], want)


# A sum of two variables, untyped and into a LongLong, past the range where
# integers stay exact: the float rule decides, as for constants.
@pytest.mark.parametrize("decl", ["", "Dim x As LongLong\n"])
@pytest.mark.parametrize("a, b, want", [
    (-5, 3, -2), (2**53, 1, 2**53), (2**53, -1, 2**53 - 1), (2**53 + 2, 0, 2**53 + 2),
])
def test_sum_of_two_variables(decl, a, b, want):
    vm = run_body(f"{decl}a = {a}\nb = {b}\nx = a + b")
    assert vm.variables()["x"] == want


MIX = """
Function Join3(a, b, c)
    Join3 = a & "|" & b & "|" & c
End Function

Function Twice(n)
    Twice = n * 2
End Function

Sub Main()
    n = "kept"
    t = 0
    x = Join3(1, "two", 3.5)
    y = Join3(Twice(2), Twice(1.25), True)
    z = Twice("4")
    For i = 1 To 3
        t = t + Twice(i)
    Next
End Sub
"""


def test_function_arguments_of_every_kind():
    got = run(MIX).variables()
    assert got["x"] == "1|two|3.5"
    assert got["y"] == "4|2.5|True"
    assert same(got["z"], 8)
    assert same(got["t"], 12)
    # The parameter n is put back after each call.
    assert got["n"] == "kept"


def test_failing_argument_ends_the_statement_before_the_call():
    code = ("Function F(a, b)\n calls = calls + 1\n F = a + b\nEnd Function\n"
            "Sub Main()\n calls = 0\n On Error Resume Next\n x = F(1, 1 / 0)\n y = F(1, \"a\" + 1)\nEnd Sub")
    got = run(code).variables()
    assert got["calls"] == 0 and "x" not in got and "y" not in got


def test_recursive_function_restores_its_parameter():
    code = ("Function Fib(n)\n If n < 2 Then\n  Fib = n\n Else\n  Fib = Fib(n - 1) + Fib(n - 2)\n End If\nEnd Function\n"
            "Sub Main()\n n = 7\n fib = \"caller\"\n x = Fib(20)\nEnd Sub")
    got = run(code).variables()
    assert same(got["x"], 6765) and same(got["n"], 7) and got["fib"] == "caller"


def test_array_hides_a_built_in_inside_a_loop():
    # The same expression calls Len while len is no array, then indexes it.
    vm = run_body("s = \"\"\nFor i = 1 To 2\n s = s & Len(0) & \",\"\n If i = 1 Then\n  ReDim len(1)\n  len(0) = \"el\"\n End If\nNext")
    assert vm.variables()["s"] == "1,el,"


def test_append_in_place_and_its_fallbacks():
    vm = run_body("s = \"ab\"\ns = s & s\ns = s & 5\ns = s & 2.5\nt = 1\nt = t & \"x\"\nu = \"\"\nFor i = 1 To 3\n u = u & i\nNext")
    got = vm.variables()
    assert got["s"] == "abab52.5" and got["t"] == "1x" and got["u"] == "123"


@pytest.mark.parametrize("value, want", [
    (None, 1),
    (2, 3),
    (2.5, 3.5),
    ("5", 6),
])
def test_cell_reads_in_arithmetic(value, want):
    vm = morvane.Vm()
    if value is not None:
        vm.set_cell(1, 1, value)
    run("Sub Main()\nx = Cells(1, 1).Value + 1\nEnd Sub", vm=vm)
    assert same(vm.variables()["x"], want)


def test_cell_read_of_text_fails_in_arithmetic():
    vm = morvane.Vm()
    vm.set_cell(2, 1, "a")
    with pytest.raises(RuntimeError, match="Cannot convert 'a' to number"):
        run("Sub Main()\nFor i = 1 To 2\n x = Cells(i, 1).Value * 2\nNext\nEnd Sub", vm=vm)
    assert same(vm.variables()["x"], 0)


def test_resume_next_inside_a_loop_and_an_exit_from_a_called_function():
    code = ("Function FirstOver(limit)\n For k = 1 To 100\n  If k * k > limit Then\n   FirstOver = k\n   Exit Function\n  End If\n Next\nEnd Function\n"
            "Sub Main()\n On Error Resume Next\n n = 0\n For i = 1 To 4\n  x = 1 / (i - 2)\n  n = n + 1\n  r = FirstOver(50)\n Next\nEnd Sub")
    got = run(code).variables()
    assert got["n"] == 4 and same(got["r"], 8) and same(got["i"], 5)


@pytest.mark.parametrize("op, want", [(">", 0), (">=", 1), ("<", 0), ("<=", 1), ("=", 0), ("<>", 1)])
def test_conditions_on_integers_beyond_two_to_the_53(op, want):
    # Ordering goes through the doubles, where both are 2^53; equality of
    # two Integers is exact.
    vm = run_body(f"a = 9007199254740993\nb = 9007199254740992\nIf a {op} b Then\n x = 1\nElse\n x = 0\nEnd If")
    assert same(vm.variables()["x"], want)


def test_an_argument_that_calls_procedures_while_the_argument_stack_grows():
    # Each G call pushes F's arguments while the outer F is still collecting
    # its own: the value must land in its entry, wherever the stack moved.
    code = (
        "Function F(a, b)\n    F = a & b\nEnd Function\n"
        "Function G(x)\n    G = F(\"p\", x)\nEnd Function\n"
        + sub('r = F("a", G(G(G(G(G(G("z")))))))')
    )
    assert run(code).variables()["r"] == "a" + "p" * 6 + "z"


def test_one_statement_loop_bodies_exit_and_recover():
    # Exit For from the one statement of a body, and a failure in it that
    # Resume Next passes over, the loop going on.
    vm = run_body("For i = 1 To 10\n If i = 3 Then Exit For\nNext\n"
                  "On Error Resume Next\nn = 0\nFor j = 1 To 3\n n = n + 1 / (j - 2)\nNext\nk = Err.Number")
    got = vm.variables()
    assert got["i"] == 3 and got["j"] == 4 and got["n"] == 0 and got["k"] == 11
