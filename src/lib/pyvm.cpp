// Placeholder until the interpreter's Python face lands.
#include "lib/pyvm.h"

namespace morvane::py {

int add_run_macro(PyObject*) { return 0; }
int add_load_workbook(PyObject*) { return 0; }
int add_vm_type(PyObject*) { return 0; }

}  // namespace morvane::py
