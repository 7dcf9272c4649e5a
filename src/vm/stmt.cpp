// Statements: the dispatcher, one arm per kind, and the arms for control
// flow, variables, arrays, calls and MsgBox. The other arms live by area:
// stmt_cells.cpp (cells and ranges), stmt_sheets.cpp (sheets and settings),
// clipboard.cpp (copy and paste), records.cpp (user Types), objects.cpp (Set).
#include <cmath>
#include <cstddef>

#include "vm/dispatch.h"
#include "vm/exec.h"
#include "vm/messages.h"
#include "values/values.h"

namespace morvane {

using vm::kStmt;
using vm::node_as;

namespace {

constexpr std::string_view kArrayNeedsIndex = "Array '{}' requires index";
constexpr std::string_view kNotAnArray = "'{}' is not an array";
constexpr std::string_view kIndexOutOfBounds = "Array '{}': index {} out of bounds (len={})";
constexpr std::string_view kUnknownStatement = "Unknown statement";
constexpr std::string_view kProcNotFound = "Sub/Function '{}' not found";
constexpr std::string_view kBoundTooLarge = "Array '{}': upper bound {} is beyond the limit of {}";
constexpr std::string_view kReDimNeedsBound = "ReDim '{}' requires a bound";
constexpr std::string_view kMsgBox = "MsgBox: {}";

}  // namespace

// Every kind is listed: adding one fails to compile here until it is handled.
static_assert(std::variant_size_v<decltype(Stmt::node)> == 53, "a statement kind without an arm below");

// The tree's statements, for the kinds the compiler leaves to the tree and
// for declarators; the kinds it always compiles run compiled from here too.
Result<void> Vm::exec_stmt_inner(const Stmt& stmt) {
    const auto& n = stmt.node;
    switch (n.index()) {
        // kinds the compiler always handles (compile.cpp, exec.cpp)
        case kStmt<Stmt::Assign>:
        case kStmt<Stmt::If>:
        case kStmt<Stmt::For>:
        case kStmt<Stmt::ForEach>:
        case kStmt<Stmt::DoLoop>:
        case kStmt<Stmt::SelectCase>:
        case kStmt<Stmt::Block>:
        case kStmt<Stmt::WithVar>:
        case kStmt<Stmt::CellWrite>:
        case kStmt<Stmt::WithSheet>: return Exec::run_once(*this, stmt);
        // control flow (this file)
        case kStmt<Stmt::ExitFor>: return set_exit(ExitKind::For);
        case kStmt<Stmt::ExitDo>: return set_exit(ExitKind::Do);
        case kStmt<Stmt::ExitSub>: return set_exit(ExitKind::Sub);
        case kStmt<Stmt::ExitFunction>: return set_exit(ExitKind::Function);
        case kStmt<Stmt::End>: return set_exit(ExitKind::End);
        case kStmt<Stmt::OnError>: return exec_on_error(node_as<Stmt::OnError>(n));
        case kStmt<Stmt::OnErrorGoto>: return exec_on_error_goto(node_as<Stmt::OnErrorGoto>(n));
        case kStmt<Stmt::ResumeNext>: return exec_resume_next(node_as<Stmt::ResumeNext>(n));
        case kStmt<Stmt::GoTo>: return exec_goto(node_as<Stmt::GoTo>(n));
        case kStmt<Stmt::Label>:
        case kStmt<Stmt::Nop>:
        case kStmt<Stmt::Skipped>: return {};
        case kStmt<Stmt::Call>: return exec_call(node_as<Stmt::Call>(n));
        case kStmt<Stmt::MsgBox>: return exec_msgbox(node_as<Stmt::MsgBox>(n));
        // variables and arrays (this file)
        case kStmt<Stmt::DimArray>: return exec_dim_array(node_as<Stmt::DimArray>(n));
        case kStmt<Stmt::ReDim>: return exec_redim(node_as<Stmt::ReDim>(n));
        case kStmt<Stmt::IndexAssign>: return exec_index_assign(node_as<Stmt::IndexAssign>(n));
        case kStmt<Stmt::DimScalar>: return exec_dim_scalar(node_as<Stmt::DimScalar>(n));
        case kStmt<Stmt::DimList>: return exec_dim_list(node_as<Stmt::DimList>(n));
        // user-defined Types (records.cpp)
        case kStmt<Stmt::FieldAssign>: return exec_field_assign(node_as<Stmt::FieldAssign>(n));
        case kStmt<Stmt::DimAs>: return exec_dim_as(node_as<Stmt::DimAs>(n));
        case kStmt<Stmt::DimArrayAs>: return exec_dim_array_as(node_as<Stmt::DimArrayAs>(n));
        case kStmt<Stmt::MemberPathAssign>: return exec_member_path_assign(node_as<Stmt::MemberPathAssign>(n));
        case kStmt<Stmt::IndexedFieldAssign>: return exec_indexed_field_assign(node_as<Stmt::IndexedFieldAssign>(n));
        // cells and ranges (stmt_cells.cpp)
        case kStmt<Stmt::RangeWrite>: return exec_range_write(node_as<Stmt::RangeWrite>(n));
        case kStmt<Stmt::RangeOffsetWrite>: return exec_range_offset_write(node_as<Stmt::RangeOffsetWrite>(n));
        case kStmt<Stmt::RangeClear>: return exec_range_clear(node_as<Stmt::RangeClear>(n));
        case kStmt<Stmt::RangeName>: return exec_range_name(node_as<Stmt::RangeName>(n));
        case kStmt<Stmt::RangeDelete>: return exec_range_delete(node_as<Stmt::RangeDelete>(n));
        case kStmt<Stmt::RangeInsert>: return exec_range_insert(node_as<Stmt::RangeInsert>(n));
        case kStmt<Stmt::RangeSort>: return exec_range_sort(node_as<Stmt::RangeSort>(n));
        case kStmt<Stmt::SheetCellWrite>: return exec_sheet_cell_write(node_as<Stmt::SheetCellWrite>(n));
        case kStmt<Stmt::SheetRangeWrite>: return exec_sheet_range_write(node_as<Stmt::SheetRangeWrite>(n));
        // sheets and application settings (stmt_sheets.cpp)
        case kStmt<Stmt::AddSheet>: return exec_add_sheet(node_as<Stmt::AddSheet>(n));
        case kStmt<Stmt::SheetDelete>: return exec_sheet_delete(node_as<Stmt::SheetDelete>(n));
        case kStmt<Stmt::SheetProtect>: return exec_sheet_protect(node_as<Stmt::SheetProtect>(n));
        case kStmt<Stmt::ApplicationSet>: return exec_application_set(node_as<Stmt::ApplicationSet>(n));
        case kStmt<Stmt::SetCalculation>: return exec_set_calculation(node_as<Stmt::SetCalculation>(n));
        // copy and paste (clipboard.cpp)
        case kStmt<Stmt::RangeCopy>: return exec_range_copy(node_as<Stmt::RangeCopy>(n));
        case kStmt<Stmt::VarCopy>: return exec_var_copy(node_as<Stmt::VarCopy>(n));
        case kStmt<Stmt::RangePaste>: return exec_range_paste(node_as<Stmt::RangePaste>(n));
        case kStmt<Stmt::SheetPaste>: return exec_sheet_paste(node_as<Stmt::SheetPaste>(n));
        // object variables (objects.cpp)
        case kStmt<Stmt::SetObject>: return exec_set_object(node_as<Stmt::SetObject>(n));
    }
    // Unreachable: every index has its case above.
    return fail(std::string(kUnknownStatement));
}

// ---------------------------------------------------------------- simple arms

Result<void> Vm::set_exit(ExitKind kind) {
    exit_flag_ = kind;
    return {};
}

Result<void> Vm::exec_on_error(const Stmt::OnError& s) {
    resume_next_ = s.resume_next;
    on_error_label_.reset();
    return {};
}

Result<void> Vm::exec_on_error_goto(const Stmt::OnErrorGoto& s) {
    on_error_label_ = s.label;
    resume_next_ = false;
    return {};
}

Result<void> Vm::exec_resume_next(const Stmt::ResumeNext&) {
    on_error_label_.reset();
    return {};
}

Result<void> Vm::exec_goto(const Stmt::GoTo& s) {
    pending_goto_ = s.label;
    return {};
}

Result<void> Vm::exec_msgbox(const Stmt::MsgBox& s) {
    Variant prompt = TRY(eval_expr(*s.prompt));
    if (msgbox_error_) return fail(format_message(kMsgBox, prompt.to_string()));
    return {};
}

Result<void> Vm::exec_dim_list(const Stmt::DimList& s) {
    for (const Stmt& d : s.decls) TRY_VOID(exec_stmt_inner(d));
    return {};
}

// ---------------------------------------------------------------- variables

Result<void> Vm::exec_dim_scalar(const Stmt::DimScalar& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    if (!slots_[slot].defined) set_slot(slot, vm::default_for_type(s.type_name));
    return {};
}

// ---------------------------------------------------------------- loops

// ---------------------------------------------------------------- Select Case

// ---------------------------------------------------------------- calls

Result<void> Vm::exec_call(const Stmt::Call& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    // A bare line naming no procedure (DoEvents, Beep) does nothing.
    if (s.bare && !slots_[slot].func && !slots_[slot].sub) return {};
    const size_t base = arg_stack_.size();
    TRY_VOID(push_args(s.args));
    const Proc* proc = slots_[slot].func ? slots_[slot].func : slots_[slot].sub;
    if (!proc) {
        arg_stack_.resize(base);
        return fail(format_message(kProcNotFound, s.name));
    }
    TRY(invoke(*proc, base));
    return {};
}

// ---------------------------------------------------------------- arrays

Result<uint64_t> Vm::eval_index(const Expr& e) {
    double x = TRY(vm::to_f64(TRY(eval_expr(e))));
    return saturate_u64(std::trunc(x));
}

Result<uint64_t> Vm::eval_array_len(const std::string& name, const std::vector<Expr>& bounds) {
    if (bounds.size() > 1) return fail(std::string(kMultiDim));
    uint64_t n = TRY(eval_index(bounds[0]));
    if (n >= kMaxArrayLen)
        return fail(format_message(kBoundTooLarge, name, std::to_string(n),
                                   std::to_string(kMaxArrayLen - 1)));
    return n + 1;
}

Result<void> Vm::exec_dim_array(const Stmt::DimArray& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    // Dim a() declares an array without elements, to be sized by ReDim.
    if (s.bounds.empty()) {
        set_slot(slot, Variant(Array{}));
        return {};
    }
    uint64_t len = TRY(eval_array_len(s.name, s.bounds));
    set_slot(slot, Variant(Array(len)));
    return {};
}

Result<void> Vm::exec_redim(const Stmt::ReDim& s) {
    if (s.bounds.empty()) return fail(format_message(kReDimNeedsBound, s.name));
    uint64_t len = TRY(eval_array_len(s.name, s.bounds));
    const uint32_t slot = slot_of(s.name, s.slot);
    Slot& v = slots_[slot];
    if (s.preserve && v.defined && v.value.is_array()) {
        v.value.as_array().resize(len);
        return {};
    }
    set_slot(slot, Variant(Array(len)));
    return {};
}

Result<void> Vm::check_one_index(std::string_view name, size_t count) {
    if (count == 0) return fail(format_message(kArrayNeedsIndex, name));
    if (count > 1) return fail(std::string(kMultiDim));
    return {};
}

Result<Variant*> Vm::array_element(uint32_t slot, std::string_view name, uint64_t index) {
    Slot& s = slots_[slot];
    if (!s.defined || !s.value.is_array()) return fail(format_message(kNotAnArray, name));
    Array& arr = s.value.as_array();
    // An array read from a range starts at 1: index 0 lies before it.
    const uint64_t first = static_cast<uint64_t>(std::max<int64_t>(arr.lower, 0));
    if (index < first || index - first >= arr.size())
        return fail(format_message(kIndexOutOfBounds, name, std::to_string(index), std::to_string(arr.size())));
    return &arr[index - first];
}

Result<void> Vm::exec_index_assign(const Stmt::IndexAssign& s) {
    TRY_VOID(check_one_index(s.name, s.indices.size()));
    Variant value = TRY(eval_expr(*s.value));
    uint64_t index = TRY(eval_index(s.indices[0]));
    *TRY(array_element(slot_of(s.name, s.slot), s.name, index)) = std::move(value);
    return {};
}

}  // namespace morvane
