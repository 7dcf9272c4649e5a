// Range.Sort. Not built yet: it reports so.
#include "vm/mod.h"
#include "vm/messages.h"

namespace morvane {

Result<void> Vm::exec_range_sort(const Stmt::RangeSort&) { return vm::not_yet("Sort"); }

}  // namespace morvane
