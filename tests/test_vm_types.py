"""User-defined Types and record values: default records, field, member-path
and array-element assignments, and the fields of Range variables, as tables
of macro bodies with the variables they leave behind (types compared)."""
import re

import pytest

import morvane
from vmhelp import MISSING, check, run, same, sub

TYPES = """
Type Point
    x As Long
    y As Long
End Type

Type Seg
    a As Point
    b As Point
    tag As String
    d As Date
    w As Double
    ok As Boolean
    v
End Type

Type Node
    value As Long
    next As Node
End Type

Type Husband
    name As String
    wife As Wife
End Type

Type Wife
    name As String
    husband As Husband
End Type
"""


def module(body):
    return TYPES + sub(body)


POINT = {"x": 0, "y": 0}
# A Date field starts at the serial 0, as a Date variable does; that day has
# no calendar date, so Python sees its text.
DATE0 = "1900-01-00"

RECORDS = [
    ("dim gives the defaults", "Dim p As Point\np.x = 5", {"p": {"x": 5, "y": 0}}),
    ("nested Types, texts, dates and doubles", "Dim s As Seg",
     {"s": {"a": POINT, "b": POINT, "tag": "", "d": DATE0, "w": 0.0, "ok": False, "v": None}}),
    ("a member path changes one field", "Dim s As Seg\ns.a.x = 3\nax = s.a.x\nbx = s.b.x",
     {"ax": 3, "bx": 0, "s": {"a": {"x": 3, "y": 0}, "b": POINT, "tag": "", "d": DATE0, "w": 0.0, "ok": False, "v": None}}),
    ("a field replaces a plain value", "x = 5\nx.f = 1", {"x": {"f": 1}}),
    ("a path creates every step", "x.f.g = 1", {"x": {"f": {"g": 1}}}),
    ("a path through a plain value", "x = 1\nx.f.g = 2", {"x": {"f": {"g": 2}}}),
    ("a record is copied whole", "Dim p As Point\nq = p\nq.x = 1", {"p": POINT, "q": {"x": 1, "y": 0}}),
    ("reads of fields", "Dim p As Point\np.y = 2\na = p.y\nb = p.z\nc = nobody.x", {"a": 2, "b": None, "c": None}),
    ("Dim again resets", "Dim p As Point\np.x = 1\nDim p As Point", {"p": POINT}),
    ("arrays of records", "Dim pts(2) As Point\npts(1).x = 7\nv = pts(1).x",
     {"pts": [POINT, {"x": 7, "y": 0}, POINT], "v": 7}),
    ("an element index truncates", "Dim pts(1) As Point\npts(1.9).y = 4", {"pts": [POINT, {"x": 0, "y": 4}]}),
    ("a field of a plain element", "Dim a(1)\na(0) = 5\na(0).f = 1\nb = a(1).f", {"a": [{"f": 1}, None], "b": None}),
    # A Type that holds itself, directly or through another, stops at the
    # repeated field instead of building records without end.
    ("a Type holding itself", "Dim n As Node\nn.next.value = 1",
     {"n": {"value": 0, "next": {"value": 1}}}),
    ("two Types holding each other", "Dim h As Husband\nDim w As Wife",
     {"h": {"name": "", "wife": {"name": "", "husband": None}},
      "w": {"name": "", "husband": {"name": "", "wife": None}}}),
    ("arrays of a Type holding itself", "Dim ns(1) As Node", {"ns": [{"value": 0, "next": None}] * 2}),
]


@pytest.mark.parametrize("name, body, expected", RECORDS, ids=lambda v: v if isinstance(v, str) else "")
def test_records(name, body, expected):
    check(run(module(body)), expected)


ERRORS = [
    ("Dim pts(2) As Point\npts(3).x = 1", "Array 'pts': index 3 out of bounds (len=3)"),
    ("p(0).x = 1", "'p' is not an array"),
    ("p = 1\np(0).x = 1 / 0", "Division by zero"),
    ("Dim pts(10000000) As Point", "Array 'pts': upper bound 10000000 is beyond the limit of 9999999"),
    ("Dim pts(1, 2) As Point", "multi-dimensional arrays are not supported"),
    ("Set r = Range(\"A1\")\nr.Interior = 1", "Range member 'interior' cannot be assigned"),
    ("Set r = Range(\"A1\")\nr.Font.Bold = True", "Range member 'font' is not supported"),
    ("Set r = Range(\"A1\")\nr.Value = 1 / 0", "Division by zero"),
]


@pytest.mark.parametrize("body, message", ERRORS)
def test_errors(body, message):
    with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
        run(module(body))


def test_a_failing_assignment_changes_nothing():
    vm = run(module("Dim pts(1) As Point\nOn Error Resume Next\npts(0).x = 1 / 0\npts(5).x = 2\nx = 1"))
    check(vm, {"pts": [POINT, POINT], "x": 1})


def test_types_persist_and_later_ones_only_shape_later_dims():
    vm = run(module("Dim p As Point"))
    check(vm, {"p": POINT})
    vm.run("Type Point\n  z As String\nEnd Type\nSub Main()\nDim q As Point\nDim s As Seg\nEnd Sub\n", "Main")
    check(vm, {"q": {"z": ""}, "s": {"a": {"z": ""}, "b": {"z": ""}, "tag": "", "d": DATE0, "w": 0.0,
                                      "ok": False, "v": None}})


