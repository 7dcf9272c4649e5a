// Copy and paste through the one clipboard of the Vm: Range(...).Copy and
// the Copy of a Range variable (with or without a Destination), Paste and
// PasteSpecial on the active sheet, and a sheet's Paste. The snapshot and
// the paste itself are the clipboard model's (vm/paste.h).
#include "vm/messages.h"
#include "vm/mod.h"
#include "vm/slots.h"
#include "values/values.h"

namespace morvane {

namespace {

constexpr std::string_view kCopyInvalid = "RangeCopy: invalid source range '{}'";
constexpr std::string_view kClipboardEmpty = "Paste error: Clipboard is empty";
constexpr std::string_view kPasteKind =
    "PasteSpecial: Paste:={} is not supported (xlPasteAll, xlPasteFormulas and xlPasteValues are)";

// Whether PasteSpecial's Paste argument pastes values alone: the formula
// kinds paste formulas, the value kinds values; formats, comments, widths
// and validation are not modelled, so they fail rather than paste nothing.
Result<bool> values_only(const Variant& what) {
    if (what.is_empty()) return false;
    const double k = TRY(vm::to_f64(what));
    if (k == -4104 || k == -4123 || k == 7 || k == 11 || k == 13 || k == 14) return false;
    if (k == -4163 || k == 12) return true;
    return fail(format_message(kPasteKind, what.to_string()));
}

}  // namespace

Result<void> Vm::copy_areas_to_clipboard(const std::string& sheet, const std::vector<CellRange>& areas,
                                         std::string_view source) {
    TRY_VOID(vm::check_range_size(source, vm::total_cells(areas), "copy"));
    TRY_VOID(charge_work(vm::total_cells(areas)));
    TRY_VOID(book_.update(sheet));
    clipboard_ = vm::take_snapshot(book_.sheet_by_key(sheet), areas);
    return {};
}

Result<void> Vm::do_paste(std::string_view dest, bool transpose, const Variant& what) {
    TRY_VOID(book_.check_sheet_not_protected(book_.active_sheet(), book_.active_sheet()));
    if (!clipboard_) return fail(std::string(kClipboardEmpty));
    const bool values = TRY(values_only(what));
    uint64_t copied = 0;
    for (const vm::CopiedArea& a : clipboard_->areas) copied += a.rows * a.cols;
    TRY_VOID(charge_work(copied));
    return vm::paste(*clipboard_, dest, transpose, values, book_.defined_names, book_.cells_mut());
}

Result<void> Vm::exec_range_copy(const Stmt::RangeCopy& s) {
    auto areas = resolve_multi_area_addr(s.addr);
    if (!areas) return fail(format_message(kCopyInvalid, s.addr));
    TRY_VOID(copy_areas_to_clipboard(book_.active_sheet(), *areas, s.addr));
    // The copy stays in the clipboard whatever the paste does.
    if (s.dest) return do_paste(*s.dest, false);
    return {};
}

Result<void> Vm::exec_var_copy(const Stmt::VarCopy& s) {
    const ObjectRef* object = object_ref(s.var);
    if (!object) return fail(format_message(vm::kNothing, s.var));
    RangeRef range = TRY(vm::expect_range_ref(*object, "Copy"));
    TRY_VOID(copy_areas_to_clipboard(range.sheet, range.areas, "<" + s.var + ">"));
    if (s.dest) return do_paste(*s.dest, false);
    return {};
}

Result<void> Vm::exec_range_paste(const Stmt::RangePaste& s, const vm::SCode& c) {
    const bool transpose = s.transpose && TRY(vm::is_truthy(TRY(evaluate(operand(c, *s.transpose)))));
    const Variant what = s.what ? TRY(evaluate(operand(c, *s.what))) : Variant();
    return do_paste(s.addr, transpose, what);
}

Result<void> Vm::exec_sheet_paste(const Stmt::SheetPaste& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    return on_sheet(key, [&] { return do_paste(s.dest, false); });
}

}  // namespace morvane
