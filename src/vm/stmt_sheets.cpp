// Statements on whole sheets: Protect and Unprotect, Delete, Sheets.Add and
// With on a named sheet, the Application settings and the calculation mode.
#include "types/text.h"
#include "vm/slots.h"
#include "vm/messages.h"
#include "values/values.h"

namespace morvane {

namespace {

constexpr std::string_view kWrongPassword =
    "Unprotect: the password does not match the one sheet '{}' was protected with (Error 1004)";

}  // namespace

Result<void> Vm::exec_sheet_protect(const Stmt::SheetProtect& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    TRY_VOID(book_.require_sheet_exists(key, label));
    std::string password = s.password ? vm::vba_to_str(TRY(evaluate(operand(c, *s.password)))) : std::string();
    if (!s.protect) return unprotect_sheet(key, password);
    // UserInterfaceOnly:=True leaves the sheet as it was: macros may still edit it.
    if (s.user_interface_only && TRY(vm::is_truthy(TRY(evaluate(operand(c, *s.user_interface_only)))))) return {};
    if (book_.protected_sheets.insert(key).second) sheet_passwords_.insert_or_assign(key, std::move(password));
    return {};
}

Result<void> Vm::unprotect_sheet(const std::string& key, const std::string& password) {
    if (!book_.protected_sheets.contains(key)) return {};
    auto it = sheet_passwords_.find(key);
    const std::string expected = it == sheet_passwords_.end() ? std::string() : it->second;
    if (password != expected) return fail(format_message(kWrongPassword, book_.display_name(key)));
    book_.protected_sheets.erase(key);
    sheet_passwords_.erase(key);
    return {};
}

Result<void> Vm::exec_sheet_delete(const Stmt::SheetDelete& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    TRY_VOID(book_.check_sheet_not_protected(key, label));
    // Deleting the active sheet activates its neighbour; the last one stays.
    return book_.delete_sheet(key);
}

Result<void> Vm::exec_add_sheet(const Stmt::AddSheet&) {
    TRY(add_sheet({}, {}));
    return {};
}

Result<void> Vm::append_new_sheet() {
    // "sheet{count + 1}", or the next free number after it: a workbook of
    // sheet1 and sheet2 that lost sheet1 must still gain a sheet.
    for (uint64_t n = book_.sheets().size() + 1;; ++n) {
        std::string name = "Sheet" + std::to_string(n);
        std::string key = text::to_lower(name);
        if (!book_.has_sheet(key)) {
            ensure_sheet(name);
            // The new sheet becomes the active one, as in the application.
            return book_.set_active_sheet(key);
        }
    }
}

namespace {

// Settings of the screen and of events, which no cell, formula or saved file
// sees: accepted and ignored. Any other setting fails.
bool passable_setting(std::string_view p) {
    for (std::string_view k : {"screenupdating", "displayalerts", "enableevents", "enablecancelkey", "statusbar",
                               "displaystatusbar", "cursor", "windowstate", "displayfullscreen", "displayformulabar",
                               "caption", "interactive", "printcommunication", "cutcopymode"})
        if (k == p) return true;
    return false;
}

}  // namespace

Result<void> Vm::exec_application_set(const Stmt::ApplicationSet& s, const vm::SCode& c) {
    if (!passable_setting(s.property)) return fail(format_message(vm::kNotModeled, "Application", s.property));
    // A value that fails to evaluate is accepted too; only CutCopyMode =
    // False has an effect: it empties the clipboard.
    auto value = evaluate(operand(c, *s.value));
    if (interrupted_) return fail(std::string(vm::kInterrupted));
    if (value && s.property == "cutcopymode" && !vm::is_truthy(*value).value_or(true)) clipboard_.reset();
    return {};
}

Result<void> Vm::exec_set_calculation(const Stmt::SetCalculation& s) { return set_calc_mode(s.mode); }

}  // namespace morvane
