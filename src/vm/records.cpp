// User-defined Types: declaring record variables and assigning their fields.
#include "vm/mod.h"

namespace morvane {

Result<void> Vm::exec_record_stmt(const Stmt&) {
    return fail("User-defined Types are not supported yet");
}

}  // namespace morvane
