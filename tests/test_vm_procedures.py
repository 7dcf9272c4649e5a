"""Procedures as VBA runs them: locals per call, ByRef arguments, typed
variables, GoTo out of blocks, For counters, error handling with Err, calls
by name, Erase, and the bound on arrays nested in themselves."""
import re

import pytest

import morvane
from vmhelp import MISSING, check, run, same, sub

TOTAL = "Function Total(n)\n Dim total As Long\n For i = 1 To n\n  total = total + i\n Next\n Total = total\nEnd Function\n"
FACT = "Function Fact(n)\n Dim k As Long\n k = n\n If n > 1 Then Fact = k * Fact(n - 1) Else Fact = 1\n t = k\nEnd Function\n"

LOCALS = [
    ("a Function called twice starts afresh", TOTAL + sub("a = Total(3)\nb = Total(3)"), {"a": 6, "b": 6}),
    # Each level keeps its own k; the module's t ends at the outermost k.
    ("recursion", "Dim t\n" + FACT + sub("f = Fact(5)"), {"f": 120, "t": 5, "k": MISSING}),
    ("the caller's variable of that name is kept",
     TOTAL + sub("total = 100\nx = Total(2)"), {"total": 100, "x": 3}),
    ("kept after Exit Function",
     "Function F()\n Dim v\n v = 9\n F = 1\n Exit Function\nEnd Function\n" + sub("v = 1\nx = F()"), {"v": 1, "x": 1}),
    ("kept after a failure a handler takes",
     "Function F()\n Dim v\n v = 9\n F = 1 / 0\nEnd Function\n"
     + sub("On Error GoTo h\nv = 1\nx = F()\nExit Sub\nh:\nseen = v"), {"v": 1, "seen": 1}),
    ("an undeclared name is the procedure's own",
     "Sub S()\n mine = 5\nEnd Sub\n" + sub("mine = 1\nS\ny = mine"), {"y": 1, "mine": 1}),
    ("Static keeps its value from call to call, typed",
     "Function NextId() As Long\n Static n As Long, seen(2), k As Integer\n n = n + 1\n seen(1) = seen(1) + 1\n"
     " k = 2.6\n NextId = n * 100 + seen(1) * 10 + k\nEnd Function\n"
     + sub("a = NextId()\nb = NextId()\nc = NextId()"), {"a": 113, "b": 223, "c": 333}),
    ("a Static variable is its procedure's own, not the caller's name",
     "Function NextId()\n Static n As Long\n n = n + 1\n NextId = n\nEnd Function\n"
     + sub("s = \"\"\nFor n = 1 To 3\n s = s & n & \":\" & NextId() & \",\"\nNext"), {"s": "1:1,2:2,3:3,", "n": 4}),
    ("a recursive call shares the running call's Static",
     "Function Depth(k)\n Static calls\n calls = calls + 1\n If k > 0 Then Depth = Depth(k - 1) Else Depth = calls\n"
     "End Function\n" + sub("a = Depth(3)\nb = Depth(0)"), {"a": 4, "b": 5}),
    ("a Function's result reads Empty until assigned",
     "Function Total(n)\n For i = 1 To n\n  Total = Total + i\n Next\nEnd Function\n"
     "Function Cat(a, b)\n Cat = Cat & a\n Cat = Cat & b\nEnd Function\nFunction E()\n E = IsEmpty(E)\nEnd Function\n"
     + sub("a = Total(4)\nb = Total(2)\nc = Cat(\"x\", \"y\")\ne = E()"), {"a": 10, "b": 3, "c": "xy", "e": True}),
    ("a Dim in a loop does not reset", sub("For i = 1 To 3\n Dim n As Long\n n = n + 1\nNext"), {"n": 3}),
    ("one table of defaults",
     "Type T\n d As Double\n c As Currency\n s As Single\nEnd Type\n"
     + sub("Dim x As Double, y As Single, z As Currency, w As Decimal\nDim r As T"),
     {"x": 0.0, "y": 0.0, "z": 0.0, "w": 0.0, "r": {"d": 0.0, "c": 0.0, "s": 0.0}}),
]


