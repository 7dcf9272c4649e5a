"""Where variables live: each activation's own frame, module variables with
their types, ByRef parameters as the caller's variable, For counters the
body may move, and the module-level lines that refuse a module at load."""
import re

import pytest

import morvane
from vmhelp import check, run, sub

HELPER_LOOP = sub("For i = 1 To 3\n Helper\n Cells(i, 1).Value = i\nNext i") + \
    "Sub Helper()\n For i = 1 To 5\n  Cells(10, 1).Value = i\n Next i\nEnd Sub\n"

TAX = """Dim taxRate As Double
Function Tax(amount As Double) As Double
    Tax = amount * taxRate
End Function
Function Gross(net As Double, taxRate As Double) As Double
    Gross = net + Tax(net)
End Function
Sub Main()
    taxRate = 0.2
    Cells(1, 1).Value = Gross(100, 0.5)
End Sub
"""

# Each procedure's names are its own; a module variable is seen by every
# procedure that has no variable of that name.
SCOPES = [
    ("an undeclared name in a callee is the callee's own", HELPER_LOOP,
     {(1, 1): 1, (2, 1): 2, (3, 1): 3, (10, 1): 5}),
    ("a caller's parameter does not hide the module variable", TAX, {(1, 1): 120}),
    ("a callee setting a module variable leaves the caller's local alone",
     "Dim i\nSub Bump()\n i = 99\nEnd Sub\n" + sub("Dim i As Long\ni = 1\nBump\nCells(1, 1).Value = i"),
     {(1, 1): 1}),
    ("recursion gives each level its own undeclared names",
     "Function Down(n)\n mine = n\n If n > 0 Then Down = Down(n - 1)\n Down = Down + mine\nEnd Function\n"
     + sub("Cells(1, 1).Value = Down(3)"), {(1, 1): 6}),
]


@pytest.mark.parametrize("name, code, cells", SCOPES, ids=[r[0] for r in SCOPES])
def test_each_procedure_owns_its_names(name, code, cells):
    assert run(code).cells() == cells


MODULE_VARS = [
    ("a Long rounds what it is given", "Dim gQty As Long\n", "gQty = 2.6\nx = gQty", 3),
    ("a String keeps a text", "Private gName As String\n", "gName = 12\nx = TypeName(gName)", "String"),
    ("a Long starts at zero", "Dim gCalls As Long\n", "x = gCalls", 0),
    ("a Public Double starts at 0.0", "Public gRate As Double\n", "x = TypeName(gRate)", "Double"),
    ("a Global is a Public", "Global gFlag As Boolean\n", "x = gFlag", False),
    ("a fixed array of Long", "Dim gArr(2) As Long\n", "gArr(1) = 1.6\nx = gArr(1) + gArr(2)", 2),
    ("an array ReDim sizes again", "Dim gList(1) As Long\n", "ReDim gList(3)\ngList(3) = 7.2\nx = gList(3)", 7),
    ("several on one line", "Dim ga As Long, gb As String\n", "ga = 1.5\ngb = ga\nx = gb & \"!\"", "2!"),
]


@pytest.mark.parametrize("name, decl, body, expected", MODULE_VARS, ids=[r[0] for r in MODULE_VARS])
def test_module_variables_have_their_type(name, decl, body, expected):
    check(run(decl + sub(body)), {"x": expected})


def test_module_variables_keep_their_values_between_runs():
    vm = morvane.Vm()
    code = "Dim gCalls As Long\n" + sub("gCalls = gCalls + 1")
    for _ in range(3):
        vm.run(code, "Main")
    check(vm, {"gcalls": 3})


def test_a_typed_module_variable_overflows_as_a_local_does():
    with pytest.raises(RuntimeError, match="Overflow"):
        run("Dim g As Integer\n" + sub("g = 40000"))


