// Cell formulas: storing a formula with its computed value.
#include "vm/mod.h"

namespace morvane {

Result<void> Vm::set_cell_formula(uint32_t, uint32_t, std::string_view) {
    return fail("Cell formulas are not supported yet");
}

}  // namespace morvane