@pytest.mark.parametrize("name, code, expected", LOCALS, ids=[r[0] for r in LOCALS])
def test_locals_belong_to_the_call(name, code, expected):
    check(run(code), expected)


def test_the_entry_subs_declared_variables_start_fresh_at_each_run():
    vm = morvane.Vm()
    code = sub("Dim total As Long\nFor i = 1 To 3\n total = total + i\nNext")
    run(code, vm=vm)
    run(code, vm=vm)
    assert vm.variables()["total"] == 6


BYREF = [
    ("AddOne", "Sub AddOne(n As Long)\n n = n + 1\nEnd Sub\n" + sub("x = 1\nAddOne x\nCall AddOne(x)"), {"x": 3}),
    ("Swap", "Sub Swap(a, b)\n t = a\n a = b\n b = t\nEnd Sub\n" + sub("p = 1\nq = \"two\"\nSwap p, q"),
     {"p": "two", "q": 1}),
    ("a Sub fills a passed array",
     "Sub Fill(arr)\n For i = 0 To 2\n  arr(i) = i * 10\n Next\nEnd Sub\n" + sub("Dim a(2)\nFill a\nb = a(2)"), {"b": 20}),
    ("an out-parameter of a Function",
     "Function Parse(s, ByRef n)\n n = Len(s)\n Parse = True\nEnd Function\n" + sub("m = 0\nok = Parse(\"abc\", m)"),
     {"ok": True, "m": 3}),
    ("an array element and a Type field",
     "Type P\n v As Long\nEnd Type\nSub Bump(n)\n n = n + 1\nEnd Sub\n"
     + sub("Dim a(1)\na(1) = 5\nDim r As P\nBump a(1)\nBump r.v"), {"a": [None, 6], "r": {"v": 1}}),
    ("ByVal is left alone", "Sub S(ByVal n)\n n = 99\nEnd Sub\n" + sub("x = 1\nS x"), {"x": 1}),
    ("an expression is passed by value", "Sub S(n)\n n = 99\nEnd Sub\n" + sub("x = 1\nS x + 0\nS 1"), {"x": 1}),
    ("copied out when a caller's handler takes a failure",
     "Sub S(n)\n n = 5\n Err.Raise 5\nEnd Sub\n" + sub("On Error Resume Next\nx = 1\nS x"), {"x": 5}),
    ("an argument in parentheses of its own is a copy",
     "Sub AddOne(n)\n n = n + 1\nEnd Sub\nFunction Twice(n)\n n = n * 2\n Twice = n\nEnd Function\n"
     + sub("a = 1\nAddOne (a)\nb = 1\nAddOne(b)\nc = 1\nCall AddOne((c))\nd = 1\nCall AddOne(d)\n"
           "e = 1\nf = Twice((e)) + Twice(e)"),
     {"a": 1, "b": 1, "c": 1, "d": 2, "e": 2, "f": 4}),
    ("parentheses by a named argument's parameter",
     "Sub Set2(a, b)\n a = 10\n b = 20\nEnd Sub\n" + sub("x = 1\ny = 1\nSet2 b:=(y), a:=x"), {"x": 10, "y": 1}),
    ("a numeric Function with a variable argument",
     "Function Inc(n)\n n = n + 1\n Inc = n\nEnd Function\n" + sub("x = 1\ny = Inc(x) + Inc(x)"), {"x": 3, "y": 5}),
]


@pytest.mark.parametrize("name, code, expected", BYREF, ids=[r[0] for r in BYREF])
def test_arguments_are_passed_by_reference(name, code, expected):
    check(run(code), expected)


