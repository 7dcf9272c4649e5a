"""What crosses the Python boundary intact: exceptions, messages and hashes."""
import pytest

import morvane
from morvane import ExcelError, Vm


class Boom(Exception):
    pass


class RaisingIndex:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class RaisingFloat:
    def __float__(self):
        raise Boom("float")


@pytest.mark.parametrize("value, exc", [
    (RaisingIndex(Boom("index")), Boom),
    (RaisingIndex(KeyboardInterrupt()), KeyboardInterrupt),
    (RaisingFloat(), Boom),
])
def test_set_cell_keeps_the_values_own_exception(value, exc):
    vm = Vm()
    vm.set_cell(1, 1, 7)
    with pytest.raises(exc):
        vm.set_cell(1, 1, value)
    assert vm.get_cell(1, 1) == 7


class Index:
    def __index__(self):
        return 42


def test_set_cell_reads_index_and_float_protocols():
    vm = Vm()
    vm.set_cell(1, 1, Index())
    assert vm.get_cell(1, 1) == 42 and type(vm.get_cell(1, 1)) is int


@pytest.mark.parametrize("call, exc, message", [
    (lambda vm: vm.set_cell_formula(1, 1, '=A\x00b'), ValueError, "Unexpected input at position 1: '\x00b'"),
    (lambda vm: vm.run('Sub M()\n Err.Raise 1, , "x"\nEnd Sub', "nope\x00x"), RuntimeError, "Sub 'nope\x00x' not found"),
])
def test_messages_keep_characters_after_a_nul(call, exc, message):
    with pytest.raises(exc) as info:
        call(Vm())
    assert str(info.value) == message


def test_hash_never_raises_and_agrees_with_equality():
    lone = ExcelError("\ud800")
    assert hash(lone) == 3  # as "surrogatepass" encodes it
    assert lone == ExcelError("\ud800")
    assert hash(ExcelError("é")) == 2 and hash(ExcelError("#N/A")) == 4
    assert hash(ExcelError("😀")) == 4
    assert len({ExcelError("#N/A"), ExcelError("#N/A"), lone}) == 2