BY_REF = [
    ("the parameter is the caller's variable",
     "Dim gTotal As Double\nSub AddLine(total As Double, amount As Double)\n total = total + amount\n"
     " gTotal = gTotal + 1000\nEnd Sub\n" + sub("gTotal = 5\nAddLine gTotal, 10\nx = gTotal"), 1015.0),
    ("two parameters of one variable",
     "Sub AddTo(t, v)\n t = t + v\nEnd Sub\n" + sub("y = 5\nAddTo y, y\nx = y"), 10),
    ("a Function on a numeric path",
     "Function Inc(n)\n n = n + 1\n Inc = n\nEnd Function\n" + sub("y = 1\nz = Inc(y) + Inc(y)\nx = y * 100 + z"), 305),
    ("an array passed whole",
     "Sub Fill(a())\n a(1) = 9\nEnd Sub\n" + sub("Dim arr(2)\nFill arr\nx = arr(1)"), 9),
    ("ByVal is a copy", "Sub S(ByVal n)\n n = 99\nEnd Sub\n" + sub("y = 1\nS y\nx = y"), 1),
    ("an argument in parentheses is a copy", "Sub S(n)\n n = 99\nEnd Sub\n" + sub("y = 1\nS (y)\nx = y"), 1),
    ("an element is written back", "Sub S(n)\n n = 99\nEnd Sub\n" + sub("Dim a(1)\nS a(1)\nx = a(1)"), 99),
    ("a variable of another type is written back",
     "Sub S(n As Long)\n n = n + 1\nEnd Sub\n" + sub("Dim y As Double\ny = 2\nS y\nx = y"), 3),
    ("a variable never set is given a value",
     "Sub Init(out)\n out = 7\nEnd Sub\n" + sub("Dim y\nInit y\nx = y"), 7),
]


@pytest.mark.parametrize("name, code, expected", BY_REF, ids=[r[0] for r in BY_REF])
def test_by_ref_refers_to_the_callers_storage(name, code, expected):
    check(run(code), {"x": expected})


@pytest.mark.parametrize("code", [
    sub("Dim rate As Double: rate = 0.175"),
    sub("Static n As Long: n = 1"),
    "Dim g As Long: g = 1\n" + sub("x = 1"),
    sub("Dim n As Long = 5"),
])
def test_nothing_after_a_declaration_is_dropped(code):
    with pytest.raises(SyntaxError, match="expected newline"):
        run(code)


@pytest.mark.parametrize("code, name", [
    (sub("x = 1") + sub("x = 2"), "main"),
    ("Function Pick()\nEnd Function\nSub Pick()\nEnd Sub\n" + sub("x = 1"), "pick"),
    ("Function F()\nEnd Function\nFunction f()\nEnd Function\n" + sub("x = 1"), "f"),
])
def test_two_procedures_of_one_name_refuse_the_module(code, name):
    with pytest.raises(SyntaxError, match=re.escape(f"Ambiguous name detected: '{name}'")):
        run(code)


