"""Stored formulas, recalculation order, cycles, failures and the batch method."""
import itertools
import re

import pytest

import morvane
from vmhelp import outcomes_in_child, sub


def test_writing_a_cell_recalculates_what_reads_it():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 5)
    vm.set_cell_formula(2, 1, "=A1*2")
    vm.set_cell_formula(3, 1, "=A2+1")
    assert vm.get_cell(2, 1) == 10
    vm.set_cell(1, 1, 7)
    assert (vm.get_cell(2, 1), vm.get_cell(3, 1)) == (14, 15)


def test_manual_mode_keeps_values_until_recalculated():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 5)
    vm.set_cell_formula(2, 1, "=A1*2")
    vm.run("Sub M()\n Application.Calculation = xlCalculationManual\nEnd Sub", "M")
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


@pytest.mark.parametrize("batch", [False, True])
@pytest.mark.parametrize("order", list(itertools.permutations(range(4))))
def test_a_stored_formula_updates_its_readers_without_recalculate(order, batch):
    # B1 reads A1 by name, C1 through INDIRECT, and A1 gets its formula in
    # any place of the order: every read sees the value it reaches.
    formulas = [((1, 1), "=5"), ((1, 2), "=A1*2"), ((1, 3), '=INDIRECT("A1")+B1'), ((1, 4), "=C1+1")]
    vm = morvane.Vm()
    if batch:
        vm.set_cell_formula_batch(dict(formulas[i] for i in order))
    else:
        for i in order:
            vm.set_cell_formula(*formulas[i][0], formulas[i][1])
    assert [vm.get_cell(1, c) for c in (1, 2, 3, 4)] == [5, 10, 15, 16]
    vm.set_cell_formula(1, 1, "=6")
    assert [vm.get_cell(1, c) for c in (1, 2, 3, 4)] == [6, 12, 18, 19]


def test_reversed_range_is_a_dependency():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 3, "=SUM(B2:A1)")
    for (r, c), text in {(1, 1): "=1", (1, 2): "=2", (2, 1): "=3", (2, 2): "=4"}.items():
        vm.set_cell_formula(r, c, text)
    vm.recalculate()
    assert vm.get_cell(1, 3) == 10


REF = morvane.ExcelError("#REF!")


@pytest.mark.parametrize("formulas, want", [
    ({(1, 1): "=A1+1"}, {(1, 1): REF}),                                   # itself
    ({(1, 1): "=B1+1", (1, 2): "=A1+1"}, {(1, 1): REF, (1, 2): REF}),     # through another
    ({(3, 1): "=SUM(A1:A5)"}, {(3, 1): REF}),                            # inside its own range
    # A cell reading a cycle gets the cycle's error; one beside it is computed.
    ({(1, 1): "=B1", (1, 2): "=A1", (1, 3): "=A1+1", (1, 4): "=2"},
     {(1, 1): REF, (1, 2): REF, (1, 3): REF, (1, 4): 2}),
    # A position is no read: ROW and COLUMN of one's own cell are no cycle.
    ({(2, 1): "=ROW(A2)+COLUMN(A2)"}, {(2, 1): 3}),
])
def test_cycles_give_an_error_value_in_each_cell(formulas, want):
    vm = morvane.Vm()
    vm.set_cell(1, 1, 0)
    for (r, c), text in formulas.items():
        vm.set_cell_formula(r, c, text)
    assert {pos: vm.get_cell(*pos) for pos in want} == want
    vm.recalculate()
    assert {pos: vm.get_cell(*pos) for pos in want} == want


def test_breaking_a_cycle_computes_its_cells_again():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 1, "=B1+1")
    vm.set_cell_formula(1, 2, "=A1+1")
    assert vm.get_cell(1, 1) == REF
    vm.set_cell(1, 2, 10)
    assert vm.get_cell(1, 1) == 11


