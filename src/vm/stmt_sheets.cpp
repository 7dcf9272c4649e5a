// Statements on whole sheets: Protect and Unprotect, Delete, Sheets.Add and
// With on a named sheet, the Application settings and the calculation mode.
#include "types/text.h"
#include "vm/slots.h"
#include "vm/messages.h"
#include "values/values.h"

namespace morvane {

Result<void> Vm::exec_sheet_protect(const Stmt::SheetProtect& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    TRY_VOID(book_.require_sheet_exists(key, label));
    if (!s.protect) {
        book_.protected_sheets.erase(key);
        return {};
    }
    // UserInterfaceOnly:=True leaves the sheet as it was: macros may still edit it.
    if (s.user_interface_only && TRY(vm::is_truthy(TRY(evaluate(operand(c, *s.user_interface_only)))))) return {};
    book_.protected_sheets.insert(std::move(key));
    return {};
}

Result<void> Vm::exec_sheet_delete(const Stmt::SheetDelete& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    TRY_VOID(book_.check_sheet_not_protected(key, label));
    // The active sheet is never deleted; a missing sheet changes nothing.
    (void)book_.remove_sheet(key);
    return {};
}

Result<void> Vm::exec_add_sheet(const Stmt::AddSheet&) {
    // "sheet{count + 1}", or the next free number after it: a workbook of
    // sheet1 and sheet2 that lost sheet1 must still gain a sheet.
    for (uint64_t n = book_.sheets().size() + 1;; ++n) {
        std::string name = "sheet" + std::to_string(n);
        if (!book_.has_sheet(name)) {
            ensure_sheet(name);
            return {};
        }
    }
}

Result<void> Vm::exec_application_set(const Stmt::ApplicationSet& s, const vm::SCode& c) {
    // Every setting is accepted, a value that fails to evaluate too; only
    // CutCopyMode = False has an effect: it empties the clipboard.
    auto value = evaluate(operand(c, *s.value));
    if (interrupted_) return fail(std::string(vm::kInterrupted));
    if (value && s.property == "cutcopymode" && !vm::is_truthy(*value).value_or(true)) clipboard_.reset();
    return {};
}

Result<void> Vm::exec_set_calculation(const Stmt::SetCalculation& s) { return set_calc_mode(s.mode); }

}  // namespace morvane