# Next reads the counter back: whatever the body does to it moves the loop.
FOR_COUNTERS = [
    ("skipping a row", sub("s = \"\"\nFor r = 1 To 5\n If r = 2 Then r = r + 1\n s = s & r\nNext"), {"s": "1345"}),
    ("stopping the loop", sub("n = 0\nFor i = 1 To 10\n n = n + 1\n If i = 3 Then i = 100\nNext"), {"n": 3, "i": 101}),
    ("stepping back", sub("c = 0\nFor i = 1 To 5\n c = c + 1\n If c = 2 Then i = i - 1\nNext"), {"c": 6, "i": 6}),
    ("a ByRef call", "Sub Skip(n)\n n = n + 1\nEnd Sub\n" + sub("s = \"\"\nFor i = 1 To 6\n s = s & i\n Skip i\nNext"),
     {"s": "135"}),
    ("a callee moving a module counter",
     "Dim i\nSub Bump()\n i = i + 1\nEnd Sub\n" + sub("s = \"\"\nFor i = 1 To 6\n s = s & i\n Bump\nNext"),
     {"s": "135"}),
    ("a typed counter", sub("Dim i As Long\ns = \"\"\nFor i = 1 To 5\n s = s & i\n If i = 2 Then i = 4\nNext"),
     {"s": "125", "i": 6}),
    ("a fractional step",
     sub("s = \"\"\nFor x = 0.5 To 3 Step 0.5\n s = s & x & \",\"\n If x = 1 Then x = 2.5\nNext"), {"s": "0.5,1,3,"}),
    ("a counter set to a text", sub("n = 0\nFor i = 1 To 5\n n = n + 1\n If i = 2 Then i = \"4\"\nNext"), {"n": 3, "i": 6}),
    ("a counter left alone", sub("t = 0\nFor i = 1 To 4\n t = t + i\nNext"), {"t": 10, "i": 5}),
    ("a parameter counter whose caller's variable a callee moves",
     "Dim g, s\nSub Bump()\n g = g + 1\nEnd Sub\nSub Walk(i)\n For i = 1 To 6\n  s = s & i\n  Bump\n Next\nEnd Sub\n"
     + sub("s = \"\"\nWalk g"), {"s": "135", "g": 7}),
    ("an error handler moving the counter",
     sub("s = \"\"\nOn Error GoTo h\nFor i = 1 To 6\n s = s & i\n If i = 2 Then x = 1 / 0\nNext\nExit Sub\n"
         "h:\ni = 4\nResume Next"), {"s": "1256"}),
    ("a Static counter moved by the procedure it calls again",
     "Dim s\nSub Walk(depth)\n Static i\n If depth > 0 Then\n  i = i + 1\n  Exit Sub\n End If\n For i = 1 To 6\n"
     "  s = s & i\n  Walk 1\n Next\nEnd Sub\n" + sub("s = \"\"\nWalk 0"), {"s": "135"}),
]


@pytest.mark.parametrize("name, code, expected", FOR_COUNTERS, ids=[r[0] for r in FOR_COUNTERS])
def test_the_body_moves_the_for_counter(name, code, expected):
    check(run(code), expected)


# Resume Next goes on with the statement after the failing condition: the
# first of the Then branch.
RESUME_IN_CONDITIONS = [
    ("a block If", "If 1 / 0 > 0 Then\n a = 1\n b = 2\nElse\n c = 3\nEnd If\nd = 4",
     {"a": 1, "b": 2, "d": 4, "n": 11}),
    ("an If on a variable", "z = 0\nIf 5 / z = 1 Then\n a = 1\nEnd If", {"a": 1, "n": 11}),
    ("an ElseIf", "If False Then\n c = 3\nElseIf CInt(\"x\") = 1 Then\n a = 1\nEnd If", {"a": 1, "n": 13}),
    ("a single-line If", "If 1 / 0 Then a = 1 Else c = 3", {"a": 1, "n": 11}),
]


@pytest.mark.parametrize("name, body, expected", RESUME_IN_CONDITIONS, ids=[r[0] for r in RESUME_IN_CONDITIONS])
def test_resume_next_after_a_failed_condition_enters_the_then_branch(name, body, expected):
    vm = run(sub("On Error Resume Next\n" + body + "\nn = Err.Number"))
    check(vm, expected)
    assert "c" not in vm.variables()


def test_a_failed_condition_without_resume_next_fails():
    with pytest.raises(RuntimeError, match="Division by zero"):
        run(sub("If 1 / 0 > 0 Then\n a = 1\nEnd If"))


EXPLICIT = "Option Explicit\n"

# Under Option Explicit every name a procedure uses is declared, a built-in,
# a constant or a procedure; any other refuses the module at load.
@pytest.mark.parametrize("code, name, line", [
    (EXPLICIT + sub("Dim total As Double, i As Long\nFor i = 1 To 3\n totl = total + i\nNext i\n"
                    "Cells(1, 1).Value = total"), "totl", 5),
    (EXPLICIT + sub("Helper") + "Sub Helper()\n n = 1\nEnd Sub\n", "n", 6),
    (EXPLICIT + sub("For k = 1 To 2\nNext"), "k", 3),
    (EXPLICIT + sub("Set ws = ActiveSheet"), "ws", 3),
    (EXPLICIT + sub("Dim a(2)\nb(1) = a(1)"), "b", 4),
    (EXPLICIT + "Function F(x)\n F = x + y\nEnd Function\n" + sub("Dim r\nr = F(1)"), "y", 3),
])
def test_option_explicit_refuses_an_undeclared_name(code, name, line):
    with pytest.raises(SyntaxError, match=re.escape(f"Variable not defined: '{name}'")) as e:
        run(code)
    assert e.value.lineno == line


