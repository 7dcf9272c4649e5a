"""A frame's place on the stack is reused by the next call: what one
activation leaves there (an alias, a text, a Double, a typed start) never
reaches the next, on the lean road of numeric calls and on the general one."""
import pytest

from vmhelp import run, sub

# Procedures that leave something behind in the first cells of the frame
# stack when they return.
LEAVERS = """
Sub Inc(n)
    n = n + 1
End Sub
Sub LeaveText()
    Dim s
    s = "abc"
End Sub
Sub LeaveDouble()
    Dim d
    d = 2.5
End Sub
Sub LeaveWhole()
    Dim w
    w = 7
End Sub
Function Count() As Long
    Dim k As Long
    k = k + 1
    Count = k
End Function
Function Half(n As Integer) As Double
    Dim h As Double
    Half = h + n / 2
End Function
Function Plain(a)
    Plain = a
End Function
Sub Other()
    Dim k
    k = 100
End Sub
"""

CASES = [
    ("a cell that aliased a caller's variable is the next frame's own",
     "v = 1\nInc v\nOther\nx = v", 2),
    ("a typed local starts at zero where a text was", "LeaveText\nx = Count()", 1),
    ("a typed local starts at zero where a Double was", "LeaveDouble\nx = Count()", 1),
    ("a typed local starts at zero where a whole number was", "LeaveWhole\nx = Count()", 1),
    ("a typed Function result is its type where a Double was",
     "LeaveDouble\nx = TypeName(Count())", "Long"),
    ("a Double local starts as a Double where a whole number was",
     "LeaveWhole\nx = TypeName(Half(3)) & Half(3)", "Double1.5"),
    ("an untyped parameter takes a Double as it is (lean road)", "LeaveWhole\nx = Plain(2.5)", 2.5),
    ("an Integer parameter rounds what it is given (lean road)", "x = Half(2.6) & \"/\" & Half(3.4)", "1.5/1.5"),
    ("an Integer parameter rounds what it is given (general road)",
     "x = Half(\"2.6\") & \"/\" & Half(\"3.4\")", "1.5/1.5"),
    ("a call again after a refused conversion starts clean",
     "On Error Resume Next\ny = Half(40000)\nx = Err.Number & \"/\" & Count()", "6/1"),
]


@pytest.mark.parametrize("label,body,want", CASES, ids=[c[0] for c in CASES])
def test_a_reused_frame_starts_clean(label, body, want):
    vm = run(LEAVERS + sub(body))
    assert vm.variables()["x"] == want