@pytest.mark.parametrize("body", ["Dim q As Widget", "Dim q As Widget\nq.n = 1", "Dim v(1) As Widget\nv(0).n = 1",
                                  "Static q As Widget"])
def test_an_undeclared_type_refuses_the_module(body):
    with pytest.raises(SyntaxError, match=re.escape("User-defined type not defined: 'widget'")):
        run(module(body))


RANGE_FIELDS = [
    ("value writes every cell", "Set r = Range(\"A1:B2\")\nr.Value = 5", {(1, 1): 5, (1, 2): 5, (2, 1): 5, (2, 2): 5}),
    ("an array spreads over the cells", "Dim a(1)\na(0) = \"a\"\na(1) = \"b\"\nSet r = Range(\"A1:C1\")\nr.Value = a",
     {(1, 1): "a", (1, 2): "b", (1, 3): morvane.ExcelError("#N/A")}),
    ("a value fills every area", "Set r = Range(\"A1,B1\")\nr.Value = 1", {(1, 1): 1, (1, 2): 1}),
    ("formula fills every cell", "Range(\"C1:C2\").Value = 2\nSet r = Range(\"A1:A2\")\nr.Formula = \"=C1+$C$1\"",
     {(1, 1): 4, (2, 1): 4, (1, 3): 2, (2, 3): 2}),
    ("reversed corners are put in order", "Set r = Range(\"B2:A1\")\nr.Value = 1",
     {(1, 1): 1, (1, 2): 1, (2, 1): 1, (2, 2): 1}),
    ("one area of a union", "Set u = Union(Range(\"A1\"), Range(\"C1:C2\"))\nSet a = u.Areas(2)\na.Value = \"x\"",
     {(1, 3): "x", (2, 3): "x"}),
]


@pytest.mark.parametrize("name, body, cells", RANGE_FIELDS, ids=lambda v: v if isinstance(v, str) else "")
def test_range_fields(name, body, cells):
    vm = run(module(body))
    assert same(vm.cells(), cells)


def test_range_variables_write_their_own_sheet():
    vm = morvane.Vm()
    vm.set_sheet("Data")
    vm.set_cell(1, 2, 20)
    vm.set_sheet("sheet1")
    vm.set_cell(1, 2, 10)
    run(module("Set r = Worksheets(\"Data\").Range(\"A1:A2\")\nr.Formula = \"=$B$1*2\"\nSet v = r\n"
               "Set c = Range(\"C1\")\nc.Value = r.Value"), vm=vm)
    assert same(vm.get_sheet("data"), {(1, 1): 40, (2, 1): 40, (1, 2): 20})
    # c.Value got the first element of r's two-cell Array.
    assert same(vm.cells(), {(1, 2): 10, (1, 3): 40})
    assert vm.active_sheet() == "sheet1"


def test_range_variable_writes_on_protected_sheets_change_nothing():
    vm = morvane.Vm()
    vm.set_cell(1, 1, "kept")
    for prop in ("Value = 1", "Formula = \"=2\""):
        with pytest.raises(RuntimeError, match="(?m)^Cannot edit: sheet 'sheet1' is protected$"):
            run(module(f"Set r = Range(\"A1:A2\")\nActiveSheet.Protect\nr.{prop}"), vm=vm)
        run(module("ActiveSheet.Unprotect"), vm=vm)
        assert vm.cells() == {(1, 1): "kept"}


def test_a_failing_formula_through_a_variable_restores_the_active_sheet():
    vm = morvane.Vm()
    vm.set_sheet("Data")
    vm.set_sheet("sheet1")
    with pytest.raises(RuntimeError):
        run(module("Set r = Worksheets(\"Data\").Range(\"A1\")\nr.Formula = \"=1+\""), vm=vm)
    assert vm.active_sheet() == "sheet1" and vm.get_sheet("data") == {}


def test_a_range_variable_whose_sheet_was_deleted():
    vm = morvane.Vm()
    vm.set_sheet("Data")
    vm.set_sheet("sheet1")
    run("Dim r As Range\n" + module("Worksheets(\"Data\").Range(\"A1\").Value = 1\n"
                                    "Set r = Worksheets(\"Data\").Range(\"A1:A2\")\nSheets(\"Data\").Delete"), vm=vm)
    # Reading or writing neither brings the sheet back nor leaves a missing sheet active.
    for stmt in ("x = r.Value", "r.Value = 1", "r.Formula = \"=1\""):
        with pytest.raises(RuntimeError, match="(?m)^Subscript out of range: there is no sheet 'data'$"):
            run("Dim r As Range\n" + module(stmt), vm=vm)
        assert vm.sheet_names() == ["sheet1"] and vm.active_sheet() == "sheet1"


def test_a_worksheet_variable_name_renames_the_sheet():
    vm = run(module("Set ws = ActiveSheet\nws.Name = \"Report\"\nws.Range(\"A1\").Value = 1"))
    check(vm, {"ws": MISSING})
    assert vm.sheet_names() == ["report"] and vm.cells() == {(1, 1): 1}
