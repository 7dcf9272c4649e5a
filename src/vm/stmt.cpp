// Statements: the dispatcher, one arm per kind, and the arms for control
// flow, variables, arrays, calls and MsgBox. The other arms live by area:
// stmt_cells.cpp (cells and ranges), stmt_sheets.cpp (sheets and settings),
// clipboard.cpp (copy and paste), records.cpp (user Types), objects.cpp (Set).
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "vm/dispatch.h"
#include "vm/exec.h"
#include "vm/messages.h"
#include "values/nesting.h"
#include "values/record_values.h"
#include "values/values.h"
#include "vm/builtins/builtins.h"

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
constexpr std::string_view kNotDefined = "Sub or Function not defined: '{}'";
constexpr std::string_view kNamedArgNotFound = "Named argument not found: '{}'";
constexpr std::string_view kResumeWithoutError = "Resume without error";
constexpr std::string_view kDefaultErrDescription = "Application-defined or object-defined error";

// Bare statements of VBA that have nothing to do here.
constexpr std::string_view kNoOpStatements[] = {"doevents", "beep", "randomize", "close", "reset", "print", "write"};

// The description Err.Raise gives a number it was given none for.
std::string_view raise_description(int64_t number) {
    switch (number) {
        case 5: return "Invalid procedure call or argument";
        case 6: return "Overflow";
        case 7: return "Out of memory";
        case 9: return "Subscript out of range";
        case 11: return "Division by zero";
        case 13: return "Type mismatch";
        default: return kDefaultErrDescription;
    }
}

}  // namespace

// Every kind is listed: adding one fails to compile here until it is handled.
static_assert(std::variant_size_v<decltype(Stmt::node)> == 56, "a statement kind without an arm below");

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
        case kStmt<Stmt::ResumeNext>: return exec_resume(node_as<Stmt::ResumeNext>(n));
        case kStmt<Stmt::GoTo>: return exec_goto(node_as<Stmt::GoTo>(n));
        case kStmt<Stmt::ErrRaise>: return exec_err_raise(node_as<Stmt::ErrRaise>(n));
        case kStmt<Stmt::ErrClear>: clear_error(); return {};
        case kStmt<Stmt::Erase>: return exec_erase(node_as<Stmt::Erase>(n));
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
    clear_error();
    return {};
}

Result<void> Vm::exec_on_error_goto(const Stmt::OnErrorGoto& s) {
    on_error_label_ = s.label;
    resume_next_ = false;
    clear_error();
    return {};
}

// Leaves the running handler; the failure point picks the way on
// (Vm::on_failure).
Result<void> Vm::exec_resume(const Stmt::ResumeNext& s) {
    if (!handling_) return fail(std::string(kResumeWithoutError));
    clear_error();
    resume_ = s.next ? ResumeKind::Next : s.label.empty() ? ResumeKind::Retry : ResumeKind::Label;
    resume_label_ = s.label;
    exit_flag_ = ExitKind::Resume;
    return {};
}

// Every enclosing block and loop stops; the procedure's body loop jumps.
Result<void> Vm::exec_goto(const Stmt::GoTo& s) {
    pending_goto_ = s.label;
    exit_flag_ = ExitKind::GoTo;
    return {};
}

Result<void> Vm::exec_err_raise(const Stmt::ErrRaise& s) {
    const Variant number = TRY(vm::convert_to(vm::VarType::Long, TRY(eval_expr(*s.number))));
    std::string source = s.source ? TRY(eval_expr(*s.source)).to_string() : std::string("VBAProject");
    std::string description = s.description ? TRY(eval_expr(*s.description)).to_string() : std::string();
    raised_number_ = number.as_int();
    if (description.empty()) description = raise_description(raised_number_);
    raised_source_ = std::move(source);
    raised_description_ = description;
    return fail(std::move(description));
}

