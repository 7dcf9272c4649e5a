// Statements that change cells and ranges: value and formula writes to
// cells and ranges of the active sheet or of a named sheet, clearing,
// deleting and inserting rows, sorting and naming a range. Checks come
// before evaluation and evaluation before writing, so a failing statement
// has written nothing (formula writes keep the cells written before the
// failing one).
#include <cmath>

#include "types/address.h"
#include "types/text.h"
#include "vm/slots.h"
#include "workbook/sheet_rows.h"
#include "values/values.h"

namespace morvane {

namespace {

constexpr std::string_view kRangeWriteInvalid = "RangeWrite: invalid address '{}'";
constexpr std::string_view kOffsetWriteInvalid = "RangeOffsetWrite: invalid address '{}'";
constexpr std::string_view kClearInvalid = "RangeClear: invalid address '{}'";
constexpr std::string_view kDeleteInvalid = "RangeDelete: invalid address '{}'";
constexpr std::string_view kInsertInvalid = "RangeInsert: invalid address '{}'";
constexpr std::string_view kInsertPastEnd = "RangeInsert: inserting rows at '{}' would push cells past the last row";
constexpr std::string_view kInsertPastRight =
    "RangeInsert: inserting columns at '{}' would push cells past the last column";
constexpr std::string_view kBadShift = "{}: Shift must be xlUp, xlDown, xlToLeft or xlToRight, not {}";
constexpr std::string_view kSortGuess =
    "Sort: Header:=xlGuess cannot tell whether row {} is a header; give Header:=xlYes or Header:=xlNo";
constexpr std::string_view kSheetWriteInvalid = "SheetRangeWrite: invalid address '{}'";

// An offset truncated toward zero, NaN as 0, saturated to 64 bits.
Result<int64_t> offset_of(const Variant& v) {
    const double x = TRY(vm::to_f64(v));
    return std::isnan(x) ? 0 : saturate_i64(std::trunc(x));
}

}  // namespace

// ---------------------------------------------------------------- the active sheet

Result<void> Vm::check_active_not_protected() const {
    return book_.check_sheet_not_protected(book_.active_sheet(), book_.active_sheet());
}

Result<void> Vm::exec_range_write(const Stmt::RangeWrite& s, const vm::SCode& c) {
    TRY_VOID(check_active_not_protected());
    Variant value = TRY(evaluate(operand(c, *s.value)));
    auto area = resolve_range(s.addr, s.range);
    if (!area) return fail(format_message(kRangeWriteInvalid, s.addr));
    TRY_VOID(vm::check_range_size(s.addr, area->cell_count(), "write"));
    TRY_VOID(charge_work(area->cell_count()));
    // What is entered depends on the text, not on .Value or .Formula: "=..."
    // is a formula, anything else the value it reads as.
    if (vm::is_formula_text(value)) return set_rect_formula(*area, value.as_str());
    vm::fill_rect(book_.cells_mut(*area), *area, value);
    return {};
}

Result<void> Vm::exec_range_offset_write(const Stmt::RangeOffsetWrite& s, const vm::SCode& c) {
    TRY_VOID(check_active_not_protected());
    Variant value = TRY(evaluate(operand(c, *s.value)));
    auto base = literal_cell(s.addr, s.range);
    if (!base) return fail(format_message(kOffsetWriteInvalid, s.addr));
    const int64_t dr = TRY(offset_of(TRY(evaluate(operand(c, *s.row_offset)))));
    const int64_t dc = TRY(offset_of(TRY(evaluate(operand(c, *s.col_offset)))));
    // A target off the sheet fails instead of wrapping round to a far cell.
    int64_t row = 0, col = 0;
    if (__builtin_add_overflow(int64_t{base->row}, dr, &row) || __builtin_add_overflow(int64_t{base->col}, dc, &col) ||
        row < 1 || col < 1 || row > kMaxRow || col > kMaxCol)
        return fail(format_message(kOffsetWriteInvalid, s.addr));
    const CellPos at{static_cast<uint32_t>(row), static_cast<uint32_t>(col)};
    vm::enter_value(book_.cells_mut(CellRange::single(at)), at, std::move(value));
    return {};
}

namespace {

CellRange entire(CellRange a, char which) {
    if (which == 'r') a.first.col = 1, a.last.col = kMaxCol;
    if (which == 'c') a.first.row = 1, a.last.row = kMaxRow;
    return a;
}

}  // namespace

Result<void> Vm::exec_range_clear(const Stmt::RangeClear& s) {
    // Clear and ClearContents alike remove formulas and values.
    TRY_VOID(check_active_not_protected());
    auto area = resolve_range(s.addr, s.range);
    if (!area) return fail(format_message(kClearInvalid, s.addr));
    const CellRange whole = entire(area->normalised(), s.entire);
    vm::clear_rect(book_.cells_mut(whole), whole);
    return {};
}

Result<void> Vm::exec_range_delete(const Stmt::RangeDelete& s, const vm::SCode& c) {
    TRY_VOID(check_active_not_protected());
    auto area = resolve_range(s.addr, s.range);
    if (!area) return fail(format_message(kDeleteInvalid, s.addr));
    const Variant shift = s.shift ? TRY(evaluate(operand(c, *s.shift))) : Variant();
    return move_cells(book_.active_sheet(), entire(*area, s.entire), false, shift, s.addr);
}

Result<void> Vm::exec_range_insert(const Stmt::RangeInsert& s, const vm::SCode& c) {
    TRY_VOID(check_active_not_protected());
    auto area = resolve_range(s.addr, s.range);
    if (!area) return fail(format_message(kInsertInvalid, s.addr));
    const Variant shift = s.shift ? TRY(evaluate(operand(c, *s.shift))) : Variant();
    return move_cells(book_.active_sheet(), entire(*area, s.entire), true, shift, s.addr);
}

Result<void> Vm::move_cells(const std::string& key, CellRange a, bool insert, const Variant& shift_arg,
                            std::string_view text) {
    a = a.normalised();
    // Whole rows move rows and whole columns move columns, whatever Shift
    // says; any other range moves the cells below it (or, with xlToLeft or
    // xlToRight, to its right) in its own band.
    bool sideways = false;
    if (!shift_arg.is_empty()) {
        const double code = TRY(vm::to_f64(shift_arg));
        if (code == -4159 || code == -4161)
            sideways = true;
        else if (code != -4162 && code != -4121)
            return fail(format_message(kBadShift, insert ? "RangeInsert" : "RangeDelete", shift_arg.to_string()));
    }
    const bool whole_rows = a.first.col == 1 && a.last.col >= kMaxCol;
    const bool whole_cols = a.first.row == 1 && a.last.row >= kMaxRow;
    vm::CellShift m;
    m.insert = insert;
    m.columns = !whole_rows && (whole_cols || sideways);
    if (m.columns) {
        m.at = a.first.col, m.count = a.last.col - a.first.col + 1;
        m.band_lo = a.first.row, m.band_hi = a.last.row;
    } else {
        m.at = a.first.row, m.count = a.last.row - a.first.row + 1;
        m.band_lo = a.first.col, m.band_hi = a.last.col;
    }
    CellMap* cells = book_.sheet_cells_mut(key);
    if (!cells) return fail(format_message(vm::kSheetNotFound, key));
    if (!vm::shift_cells(*cells, m)) return fail(format_message(m.columns ? kInsertPastRight : kInsertPastEnd, text));
    // Formulas anywhere in the workbook follow the cells they read.
    for (const std::string& sheet : book_.sheet_names()) {
        std::vector<std::pair<CellPos, std::string>> changed;
        for (const auto& [pos, content] : *book_.sheet_by_key(sheet)) {
            if (!content.formula) continue;
            std::string moved = vm::follow_shift(*content.formula, sheet == key, key, m);
            if (moved != *content.formula) changed.emplace_back(pos, std::move(moved));
        }
        if (changed.empty()) continue;
        CellMap* target = book_.sheet_cells_mut(sheet);
        for (auto& [pos, f] : changed) target->find(pos)->second.formula = std::move(f);
    }
    // So do the names given on the moved sheet.
    for (const auto& [name, sheet] : book_.defined_name_sheets) {
        if (sheet != key) continue;
        std::string& addr = book_.defined_names[name];
        std::string moved = vm::follow_shift("=" + addr, true, key, m);
        if (moved.size() > 1 && moved != "=" + addr) addr = moved.substr(1);
    }
    // And Range variables: an area whose cells were all deleted goes, and a
    // variable left with none fails when it is used.
    for_each_object([&](ObjectRef& ref) {
        auto r = std::get_if<ObjectRef::Range>(&ref.node);
        if (!r || r->range.sheet != key) return;
        std::vector<CellRange> kept;
        for (const CellRange& area : r->range.areas)
            if (auto moved = vm::follow_shift(area, m)) kept.push_back(*moved);
        r->range.areas = std::move(kept);
    });
    return {};
}

Result<void> Vm::exec_range_name(const Stmt::RangeName& s) {
    // Not validated here: the address is resolved when the name is used.
    std::string name = text::to_lower(s.name);
    book_.defined_name_sheets.insert_or_assign(name, book_.active_sheet());
    book_.defined_names.insert_or_assign(std::move(name), s.addr);
    return {};
}

Result<void> Vm::sort_area(const CellRange& area, std::span<const vm::SortKey> keys, std::optional<bool> header) {
    // The rows are sorted by the values their formulas give now.
    TRY_VOID(book_.update_active());
    if (!header) header = vm::guess_header(book_.cells(), area);
    if (!header) return fail(format_message(kSortGuess, std::to_string(area.first.row)));
    // The header row stays where it is; the rows below it are sorted.
    CellRange rows = area;
    if (*header) {
        if (area.first.row >= area.last.row) return {};
        rows.first.row = area.first.row + 1;
    }
    vm::sort_rows(book_.cells_mut(rows), rows, keys);
    return {};
}

// ---------------------------------------------------------------- a named sheet

Result<void> Vm::exec_sheet_cell_write(const Stmt::SheetCellWrite& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    TRY_VOID(book_.check_sheet_not_protected(key, label));
    const uint32_t row = TRY(eval_cell_index(operand(c, *s.row), "row"));
    const uint32_t col = TRY(eval_cell_index(operand(c, *s.col), "col"));
    Variant value = TRY(evaluate(operand(c, *s.value)));
    if (vm::is_formula_text(value)) return on_sheet(key, [&] { return set_cell_formula(row, col, value.as_str()); });
    const CellPos pos{row, col};
    vm::enter_value(*book_.sheet_cells_mut(key, CellRange::single(pos)), pos, std::move(value));
    return {};
}

Result<void> Vm::exec_sheet_range_write(const Stmt::SheetRangeWrite& s, const vm::SCode& c) {
    auto [key, label] = TRY(resolve_sheet_expr(operand(c, *s.sheet)));
    TRY_VOID(book_.check_sheet_not_protected(key, label));
    // Plain A1 only: a defined name belongs to no sheet.
    auto literal = s.range ? s.range : morvane_types::parse_range_addr(s.addr);
    if (literal) *literal = literal->normalised();
    if (!literal) return fail(format_message(kSheetWriteInvalid, s.addr));
    Variant value = TRY(evaluate(operand(c, *s.value)));
    const CellRange area = *literal;
    TRY_VOID(vm::check_range_size(s.addr, area.cell_count(), "write"));
    TRY_VOID(charge_work(area.cell_count()));
    if (!vm::is_formula_text(value)) {
        vm::fill_rect(*book_.sheet_cells_mut(key, area), area, value);
        return {};
    }
    const std::string formula = vm::vba_to_str(value);
    // Formulas evaluate against the active sheet: the target, meanwhile.
    return on_sheet(key, [&] { return set_rect_formula(area, formula); });
}

}  // namespace morvane
