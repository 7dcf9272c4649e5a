// Statements that change cells and ranges: value and formula writes to
// cells and ranges of the active sheet or of a named sheet, clearing,
// deleting and inserting rows, sorting, naming a range, and the dispatcher
// of every workbook statement. Checks come before evaluation and evaluation
// before writing, so a failing statement has written nothing (formula
// writes keep the cells written before the failing one).
#include <cmath>

#include "types/address.h"
#include "types/text.h"
#include "vm/dispatch.h"
#include "vm/mod.h"
#include "vm/sheet_rows.h"
#include "vm/values.h"

namespace morvane {

using vm::kStmt;

namespace {

constexpr std::string_view kRangeWriteInvalid = "RangeWrite: invalid address '{}'";
constexpr std::string_view kOffsetWriteInvalid = "RangeOffsetWrite: invalid address '{}'";
constexpr std::string_view kClearInvalid = "RangeClear: invalid address '{}'";
constexpr std::string_view kDeleteInvalid = "RangeDelete: invalid address '{}'";
constexpr std::string_view kInsertInvalid = "RangeInsert: invalid address '{}'";
constexpr std::string_view kInsertPastEnd = "RangeInsert: inserting rows at '{}' would push cells past the last row";
constexpr std::string_view kSortInvalid = "RangeSort: invalid address '{}'";
constexpr std::string_view kSheetWriteInvalid = "SheetRangeWrite: invalid address '{}'";

// An offset truncated toward zero, NaN as 0, saturated to 64 bits.
Result<int64_t> offset_of(const Variant& v) {
    const double x = TRY(vm::to_f64(v));
    return std::isnan(x) ? 0 : saturate_i64(std::trunc(x));
}

}  // namespace

Result<void> Vm::exec_sheet_stmt(const Stmt& stmt) {
    const auto& n = stmt.node;
    switch (n.index()) {
        case kStmt<Stmt::CellWrite>: return exec_cell_write(*std::get_if<Stmt::CellWrite>(&n));
        case kStmt<Stmt::RangeWrite>: return exec_range_write(*std::get_if<Stmt::RangeWrite>(&n));
        case kStmt<Stmt::RangeOffsetWrite>: return exec_range_offset_write(*std::get_if<Stmt::RangeOffsetWrite>(&n));
        case kStmt<Stmt::RangeClear>: return exec_range_clear(*std::get_if<Stmt::RangeClear>(&n));
        case kStmt<Stmt::RangeDelete>: return exec_range_delete(*std::get_if<Stmt::RangeDelete>(&n));
        case kStmt<Stmt::RangeInsert>: return exec_range_insert(*std::get_if<Stmt::RangeInsert>(&n));
        case kStmt<Stmt::RangeSort>: return exec_range_sort(*std::get_if<Stmt::RangeSort>(&n));
        case kStmt<Stmt::RangeName>: {
            const auto& s = *std::get_if<Stmt::RangeName>(&n);
            // Not validated here: the address is resolved when the name is used.
            defined_names.insert_or_assign(text::to_lower(s.name), s.addr);
            return {};
        }
        case kStmt<Stmt::SheetCellWrite>: return exec_sheet_cell_write(*std::get_if<Stmt::SheetCellWrite>(&n));
        case kStmt<Stmt::SheetRangeWrite>: return exec_sheet_range_write(*std::get_if<Stmt::SheetRangeWrite>(&n));
        case kStmt<Stmt::SheetProtect>: return exec_sheet_protect(*std::get_if<Stmt::SheetProtect>(&n));
        case kStmt<Stmt::SheetDelete>: return exec_sheet_delete(*std::get_if<Stmt::SheetDelete>(&n));
        case kStmt<Stmt::AddSheet>: return exec_add_sheet();
        case kStmt<Stmt::WithSheet>: return exec_with_sheet(*std::get_if<Stmt::WithSheet>(&n));
        case kStmt<Stmt::ApplicationSet>: return exec_application_set(*std::get_if<Stmt::ApplicationSet>(&n));
        case kStmt<Stmt::SetCalculation>: return set_calc_mode(std::get_if<Stmt::SetCalculation>(&n)->mode);
        case kStmt<Stmt::SetObject>: return exec_set_object(*std::get_if<Stmt::SetObject>(&n));
        case kStmt<Stmt::RangeCopy>: return exec_range_copy(*std::get_if<Stmt::RangeCopy>(&n));
        case kStmt<Stmt::VarCopy>: return exec_var_copy(*std::get_if<Stmt::VarCopy>(&n));
        case kStmt<Stmt::RangePaste>: return exec_range_paste(*std::get_if<Stmt::RangePaste>(&n));
        case kStmt<Stmt::SheetPaste>: return exec_sheet_paste(*std::get_if<Stmt::SheetPaste>(&n));
    }
    return fail("Unknown statement");
}

// ---------------------------------------------------------------- the active sheet

Result<void> Vm::exec_cell_write(const Stmt::CellWrite& s) {
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    const uint32_t row = TRY(eval_cell_index(*s.row, "row"));
    const uint32_t col = TRY(eval_cell_index(*s.col, "col"));
    Num num;
    Variant value = fast_num(*s.value, num) ? num_variant(num) : TRY(eval_expr(*s.value));
    set_cell_value(row, col, std::move(value));
    return {};
}

Result<void> Vm::exec_range_write(const Stmt::RangeWrite& s) {
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    Variant value = TRY(eval_expr(*s.value));
    auto corners = resolve_range_addr(s.addr);
    if (!corners) return fail(format_message(kRangeWriteInvalid, s.addr));
    const Rect area = vm::rect_of(*corners);
    TRY_VOID(vm::check_range_size(s.addr, vm::rect_cells(area), "write"));
    if (s.is_formula) return set_rect_formula(area, vm::vba_to_str(value));
    vm::fill_rect(cells_mut(), area, value);
    return {};
}

Result<void> Vm::exec_range_offset_write(const Stmt::RangeOffsetWrite& s) {
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    Variant value = TRY(eval_expr(*s.value));
    auto base = morvane_types::parse_cell_addr(s.addr);
    if (!base) return fail(format_message(kOffsetWriteInvalid, s.addr));
    const int64_t dr = TRY(offset_of(TRY(eval_expr(*s.row_offset))));
    const int64_t dc = TRY(offset_of(TRY(eval_expr(*s.col_offset))));
    // A target off the sheet fails instead of wrapping round to a far cell.
    int64_t row = 0, col = 0;
    if (__builtin_add_overflow(int64_t{base->first}, dr, &row) || __builtin_add_overflow(int64_t{base->second}, dc, &col) ||
        row < 1 || col < 1 || row > UINT32_MAX || col > UINT32_MAX)
        return fail(format_message(kOffsetWriteInvalid, s.addr));
    set_cell_value(static_cast<uint32_t>(row), static_cast<uint32_t>(col), std::move(value));
    return {};
}

Result<void> Vm::exec_range_clear(const Stmt::RangeClear& s) {
    // Clear and ClearContents alike remove formulas and values.
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    auto corners = resolve_range_addr(s.addr);
    if (!corners) return fail(format_message(kClearInvalid, s.addr));
    vm::clear_rect(cells_mut(), vm::rect_of(*corners));
    return {};
}

Result<void> Vm::exec_range_delete(const Stmt::RangeDelete& s) {
    // Whole rows: the columns of the address do not matter.
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    auto corners = resolve_range_addr(s.addr);
    if (!corners) return fail(format_message(kDeleteInvalid, s.addr));
    vm::delete_rows(cells_mut(), corners->first.first, corners->second.first);
    return {};
}

Result<void> Vm::exec_range_insert(const Stmt::RangeInsert& s) {
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    auto corners = resolve_range_addr(s.addr);
    if (!corners) return fail(format_message(kInsertInvalid, s.addr));
    if (!vm::insert_rows(cells_mut(), corners->first.first, corners->second.first))
        return fail(format_message(kInsertPastEnd, s.addr));
    return {};
}

Result<void> Vm::exec_range_sort(const Stmt::RangeSort& s) {
    TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
    auto corners = resolve_range_addr(s.addr);
    if (!corners) return fail(format_message(kSortInvalid, s.addr));
    const Rect area = vm::rect_of(*corners);
    // A key column left of the range sorts by its first column.
    const int64_t key = int64_t{s.key_col} - area.first_col;
    vm::sort_rows(cells_mut(), area, key > 0 ? static_cast<uint64_t>(key) : 0, s.descending);
    return {};
}

// ---------------------------------------------------------------- a named sheet

Result<void> Vm::exec_sheet_cell_write(const Stmt::SheetCellWrite& s) {
    auto [key, label] = TRY(resolve_sheet_expr(*s.sheet));
    TRY_VOID(check_sheet_not_protected(key, label));
    const uint32_t row = TRY(eval_cell_index(*s.row, "row"));
    const uint32_t col = TRY(eval_cell_index(*s.col, "col"));
    Variant value = TRY(eval_expr(*s.value));
    ensure_sheet(key);
    sheet_cells_mut(key)->insert_or_assign(CellPos{row, col}, CellContent{std::nullopt, std::move(value)});
    return {};
}

Result<void> Vm::exec_sheet_range_write(const Stmt::SheetRangeWrite& s) {
    auto [key, label] = TRY(resolve_sheet_expr(*s.sheet));
    TRY_VOID(check_sheet_not_protected(key, label));
    // Plain A1 only: a defined name belongs to no sheet.
    auto corners = morvane_types::parse_range_addr(s.addr);
    if (!corners) return fail(format_message(kSheetWriteInvalid, s.addr));
    Variant value = TRY(eval_expr(*s.value));
    const Rect area = vm::rect_of(*corners);
    TRY_VOID(vm::check_range_size(s.addr, vm::rect_cells(area), "write"));
    ensure_sheet(key);
    if (!s.is_formula) {
        vm::fill_rect(*sheet_cells_mut(key), area, value);
        return {};
    }
    const std::string formula = vm::vba_to_str(value);
    // Formulas evaluate against the active sheet: the target, meanwhile.
    return on_sheet(key, [&] { return set_rect_formula(area, formula); });
}

}  // namespace morvane
