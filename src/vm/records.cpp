// User-defined Types: declaring record variables and assigning their
// fields. Not built yet: each statement reports so.
#include "vm/mod.h"
#include "vm/messages.h"

namespace morvane {

namespace {

Result<void> types_not_yet() { return fail(std::string(vm::kUserTypesNotYet)); }

}  // namespace

Result<void> Vm::exec_field_assign(const Stmt::FieldAssign&) { return types_not_yet(); }

Result<void> Vm::exec_dim_as(const Stmt::DimAs&) { return types_not_yet(); }

Result<void> Vm::exec_dim_array_as(const Stmt::DimArrayAs&) { return types_not_yet(); }

Result<void> Vm::exec_member_path_assign(const Stmt::MemberPathAssign&) { return types_not_yet(); }

Result<void> Vm::exec_indexed_field_assign(const Stmt::IndexedFieldAssign&) { return types_not_yet(); }

}  // namespace morvane