def test_option_explicit_allows_every_kind_of_declared_name():
    code = EXPLICIT + """Dim gCount As Long
Const RATE = 2
Type Pt
    x As Long
End Type
Function Twice(n As Long) As Long
    Twice = n * RATE
End Function
Sub Bump(ByRef v As Long)
    Static calls As Long
    calls = calls + 1
    v = v + calls
End Sub
Sub Main()
    Const STEP = 1
    Dim i As Long, p As Pt, ws As Worksheet, r As Range, arr(2)
    Set ws = ActiveSheet
    Set r = Range("A1")
    For i = 1 To 2 Step STEP
        gCount = gCount + Twice(i)
        Bump gCount
    Next i
    p.x = Len("abc") + xlUp - xlUp + WorksheetFunction.Sum(1, 2)
    arr(1) = p.x
    On Error Resume Next
    Cells(1, 1).Value = gCount + arr(1) + Err.Number
End Sub
"""
    assert run(code).cells() == {(1, 1): 15}


def test_without_option_explicit_an_undeclared_name_is_a_local():
    check(run(sub("totl = 1")), {"totl": 1})


@pytest.mark.parametrize("code", [
    sub("Dim x As Stirng"),
    "Dim g As Stirng\n" + sub("x = 1"),
    sub("Dim a(3) As Stirng"),
])
def test_an_unknown_type_refuses_the_module(code):
    with pytest.raises(SyntaxError, match=re.escape("User-defined type not defined: 'stirng'")):
        run(code)


def test_the_object_types_the_model_knows_are_accepted():
    run(sub("Dim ws As Worksheet, r As Range, wb As Workbook, o As Object, v As Variant"))


# A line that may call a procedure or change a variable is never passed over:
# when it runs it fails, naming it; a line never reached changes nothing.
@pytest.mark.parametrize("line, message", [
    ("Dimm x As Long", "'dimm' as a bare statement (no Call keyword or parentheses) is not supported"),
    ("Set r = 5", "'Set r = ...' targets an unmodeled object expression"),
    ("Private x As Long", "'private' inside a procedure declares nothing: use Dim or Static"),
    ("If True Then For i = 1 To 2", "single-line 'If ... Then ...' branch isn't a recognized statement shape"),
])
def test_an_unmodeled_line_fails_when_it_runs(line, message):
    with pytest.raises(RuntimeError, match=re.escape(message)):
        run(sub(line))
    run(sub("Exit Sub\n" + line))


def two_sheets():
    vm = morvane.Vm()
    vm.set_sheet("A")
    vm.set_sheet("B")
    vm.set_sheet("A")
    return vm


def on_sheets(vm):
    return {name: vm.get_sheet(name) for name in ("a", "b")}