TYPED = [
    ("Long rounds", "Dim avg As Long\navg = 10 / 3\nb = avg", {"avg": 3}),
    ("String holds a text", "Dim id As String\nid = Cells(1, 1).Value\nsame = (id = \"1001\")", {"id": "1001", "same": True}),
    ("Boolean", "Dim b As Boolean\nb = 5", {"b": True}),
    ("Double", "Dim d As Double\nd = 2", {"d": 2.0}),
    ("Integer halves away from zero", "Dim i As Integer\ni = 2.5", {"i": 3}),
    ("Date from a text", "Dim d As Date\nd = \"2020-01-03\"", {"d": __import__("datetime").date(2020, 1, 3)}),
    ("String appends", "Dim s As String\nFor k = 1 To 3\n s = s & k\nNext", {"s": "123"}),
    ("typed array elements", "Dim a(1) As Long\na(0) = 2.7\nb = a(1)", {"a": [3, 0], "b": 0}),
    ("Variant and undeclared keep any value", "Dim v\nv = \"x\"\nw = 1.5", {"v": "x", "w": 1.5}),
]


@pytest.mark.parametrize("name, body, expected", TYPED, ids=[r[0] for r in TYPED])
def test_typed_variables_hold_their_type(name, body, expected):
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1001)
    check(run(sub(body), vm=vm), expected)


def test_typed_parameters_fields_and_results():
    code = ("Type T\n n As Integer\nEnd Type\n"
            "Function Cat(a As String, b As String) As String\n Cat = a & b\nEnd Function\n"
            "Function Never() As Boolean\nEnd Function\n"
            "Function Zero() As Long\nEnd Function\n"
            "Function Half(x As Double) As Long\n Half = x / 2\nEnd Function\n"
            + sub("c = Cat(1, 2)\nn = Never()\nz = Zero()\nh = Half(5)\nDim r As T\nr.n = \"7\""))
    check(run(code), {"c": "12", "n": False, "z": 0, "h": 3, "r": {"n": 7}})


TYPED_ERRORS = [
    ("Dim i As Integer\ni = 40000", "Overflow"),
    ("Dim n As Long\nn = 2 ^ 31", "Overflow"),
    ("Dim b As Byte\nb = -1", "Overflow"),
    ("Dim n As Long\nn = \"abc\"", "Type mismatch"),
    ("Dim d As Double\nd = Split(\"a\")", "Type mismatch"),
    ("Dim a(1) As Integer\na(0) = 70000", "Overflow"),
    ("x = CInt(40000)", "Overflow"),
    ("x = CLng(\"x\")", "Type mismatch"),
    ("Dim i As Integer\nFor i = 1 To 40000\nNext", "Overflow"),
    ("Dim b As Byte\nFor b = 0 To 255\nNext", "Overflow"),
]


@pytest.mark.parametrize("body, message", TYPED_ERRORS)
def test_values_that_do_not_fit_fail(body, message):
    with pytest.raises(RuntimeError, match="(?m)^" + message + "$"):
        run(sub(body))


def test_a_typed_parameter_that_does_not_fit_fails_in_the_caller():
    code = "Sub S(n As Integer)\nEnd Sub\n" + sub("On Error Resume Next\nS 100000\ne = Err.Number")
    check(run(code), {"e": 6})


def test_goto_leaves_a_search_loop_at_the_found_row():
    vm = morvane.Vm()
    for r, v in enumerate(["a", "target", "b", "c"], start=1):
        vm.set_cell(r, 1, v)
    body = ("For i = 1 To 4\n If Cells(i, 1).Value = \"target\" Then GoTo found\nNext\nrow = 0\nExit Sub\n"
            "found:\nrow = i\nn = 0\nDo\n n = n + 1\n If n = 3 Then GoTo out\nLoop\nout:")
    check(run(sub(body), vm=vm), {"row": 2, "n": 3})


