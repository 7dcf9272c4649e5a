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

}  // namespace

Result<void> Vm::copy_areas_to_clipboard(const std::string& sheet, const std::vector<CellRange>& areas,
                                         std::string_view source) {
    TRY_VOID(vm::check_range_size(source, vm::total_cells(areas), "copy"));
    TRY_VOID(charge_work(vm::total_cells(areas)));
    TRY_VOID(book_.update(sheet));
    clipboard_ = vm::take_snapshot(book_.sheet_by_key(sheet), areas);
    return {};
}

Result<void> Vm::do_paste(std::string_view dest, bool transpose) {
    TRY_VOID(book_.check_sheet_not_protected(book_.active_sheet(), book_.active_sheet()));
    if (!clipboard_) return fail(std::string(kClipboardEmpty));
    uint64_t copied = 0;
    for (const vm::CopiedArea& a : clipboard_->areas) copied += a.rows * a.cols;
    TRY_VOID(charge_work(copied));
    return vm::paste(*clipboard_, dest, transpose, book_.defined_names, book_.cells_mut());
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
    auto it = objects_.find(s.var);
    if (it == objects_.end()) return fail(format_message(vm::kNothing, s.var));
    RangeRef range = TRY(vm::expect_range_ref(it->second, "Copy"));
    TRY_VOID(copy_areas_to_clipboard(range.sheet, range.areas, "<" + s.var + ">"));
    if (s.dest) return do_paste(*s.dest, false);
    return {};
}

Result<void> Vm::exec_range_paste(const Stmt::RangePaste& s, const vm::SCode& c) {
    const bool transpose = s.transpose && TRY(vm::is_truthy(TRY(evaluate(operand(c, *s.transpose)))));
    return do_paste(s.addr, transpose);
}

Result<void> Vm::exec_sheet_paste(const Stmt::SheetPaste& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    return on_sheet(key, [&] { return do_paste(s.dest, false); });
}

}  // namespace morvane
