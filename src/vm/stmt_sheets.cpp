// Statements on sheets and the application: With on a named sheet,
// Sheets.Add, the Application settings and the calculation mode. Deleting
// and protecting sheets report that they are not built yet.
#include "vm/fast_path.h"
#include "vm/messages.h"

namespace morvane {

Result<void> Vm::exec_with_sheet(const Stmt::WithSheet& s) {
    std::string previous = book_.active_sheet();
    book_.ensure_sheet(s.sheet);
    TRY_VOID(book_.set_active_sheet(s.sheet));
    auto r = run_body(s.body);
    // The sheet active before comes back, unless the body deleted it; it
    // exists, so this cannot fail.
    if (book_.has_sheet(previous)) (void)book_.set_active_sheet(previous);
    return r;
}

Result<void> Vm::exec_add_sheet(const Stmt::AddSheet&) {
    book_.ensure_sheet("sheet" + std::to_string(book_.sheets().size() + 1));
    return {};
}

Result<void> Vm::exec_sheet_delete(const Stmt::SheetDelete&) { return vm::not_yet("Deleting a sheet"); }

Result<void> Vm::exec_sheet_protect(const Stmt::SheetProtect&) { return vm::not_yet("Protect and Unprotect"); }

Result<void> Vm::exec_application_set(const Stmt::ApplicationSet& s) {
    // Application settings are accepted and ignored, a failing value too.
    (void)eval_expr(*s.value);
    if (interrupted_) return fail(std::string(vm::kInterrupted));
    return {};
}

Result<void> Vm::exec_set_calculation(const Stmt::SetCalculation& s) { return set_calc_mode(s.mode); }

}  // namespace morvane