def test_stored_text_is_kept_exactly_and_errors_are_values():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 1, " =1+1")
    assert vm.get_cell(1, 1) == 2
    vm.set_cell_formula(1, 2, "=1/0")
    assert vm.get_cell(1, 2) == morvane.ExcelError("#DIV/0!")


def test_a_formula_that_does_not_parse_keeps_previous_content():
    vm = morvane.Vm()
    vm.set_cell(1, 1, "old")
    with pytest.raises(ValueError):
        vm.set_cell_formula(1, 1, "=1+")
    assert vm.get_cell(1, 1) == "old"


VALUE = morvane.ExcelError("#VALUE!")


@pytest.mark.parametrize("formula, want", [
    ("=A1*2", VALUE),                                  # text in a numeric position
    ('="3 x"+1', VALUE),
    ("=B1:B2", VALUE),                                 # a range where one value goes
    ('=INDIRECT("zz")', REF),                          # a reference that cannot be made
    ('=AVERAGEIF(B1:B2,">100")', morvane.ExcelError("#DIV/0!")),  # an average of nothing
    ('=MAXIFS(B1:B2,B1:B2,">100")', 0),                # no matching row
    ('=MINIFS(B1:B2,B1:B2,">100")', 0),
    ("=CODE(C1)", VALUE),                              # CODE of an empty cell
])
def test_a_failing_formula_holds_an_error_value(formula, want):
    vm = morvane.Vm()
    vm.set_cell(1, 1, "abc")
    vm.set_cell(1, 2, 1)
    vm.set_cell(2, 2, 2)
    vm.set_cell_formula(5, 5, formula)
    assert vm.get_cell(5, 5) == want


def test_one_bad_cell_never_stops_the_sheet():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(2, 1, "=A1*10")  # 10
    vm.set_cell_formula(3, 1, "=A2+1")   # 11
    vm.set_cell_formula(4, 1, "=-A3")    # -11
    vm.set_cell_formula(5, 1, "=A4*2")   # -22
    vm.set_cell_formula(6, 1, "=A2*3")   # 30, beside the chain
    vm.set_cell_formula(3, 1, '=A2&"!"')  # the third link now yields text
    vm.set_cell(1, 1, 3)
    assert [vm.get_cell(r, 1) for r in range(2, 7)] == [30, "30!", VALUE, VALUE, 90]
    vm.recalculate()
    assert [vm.get_cell(r, 1) for r in range(2, 7)] == [30, "30!", VALUE, VALUE, 90]


# The bound met by a sequence of 20,000,000 numbers (its message names its maximum).
TOO_MANY = "maximum is"


def test_a_bound_still_stops_the_run():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 3)
    with pytest.raises(ValueError, match=TOO_MANY):
        vm.set_cell_formula(2, 1, "=SUM(SEQUENCE(20000000))")
    vm.set_cell_formula(2, 1, "=SUM(SEQUENCE(A1))")
    assert vm.get_cell(2, 1) == 6
    vm.set_cell(1, 1, 20000000)
    with pytest.raises(RuntimeError, match=TOO_MANY):
        vm.get_cell(2, 1)
    with pytest.raises(RuntimeError, match=TOO_MANY):
        vm.recalculate()
    with pytest.raises(RuntimeError, match=TOO_MANY):
        vm.run('Sub M()\n x = Range("A2").Value\nEnd Sub', "M")
    vm.set_cell(1, 1, 4)
    assert vm.get_cell(2, 1) == 10


def test_set_cell_over_formula_removes_it():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(1, 2, "=A1+1")
    vm.set_cell(1, 2, 100)
    vm.set_cell(1, 1, 5)
    vm.recalculate()
    assert vm.get_cell(1, 2) == 100


