"""The Vm class: a long-lived interpreter with its workbook, borrow flag and
Python-facing methods."""
import re
import signal
import sys
import types

import pytest

import morvane
from morvane import Vm
from vmhelp import RUN_ERRORS_DOC, run, same, sub

METHOD_DOCS = {
    "run": ("(self, vba_code, macro_name)", "Parse and execute *vba_code*, running the Sub named *macro_name*.\n\n"
            "What the run changed stays, also when it fails.\n\n" + RUN_ERRORS_DOC),
    "set_cell": ("(self, row, col, value)", "Write a value into a cell. ``row`` and ``col`` are 1-based (VBA convention)."),
    "get_cell": ("(self, row, col)", "Return the value of a cell (1-based row/col). Returns ``None`` for empty cells."),
    "cells": ("(self)", "Return the active sheet's non-empty cells as a dict: ``{(row, col): value}``."),
    "variables": ("(self)", "Return the module variables and the locals of the Sub the last run started,\nas a dict: ``{name: value}``."),
    "set_cell_formula": (
        "(self, row, col, formula)",
        'Store a formula string (e.g. ``"=SUM(A1:A3)"``) on a cell and evaluate it\n'
        "immediately against the current cell state.",
    ),
    "recalculate": ("(self)", "Re-evaluate all cells that have a stored formula."),
    "set_cell_formula_batch": (
        "(self, formulas)",
        "Set multiple cell formulas at once.\n"
        "``formulas`` should be a dict mapping ``(row, col)`` tuples (1-based) to formula strings.\n\n"
        "All or nothing: when an item is malformed (``TypeError``) or a formula does\n"
        "not parse (``ValueError``), no formula of the batch is stored.",
    ),
    "set_sheet": ("(self, name)", "Switch the active sheet. Creates the sheet if it does not exist.\n\n"
                  "``name`` is matched in any letter case. A new sheet's name must be 1 to 31\n"
                  "characters, hold none of ``: \\ / ? * [ ]`` and not begin or end with an\n"
                  "apostrophe; ``ValueError`` otherwise."),
    "active_sheet": ("(self)", "Return the name of the currently active sheet, in lower case."),
    "sheet_names": ("(self)", "Return all sheet names, in tab order and in lower case."),
    "get_sheet": ("(self, name)", "Return all non-empty cells in a specific sheet as ``{(row, col): value}``.\n\n"
                  "``name`` is matched in any letter case; a sheet that is not there raises\n"
                  "``KeyError``, whose message lists the sheets there are."),
    "save_workbook": ("(self, path)", "Save all sheets to a workbook file, its format chosen by the extension of\n"
                      "``path`` in any letter case: ``.xlsx``, ``.xlsm`` (macro-enabled, but\n"
                      "holding no VBA project) or ``.ods``. Any other extension raises\n"
                      "``ValueError`` before anything is written.\n\n"
                      "Only cell values are saved, not formulas, formatting or VBA code; an .xlsx\n"
                      "or .xlsm file opens on the active sheet. The file is replaced in one piece;\n"
                      "a path that names something other than a regular file raises ``OSError``."),
}


IN_USE = "this Vm is in use by another call: a Vm runs one call at a time, so give each thread its own Vm"


@pytest.mark.parametrize("name", list(METHOD_DOCS))
def test_method_signatures_and_docs(name):
    method = getattr(Vm, name)
    signature, doc = METHOD_DOCS[name]
    assert method.__text_signature__ == signature.replace("(self", "($self")
    assert method.__doc__ == doc


def test_methods_in_class_order():
    listed = [name for name in Vm.__dict__ if name in METHOD_DOCS]
    assert listed == list(METHOD_DOCS)


def test_class_signature_and_doc():
    assert Vm.__text_signature__ == '(on_msgbox="skip")'
    assert Vm.__doc__ == (
        "VBA execution engine. Create one, pre-populate cells with ``set_cell``,\n"
        "run a macro with ``run``, then read results via ``get_cell`` / ``cells``.\n\n"
        '``on_msgbox`` is ``"skip"`` (a MsgBox is passed over) or ``"error"``\n'
        "(a MsgBox fails the run); any other text raises ``ValueError``.\n\n"
        "A Vm runs one call at a time: a call made while another runs (from\n"
        "another thread) raises ``RuntimeError``. Give each thread its own Vm."
    )
    assert Vm.cells_df.__doc__.startswith("Return the active sheet's non-empty cells as a **pandas DataFrame**.")