FOR_COUNTER = [
    ("after a full loop", "For i = 1 To 3\nNext", {"i": 4}),
    ("after an empty loop", "j = 9\nFor j = 5 To 1\nNext", {"j": 5}),
    ("after Exit For", "For i = 1 To 10\n If i = 4 Then Exit For\nNext", {"i": 4}),
    ("a step of 2", "For i = 1 To 6 Step 2\nNext", {"i": 7}),
    ("a search that finds nothing",
     "n = 3\nFor i = 1 To n\n If i = 99 Then Exit For\nNext\nIf i > n Then found = False", {"found": False}),
    # A counter declared with a whole type converts its start, end and step.
    ("a Long counter from a fraction, by a fractional step",
     "Dim i As Long, k As Long\ns = \"\"\nt = \"\"\nFor i = 1.5 To 3\n s = s & i\nNext\nFor k = 1 To 3 Step 0.6\n t = t & k\nNext",
     {"s": "23", "i": 4, "t": "123", "k": 4}),
    ("a Long counter from a text, counting down",
     "Dim i As Long\nn = 0\nFor i = \"3\" To 1 Step -1\n n = n + 1\nNext", {"i": 0, "n": 3}),
    ("an Integer counter that reaches its type's last value",
     "Dim i As Integer\nn = 0\nFor i = -32768 To -32760 Step -1\n n = n + 1\nNext", {"i": -32768, "n": 0}),
    ("a Byte counter past its last value, under Resume Next",
     "Dim b As Byte\nOn Error Resume Next\nFor b = 250 To 255\nNext\ne = Err.Number", {"b": 255, "e": 6}),
]


@pytest.mark.parametrize("name, body, expected", FOR_COUNTER, ids=[r[0] for r in FOR_COUNTER])
def test_for_leaves_its_counter_past_the_end(name, body, expected):
    check(run(sub(body)), expected)


RAISE_IN = "Sub Fails()\n x = 1 / 0\n after = True\nEnd Sub\n"