def test_macro_writes_around_and_into_what_formulas_read():
    # E1 reads B1:B10 and G20 reads the cell of an INDIRECT; a macro writes
    # beside them, into what they read, and over E1 itself.
    vm = morvane.Vm()
    vm.set_cell_formula(1, 5, "=SUM(B1:B10)")
    vm.set_cell(2, 2, 3)
    assert vm.get_cell(1, 5) == 3
    vm.run("""
Sub Main()
    For i = 1 To 50
        Cells(i, 1).Value = i
        Cells(i, 30).Value = i
    Next
    Cells(5, 2).Value = 4
End Sub
""", "Main")
    assert vm.get_cell(1, 5) == 7
    vm.run('Sub Main()\n    Cells(1, 5).Value = "kept"\nEnd Sub', "Main")
    vm.set_cell(2, 2, 100)
    assert vm.get_cell(1, 5) == "kept"
    vm.set_cell_formula(20, 7, '=INDIRECT("Z1")')
    assert vm.get_cell(20, 7) == 0
    vm.run('Sub Main()\n    Cells(1, 26).Value = 9\nEnd Sub', "Main")
    assert vm.get_cell(20, 7) == 9


def test_empty_sheet_recalculates_to_nothing():
    vm = morvane.Vm()
    assert vm.recalculate() is None
    assert vm.cells() == {} and vm.sheet_names() == ["sheet1"]
    # Plain values are not formulas: a recalculation leaves them as they are.
    vm.set_cell(1, 1, 5)
    vm.recalculate()
    assert vm.cells() == {(1, 1): 5}


def test_a_bad_item_refuses_the_whole_batch():
    vm = morvane.Vm()
    with pytest.raises(TypeError, match="^keys must be \\(row, col\\) tuples of integers$"):
        vm.set_cell_formula_batch({(1, 1): "=1", "A2": "=2", (1, 2): "=3"})
    assert vm.cells() == {}
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
    assert vm.cells() == {}


def test_a_formula_that_does_not_parse_refuses_the_whole_batch():
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(1, 2, "=A1*2")
    vm.set_cell_formula(1, 3, "=B1+A2")
    before = vm.cells()
    # Earlier items overwrite a value, a formula and an empty cell that the
    # other formulas read; all of it is put back.
    with pytest.raises(ValueError):
        vm.set_cell_formula_batch({(1, 1): "=5", (1, 2): "=A1*10", (2, 1): "=7", (3, 1): "=1+"})
    assert vm.cells() == before == {(1, 1): 1, (1, 2): 2, (1, 3): 2}
    vm.set_cell(1, 1, 3)  # the formulas still follow their cells
    assert vm.cells() == {(1, 1): 3, (1, 2): 6, (1, 3): 6}
    vm.set_cell(2, 1, 1)
    assert vm.get_cell(1, 3) == 7


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


def chain_vm():
    """A1 = 1, A2 = A1+1, A3 = A2+1, then A1 set to 10 without a recalculation."""
    vm = morvane.Vm()
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(2, 1, "=A1+1")
    vm.set_cell_formula(3, 1, "=A2+1")
    return vm


# Every read of a formula cell after a write gives the value computed from
# the current cells.
READS = {
    "get_cell": lambda vm: vm.get_cell(3, 1),
    "cells": lambda vm: vm.cells()[(3, 1)],
    "get_sheet": lambda vm: vm.get_sheet("sheet1")[(3, 1)],
    "cells_df": lambda vm: vm.cells_df().loc[3, 1],
    "macro Range": lambda vm: macro_read(vm, 'Range("A3").Value'),
    "macro Cells": lambda vm: macro_read(vm, "Cells(3, 1).Value"),
    "macro sheet": lambda vm: macro_read(vm, 'Worksheets("sheet1").Range("A3").Value'),
    "macro area": lambda vm: macro_read(vm, 'WorksheetFunction.Sum(Range("A2:A3"))') - 11,
    "formula": lambda vm: stored(vm, "=A3"),
}


def macro_read(vm, expr):
    vm.run(f"Sub M()\n    x = {expr}\nEnd Sub", "M")
    return vm.variables()["x"]


