// The Vm class and run_macro: the interpreter's face to Python.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string>

namespace morvane {
class Vm;
}

namespace morvane::py {

// While alive, this thread lets go of the interpreter (the GIL, or its
// attached state on a free-threaded build), so other Python threads run
// meanwhile; the interrupt check point takes it back for a moment. Nothing
// inside may touch a Python object.
class ReleaseInterpreter {
public:
    ReleaseInterpreter();
    ~ReleaseInterpreter();
    ReleaseInterpreter(const ReleaseInterpreter&) = delete;
    ReleaseInterpreter& operator=(const ReleaseInterpreter&) = delete;

private:
    PyThreadState* saved_;
};

// A fresh Vm: MsgBox fails the run when `msgbox_error`; Ctrl-C stops it.
std::unique_ptr<Vm> new_vm(bool msgbox_error);
// A new Python Vm object that owns `vm`; nullptr with an exception set.
PyObject* wrap_vm(std::unique_ptr<Vm> vm);
// The work of the method save_workbook, under the caller's shared borrow (pyfiles.cpp).
PyObject* save_workbook(const Vm& vm, PyObject* path);

// Adds the function run_macro to the module; 0 or -1 with an exception set.
int add_run_macro(PyObject* module);
// Adds the function load_workbook (pyfiles.cpp); 0 or -1.
int add_load_workbook(PyObject* module);
// Adds the class Vm; 0 or -1.
int add_vm_type(PyObject* module);

}  // namespace morvane::py