std::optional<Variant> Vm::err_property(std::string_view name) const {
    if (name == "number") return Variant(err_number_);
    if (name == "description") return Variant(err_description_);
    if (name == "source") return Variant(err_source_);
    return std::nullopt;
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

// The calls the compiled form leaves to the tree: names that are no
// procedure, and named arguments that name no parameter.
Result<void> Vm::exec_call(const Stmt::Call& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    const Proc* proc = slots_[slot].func ? slots_[slot].func : slots_[slot].sub;
    if (!proc) {
        if (!s.bare) {
            // The arguments are evaluated first; their failure comes first.
            TRY(eval_expr_list(s.args));
            return fail(format_message(kProcNotFound, s.name));
        }
        for (std::string_view word : kNoOpStatements)
            if (word == s.name) return {};
        if (const vm::Builtin* builtin = slots_[slot].builtin; builtin && s.arg_names.empty()) {
            std::vector<Variant> args = TRY(eval_expr_list(s.args));
            TRY(builtin->fn(*this, s.name, args));
            return {};
        }
        return fail(format_message(kNotDefined, s.name));
    }
    for (const std::string& name : s.arg_names) {
        if (name.empty()) continue;
        bool found = false;
        for (const Param& p : *proc->params) found = found || p.name == name;
        if (!found) return fail(format_message(kNamedArgNotFound, name));
    }
    const size_t base = arg_stack_.size();
    TRY_VOID(push_args(s.args));
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

Variant Vm::new_array(uint32_t slot, uint64_t len, std::string_view type_name) const {
    vm::VarType type = vm::builtin_var_type(type_name).value_or(vm::VarType::Variant);
    if (const Declared* d = declared(slot); d && type_name.empty()) type = d->type;
    return Variant(Array(len, vm::type_default(type)));
}

Result<void> Vm::exec_dim_array(const Stmt::DimArray& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    // Dim a() declares an array without elements, to be sized by ReDim.
    if (s.bounds.empty()) {
        set_slot(slot, Variant(Array{}));
        return {};
    }
    uint64_t len = TRY(eval_array_len(s.name, s.bounds));
    set_slot(slot, new_array(slot, len, s.type_name));
    return {};
}

Result<void> Vm::exec_redim(const Stmt::ReDim& s) {
    if (s.bounds.empty()) return fail(format_message(kReDimNeedsBound, s.name));
    uint64_t len = TRY(eval_array_len(s.name, s.bounds));
    const uint32_t slot = slot_of(s.name, s.slot);
    Variant fresh = new_array(slot, len, s.type_name);
    Slot& v = slots_[slot];
    if (s.preserve && v.defined && v.value.is_array()) {
        Array& a = v.value.as_array();
        const size_t kept = std::min<size_t>(a.size(), len);
        Array& b = fresh.as_array();
        for (size_t i = 0; i < kept; ++i) b[i] = std::move(a[i]);
    }
    set_slot(slot, std::move(fresh));
    return {};
}

// A fixed array keeps its size, its elements back at their default; a
// dynamic one is emptied.
Result<void> Vm::exec_erase(const Stmt::Erase& s) {
    for (size_t i = 0; i < s.names.size(); ++i) {
        const uint32_t slot = i < s.slots.size() ? s.slots[i] : intern(s.names[i]);
        Slot& v = slots_[slot];
        if (!v.defined) continue;
        if (!v.value.is_array()) return fail(std::string(vm::kTypeMismatch));
        const Declared* d = declared(slot);
        if (!d || !d->fixed) {
            v.value = Variant(Array{});
            continue;
        }
        const Variant blank = d->user_type.empty() ? vm::type_default(d->type)
                                                   : vm::make_record_default(d->user_type, user_types_);
        for (Variant& e : v.value.as_array()) e = blank;
    }
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
    if (index >= arr.size())
        return fail(format_message(kIndexOutOfBounds, name, std::to_string(index), std::to_string(arr.size())));
    return &arr[index];
}

Result<void> Vm::exec_index_assign(const Stmt::IndexAssign& s) {
    TRY_VOID(check_one_index(s.name, s.indices.size()));
    Variant value = TRY(eval_expr(*s.value));
    uint64_t index = TRY(eval_index(s.indices[0]));
    const uint32_t slot = slot_of(s.name, s.slot);
    if (const Declared* d = declared(slot); d && d->array && d->type != vm::VarType::Variant)
        value = TRY(vm::convert_to(d->type, std::move(value)));
    TRY_VOID(vm::check_nesting(value));
    *TRY(array_element(slot, s.name, index)) = std::move(value);
    return {};
}

}  // namespace morvane
