// Statements that write cells and ranges of the active sheet: value and
// formula writes, offsets, clearing and naming. Deleting and inserting
// cells and writes to another sheet report that they are not built yet.
#include <algorithm>
#include <cmath>

#include "types/address.h"
#include "types/text.h"
#include "vm/fast_path.h"
#include "vm/messages.h"
#include "vm/values.h"

namespace morvane {

namespace {

constexpr std::string_view kBadWriteAddr = "RangeWrite: invalid address '{}'";
constexpr std::string_view kTooLargeToWrite = "Range '{}' is too large to write ({} cells; the limit is {})";
constexpr std::string_view kBadOffsetAddr = "RangeOffsetWrite: invalid address '{}'";
constexpr std::string_view kOffsetLeavesSheet = "RangeOffsetWrite: offset from '{}' leaves the sheet";
constexpr std::string_view kBadClearAddr = "RangeClear: invalid address '{}'";

}  // namespace

Result<void> Vm::check_active_not_protected() const {
    return book_.check_sheet_not_protected(book_.active_sheet(), book_.active_sheet());
}

Result<void> Vm::exec_cell_write(const Stmt::CellWrite& s) {
    TRY_VOID(check_active_not_protected());
    uint32_t row = TRY(eval_cell_index(*s.row, "row"));
    uint32_t col = TRY(eval_cell_index(*s.col, "col"));
    Num num;
    Variant value = fast_num(*s.value, num) ? vm::num_variant(num) : TRY(eval_expr(*s.value));
    book_.set_cell_value(row, col, std::move(value));
    return {};
}

Result<void> Vm::exec_range_write(const Stmt::RangeWrite& s) {
    TRY_VOID(check_active_not_protected());
    Variant value = TRY(eval_expr(*s.value));
    auto range = resolve_range(s.addr, s.range);
    if (!range) return fail(format_message(kBadWriteAddr, s.addr));
    const uint64_t count = range->cell_count();
    if (count > kMaxArrayLen)
        return fail(format_message(kTooLargeToWrite, s.addr, std::to_string(count), std::to_string(kMaxArrayLen)));
    if (s.is_formula) {
        std::string formula = vm::vba_to_str(value);
        return range->for_each_cell([&](CellPos p) { return set_cell_formula(p.row, p.col, formula); });
    }
    range->for_each_cell([&](CellPos p) { book_.set_cell_value(p.row, p.col, value); });
    return {};
}

Result<void> Vm::exec_range_offset_write(const Stmt::RangeOffsetWrite& s) {
    TRY_VOID(check_active_not_protected());
    Variant value = TRY(eval_expr(*s.value));
    auto base = literal_cell(s.addr, s.range);
    if (!base) return fail(format_message(kBadOffsetAddr, s.addr));
    int64_t dr = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(eval_expr(*s.row_offset))))));
    int64_t dc = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(eval_expr(*s.col_offset))))));
    // Offsets that leave the sheet fail instead of wrapping round.
    int64_t row = int64_t{base->row} + std::clamp<int64_t>(dr, -(int64_t{1} << 33), int64_t{1} << 33);
    int64_t col = int64_t{base->col} + std::clamp<int64_t>(dc, -(int64_t{1} << 33), int64_t{1} << 33);
    if (row < 1 || col < 1 || row > UINT32_MAX || col > UINT32_MAX)
        return fail(format_message(kOffsetLeavesSheet, s.addr));
    book_.set_cell_value(static_cast<uint32_t>(row), static_cast<uint32_t>(col), std::move(value));
    return {};
}

Result<void> Vm::exec_range_clear(const Stmt::RangeClear& s) {
    TRY_VOID(check_active_not_protected());
    auto range = resolve_range(s.addr, s.range);
    if (!range) return fail(format_message(kBadClearAddr, s.addr));
    CellMap& cells = book_.cells_mut();
    // Walk whichever is smaller: the stored cells or the rectangle.
    if (range->cell_count() > cells.size())
        erase_if(cells, [&](const auto& kv) { return range->contains(kv.first); });
    else
        range->for_each_cell([&](CellPos p) { cells.erase(p); });
    return {};
}

Result<void> Vm::exec_range_name(const Stmt::RangeName& s) {
    book_.defined_names.insert_or_assign(text::to_lower(s.name), s.addr);
    return {};
}

Result<void> Vm::exec_range_delete(const Stmt::RangeDelete&) { return vm::not_yet("Delete"); }

Result<void> Vm::exec_range_insert(const Stmt::RangeInsert&) { return vm::not_yet("Insert"); }

Result<void> Vm::exec_sheet_cell_write(const Stmt::SheetCellWrite&) {
    return vm::not_yet("Writing to another sheet");
}

Result<void> Vm::exec_sheet_range_write(const Stmt::SheetRangeWrite&) {
    return vm::not_yet("Writing to another sheet");
}

}  // namespace morvane
