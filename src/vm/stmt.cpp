// Statements: the dispatcher, one arm per kind without a compiled function
// of its own, and the arms for error modes, jumps, variables, arrays and
// MsgBox. The other arms live by area:
// stmt_cells.cpp (cells and ranges), stmt_sheets.cpp (sheets and settings),
// clipboard.cpp (copy and paste), records.cpp (user Types), objects.cpp (Set).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>
#include <variant>

#include "vm/exec.h"
#include "vm/messages.h"
#include "values/nesting.h"
#include "values/record_values.h"
#include "values/values.h"
#include "vm/builtins/builtins.h"

namespace morvane {

namespace {

constexpr std::string_view kArrayNeedsIndex = "Array '{}' requires index";
constexpr std::string_view kNotAnArray = "'{}' is not an array";
constexpr std::string_view kIndexOutOfBounds = "Array '{}': index {} out of bounds (len={})";
constexpr std::string_view kUnknownStatement = "Unknown statement";
constexpr std::string_view kBoundTooLarge = "Array '{}': upper bound {} is beyond the limit of {}";
constexpr std::string_view kReDimNeedsBound = "ReDim '{}' requires a bound";
constexpr std::string_view kMsgBox = "MsgBox: {}";
constexpr std::string_view kResumeWithoutError = "Resume without error";
constexpr std::string_view kDefaultErrDescription = "Application-defined or object-defined error";

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

template <class T, class... Kinds>
inline constexpr bool is_one_of = (std::is_same_v<T, Kinds> || ...);

// The kinds the compiler gives a function of their own (compile.cpp,
// exec.cpp), which never reach the dispatcher.
template <class T>
inline constexpr bool runs_compiled =
    is_one_of<T, Stmt::Assign, Stmt::If, Stmt::For, Stmt::ForEach, Stmt::DoLoop, Stmt::SelectCase, Stmt::Block,
              Stmt::WithVar, Stmt::WithSheet, Stmt::CellWrite, Stmt::Call, Stmt::ExitFor, Stmt::ExitDo, Stmt::ExitSub,
              Stmt::ExitFunction, Stmt::End, Stmt::Label, Stmt::Nop, Stmt::Skipped>;

}  // namespace

// The statements the compiler leaves to this dispatcher, their operands
// compiled in `c`. A kind with neither an arm here nor a compiled function
// fails to compile.
Result<void> Vm::exec_stmt(const vm::SCode& c) {
    return std::visit(
        [&](const auto& s) -> Result<void> {
            using T = std::decay_t<decltype(s)>;
            (void)s;
            if constexpr (std::is_same_v<T, Stmt::OnError>) {
                return exec_on_error(s);
            } else if constexpr (std::is_same_v<T, Stmt::OnErrorGoto>) {
                return exec_on_error_goto(s);
            } else if constexpr (std::is_same_v<T, Stmt::ResumeNext>) {
                return exec_resume(s);
            } else if constexpr (std::is_same_v<T, Stmt::GoTo>) {
                return exec_goto(s);
            } else if constexpr (std::is_same_v<T, Stmt::ErrRaise>) {
                return exec_err_raise(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::ErrClear>) {
                clear_error();
                return {};
            } else if constexpr (std::is_same_v<T, Stmt::Erase>) {
                return exec_erase(s);
            } else if constexpr (std::is_same_v<T, Stmt::MsgBox>) {
                return exec_msgbox(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::DimArray>) {
                return exec_dim_array(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::ReDim>) {
                return exec_redim(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::IndexAssign>) {
                return exec_index_assign(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::DimScalar>) {
                return exec_dim_scalar(s);
            } else if constexpr (std::is_same_v<T, Stmt::DimList>) {
                return exec_dim_list(c);
            } else if constexpr (std::is_same_v<T, Stmt::FieldAssign>) {
                return exec_field_assign(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::DimAs>) {
                return exec_dim_as(s);
            } else if constexpr (std::is_same_v<T, Stmt::DimArrayAs>) {
                return exec_dim_array_as(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::MemberPathAssign>) {
                return exec_member_path_assign(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::IndexedFieldAssign>) {
                return exec_indexed_field_assign(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::RangeWrite>) {
                return exec_range_write(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::RangeOffsetWrite>) {
                return exec_range_offset_write(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::RangeClear>) {
                return exec_range_clear(s);
            } else if constexpr (std::is_same_v<T, Stmt::RangeName>) {
                return exec_range_name(s);
            } else if constexpr (std::is_same_v<T, Stmt::RangeDelete>) {
                return exec_range_delete(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::RangeInsert>) {
                return exec_range_insert(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::ObjCall>) {
                return exec_obj_call(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::SheetCellWrite>) {
                return exec_sheet_cell_write(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::SheetRangeWrite>) {
                return exec_sheet_range_write(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::AddSheet>) {
                return exec_add_sheet(s);
            } else if constexpr (std::is_same_v<T, Stmt::SheetDelete>) {
                return exec_sheet_delete(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::SheetProtect>) {
                return exec_sheet_protect(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::ApplicationSet>) {
                return exec_application_set(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::SetCalculation>) {
                return exec_set_calculation(s);
            } else if constexpr (std::is_same_v<T, Stmt::RangeCopy>) {
                return exec_range_copy(s);
            } else if constexpr (std::is_same_v<T, Stmt::VarCopy>) {
                return exec_var_copy(s);
            } else if constexpr (std::is_same_v<T, Stmt::RangePaste>) {
                return exec_range_paste(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::SheetPaste>) {
                return exec_sheet_paste(s, c);
            } else if constexpr (std::is_same_v<T, Stmt::SetObject>) {
                return exec_set_object(s, c);
            } else {
                static_assert(runs_compiled<T>, "a statement kind with no arm here and no compiled function");
                return fail(std::string(kUnknownStatement));
            }
        },
        c.src->node);
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
    err_mode_.resume_next = s.resume_next;
    on_error_label_.reset();
    clear_error();
    return {};
}

Result<void> Vm::exec_on_error_goto(const Stmt::OnErrorGoto& s) {
    on_error_label_ = s.label;
    err_mode_.resume_next = false;
    clear_error();
    return {};
}

// Leaves the running handler; the failure point picks the way on
// (Vm::on_failure).
Result<void> Vm::exec_resume(const Stmt::ResumeNext& s) {
    if (!err_mode_.handling) return fail(std::string(kResumeWithoutError));
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

Result<void> Vm::exec_err_raise(const Stmt::ErrRaise& s, const vm::SCode& c) {
    const Variant number = TRY(vm::convert_to(vm::VarType::Long, TRY(evaluate(operand(c, *s.number)))));
    std::string source = s.source ? TRY(evaluate(operand(c, *s.source))).to_string() : std::string("VBAProject");
    std::string description = s.description ? TRY(evaluate(operand(c, *s.description))).to_string() : std::string();
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

Result<void> Vm::set_err_property(std::string_view name, Variant value) {
    if (name == "number") {
        err_number_ = TRY(vm::convert_to(vm::VarType::Long, std::move(value))).as_int();
    } else if (name == "description") {
        err_description_ = vm::vba_display_text(value);
    } else if (name == "source") {
        err_source_ = vm::vba_display_text(value);
    } else {
        return fail(format_message(vm::kNotModeled, "Err", name));
    }
    return {};
}

Result<void> Vm::exec_msgbox(const Stmt::MsgBox& s, const vm::SCode& c) {
    Variant prompt = TRY(evaluate(operand(c, *s.prompt)));
    if (msgbox_error_) return fail(format_message(kMsgBox, vm::vba_display_text(prompt)));
    return {};
}

Result<void> Vm::exec_dim_list(const vm::SCode& c) {
    const auto& list = c.src->as<Stmt::DimList>();
    for (size_t i = 0; i < c.body.size(); ++i) {
        // A Static variable is made once; later passes keep what it holds.
        if (list.is_static) {
            const uint32_t slot = std::visit(
                [](const auto& n) -> uint32_t {
                    if constexpr (requires { n.slot; }) return n.slot;
                    return kNoSlot;
                },
                list.decls[i].node);
            if (slot != kNoSlot && var(slot).defined) continue;
        }
        const vm::SCode& d = c.body[i];
        if (!d.run(*this, d)) return fail(std::move(error_));
    }
    return {};
}

// ---------------------------------------------------------------- variables

Result<void> Vm::exec_dim_scalar(const Stmt::DimScalar& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    if (!var(slot).defined) set_slot(slot, vm::default_for_type(s.type_name));
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
        return fail(format_message(kBoundTooLarge, name, std::to_string(n), std::to_string(kMaxArrayLen - 1)));
    return n + 1;
}

Variant Vm::new_array(uint32_t slot, uint64_t len, std::string_view type_name) const {
    vm::VarType type = vm::builtin_var_type(type_name).value_or(vm::VarType::Variant);
    if (const Declared* d = declared(slot); d && type_name.empty()) type = d->type;
    return Variant(Array(len, vm::type_default(type)));
}

Result<void> Vm::exec_dim_array(const Stmt::DimArray& s, const vm::SCode& c) {
    const uint32_t slot = slot_of(s.name, s.slot);
    // Dim a() declares an array without elements, to be sized by ReDim.
    if (s.bounds.empty()) {
        set_slot(slot, Variant(Array{}));
        return {};
    }
    uint64_t len = TRY(eval_array_len(s.name, c, s.bounds));
    set_slot(slot, new_array(slot, len, s.type_name));
    return {};
}

Result<void> Vm::exec_redim(const Stmt::ReDim& s, const vm::SCode& c) {
    if (s.bounds.empty()) return fail(format_message(kReDimNeedsBound, s.name));
    uint64_t len = TRY(eval_array_len(s.name, c, s.bounds));
    const uint32_t slot = slot_of(s.name, s.slot);
    Variant fresh = new_array(slot, len, s.type_name);
    Slot& v = var(slot);
    if (s.preserve && v.defined && v.value.is_array()) {
        Array& a = v.value.as_array();
        const size_t kept = std::min<size_t>(a.size(), len);
        fresh.as_array().lower = a.lower;
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
        const uint32_t slot = i < s.slots.size() ? s.slots[i] : resolve(s.names[i]);
        Slot& v = var(slot);
        if (!v.defined) continue;
        if (!v.value.is_array()) return fail(std::string(vm::kTypeMismatch));
        const Declared* d = declared(slot);
        if (!d || !d->fixed) {
            v.value = Variant(Array{});
            continue;
        }
        const Variant blank =
            d->user_type.empty() ? vm::type_default(d->type) : vm::make_record_default(d->user_type, user_types_);
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
    Slot& s = var(slot);
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
    Variant value = TRY(evaluate(operand(c, *s.value)));
    uint64_t index = TRY(eval_index(operand(c, s.indices[0])));
    const uint32_t slot = slot_of(s.name, s.slot);
    if (const Declared* d = declared(slot); d && d->array && d->type != vm::VarType::Variant)
        value = TRY(vm::convert_to(d->type, std::move(value)));
    TRY_VOID(vm::check_nesting(value));
    *TRY(array_element(slot, s.name, index)) = std::move(value);
    return {};
}

}  // namespace morvane
