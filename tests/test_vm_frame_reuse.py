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
Sub LeaveTwo()
    Dim a, b
    a = "left"
    b = 9
End Sub
Function First(n As Long) As Long
    First = n * 2
End Function
Function Sign(n As Long) As Long
    If n < 0 Then
        Sign = -1
    Else
        Sign = 1
    End If
End Function
Function Pos(n As Long) As Long
    If n > 0 Then
        Pos = n
    End If
End Function
Function Acc(n As Long) As Long
    Acc = Acc + n
End Function
Function Early(n As Long) As Long
    If n < 0 Then Exit Function
    Early = n
End Function
Function Safe(s) As Long
    On Error Resume Next
    Safe = CLng(s)
End Function
Function Bump(v As Long) As Long
    v = v + 1
    Bump = v
End Function
Function Via(n As Long) As Long
    Via = Bump(Via) + n
End Function
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
    # A typed result: assigned first, or started at its type's default
    # wherever the body may read it first.
    ("a result assigned first is its type", "LeaveTwo\nx = TypeName(First(3)) & First(3)", "Long6"),
    ("a result both branches of the first If assign", "LeaveTwo\nx = TypeName(Sign(5)) & Sign(-5)", "Long-1"),
    ("a result an If without Else may leave", "LeaveTwo\nx = TypeName(Pos(-3)) & Pos(-3)", "Long0"),
    ("a result read by its own first assignment", "LeaveTwo\nx = Acc(4)", 4),
    ("a result passed by reference in its first assignment", "LeaveTwo\nx = Via(1)", 2),
    ("a result left by Exit Function", "LeaveTwo\nx = TypeName(Early(-1)) & Early(-1)", "Long0"),
    ("a result whose first assignment fails under Resume Next",
     "LeaveTwo\nx = TypeName(Safe(\"abc\")) & Safe(\"abc\")", "Long0"),
    ("a result whose first assignment fails in the caller's Resume Next",
     "On Error Resume Next\nLeaveTwo\nx = 5\nx = First(2000000000)\ny = Err.Number\nx = x & \"/\" & y", "5/6"),
]


@pytest.mark.parametrize("label,body,want", CASES, ids=[c[0] for c in CASES])
def test_a_reused_frame_starts_clean(label, body, want):
    vm = run(LEAVERS + sub(body))
    assert vm.variables()["x"] == want
