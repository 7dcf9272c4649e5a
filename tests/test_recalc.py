"""Stored formulas, recalculation order, cycles, failures and the batch method."""
import itertools
import re

import pytest

import morvane


def test_writing_a_cell_does_not_recalculate():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 5)
    vm.set_cell_formula(2, 1, "=A1*2")
    assert vm.get_cell(2, 1) == 10
    vm.set_cell(1, 1, 7)
    assert vm.get_cell(2, 1) == 10
    vm.recalculate()
    assert vm.get_cell(2, 1) == 14


@pytest.mark.parametrize("order", list(itertools.permutations(range(3))))
def test_chain_in_any_write_order(order):
    formulas = [(3, 1, "=A2+1"), (2, 1, "=A1+1"), (1, 1, "=1")]
    vm = morvane.Vm()
    for i in order:
        vm.set_cell_formula(*formulas[i])
    vm.recalculate()
    assert [vm.get_cell(r, 1) for r in (1, 2, 3)] == [1, 2, 3]


def test_reversed_range_is_a_dependency():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 3, "=SUM(B2:A1)")
    for (r, c), text in {(1, 1): "=1", (1, 2): "=2", (2, 1): "=3", (2, 2): "=4"}.items():
        vm.set_cell_formula(r, c, text)
    vm.recalculate()
    assert vm.get_cell(1, 3) == 10


def test_self_reference_reads_previous_value():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 0)
    vm.set_cell_formula(1, 1, "=A1+1")
    assert vm.get_cell(1, 1) == 1
    vm.recalculate()
    vm.recalculate()
    assert vm.get_cell(1, 1) == 3


def test_cycle_is_evaluated_once_without_error():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 1, "=B1+1")  # B1 empty: 1
    vm.set_cell_formula(1, 2, "=A1+1")  # 2
    vm.recalculate()
    # Each is evaluated once, in formula-list order, reading the other's value.
    assert (vm.get_cell(1, 1), vm.get_cell(1, 2)) in {(3, 4), (3, 2)}


def test_stored_text_is_kept_exactly_and_errors_are_values():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 1, " =1+1")
    assert vm.get_cell(1, 1) == 2
    vm.set_cell_formula(1, 2, "=1/0")
    assert vm.get_cell(1, 2) == morvane.ExcelError("#DIV/0!")


def test_failed_formula_keeps_previous_content():
    vm = morvane.Vm()
    vm.set_cell(1, 1, "old")
    with pytest.raises(ValueError):
        vm.set_cell_formula(1, 1, "=1+")
    with pytest.raises(ValueError, match=re.escape("Range cannot be used as a scalar value")):
        vm.set_cell_formula(1, 1, "=B1:B2")
    assert vm.get_cell(1, 1) == "old"


def test_recalculation_stops_at_first_failure():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(2, 1, "=A1*10")  # 10
    vm.set_cell_formula(3, 1, "=A2+1")   # 11
    vm.set_cell_formula(4, 1, "=-A3")    # -11
    vm.set_cell_formula(5, 1, "=A4*2")   # -22
    vm.set_cell_formula(3, 1, '=A2&"!"')  # the third link now yields text
    vm.set_cell(1, 1, 3)
    with pytest.raises(RuntimeError, match="^Unary minus on non-numeric value: 30!$"):
        vm.recalculate()
    assert [vm.get_cell(r, 1) for r in (2, 3, 4, 5)] == [30, "30!", -11, -22]


def test_set_cell_over_formula_removes_it():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(1, 2, "=A1+1")
    vm.set_cell(1, 2, 100)
    vm.set_cell(1, 1, 5)
    vm.recalculate()
    assert vm.get_cell(1, 2) == 100


def test_empty_sheet_recalculates_to_nothing():
    vm = morvane.Vm()
    assert vm.recalculate() is None
    assert vm.cells() == {} and vm.sheet_names() == ["sheet1"]
    # Plain values are not formulas: a recalculation leaves them as they are.
    vm.set_cell(1, 1, 5)
    vm.recalculate()
    assert vm.cells() == {(1, 1): 5}


def test_batch_stops_at_first_bad_item():
    vm = morvane.Vm()
    with pytest.raises(TypeError, match="^keys must be \\(row, col\\) tuples of integers$"):
        vm.set_cell_formula_batch({(1, 1): "=1", "A2": "=2", (1, 2): "=3"})
    assert vm.get_cell(1, 1) == 1 and vm.get_cell(1, 2) is None
    with pytest.raises(TypeError, match="^values must be formula strings$"):
        vm.set_cell_formula_batch({(2, 1): 5})
    with pytest.raises(TypeError, match="^keys must be"):
        vm.set_cell_formula_batch({(1, -1): "=1"})
    with pytest.raises(TypeError, match="^keys must be"):
        vm.set_cell_formula_batch({(1, 2, 3): "=1"})
    with pytest.raises(ValueError):
        vm.set_cell_formula_batch({(3, 1): "=1+"})
    with pytest.raises(TypeError, match="formulas"):
        vm.set_cell_formula_batch([((1, 1), "=1")])
    vm.set_cell_formula_batch({})


def test_macro_switching_to_automatic_recalculates():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(1, 2, "=A1+1")
    vm.set_cell(1, 1, 10)
    source = """
Sub Manual()
    Application.Calculation = xlCalculationManual
End Sub
Sub Auto()
    Application.Calculation = xlCalculationAutomatic
End Sub
"""
    vm.run(source, "Manual")
    assert vm.get_cell(1, 2) == 2
    vm.run(source, "Auto")
    assert vm.get_cell(1, 2) == 11
