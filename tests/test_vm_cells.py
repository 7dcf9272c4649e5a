"""Addresses in statements and reads: literals parsed when a program is
loaded, defined names looked up when used, and names of built-ins that a
program uses for its own arrays."""
from vmhelp import run_body


def test_address_literals_with_markers_and_reversed_corners():
    vm = run_body('Range("$B$2").Value = 7\nRange("C1:D$2").Value = 1\nRange("B2:A1").Value = 9\n'
                  'x = Range("$b2").Value\ny = Range("D2").Offset(1, 0).Value')
    # B2:A1 is put in order: the last write, 9, fills A1:B2.
    assert vm.get_cell(2, 2) == 9 and vm.get_cell(1, 1) == 9
    assert vm.get_cell(2, 4) == 1 and vm.get_cell(1, 3) == 1
    assert vm.variables()["x"] == 9 and vm.variables()["y"] is None


def test_a_defined_name_is_looked_up_when_used():
    # The same statement reads through the name twice; the name moves between.
    vm = run_body('Range("A1").Value = 1\nRange("B1").Value = 2\ns = 0\n'
                  'For k = 1 To 2\n If k = 1 Then Range("A1").Name = "here" Else Range("B1").Name = "here"\n'
                  ' s = s * 10 + Range("here").Value\nNext')
    assert vm.variables()["s"] == 12


def test_an_array_named_like_a_builtin_is_an_array():
    vm = run_body("Dim left(2)\nleft(1) = 5\nx = left(1)")
    assert vm.variables()["x"] == 5
