"""Function calls: parameters restored, results, recursion limits, Optional."""
import re

import pytest

import morvane


CASES = [
    pytest.param(
        """Function F(n)
    n = n * 2
    F = n
End Function
Sub Main()
    n = 5
    x = F(3)
    y = n
End Sub
""",
        'vars', {'n': 5, 'x': 6, 'y': 5},
        id='param_restore',
    ),
    pytest.param(
        """Function F(n)
    F = n & "!"
End Function
Sub Main()
    n = "keep"
    x = F(3)
    y = n
    z = F("a") & F(2.5)
End Sub
""",
        'vars', {'n': 'keep', 'x': '3!', 'y': 'keep', 'z': 'a!2.5!'},
        id='param_restore_str',
    ),
    pytest.param(
        """Function G(n)
    If n > 0 Then G = "s" & n
End Function
Sub Main()
    a = G(1) + 1
    b = G(0)
    c = G(2) & G(-1)
End Sub
""",
        'error', "Cannot convert 's1' to number",
        id='result_nonnum',
    ),
    pytest.param(
        """Function D(n)
    D = D(n + 1)
End Function
Sub Main()
    x = D(1)
End Sub
""",
        'error', 'Out of stack space',
        id='deep',
    ),
    pytest.param(
        """Function D(n)
    D = D(n + 1)
End Function
Sub Main()
    On Error Resume Next
    x = D(1)
    y = 7
End Sub
""",
        'vars', {'y': 7},
        id='deep_resume',
    ),
    pytest.param(
        """Function E(n)
    E = 1
    If n > 2 Then Exit Function
    E = E(n + 1) + 1
End Function
Sub Main()
    x = E(0)
End Sub
""",
        'vars', {'x': 4},
        id='exitfn',
    ),
    pytest.param(
        """Function H(n)
    H = 1 / n
End Function
Sub Main()
    x = H(0) + 1
End Sub
""",
        'error', 'Division by zero',
        id='div0',
    ),
    pytest.param(
        """Function O(a, Optional b = 10)
    O = a + b
End Function
Sub Main()
    x = O(1) + O(1, 2)
End Sub
""",
        'vars', {'x': 14},
        id='optional',
    ),
    pytest.param(
        """Function F(n)
    F = 10
    F = F + n
End Function
Sub Main()
    F = 3
    x = F(1) * 2
    y = F
End Sub
""",
        'vars', {'f': 3, 'x': 22, 'y': 3},
        id='callerfn',
    ),
    pytest.param(
        """Function F(n)
    F = n / 2
End Function
Sub Main()
    x = F(3) + F(4)
    y = F(1) < F(2)
End Sub
""",
        'vars', {'x': 3.5, 'y': True},
        id='float',
    ),
    pytest.param(
        """Function F(n)
    F = n
End Function
Sub Main()
    x = (F(2) > F(1))
    y = F("b") = "b"
End Sub
""",
        'vars', {'x': True, 'y': True},
        id='compare_call',
    ),
]


@pytest.mark.parametrize("source, kind, want", CASES)
def test_calls(source, kind, want):
    vm = morvane.Vm()
    if kind == "error":
        with pytest.raises(RuntimeError, match="(?m)^" + re.escape(want) + "$"):
            vm.run(source, "Main")
        return
    vm.run(source, "Main")
    got = vm.variables()
    assert got == want
    assert all(type(got[k]) is type(v) for k, v in want.items())


# More arguments than a 64-bit mask has bits (a fuzz finding: marking the
# omitted ones shifted past the mask's width).
MANY_ARGUMENTS = """
Sub Count(ParamArray a())
    Range("A1").Value = UBound(a) - LBound(a) + 1
    Range("A2").Value = IsEmpty(a(69))
    Range("A3").Value = a(70)
End Sub
Sub Main()
    Count 1,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,, 2
End Sub
"""


def test_a_call_with_more_than_64_arguments_some_omitted():
    assert morvane.run_macro(MANY_ARGUMENTS, "Main") == {(1, 1): 71, (2, 1): True, (3, 1): 2}


# An argument read inline as a variable plus or minus a constant takes the
# general rule wherever its variable holds no whole number within 2^53.
SHAPES = """
Function Id(v)
    Id = v
End Function
Function L(v As Long)
    L = v
End Function
"""


@pytest.mark.parametrize("body, want", [
    ("n = 2.5\nx = Id(n + 1)", 3.5),
    ('n = "5"\nx = Id(n - 1)', 4),
    ("n = Empty\nx = Id(n + 1)", 1),
    ("Dim n As LongLong\nn = 9007199254740993\nx = Id(n - 1)", 9007199254740991),
    ("Dim n As LongLong\nn = 9007199254740992\nx = Id(n + 1)", 9007199254740992),
    ("n = 7\nx = Id(n + -9007199254740992)", -9007199254740985),
    ("n = 2147483647\nx = L(n - 1)", 2147483646),
    ("On Error Resume Next\nn = 2147483647\nx = 0\nx = L(n + 1)\nx = Err.Number", 6),
])
def test_an_argument_a_variable_plus_a_constant(body, want):
    vm = morvane.Vm()
    vm.run(SHAPES + f"Sub Main()\n{body}\nEnd Sub\n", "Main")
    got = vm.variables()["x"]
    assert got == want and type(got) is type(want)


def test_an_argument_plus_a_constant_of_an_undefined_variable():
    with pytest.raises(RuntimeError, match="Undefined variable: 'm'"):
        morvane.Vm().run(SHAPES + "Sub Main()\nx = Id(m + 1)\nEnd Sub\n", "Main")


# A typed parameter takes a whole number its type holds as it is, converts
# any other (a half away from zero), and refuses one past its range with
# Overflow (6).
TYPED_PARAMS = """
Function B(v As Byte)
    B = v
End Function
Function I(v As Integer)
    I = v
End Function
Function L(v As Long)
    L = v
End Function
Function D(v As Double)
    D = TypeName(v) & v
End Function
Function Two(a As Integer, b)
    Two = a & TypeName(b) & b
End Function
"""


@pytest.mark.parametrize("call, want", [
    ("B(255)", 255), ("B(256)", "err 6"), ("B(-1)", "err 6"), ("B(2.5)", 3),
    ("I(32767)", 32767), ("I(-32768)", -32768), ("I(32768)", "err 6"), ("I(-3.5)", -4),
    ("L(2147483647)", 2147483647), ("L(-2147483649)", "err 6"), ("L(k)", 7),
    ("D(3)", "Double3"), ("D(k + 1)", "Double8"),
    ("Two(k, 2.5)", "7Double2.5"), ("Two(40000, 1)", "err 6"),
])
def test_a_typed_parameter_takes_its_argument(call, want):
    vm = morvane.Vm()
    body = f'On Error Resume Next\nk = 7\nx = {call}\nIf Err.Number <> 0 Then x = "err " & Err.Number'
    vm.run(TYPED_PARAMS + f"Sub Main()\n{body}\nEnd Sub\n", "Main")
    assert vm.variables()["x"] == want
