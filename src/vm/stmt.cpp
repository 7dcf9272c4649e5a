// Statements: the dispatcher, one arm per kind without a compiled function
// of its own, and the arms for error modes, jumps, variables, arrays and
// MsgBox. The other arms live by area:
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
constexpr std::string_view kBoundTooLarge = "Array '{}': upper bound {} is beyond the limit of {}";
constexpr std::string_view kReDimNeedsBound = "ReDim '{}' requires a bound";
constexpr std::string_view kMsgBox = "MsgBox: {}";

}  // namespace

// Every kind is listed: adding one fails to compile here until it is handled.
static_assert(std::variant_size_v<decltype(Stmt::node)> == 54, "a statement kind without an arm below");

// The statements the compiler leaves to this dispatcher, their operands
// compiled in `c`. The other kinds run compiled (compile.cpp, exec.cpp):
// Assign, If, For, ForEach, DoLoop, SelectCase, Block, WithVar, WithSheet,
// CellWrite, Call, the Exits, End, Label, Nop and Skipped.
Result<void> Vm::exec_stmt(const vm::SCode& c) {
    const auto& n = c.src->node;
    switch (n.index()) {
        // error modes and jumps (this file)
        case kStmt<Stmt::OnError>: return exec_on_error(node_as<Stmt::OnError>(n));
        case kStmt<Stmt::OnErrorGoto>: return exec_on_error_goto(node_as<Stmt::OnErrorGoto>(n));
        case kStmt<Stmt::ResumeNext>: return exec_resume_next(node_as<Stmt::ResumeNext>(n));
        case kStmt<Stmt::GoTo>: return exec_goto(node_as<Stmt::GoTo>(n));
        case kStmt<Stmt::MsgBox>: return exec_msgbox(node_as<Stmt::MsgBox>(n), c);
        // variables and arrays (this file)
        case kStmt<Stmt::DimArray>: return exec_dim_array(node_as<Stmt::DimArray>(n), c);
        case kStmt<Stmt::ReDim>: return exec_redim(node_as<Stmt::ReDim>(n), c);
        case kStmt<Stmt::IndexAssign>: return exec_index_assign(node_as<Stmt::IndexAssign>(n), c);
        case kStmt<Stmt::DimScalar>: return exec_dim_scalar(node_as<Stmt::DimScalar>(n));
        case kStmt<Stmt::DimList>: return exec_dim_list(c);
        // user-defined Types (records.cpp)
        case kStmt<Stmt::FieldAssign>: return exec_field_assign(node_as<Stmt::FieldAssign>(n), c);
        case kStmt<Stmt::DimAs>: return exec_dim_as(node_as<Stmt::DimAs>(n));
        case kStmt<Stmt::DimArrayAs>: return exec_dim_array_as(node_as<Stmt::DimArrayAs>(n), c);
        case kStmt<Stmt::MemberPathAssign>: return exec_member_path_assign(node_as<Stmt::MemberPathAssign>(n), c);
        case kStmt<Stmt::IndexedFieldAssign>:
            return exec_indexed_field_assign(node_as<Stmt::IndexedFieldAssign>(n), c);
        // cells and ranges (stmt_cells.cpp)
        case kStmt<Stmt::RangeWrite>: return exec_range_write(node_as<Stmt::RangeWrite>(n), c);
        case kStmt<Stmt::RangeOffsetWrite>: return exec_range_offset_write(node_as<Stmt::RangeOffsetWrite>(n), c);
        case kStmt<Stmt::RangeClear>: return exec_range_clear(node_as<Stmt::RangeClear>(n));
        case kStmt<Stmt::RangeName>: return exec_range_name(node_as<Stmt::RangeName>(n));
        case kStmt<Stmt::RangeDelete>: return exec_range_delete(node_as<Stmt::RangeDelete>(n));
        case kStmt<Stmt::RangeInsert>: return exec_range_insert(node_as<Stmt::RangeInsert>(n));
        case kStmt<Stmt::RangeSort>: return exec_range_sort(node_as<Stmt::RangeSort>(n));
        case kStmt<Stmt::ObjCall>: return exec_obj_call(node_as<Stmt::ObjCall>(n), c);
        case kStmt<Stmt::SheetCellWrite>: return exec_sheet_cell_write(node_as<Stmt::SheetCellWrite>(n), c);
        case kStmt<Stmt::SheetRangeWrite>: return exec_sheet_range_write(node_as<Stmt::SheetRangeWrite>(n), c);
        // sheets and application settings (stmt_sheets.cpp)
        case kStmt<Stmt::AddSheet>: return exec_add_sheet(node_as<Stmt::AddSheet>(n));
        case kStmt<Stmt::SheetDelete>: return exec_sheet_delete(node_as<Stmt::SheetDelete>(n), c);
        case kStmt<Stmt::SheetProtect>: return exec_sheet_protect(node_as<Stmt::SheetProtect>(n), c);
        case kStmt<Stmt::ApplicationSet>: return exec_application_set(node_as<Stmt::ApplicationSet>(n), c);
        case kStmt<Stmt::SetCalculation>: return exec_set_calculation(node_as<Stmt::SetCalculation>(n));
        // copy and paste (clipboard.cpp)
        case kStmt<Stmt::RangeCopy>: return exec_range_copy(node_as<Stmt::RangeCopy>(n));
        case kStmt<Stmt::VarCopy>: return exec_var_copy(node_as<Stmt::VarCopy>(n));
        case kStmt<Stmt::RangePaste>: return exec_range_paste(node_as<Stmt::RangePaste>(n), c);
        case kStmt<Stmt::SheetPaste>: return exec_sheet_paste(node_as<Stmt::SheetPaste>(n), c);
        // object variables (objects.cpp)
        case kStmt<Stmt::SetObject>: return exec_set_object(node_as<Stmt::SetObject>(n), c);
        default: break;
    }
    // Unreachable: the compiler gives every other kind a function of its own.
    return fail(std::string(kUnknownStatement));
}

