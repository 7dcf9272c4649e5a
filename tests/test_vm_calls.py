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
