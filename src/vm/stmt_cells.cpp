// Statements that change cells, ranges and sheets: value writes to cells
// and ranges, clearing, naming, With on a sheet, Sheets.Add and the
// Application settings. Copy and paste, row moves, sorting, protection and
// sheet-qualified writes report that they are not available yet.
#include <algorithm>
#include <cmath>

#include "types/address.h"
#include "types/text.h"
#include "vm/dispatch.h"
#include "vm/mod.h"
#include "vm/values.h"

namespace morvane {

using vm::kStmt;

namespace {

bool inside(const Corners& c, CellPos p) {
    return p.row >= c.first.first && p.row <= c.second.first && p.col >= c.first.second && p.col <= c.second.second;
}

template <class Fn>
Result<void> walk(const Corners& c, Fn&& fn) {
    for (uint64_t r = c.first.first; r <= c.second.first; ++r)
        for (uint64_t k = c.first.second; k <= c.second.second; ++k)
            TRY_VOID(fn(static_cast<uint32_t>(r), static_cast<uint32_t>(k)));
    return {};
}

Result<void> not_yet(std::string_view what) {
    return fail(format_message("{} is not supported yet", what));
}

}  // namespace

Result<void> Vm::exec_sheet_stmt(const Stmt& stmt) {
    const auto& n = stmt.node;
    switch (n.index()) {
        case kStmt<Stmt::CellWrite>: {
            const auto& s = *std::get_if<Stmt::CellWrite>(&n);
            TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
            uint32_t row = TRY(eval_cell_index(*s.row, "row"));
            uint32_t col = TRY(eval_cell_index(*s.col, "col"));
            Num num;
            Variant value = fast_num(*s.value, num) ? num_variant(num) : TRY(eval_expr(*s.value));
            set_cell_value(row, col, std::move(value));
            return {};
        }
        case kStmt<Stmt::RangeWrite>: {
            const auto& s = *std::get_if<Stmt::RangeWrite>(&n);
            TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
            Variant value = TRY(eval_expr(*s.value));
            auto corners = resolve_range_addr(s.addr);
            if (!corners) return fail(format_message("RangeWrite: invalid address '{}'", s.addr));
            uint64_t count = vm::cell_count(*corners);
            if (count > kMaxArrayLen)
                return fail(format_message("Range '{}' is too large to write ({} cells; the limit is {})", s.addr,
                                           std::to_string(count), std::to_string(kMaxArrayLen)));
            if (s.is_formula) {
                std::string formula = vm::vba_to_str(value);
                return walk(*corners, [&](uint32_t r, uint32_t c) { return set_cell_formula(r, c, formula); });
            }
            return walk(*corners, [&](uint32_t r, uint32_t c) -> Result<void> {
                set_cell_value(r, c, value);
                return {};
            });
        }
        case kStmt<Stmt::RangeOffsetWrite>: {
            const auto& s = *std::get_if<Stmt::RangeOffsetWrite>(&n);
            TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
            Variant value = TRY(eval_expr(*s.value));
            auto base = morvane_types::parse_cell_addr(s.addr);
            if (!base) return fail(format_message("RangeOffsetWrite: invalid address '{}'", s.addr));
            int64_t dr = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(eval_expr(*s.row_offset))))));
            int64_t dc = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(eval_expr(*s.col_offset))))));
            // Offsets that leave the sheet fail instead of wrapping round.
            int64_t row = int64_t{base->first} + std::clamp<int64_t>(dr, -(int64_t{1} << 33), int64_t{1} << 33);
            int64_t col = int64_t{base->second} + std::clamp<int64_t>(dc, -(int64_t{1} << 33), int64_t{1} << 33);
            if (row < 1 || col < 1 || row > UINT32_MAX || col > UINT32_MAX)
                return fail(format_message("RangeOffsetWrite: offset from '{}' leaves the sheet", s.addr));
            set_cell_value(static_cast<uint32_t>(row), static_cast<uint32_t>(col), std::move(value));
            return {};
        }
        case kStmt<Stmt::RangeClear>: {
            const auto& s = *std::get_if<Stmt::RangeClear>(&n);
            TRY_VOID(check_sheet_not_protected(active_sheet_, active_sheet_));
            auto corners = resolve_range_addr(s.addr);
            if (!corners) return fail(format_message("RangeClear: invalid address '{}'", s.addr));
            CellMap& cells = cells_mut();
            // Walk whichever is smaller: the stored cells or the rectangle.
            if (vm::cell_count(*corners) > cells.size()) {
                erase_if(cells, [&](const auto& kv) { return inside(*corners, kv.first); });
                return {};
            }
            return walk(*corners, [&](uint32_t r, uint32_t c) -> Result<void> {
                cells.erase(CellPos{r, c});
                return {};
            });
        }
        case kStmt<Stmt::RangeName>: {
            const auto& s = *std::get_if<Stmt::RangeName>(&n);
            defined_names.insert_or_assign(text::to_lower(s.name), s.addr);
            return {};
        }
        case kStmt<Stmt::ApplicationSet>: {
            // Application settings are accepted and ignored, a failing value too.
            (void)eval_expr(*std::get_if<Stmt::ApplicationSet>(&n)->value);
            if (interrupted_) return fail("Interrupted");
            return {};
        }
        case kStmt<Stmt::SetCalculation>:
            return set_calc_mode(std::get_if<Stmt::SetCalculation>(&n)->mode);
        case kStmt<Stmt::WithSheet>: {
            const auto& s = *std::get_if<Stmt::WithSheet>(&n);
            std::string previous = active_sheet_;
            ensure_sheet(s.sheet);
            TRY_VOID(set_active_sheet(s.sheet));
            auto r = run_body(s.body);
            // The sheet active before comes back, unless the body deleted it.
            if (sheets_.contains(previous)) (void)set_active_sheet(previous);
            return r;
        }
        case kStmt<Stmt::AddSheet>:
            ensure_sheet("sheet" + std::to_string(sheets_.size() + 1));
            return {};
        case kStmt<Stmt::RangeCopy>:
        case kStmt<Stmt::VarCopy>: return not_yet("Copy");
        case kStmt<Stmt::RangePaste>:
        case kStmt<Stmt::SheetPaste>: return not_yet("Paste");
        case kStmt<Stmt::SetObject>: return exec_set_object(*std::get_if<Stmt::SetObject>(&n));
        case kStmt<Stmt::SheetProtect>: return not_yet("Protect and Unprotect");
        case kStmt<Stmt::RangeDelete>: return not_yet("Delete");
        case kStmt<Stmt::RangeInsert>: return not_yet("Insert");
        case kStmt<Stmt::RangeSort>: return not_yet("Sort");
        case kStmt<Stmt::SheetCellWrite>:
        case kStmt<Stmt::SheetRangeWrite>: return not_yet("Writing to another sheet");
        case kStmt<Stmt::SheetDelete>: return not_yet("Deleting a sheet");
    }
    return fail("Unknown statement");
}

}  // namespace morvane
