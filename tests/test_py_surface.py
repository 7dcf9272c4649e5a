"""The module's surface as Python code uses it: positions and values as Python gives them,
ExcelError as a plain value, the version and the shipped stubs."""
import copy
import datetime
import pathlib
import pickle
import tomllib

import numpy
import pytest

import morvane
from morvane import ExcelError, Vm

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_positions_take_any_index_and_numpy_values_keep_their_kind():
    vm = Vm()
    vm.set_cell(numpy.int64(2), numpy.uint16(3), numpy.bool_(True))
    vm.set_cell(1, 1, numpy.int32(7))
    vm.set_cell(1, 2, numpy.float64(2.5))
    assert vm.get_cell(numpy.int8(2), 3) is True
    assert vm.cells() == {(1, 1): 7, (1, 2): 2.5, (2, 3): True}
    vm.set_cell_formula(numpy.int64(3), 1, "=A1*2")
    assert vm.get_cell(3, 1) == 14
    with pytest.raises(TypeError, match="argument 'row' must be int, not float"):
        vm.set_cell(1.0, 1, 1)


@pytest.mark.parametrize("row, col, limit", [
    (0, 1, "'row' must be between 1 and 1048576, not 0"),
    (1_048_577, 1, "'row' must be between 1 and 1048576, not 1048577"),
    (1, 0, "'col' must be between 1 and 16384, not 0"),
    (1, 16_385, "'col' must be between 1 and 16384, not 16385"),
])
def test_positions_off_the_sheet_are_refused(row, col, limit):
    vm = Vm()
    for call, name in [(lambda: vm.set_cell(row, col, 1), "set_cell"), (lambda: vm.get_cell(row, col), "get_cell"),
                       (lambda: vm.set_cell_formula(row, col, "=1"), "set_cell_formula")]:
        with pytest.raises(ValueError, match=f"^{name}\\(\\) argument {limit}$"):
            call()
    assert vm.cells() == {}


def test_dates_written_from_python_read_back_as_dates():
    vm = Vm()
    vm.set_cell(1, 1, datetime.date(2024, 2, 29))
    assert vm.get_cell(1, 1) == datetime.date(2024, 2, 29)
    vm.set_cell_formula(1, 2, "=A1+1")
    vm.set_cell_formula(1, 3, "=YEAR(A1)")
    assert vm.get_cell(1, 3) == 2024
    for value in (datetime.datetime(2024, 2, 29, 18, 30, 15, 250000), datetime.time(6, 0)):
        vm.set_cell(3, 1, value)
        assert vm.get_cell(3, 1) == value
    vm.set_cell(3, 1, datetime.datetime(2024, 2, 29, 18, 0))
    vm.set_cell_formula(3, 2, "=HOUR(A3)")
    assert vm.get_cell(3, 2) == 18
    with pytest.raises(ValueError, match="before 1900"):
        vm.set_cell(2, 1, datetime.date(1850, 1, 1))


def test_a_text_longer_than_a_cell_holds_is_refused():
    vm = Vm()
    vm.set_cell(1, 1, "x" * 32_767)
    with pytest.raises(ValueError, match="at most 32,767 characters; this text has 32768"):
        vm.set_cell(1, 2, "x" * 32_768)
    assert vm.get_cell(1, 2) is None and len(vm.get_cell(1, 1)) == 32_767


def test_excel_error_pickles_and_copies_as_a_value():
    error = ExcelError("#DIV/0!")
    for again in (pickle.loads(pickle.dumps(error)), copy.copy(error), copy.deepcopy(error)):
        assert type(again) is ExcelError and again == error and again.code == "#DIV/0!"
    vm = Vm()
    vm.set_cell_formula(1, 1, "=NA()")
    vm.set_cell(1, 2, 1)
    cells = vm.cells()
    assert cells == {(1, 1): ExcelError("#N/A"), (1, 2): 1}
    assert copy.deepcopy(cells) == cells
    assert pickle.loads(pickle.dumps(cells, protocol=pickle.HIGHEST_PROTOCOL)) == cells


def test_version_is_the_package_version():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert morvane.__version__ == project["version"]


def test_stubs_name_every_public_name():
    stub = (ROOT / "src" / "lib" / "morvane.pyi").read_text()
    for name in (n for n in dir(morvane) if not n.startswith("_")):
        assert f"def {name}(" in stub or f"class {name}" in stub, name


@pytest.mark.parametrize("source, lineno, offset, text", [
    ("Sub A()\n  x = = 1\nEnd Sub\n", 2, 7, "  x = = 1"),
    ("Sub A()\r\n  If x Then\r\nEnd Sub", 3, 8, "End Sub"),
    ('Sub A()\n x = "é" + #2/30/2020#\nEnd Sub', 2, 12, ' x = "é" + #2/30/2020#'),
])
def test_syntax_errors_point_at_the_line(source, lineno, offset, text):
    with pytest.raises(SyntaxError) as info:
        morvane.run_macro(source, "A")
    error = info.value
    assert (error.lineno, error.offset, error.text) == (lineno, offset, text)
    # The message is the parser's own; str() adds the line as Python's own errors do.
    assert str(error) == f"{error.msg} (line {lineno})"


NESTED_FAILURE = """Sub Main()
    Dim i
    For i = 1 To 3
        If i = 2 Then
            x = Helper(i)
        End If
    Next i
End Sub

Function Helper(n)
    Helper = n / 0
End Function
"""

FAILING_HANDLER = """Sub Main()
    On Error GoTo h
    y = 1 / 0
    Exit Sub
h:
    z = Cells(0, 1).Value
End Sub
"""

HANDLED_THEN_FAILING = """Sub Main()
    On Error Resume Next
    y = 1 / 0
    On Error GoTo 0
    z = "a" * 2
End Sub
"""


@pytest.mark.parametrize("source, procedure, lineno, line", [
    (NESTED_FAILURE, "helper", 11, "Helper = n / 0"),
    (FAILING_HANDLER, "main", 6, "z = Cells(0, 1).Value"),
    (HANDLED_THEN_FAILING, "main", 5, 'z = "a" * 2'),
])
def test_run_time_errors_say_where_they_happened(source, procedure, lineno, line):
    with pytest.raises(RuntimeError) as info:
        morvane.run_macro(source, "Main")
    error = info.value
    assert (error.procedure, error.lineno) == (procedure, lineno)
    assert error.__notes__ == [f"in procedure '{procedure}', line {lineno}: {line}"]
    # The message itself is unchanged: the place is beside it.
    assert "\n" not in str(error) and "line" not in str(error)


def test_a_failure_outside_any_statement_has_no_place():
    with pytest.raises(RuntimeError, match="(?m)^Sub 'Nope' not found$") as info:
        morvane.run_macro("Sub Main()\nEnd Sub\n", "Nope")
    assert not hasattr(info.value, "lineno") and not hasattr(info.value, "__notes__")