def test_fill_run_and_read_back():
    vm = Vm()
    vm.set_cell(1, 1, 10)
    vm.set_cell(2, 1, 2.5)
    vm.run(sub("Cells(3, 1).Value = Cells(1, 1).Value * Cells(2, 1).Value\nt = \"done\""), "Main")
    assert same(vm.get_cell(3, 1), 25)
    assert same(vm.cells(), {(1, 1): 10, (2, 1): 2.5, (3, 1): 25})
    assert same(vm.variables(), {"t": "done"})


def test_module_variables_persist_between_runs():
    vm = Vm()
    run("Dim n As Long\n" + sub("n = 1"), vm=vm)
    run("Dim n As Long\n" + sub("n = n + 1\nCells(1, 1).Value = n", "Again"), "Again", vm=vm)
    assert vm.get_cell(1, 1) == 2 and vm.variables()["n"] == 2
    # A procedure's own variables start afresh at each run.
    with pytest.raises(RuntimeError, match=re.escape("Undefined variable: 'm'")):
        run(sub("m = 1"), vm=vm)
        run(sub("m = m + 1", "Again"), "Again", vm=vm)


def test_a_failed_run_keeps_what_it_did():
    vm = Vm()
    with pytest.raises(RuntimeError, match=re.escape("Undefined variable: 'nope'")):
        vm.run(sub("Cells(1, 1).Value = 1\nx = nope"), "Main")
    assert vm.cells() == {(1, 1): 1}


def test_variables_include_empty_values():
    vm = run(sub("Dim a\nDim b As String\nDim c As Long\nDim d As Boolean\nDim e As Double"))
    assert same(vm.variables(), {"a": None, "b": "", "c": 0, "d": False, "e": 0.0})


def test_none_stores_an_empty_cell():
    vm = Vm()
    vm.set_cell(1, 1, 5)
    vm.set_cell(1, 1, None)
    assert vm.get_cell(1, 1) is None
    assert vm.cells() == {}


def test_sheets():
    vm = Vm()
    vm.set_cell(1, 1, "first")
    vm.set_sheet("Data")
    assert vm.active_sheet() == "data"
    assert vm.sheet_names() == ["sheet1", "data"]  # tab order
    assert vm.cells() == {}
    vm.set_cell(2, 2, "second")
    assert vm.get_sheet("SHEET1") == {(1, 1): "first"}
    assert vm.get_sheet("data") == {(2, 2): "second"}
    with pytest.raises(KeyError, match="nope"):
        vm.get_sheet("nope")  # a typo is no empty sheet
    assert vm.active_sheet() == "data"
    vm.run(sub('Cells(1, 1).Value = Range("B2").Value & "!"'), "Main")
    assert vm.get_sheet("data") == {(1, 1): "second!", (2, 2): "second"}


def test_end_search_follows_set_sheet():
    vm = Vm()
    for r in range(1, 6):
        vm.set_cell(r, 1, r)
    vm.set_sheet("other")
    vm.set_cell(1, 1, "a")
    vm.set_cell(2, 1, "b")
    vm.run(sub("n = Cells(Rows.Count, 1).End(xlUp).Row"), "Main")
    assert vm.variables()["n"] == 2


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda vm: vm.get_cell(-1, 1), OverflowError, "get_cell() argument 'row' must be between 0 and 4294967295"),
        (lambda vm: vm.set_cell(1, 2**32, 1), OverflowError, "set_cell() argument 'col' must be between 0 and 4294967295"),
        (lambda vm: vm.get_cell("1", 1), TypeError, "get_cell() argument 'row' must be int, not str"),
        (lambda vm: vm.set_cell(1, 1, object()), TypeError, "Unsupported cell value type"),
        (lambda vm: vm.run(1, "m"), TypeError, "run() argument 'vba_code' must be str, not int"),
        (lambda vm: vm.set_sheet(None), TypeError, "set_sheet() argument 'name' must be str, not NoneType"),
        (lambda vm: vm.get_sheet(1), TypeError, "get_sheet() argument 'name' must be str, not int"),
        (lambda vm: Vm(on_msgbox=None), TypeError, "Vm() argument 'on_msgbox' must be str, not NoneType"),
        (lambda vm: vm.run("Sub m(\n", "m"), SyntaxError, None),
        (lambda vm: vm.run(sub("x = 1"), "m"), RuntimeError, "Sub 'm' not found"),
    ],
)
def test_argument_and_run_errors(call, exc, message):
    with pytest.raises(exc, match=message and re.escape(message)):
        call(Vm())