HANDLERS = [
    ("a caller's handler takes a callee's failure",
     RAISE_IN + sub("On Error GoTo h\nFails\nnot_here = 1\nExit Sub\nh:\nn = Err.Number\nd = Err.Description"),
     {"n": 11, "d": "Division by zero", "not_here": MISSING, "after": MISSING}),
    ("Resume Next inside a loop",
     sub("On Error GoTo h\ncount = 0\ns = \"\"\nFor i = 1 To 4\n x = 10 / (i - 2)\n s = s & i\nNext\nExit Sub\nh:\ncount = count + 1\nResume Next"),
     {"s": "1234", "count": 1, "i": 5}),
    ("Resume runs the failing statement again",
     sub("On Error GoTo h\nd = 0\nx = 10 / d\nExit Sub\nh:\nd = 5\nResume"), {"x": 2}),
    ("Resume label",
     sub("On Error GoTo h\nFor i = 1 To 3\n If i = 2 Then x = 1 / 0\nNext\nExit Sub\nh:\nResume there\nthere:\nat = i"),
     {"at": 2}),
    ("a handler that reaches the end ends the procedure",
     "Dim got, back\nSub S()\n On Error GoTo h\n x = 1 / 0\n back = 1\n Exit Sub\nh:\n got = Err.Number\nEnd Sub\n"
     + sub("S\nnext_one = 1"),
     {"got": 11, "back": None, "next_one": 1}),
    ("Err after Resume Next",
     sub("On Error Resume Next\nx = CInt(\"a\")\nn = Err.Number\nd = Err.Description\nErr.Clear\nm = Err.Number"),
     {"n": 13, "d": "Type mismatch", "m": 0}),
    ("Err is 0 without a failure", sub("On Error Resume Next\nx = 1\nn = Err.Number\nok = (Err.Number = 0)"),
     {"n": 0, "ok": True}),
    ("numbers of VBA's failures",
     sub("On Error Resume Next\nDim a(1)\na(5) = 1\nn9 = Err.Number\nDim i As Integer\ni = 99999\nn6 = Err.Number\n"
         "Range(\"ZZZ\").Value = 1\nn1004 = Err.Number\nNope\nn35 = Err.Number"),
     {"n9": 9, "n6": 6, "n1004": 1004, "n35": 35}),
    ("Err.Raise with a source and a description",
     sub("On Error Resume Next\nErr.Raise vbObjectError + 1, \"mine\", \"bad input\"\n"
         "n = Err.Number\ns = Err.Source\nd = Err.Description"),
     {"n": -2147221503, "s": "mine", "d": "bad input"}),
    ("Err.Raise in a callee, handled by the caller",
     "Sub Check(v)\n If v < 0 Then Err.Raise 5\nEnd Sub\n"
     + sub("On Error GoTo h\nCheck -1\nExit Sub\nh:\nn = Err.Number\nd = Err.Description"),
     {"n": 5, "d": "Invalid procedure call or argument"}),
    ("Err alone is Err.Number",
     sub("On Error Resume Next\nx = 1 / 0\nIf Err Then seen = True\nn = Err\nok = (Err <> 0)\nErr.Clear\n"
         "If Err Then after_clear = True\nm = Err + 0"),
     {"seen": True, "n": 11, "ok": True, "after_clear": MISSING, "m": 0, "err": MISSING}),
    ("Err passed to a procedure is not written back",
     "Dim got\nSub Log(n)\n got = n\n n = 0\nEnd Sub\n"
     + sub("On Error Resume Next\nx = 1 / 0\nLog Err\ny = 1 / 0\nIf Err Then seen = True"),
     {"got": 11, "seen": True, "err": MISSING}),
    ("Err's properties and Err = 0 set the Err object",
     sub("On Error Resume Next\nx = 1 / 0\nErr.Number = 0\nn = Err.Number\nd = Err.Description\n"
         "Err.Description = \"mine\"\nErr.Source = \"here\"\nd2 = Err.Description\ns = Err.Source\n"
         "Err = 7\nm = Err.Number\nErr = 0\ny = 1 / 0\nk = Err.Number"),
     {"n": 0, "d": "Division by zero", "d2": "mine", "s": "here", "m": 7, "k": 11, "err": MISSING}),
    ("a variable declared err is a variable", sub("Dim err\nerr = 5\nn = err + 1"), {"n": 6, "err": 5}),
    ("Resume clears Err", sub("On Error GoTo h\nx = 1 / 0\nn = Err.Number\nExit Sub\nh:\nResume Next"), {"n": 0}),
    ("a handler is armed again after Resume",
     sub("On Error GoTo h\nc = 0\nx = 1 / 0\ny = 1 / 0\nExit Sub\nh:\nc = c + 1\nResume Next"), {"c": 2}),
]


@pytest.mark.parametrize("name, code, expected", HANDLERS, ids=[r[0] for r in HANDLERS])
def test_error_handling(name, code, expected):
    check(run(code), expected)


HANDLER_FAILURES = [
    (sub("On Error GoTo h\nx = 1 / 0\nExit Sub\nh:\ny = CInt(\"a\")"), "Type mismatch"),
    (sub("Err.Raise 1000, , \"custom\""), "custom"),
    (sub("Err.Raise 9"), "Subscript out of range"),
    (sub("Resume Next"), "Resume without error"),
    (RAISE_IN + sub("Fails"), "Division by zero"),
]


