"""Macros let other Python threads run, and a runaway one stops on request."""
import ctypes
import re
import signal
import threading
import time

import pytest

import morvane
from morvane import Vm
from vmhelp import SANITIZED, sub

# Long enough that eight runs overlap even when threads start late on a
# busy machine (a pass takes a few nanoseconds in an optimised build).
BUSY_PASSES = 3_000_000 if SANITIZED else 20_000_000
BUSY = sub(f"Dim i As Long, n As Long\nFor i = 1 To {BUSY_PASSES}\n    n = n + 1\nNext i")
FOREVER = sub("Dim n\nDo\n    n = n + 1\nLoop")


def raise_in(thread, exc):
    """Sends `exc` to a thread, as a debugger or a kernel's interrupt does."""
    done = ctypes.pythonapi.PyThreadState_SetAsyncExc(ctypes.c_ulong(thread.ident), ctypes.py_object(exc))
    assert done == 1


def assert_they_overlap(n, work):
    """Runs work(k) on n threads started together; each run must overlap all
    the others in time. Holding the interpreter for a whole call would make
    them strictly one after another: the last would start after the first
    ended."""
    gate = threading.Barrier(n)
    spans = [None] * n

    def timed(k):
        gate.wait()
        start = time.perf_counter()
        work(k)
        spans[k] = (start, time.perf_counter())

    threads = [threading.Thread(target=timed, args=(k,)) for k in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert None not in spans
    assert max(s for s, _ in spans) < min(e for _, e in spans)


def test_eight_vms_run_at_the_same_time():
    vms = [Vm() for _ in range(8)]
    assert_they_overlap(8, lambda k: vms[k].run(BUSY, "Main"))
    assert all(vm.variables()["n"] == BUSY_PASSES for vm in vms)


def test_a_runaway_macro_in_a_worker_thread_stops_on_request():
    caught = []
    started = threading.Event()

    def work():
        vm = Vm()
        started.set()
        try:
            vm.run(FOREVER, "Main")
        except KeyboardInterrupt:
            caught.append(vm.variables()["n"])

    t = threading.Thread(target=work)
    t.start()
    started.wait()
    time.sleep(0.1)
    raise_in(t, KeyboardInterrupt)
    t.join(timeout=5)
    assert not t.is_alive() and caught and caught[0] > 0


def test_ctrl_c_reaches_the_main_thread_while_a_worker_runs_a_macro():
    started = threading.Event()

    def work():
        started.set()
        try:
            Vm().run(FOREVER, "Main")
        except KeyboardInterrupt:
            pass

    def handler(signum, frame):
        raise KeyboardInterrupt

    t = threading.Thread(target=work)
    old = signal.signal(signal.SIGALRM, handler)
    try:
        t.start()
        started.wait()
        signal.setitimer(signal.ITIMER_REAL, 0.1)
        begun = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            while True:
                t.join(timeout=0.01)
        assert time.monotonic() - begun < 2
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
        raise_in(t, KeyboardInterrupt)
        t.join(timeout=5)
    assert not t.is_alive()


def test_a_vm_in_use_by_another_thread_is_refused_not_shared():
    vm = Vm()
    started = threading.Event()

    def work():
        started.set()
        try:
            vm.run(FOREVER, "Main")
        except KeyboardInterrupt:
            pass

    t = threading.Thread(target=work)
    t.start()
    started.wait()
    time.sleep(0.05)
    try:
        # Reading and writing alike: the message says what to do.
        for call in (lambda: vm.get_cell(1, 1), lambda: vm.set_cell(1, 1, 1)):
            with pytest.raises(RuntimeError, match=re.escape(
                    "this Vm is in use by another call: a Vm runs one call at a time, so give each thread its own Vm")):
                call()
    finally:
        raise_in(t, KeyboardInterrupt)
        t.join(timeout=5)
    vm.set_cell(1, 1, 1)  # free again


@pytest.mark.parametrize("suffix", [".xlsx", ".ods"])
def test_files_load_and_save_while_other_threads_run(tmp_path, suffix):
    source = Vm()
    for r in range(1, 20001):
        for c in range(1, 6):
            source.set_cell(r, c, r * c if c % 2 else f"text {r}")
    path = str(tmp_path / ("big" + suffix))
    source.save_workbook(path)

    def work(k):
        vm = morvane.load_workbook(path)
        vm.save_workbook(str(tmp_path / f"copy{k}{suffix}"))

    assert_they_overlap(4, work)
    assert morvane.load_workbook(str(tmp_path / f"copy0{suffix}")).get_cell(20000, 5) == 100000
