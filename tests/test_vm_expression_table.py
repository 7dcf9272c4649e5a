"""A generated table of expressions (operators over every value kind, nested
shapes, variables, cell reads, calls), each evaluated in several places a
macro may put an expression: an assignment, an array element, a Function
argument, a cell write and an If condition. The results are pinned in
expression_table.json; rebuild it with `python tests/test_vm_expression_table.py`
only when a value rule changes on purpose."""
import datetime
import json
import pathlib
import random

import morvane
from morvane import ExcelError

TABLE = pathlib.Path(__file__).with_name("expression_table.json")

SETUP = """vi = 7
vn = -3
vz = 0
vf = 2.5
vs = "12"
vt = "abc"
vb = True
vd = #3/15/2023#
ve = Empty
vbig = 9007199254740993
Dim va(2)
va(0) = 1
va(1) = "x"
Cells(1, 7).Value = #5/6/2021#
"""

FUNCTIONS = """Function Twice(v)
    Twice = v * 2
End Function

Function Id(v)
    Id = v
End Function

Function Pick(a, b)
    If a > b Then Pick = a Else Pick = b
End Function
"""

CELLS = {
    (1, 1): 4, (1, 2): 1.5, (1, 3): "7", (1, 4): "txt", (1, 5): True,
    (1, 6): ExcelError("#DIV/0!"),
}

# One operand of each value kind, some as literals, some read from a
# variable, a cell or a call.
KINDS = [
    "7", "2.5", '"12"', '"abc"', "True", "#1/2/2020#", "Empty", "9007199254740993", "Cells(1, 6).Value",
    "va", "vi", "vf", "vs", "Cells(1, 1).Value", "Cells(2, 1).Value", "Twice(vi)",
]

ATOMS = KINDS + [
    "-2", "0", '""', "False", "123456789012.5", "vn", "vz", "vt", "vb", "vd", "ve", "vbig", "va(1)", "va(0)",
    "Cells(1, 2).Value", "Cells(1, 3).Value", "Cells(1, 4).Value", "Cells(1, 5).Value", "Cells(1, 7).Value",
    "Cells(vi - 6, vi - 5).Value", 'Range("A1").Value', 'Range("A1:B1").Value', "Twice(vf)", "Id(vs)",
    "Len(vt)", "Abs(vn)", "CStr(vi)", "Int(vf)", 'Mid(vt, 2)', "Pick(vi, vf)", "nope",
]

OPERATORS = ["+", "-", "*", "/", "\\", "Mod", "^", "&", "=", "<>", "<", "<=", ">", ">=", "And", "Or", "Xor"]


def expressions():
    out = [f"{a} {op} {b}" for op in OPERATORS for a in KINDS for b in KINDS]
    out += [f"-{a}" for a in ATOMS] + [f"Not {a}" for a in ATOMS] + [f"-({a})" for a in ATOMS]
    out += [f"Id({a})" for a in ATOMS] + [f"Twice({a})" for a in ATOMS]
    out += [f"Cells({a}, 1).Value" for a in ATOMS] + [f"Cells(1, {a}).Value" for a in ATOMS]
    # Nested shapes: a fixed sample of trees three levels deep.
    rng = random.Random(21)

    def tree(depth):
        if depth == 0 or rng.random() < 0.25:
            return rng.choice(ATOMS)
        shape = rng.randrange(6)
        if shape == 0:
            return f"-({tree(depth - 1)})"
        if shape == 1:
            return f"Not ({tree(depth - 1)})"
        if shape == 2:
            return f"Id({tree(depth - 1)})"
        if shape == 3:
            return f"Cells({tree(depth - 1)}, 2).Value"
        return f"({tree(depth - 1)}) {rng.choice(OPERATORS)} ({tree(depth - 1)})"

    out += [tree(3) for _ in range(400)]
    return list(dict.fromkeys(out))


# Where the expression stands, and how its value is read back.
PLACES = {
    "assign": "x = {e}",
    "element": "va(2) = {e}\nx = va(2)",
    "argument": "x = Id({e})",
    "cell": "Cells(9, 9).Value = {e}\nx = Cells(9, 9).Value",
    "condition": "If {e} Then\nx = 1\nElse\nx = 0\nEnd If",
}


def encode(value):
    if isinstance(value, bool):
        return ["bool", value]
    if isinstance(value, int):
        return ["int", str(value)]
    if isinstance(value, float):
        return ["float", repr(value)]
    if isinstance(value, str):
        return ["str", value]
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        return [type(value).__name__, value.isoformat()]
    if isinstance(value, ExcelError):
        return ["error", str(value)]
    if value is None:
        return ["empty"]
    if isinstance(value, list):
        return ["list", [encode(v) for v in value]]
    return ["other", repr(value)]


def evaluate(vm, expr):
    """The encoded result of `expr` in every place, in PLACES order."""
    out = []
    for body in PLACES.values():
        code = f"{FUNCTIONS}\nSub Main()\n{SETUP}{body.format(e=expr)}\nEnd Sub\n"
        try:
            vm.run(code, "Main")
            out.append(encode(vm.variables().get("x")))
        except Exception as e:  # noqa: BLE001 - the message is the result
            out.append(["raise", type(e).__name__, str(e)])
    return out


def fresh_vm():
    vm = morvane.Vm()
    for (r, c), v in CELLS.items():
        vm.set_cell(r, c, v)
    return vm


def compute():
    vm = fresh_vm()
    table = {}
    for expr in expressions():
        # A place that failed may leave x behind: start each expression clean.
        vm.set_cell(9, 9, None)
        vm.run("Sub Clear()\nx = Empty\nEnd Sub", "Clear")
        table[expr] = evaluate(vm, expr)
    return table


def test_table_covers_the_generated_expressions():
    pinned = json.loads(TABLE.read_text())
    assert list(pinned) == expressions()


def test_every_expression_gives_its_pinned_result_in_every_place():
    pinned = json.loads(TABLE.read_text())
    got = compute()
    places = list(PLACES)
    wrong = [f"{expr} [{places[i]}]: {g} != {w}"
             for expr, want in pinned.items() for i, (g, w) in enumerate(zip(got[expr], want)) if g != w]
    assert not wrong, f"{len(wrong)} differ:\n" + "\n".join(wrong[:40])


def test_places_that_keep_the_value_agree():
    # An assignment, an array element and a Function argument give the same
    # value or the same message.
    pinned = json.loads(TABLE.read_text())
    split = [expr for expr, r in pinned.items() if not (r[0] == r[1] == r[2])]
    assert not split, split[:20]


if __name__ == "__main__":
    # One line per expression, so that a changed rule shows as changed lines.
    rows = [f"{json.dumps(k, ensure_ascii=False)}: {json.dumps(v, ensure_ascii=False, separators=(',', ':'))}"
            for k, v in compute().items()]
    TABLE.write_text("{\n" + ",\n".join(rows) + "\n}\n")