def stored(vm, formula):
    vm.set_cell_formula_batch({(9, 9): formula})
    return vm.get_cell(9, 9)


@pytest.mark.parametrize("read", READS.values(), ids=READS.keys())
def test_every_read_sees_current_values(read):
    pytest.importorskip("pandas")
    vm = chain_vm()
    vm.set_cell(1, 1, 10)
    assert read(vm) == 12


def test_a_macro_reads_what_its_own_writes_reach():
    vm = chain_vm()
    vm.run('Sub M()\n    Range("A1").Value = 5\n    Range("A4").Value = Range("A3").Value\n'
           '    Worksheets("sheet1").Range("A1").Value = 7\n    Range("A5").Value = Cells(3, 1).Value\nEnd Sub', "M")
    assert [vm.get_cell(r, 1) for r in (4, 5)] == [7, 9]


def test_saved_files_hold_current_values(tmp_path):
    openpyxl = pytest.importorskip("openpyxl")
    vm = chain_vm()
    vm.set_cell(1, 1, 10)
    path = tmp_path / "book.xlsx"
    vm.save_workbook(str(path))
    assert openpyxl.load_workbook(path)["Sheet1"]["A3"].value == 12


def test_recalculate_covers_every_sheet():
    vm = morvane.Vm()
    vm.set_sheet("other")
    vm.set_cell(1, 1, 1)
    vm.set_cell_formula(1, 2, "=A1*2")
    vm.set_sheet("sheet1")
    vm.run("Sub M()\n Application.Calculation = xlCalculationManual\n"
           ' Worksheets("other").Cells(1, 1) = 5\nEnd Sub', "M")
    assert vm.get_sheet("other")[(1, 2)] == 2
    vm.recalculate()
    assert vm.get_sheet("other")[(1, 2)] == 10


@pytest.mark.parametrize("statement, want", [
    ("Calculate", [11, 12]),
    ("Application.Calculate", [11, 12]),
    ("ActiveSheet.Calculate", [11, 12]),
    ('Worksheets("sheet1").Calculate', [11, 12]),
    ('Range("A2:A3").Calculate', [11, 12]),
    ('Range("A3").Calculate', [2, 3]),          # from the value A2 holds
    ('Worksheets("other").Calculate', [2, 3]),  # another sheet
    ("Application.Calculation = xlCalculationAutomatic", [11, 12]),
])
def test_calculate_in_manual_mode(statement, want):
    vm = chain_vm()
    vm.set_sheet("other")
    vm.set_sheet("sheet1")
    vm.run("Sub M()\n Application.Calculation = xlCalculationManual\n Range(\"A1\").Value = 10\nEnd Sub", "M")
    assert [vm.get_cell(r, 1) for r in (2, 3)] == [2, 3]
    vm.run(f"Sub M()\n    {statement}\nEnd Sub", "M")
    assert [vm.get_cell(r, 1) for r in (2, 3)] == want


@pytest.mark.parametrize("formula, want", [
    ("=B5", 0),                       # a blank cell's value shows 0
    ("=IF(TRUE,B5)", 0),
    ("=ISBLANK(B5)", True),           # inside a formula a blank stays blank
    ("=COUNTA(B5,B6)", 1),
    ('=B5&""', ""),
    ("=XFD1048576", 0),               # the sheet's last cell
    ("=COUNTA(B1:XFD1048576)", 1),
])
def test_blank_results_and_references_to_the_edge(formula, want):
    vm = morvane.Vm()
    vm.set_cell(6, 2, "x")
    vm.set_cell_formula(1, 1, formula)
    assert vm.get_cell(1, 1) == want
    assert vm.cells()[(1, 1)] == want


