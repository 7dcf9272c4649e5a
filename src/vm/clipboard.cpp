// Copy and paste: Range.Copy, copying through a Range variable, and the
// two Paste statements. Not built yet: each reports so.
#include "vm/mod.h"
#include "vm/messages.h"

namespace morvane {

Result<void> Vm::exec_range_copy(const Stmt::RangeCopy&) { return vm::not_yet("Copy"); }

Result<void> Vm::exec_var_copy(const Stmt::VarCopy&) { return vm::not_yet("Copy"); }

Result<void> Vm::exec_range_paste(const Stmt::RangePaste&) { return vm::not_yet("Paste"); }

Result<void> Vm::exec_sheet_paste(const Stmt::SheetPaste&) { return vm::not_yet("Paste"); }

}  // namespace morvane
