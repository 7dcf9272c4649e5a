// The Vm class and run_macro: the interpreter's face to Python.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace morvane::py {

// Adds the function run_macro to the module; 0 or -1 with an exception set.
int add_run_macro(PyObject* module);
// Stub: load_workbook is not built yet, so this adds nothing and returns 0.
int add_load_workbook(PyObject* module);
// Adds the class Vm; 0 or -1.
int add_vm_type(PyObject* module);

}  // namespace morvane::py