@pytest.mark.parametrize("formula, named", [
    ("=A1048577", "A1048577"),
    ("=ZZZZ1", "ZZZZ1"),
    ("=A1048577+1", "A1048577"),
    ("=SUM($A$1:$XFE$3)", "$A$1:$XFE$3"),
    ("=SUM(B1:DERTEC1)", "B1:DERTEC1"),   # once a silent 0
    ("=ROWS(A1 : A1048577)", "A1 : A1048577"),
    ("=DCOUNTA(A1:DERTEC5,1,E1:E1)", "A1:DERTEC5"),  # once half a second per evaluation
    ("=ATAN2", "ATAN2"),                 # a name without "(" reads as a reference
])
@pytest.mark.parametrize("where", ["python", "macro"])
def test_a_reference_past_the_edge_is_refused_by_name(formula, named, where):
    message = f"Reference past the sheet's last column XFD or row 1048576: '{named}'"
    vm = morvane.Vm()
    vm.set_cell(1, 1, "kept")
    if where == "python":
        with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
            vm.set_cell_formula(1, 1, formula)
    else:
        with pytest.raises(RuntimeError, match="(?m)^" + re.escape(message) + "$"):
            vm.run(f'Sub M()\n Range("A1").Formula = "{formula}"\nEnd Sub', "M")
    assert vm.cells() == {(1, 1): "kept"}


def test_a_formula_over_a_blank_stays_in_the_cells():
    vm = morvane.Vm()
    vm.set_cell_formula(1, 1, "=B5")
    assert vm.cells() == {(1, 1): 0}


# A formula cell that rows or columns moved, then pasted over, cleared or
# deleted: what the workbook knows of its formulas follows every shift.
@pytest.mark.parametrize("body, cells, variables", [
    ('Range("A1").Value = 7\nRange("C5").Formula = "=1+2"\nRows(7).Insert\n'
     'Range("A1").Copy Destination:=Range("C5")\nRange("D1").Value = Range("C5").Value',
     [((1, 1), 7), ((1, 4), 7), ((5, 3), 7)], []),
    # Nothing read in the macro: the reads of the sheet afterwards.
    ('Range("C5").Formula = "=1+2"\nRows(7).Insert\nRange("A1").Copy Destination:=Range("C5")', [], []),
    ('Range("C5").Formula = "=1+2"\nColumns(1).Insert\nx = Range("D5").Value\nColumns(4).Delete\n'
     'Range("A1").Value = Range("D5").Value', [], [("x", 3)]),
    ('Range("C5").Formula = "=1+2"\nRows(2).Delete\nx = Range("C4").Value\nRange("C4").Delete\n'
     'Range("D1").Value = Range("C4").Value', [], [("x", 3)]),
    ('Range("C5").Formula = "=1+2"\nRows(2).Insert\nx = Range("C6").Value\nRange("C6").ClearContents\n'
     'Range("D1").Formula = "=C6+1"', [((1, 4), 1)], [("x", 3)]),
    ('Range("B1").Value = 4\nRange("C5").Formula = "=B1*2"\nColumns(1).Insert\nx = Range("D5").Value\n'
     'Range("D5").Value = 1\nRange("E1").Value = Range("D5").Value', [((1, 3), 4), ((1, 5), 1), ((5, 4), 1)],
     [("x", 8)]),
])
def test_a_moved_formula_cell_pasted_over_or_deleted(body, cells, variables):
    assert outcomes_in_child([sub(body)]) == [repr((None, {"sheet1": cells}, variables))]


def test_clearing_a_tall_block_of_formulas_costs_what_it_clears():
    # 400,000 formulas whose ranges grow down the column share the coarse
    # cells of the index of who reads what; removing them one by one from
    # there took half a minute. The range sits in a branch never taken, so
    # the formulas cost nothing to evaluate and only the index is timed.
    body = ('Range("K11:K400010").Formula = "=IF(FALSE,$G$11:I14)+1"\nRange("K11:K400010").ClearContents\n'
            'x = Range("K12").Value')
    assert outcomes_in_child([sub(body)], timeout=10) == [repr((None, {"sheet1": []}, [("x", None)]))]