@pytest.mark.parametrize("code, message", HANDLER_FAILURES)
def test_failures_no_handler_takes_end_the_run(code, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(code)


CALL_SUB = "Dim got\nSub S(a, Optional b = 20, Optional c)\n got = a & \"/\" & b & \"/\" & IsEmpty(c)\nEnd Sub\n"

CALLS = [
    ("named arguments", CALL_SUB + sub("S c:=3, a:=1"), {"got": "1/20/False"}),
    ("an omitted argument", CALL_SUB + sub("S 1, , 3"), {"got": "1/20/False"}),
    ("Call with names", CALL_SUB + sub("Call S(5, b:=6)"), {"got": "5/6/True"}),
    ("Call without parentheses", "Dim ran\nSub T()\n ran = True\nEnd Sub\n" + sub("Call T"), {"ran": True}),
    ("a bare Function call drops its result", "Dim seen\nFunction F(n)\n seen = n\n F = 1\nEnd Function\n" + sub("F 4"),
     {"seen": 4}),
    ("DoEvents stays a statement that does nothing", sub("DoEvents\nx = 1"), {"x": 1}),
]


@pytest.mark.parametrize("name, code, expected", CALLS, ids=[r[0] for r in CALLS])
def test_calls_run(name, code, expected):
    check(run(code), expected)


@pytest.mark.parametrize("code, message", [
    (sub("Nowhere 1, 2"), "Sub or Function not defined: 'nowhere'"),
    (sub("Nowhere"), "Sub or Function not defined: 'nowhere'"),
    (CALL_SUB + sub("S a:=1, z:=2"), "Named argument not found: 'z'"),
])
def test_calls_that_fail(code, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(code)


ERASE = [
    ("a fixed array back to its defaults", "Dim a(2) As Long\na(1) = 5\nErase a", {"a": [0, 0, 0]}),
    ("a fixed Variant array", "Dim a(1)\na(0) = \"x\"\nErase a", {"a": [None, None]}),
    ("a dynamic array emptied", "ReDim d(3)\nErase d", {"d": []}),
    ("several at once", "Dim a(1)\nReDim b(1)\nErase a, b", {"a": [None, None], "b": []}),
]


@pytest.mark.parametrize("name, body, expected", ERASE, ids=[r[0] for r in ERASE])
def test_erase(name, body, expected):
    check(run(sub(body)), expected)


@pytest.mark.parametrize("body", [
    "Dim a(0)\nFor i = 1 To 200000\n a(0) = a\nNext",
    "r = 0\nFor i = 1 To 200000\n r.f = r\nNext",
])
def test_a_value_stored_in_itself_stops_at_the_nesting_bound(body):
    with pytest.raises(RuntimeError, match=r"(?m)^Arrays and records nested more than 100 levels deep are not supported$"):
        run(sub(body))


def test_nesting_within_the_bound_is_kept():
    vm = run(sub("Dim a(0)\nFor i = 1 To 50\n a(0) = a\nNext\nd = 0\nb = a\nDo While IsArray(b)\n d = d + 1\n b = b(0)\nLoop"))
    assert vm.variables()["d"] == 51


# Functions called on numbers take a shorter road: every way in and out of
# it gives back what the caller's names held and passes values both ways.
NUMERIC_CALLS = [
    ("the caller's text in a parameter's name comes back",
     "Function F(n)\n F = n + 1\nEnd Function\n" + sub("n = \"keep\"\nx = F(1)"), {"n": "keep", "x": 2}),
    ("the caller's text in the result's name comes back",
     "Function F(n)\n F = n + 1\nEnd Function\n" + sub("f = \"keep\"\nx = F(1)"), {"f": "keep", "x": 2}),
    ("a parameter named twice in a recursion",
     "Function Fib(n)\n If n < 2 Then Fib = n Else Fib = Fib(n - 1) + Fib(n - 2)\nEnd Function\n"
     + sub("n = 2.5\nx = Fib(15)"), {"n": 2.5, "x": 610}),
    ("a result that is text", "Function F(n)\n F = \"n=\" & n\nEnd Function\n" + sub("x = F(3)"), {"x": "n=3"}),
    ("a result never assigned", "Dim y\nFunction F(n)\n y = n\nEnd Function\n" + sub("x = F(3)\nb = IsEmpty(x)"),
     {"b": True, "y": 3}),
    ("a by-reference parameter given text",
     "Function F(a, b)\n a = \"t\" & a\n F = b\nEnd Function\n" + sub("i = 4\nx = F(i, 5)"), {"i": "t4", "x": 5}),
    ("a by-reference parameter left undefined goes back as Empty",
     "Function F(a)\n F = 1\nEnd Function\n" + sub("Dim i\nx = F(i)\nb = IsEmpty(i)"), {"b": True, "x": 1}),
    ("both arguments the same variable",
     "Function F(a, b)\n a = a + 1\n b = b + 10\n F = 0\nEnd Function\n" + sub("i = 1\nx = F(i, i)"), {"i": 12}),
    ("the parameter is the caller's own parameter",
     "Function G(n)\n n = n * 2\n G = n\nEnd Function\nFunction F(n)\n F = G(n) + n\nEnd Function\n"
     + sub("x = F(3)"), {"x": 12}),
    ("Exit Function in the middle",
     "Function F(n)\n F = 1\n If n > 0 Then Exit Function\n F = 2\nEnd Function\n" + sub("x = F(1)\ny = F(0)"),
     {"x": 1, "y": 2}),
    ("GoTo inside the body",
     "Function F(n)\n F = 0\n GoTo skip\n F = 1\nskip:\n F = F + n\nEnd Function\n" + sub("x = F(5)"), {"x": 5}),
    ("Resume Next inside the body",
     "Function F(n)\n On Error Resume Next\n F = 0\n F = 1 / n\n F = F + 7\nEnd Function\n" + sub("x = F(0)\ny = F(1)"),
     {"x": 7, "y": 8}),
    ("a handler inside the body resumes",
     "Function F(n)\n On Error GoTo h\n F = 10 / n\n Exit Function\nh:\n n = 5\n Resume\nEnd Function\n"
     + sub("x = F(0)"), {"x": 2}),
    ("a failure a caller's handler takes, parameter kept",
     "Function F(n)\n F = 1 / n\nEnd Function\n"
     + sub("On Error GoTo h\nn = 7\nx = F(0)\nExit Sub\nh:\nseen = n\ne = Err.Number"), {"seen": 7, "e": 11}),
    ("the caller's handler stays armed after a call",
     "Function F(n)\n F = n\nEnd Function\n"
     + sub("On Error GoTo h\nx = F(1)\ny = 1 / 0\nExit Sub\nh:\ncaught = x"), {"caught": 1}),
    ("a callee's handler does not outlive it",
     "Function F(n)\n On Error GoTo h\n F = n\n Exit Function\nh:\n F = -1\nEnd Function\n"
     + sub("x = F(1)\nOn Error Resume Next\ny = 1 / 0\nz = 3"), {"x": 1, "z": 3}),
    ("a Function called as a statement", "Dim seen\nFunction F(n)\n seen = n * 2\n F = 0\nEnd Function\n" + sub("Call F(4)"),
     {"seen": 8}),
    ("an argument that is a variable minus a constant, the variable no Integer",
     "Function F(n)\n F = n * 2\nEnd Function\n"
     + sub("d = 2.5\nt = \"5\"\nb = 9007199254740993\nx = F(d - 1)\ny = F(t - 1)\nz = F(b - 1) - 2 ^ 54"),
     {"x": 3, "y": 8, "z": -2}),
]


@pytest.mark.parametrize("name, code, expected", NUMERIC_CALLS, ids=[r[0] for r in NUMERIC_CALLS])
def test_numeric_calls_give_back_what_the_caller_held(name, code, expected):
    check(run(code), expected)


# An If on a variable and a whole constant compares inline; whatever the
# variable holds, it decides as the same comparison taken as a value does.
@pytest.mark.parametrize("op, one_to_two", [("=", 0), ("<>", 1), ("<", 1), ("<=", 1), (">", 0), (">=", 0)])
def test_an_if_on_a_variable_and_a_constant_decides_as_the_comparison_does(op, one_to_two):
    values = ["1", "2", "3", "1.5", "2.0", "-7", "\"2\"", "\"10\"", "Empty", "True", "9007199254740993"]
    body = "\n".join(
        f"v = {v}\nIf v {op} 2 Then\n t = True\nElse\n t = False\nEnd If\nagree{i} = (t = (v {op} 2))"
        for i, v in enumerate(values))
    check(run(sub(body)), {f"agree{i}": True for i in range(len(values))})
    vm = run(sub(f"n = 1\nIf n {op} 2 Then r = 1 Else r = 0"))
    assert vm.variables()["r"] == one_to_two