const vm::XCode& Vm::operand(const vm::SCode& c, const Expr& e) const {
    for (const vm::XCode& x : c.x)
        if (x.src == &e) return x;
    static const vm::XCode missing = [] {
        vm::XCode x;
        x.eval = &Exec::eval_missing;
        x.num = &Exec::num_by_eval;
        x.truth = &Exec::truth_by_num;
        return x;
    }();
    return missing;
}

// ---------------------------------------------------------------- simple arms

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

Result<void> Vm::exec_msgbox(const Stmt::MsgBox& s, const vm::SCode& c) {
    Variant prompt = TRY(evaluate(operand(c, *s.prompt)));
    if (msgbox_error_) return fail(format_message(kMsgBox, prompt.to_string()));
    return {};
}

Result<void> Vm::exec_dim_list(const vm::SCode& c) {
    for (const vm::SCode& d : c.body)
        if (!d.run(*this, d)) return fail(std::move(error_));
    return {};
}

// ---------------------------------------------------------------- variables

Result<void> Vm::exec_dim_scalar(const Stmt::DimScalar& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    if (!slots_[slot].defined) set_slot(slot, vm::default_for_type(s.type_name));
    return {};
}

// ---------------------------------------------------------------- arrays

Result<uint64_t> Vm::eval_index(const vm::XCode& x) {
    double d = TRY(vm::to_f64(TRY(evaluate(x))));
    return saturate_u64(std::trunc(d));
}

Result<uint64_t> Vm::eval_array_len(const std::string& name, const vm::SCode& c, const std::vector<Expr>& bounds) {
    if (bounds.size() > 1) return fail(std::string(kMultiDim));
    uint64_t n = TRY(eval_index(operand(c, bounds[0])));
    if (n >= kMaxArrayLen)
        return fail(format_message(kBoundTooLarge, name, std::to_string(n),
                                   std::to_string(kMaxArrayLen - 1)));
    return n + 1;
}

Result<void> Vm::exec_dim_array(const Stmt::DimArray& s, const vm::SCode& c) {
    const uint32_t slot = slot_of(s.name, s.slot);
    // Dim a() declares an array without elements, to be sized by ReDim.
    if (s.bounds.empty()) {
        set_slot(slot, Variant(Array{}));
        return {};
    }
    uint64_t len = TRY(eval_array_len(s.name, c, s.bounds));
    set_slot(slot, Variant(Array(len)));
    return {};
}

Result<void> Vm::exec_redim(const Stmt::ReDim& s, const vm::SCode& c) {
    if (s.bounds.empty()) return fail(format_message(kReDimNeedsBound, s.name));
    uint64_t len = TRY(eval_array_len(s.name, c, s.bounds));
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

Result<void> Vm::exec_index_assign(const Stmt::IndexAssign& s, const vm::SCode& c) {
    TRY_VOID(check_one_index(s.name, s.indices.size()));
    Variant v = TRY(evaluate(operand(c, *s.value)));
    uint64_t index = TRY(eval_index(operand(c, s.indices[0])));
    *TRY(array_element(slot_of(s.name, s.slot), s.name, index)) = std::move(v);
    return {};
}

}  // namespace morvane