def test_wrong_argument_counts():
    vm = Vm()
    for call in (lambda: vm.get_cell(1), lambda: vm.cells(1), lambda: vm.run("x", "y", "z"), lambda: vm.set_sheet(nam="x")):
        with pytest.raises(TypeError):
            call()


def test_msgbox_mode_of_the_constructor():
    with pytest.raises(RuntimeError, match="(?m)^MsgBox: 3$"):
        Vm("error").run(sub("MsgBox 1 + 2"), "Main")
    Vm("skip").run(sub("MsgBox 1 + 2"), "Main")


def test_cells_df_grid():
    pd = pytest.importorskip("pandas")
    vm = Vm()
    assert vm.cells_df().empty
    vm.set_cell(2, 3, 5)
    vm.set_cell(1, 1, None)
    df = vm.cells_df()
    assert isinstance(df, pd.DataFrame)
    assert list(df.index) == [1, 2] and list(df.columns) == [1, 2, 3]
    assert df.loc[2, 3] == 5
    # Blanks are NaN in every column, numeric or not.
    vm.set_cell(1, 2, "text")
    df = vm.cells_df()
    assert pd.isna(df.loc[1, 1]) and pd.isna(df.loc[2, 1]) and pd.isna(df.loc[2, 2]) and pd.isna(df.loc[1, 3])


def test_cells_df_without_pandas(monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    vm = Vm()
    with pytest.raises(ImportError, match=re.escape("pandas is required for cells_df(); install it with: pip install pandas")) as info:
        vm.cells_df()
    # Why the import failed stays visible as the cause.
    assert isinstance(info.value.__cause__, ImportError)
    assert "pandas" in str(info.value.__cause__)
    vm.set_cell(1, 1, 1)  # free again


@pytest.mark.parametrize("row, col", [(1_048_576, 10), (1000, 16_384), (4000, 4000)])
def test_cells_df_refuses_huge_grids_before_building(monkeypatch, row, col):
    built = []
    monkeypatch.setitem(sys.modules, "pandas", types.SimpleNamespace(DataFrame=lambda *a, **k: built.append(1)))
    vm = Vm()
    vm.set_cell(row, col, 1)
    with pytest.raises(MemoryError, match="the limit is 10,000,000 cells"):
        vm.cells_df()
    assert not built


def test_borrow_flag(monkeypatch):
    vm = Vm()
    seen = {}

    def frame(*args, **kwargs):
        seen["read"] = vm.get_cell(1, 1)  # shared inside shared is fine
        with pytest.raises(RuntimeError, match=re.escape(IN_USE)):
            vm.set_cell(1, 1, 2)
        return "frame"

    monkeypatch.setitem(sys.modules, "pandas", types.SimpleNamespace(DataFrame=frame))
    vm.set_cell(1, 1, 1)
    assert vm.cells_df() == "frame" and seen["read"] == 1
    vm.set_cell(1, 1, 3)  # released


LOOP_FOREVER = sub("Dim n\nDo\n    n = n + 1\nLoop")


def _interrupt_soon(handler):
    old = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    return old


def test_ctrl_c_interrupts_a_runaway_macro():
    def handler(signum, frame):
        raise KeyboardInterrupt

    old = _interrupt_soon(handler)
    try:
        vm = Vm()
        with pytest.raises(KeyboardInterrupt):
            vm.run(sub("Dim n\nOn Error Resume Next\nDo\n    n = n + 1\nLoop"), "Main")
        assert vm.variables()["n"] > 0
        vm.run(sub("m = 1"), "Main")  # usable afterwards
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


def test_a_goto_loop_can_be_interrupted_too():
    def handler(signum, frame):
        raise KeyboardInterrupt

    old = _interrupt_soon(handler)
    try:
        with pytest.raises(KeyboardInterrupt):
            Vm().run(sub("top:\nGoTo top"), "Main")
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


def test_reading_during_a_run_is_refused():
    vm = Vm()

    def handler(signum, frame):
        vm.cells()

    old = _interrupt_soon(handler)
    try:
        with pytest.raises(RuntimeError, match=re.escape(IN_USE)):
            vm.run(LOOP_FOREVER, "Main")
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert vm.variables()["n"] > 0


def test_runaway_recursion_on_a_small_thread_stack():
    import threading

    result = {}

    def work():
        try:
            Vm().run("Function D(n)\nD = D(n + 1)\nEnd Function\n" + sub("x = D(1)"), "Main")
        except RuntimeError as e:
            result["error"] = str(e)

    old = threading.stack_size(512 * 1024)
    try:
        t = threading.Thread(target=work)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    assert result == {"error": "Out of stack space"}