# An object variable is its procedure's own, as every other variable is.
OBJECTS = [
    ("a Function's own worksheet",
     "Function F() As Long\n Dim ws As Worksheet\n Set ws = Worksheets(\"B\")\n F = 1\nEnd Function\n"
     + sub("Dim ws As Worksheet\nDim x As Long\nSet ws = Worksheets(\"A\")\nx = F()\nws.Cells(1, 1).Value = \"here\""),
     {"a": {(1, 1): "here"}, "b": {}}),
    ("a Sub called as a statement",
     "Sub Other()\n Dim ws As Worksheet\n Set ws = Worksheets(\"B\")\nEnd Sub\n"
     + sub("Dim ws As Worksheet\nSet ws = Worksheets(\"A\")\nOther\nws.Range(\"A1\").Value = 1"),
     {"a": {(1, 1): 1}, "b": {}}),
    ("an untyped Dim",
     "Sub Other()\n Dim ws\n Set ws = Worksheets(\"B\")\nEnd Sub\n"
     + sub("Dim ws\nSet ws = Worksheets(\"A\")\nOther\nws.Range(\"A1\").Value = 1"),
     {"a": {(1, 1): 1}, "b": {}}),
    ("a Range variable",
     "Sub Other()\n Dim rng As Range\n Set rng = Worksheets(\"B\").Range(\"C3\")\nEnd Sub\n"
     + sub("Dim rng As Range\nSet rng = Range(\"A1\")\nOther\nrng.Value = 2"),
     {"a": {(1, 1): 2}, "b": {}}),
    ("each level of a recursion",
     "Sub Down(n)\n Dim ws As Worksheet\n If n Mod 2 = 0 Then Set ws = Worksheets(\"A\") Else Set ws = Worksheets(\"B\")\n"
     " If n > 0 Then Down n - 1\n ws.Cells(n + 1, 1).Value = n\nEnd Sub\n" + sub("Down 3"),
     {"a": {(1, 1): 0, (3, 1): 2}, "b": {(2, 1): 1, (4, 1): 3}}),
    ("a module object variable seen by every procedure",
     "Dim gWs As Worksheet\nSub Pick()\n Set gWs = Worksheets(\"B\")\nEnd Sub\n"
     + sub("Pick\ngWs.Range(\"A1\").Value = 3"), {"a": {}, "b": {(1, 1): 3}}),
    ("an object passed by reference",
     "Sub Fill(r As Range)\n r.Value = 4\n Set r = Worksheets(\"B\").Range(\"A1\")\nEnd Sub\n"
     + sub("Dim rng As Range\nSet rng = Range(\"B2\")\nFill rng\nrng.Value = 5"),
     {"a": {(2, 2): 4}, "b": {(1, 1): 5}}),
]


@pytest.mark.parametrize("name, code, sheets", OBJECTS, ids=[r[0] for r in OBJECTS])
def test_object_variables_belong_to_their_procedure(name, code, sheets):
    vm = two_sheets()
    vm.run(code, "Main")
    assert on_sheets(vm) == sheets


def test_a_renamed_sheet_is_followed_by_the_object_variables_of_every_caller():
    code = ("Sub Rename()\n ActiveSheet.Name = \"Renamed\"\nEnd Sub\n"
            + sub("Dim ws As Worksheet\nSet ws = Worksheets(\"A\")\nRename\nws.Range(\"A1\").Value = 1"))
    vm = two_sheets()
    vm.run(code, "Main")
    assert vm.get_sheet("renamed") == {(1, 1): 1}


# A Function with numeric typed parameters takes its numbers as a variable
# of the parameter's type holds them.
@pytest.mark.parametrize("params, args, expected", [
    ("n As Long", "2.4", 2),
    ("n As Long", "3.6", 4),
    ("n As Integer", "-7", -7),
    ("n As Double", "3", "Double"),
    ("n As LongLong", "2 ^ 40", 2 ** 40),
    ("a As Long, b As Double", "1.6, 2.5", 4.5),
])
def test_typed_parameters_convert_their_numbers(params, args, expected):
    body = "F = TypeName(n)" if expected == "Double" else "F = " + " + ".join(
        p.split()[0] for p in params.split(", "))
    check(run(f"Function F({params})\n {body}\nEnd Function\n" + sub(f"x = F({args})")), {"x": expected})


@pytest.mark.parametrize("params, args", [("n As Long", "3000000000"), ("n As Integer", "40000"), ("n As Byte", "-1")])
def test_a_number_past_a_typed_parameter_overflows(params, args):
    with pytest.raises(RuntimeError, match="Overflow"):
        run(f"Function F({params})\n F = 1\nEnd Function\n" + sub(f"x = F({args})"))
