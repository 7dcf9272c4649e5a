"""Deep input fails with its "too deep" message on any thread stack, never a crash.

Each case runs in a child process, so that a crash fails the test instead of
ending the test run.
"""
import subprocess
import sys
import textwrap

import pytest

from vmhelp import SANITIZED

CHILD = '''
import threading, morvane

def code(depth):
    f = "=" + "(" * 50 + "1" + ")" * 50
    return ("Function R(n)\\nIf n = 0 Then\\nRange(\\"A1\\").Formula = \\"" + f + "\\"\\nR = 0\\n"
            "Else\\nR = R(n - 1)\\nEnd If\\nEnd Function\\nSub M()\\nx = R(" + str(depth) + ")\\nEnd Sub\\n")

def body():
{body}

result = []
def work():
    try:
        body()
        result.append("ok")
    except Exception as e:
        result.append(type(e).__name__ + ": " + str(e))

threading.stack_size({stack_kib} * 1024)
t = threading.Thread(target=work)
t.start()
t.join()
print(result[0])
'''


def in_child_thread(stack_kib, body):
    script = CHILD.replace("{body}", textwrap.indent(textwrap.dedent(body).strip(), "    "))
    script = script.replace("{stack_kib}", str(stack_kib))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout.strip()


@pytest.mark.parametrize("stack_kib, allowed", [
    (256, {"ok", "ValueError: Formula is nested too deeply"}),
    (8192, {"ok"}),
])
def test_a_deep_formula_on_a_small_stack(stack_kib, allowed):
    got = in_child_thread(stack_kib, 'morvane.Vm().set_cell_formula(1, 1, "=" + "(" * 100 + "1" + ")" * 100)')
    assert got in allowed


@pytest.mark.parametrize("stack_kib", [256, 8192])
def test_a_deep_macro_expression_on_a_small_stack(stack_kib):
    got = in_child_thread(stack_kib, 'morvane.Vm().run("Sub M()\\nx = " + "(" * 300 + "1" + ")" * 300 + "\\nEnd Sub", "M")')
    assert got == "SyntaxError: expression or block nesting is too deep (line 2)"


def test_a_formula_stored_at_the_deepest_recursion_a_small_stack_allows():
    body = """
        deepest = 0
        for depth in range(0, 2000, 10):
            try:
                morvane.Vm().run(code(depth), "M")
                deepest = depth
            except RuntimeError as e:
                if "Out of stack space" in str(e):
                    break
                assert str(e) == "Formula is nested too deeply", str(e)
        assert deepest > 0
    """
    # Sanitizer frames are several times larger: there the stack runs out
    # sooner, which must still end in a message.
    assert in_child_thread(2048 if SANITIZED else 512, body) == "ok"
