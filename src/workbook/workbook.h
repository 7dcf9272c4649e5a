// The workbook the interpreter runs against: its sheets of cells keyed by
// lower-case name, in tab order and with their names as written, the active
// sheet, the occupancy index behind the End searches, defined names,
// protected sheets, the calculation mode and each sheet's formulas
// (recalc.h), which every change of cells goes past. It
// knows nothing of macros; the `Vm` owns one.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "types/calc_mode.h"
#include "types/cell_map.h"
#include "types/result.h"
#include "types/variant.h"
#include "workbook/recalc.h"

namespace morvane::vm {

inline constexpr std::string_view kSheetNotFound = "Sheet '{}' not found";

}  // namespace morvane::vm

namespace morvane {

// The name rules Excel keeps, which a sheet made or renamed here follows:
// 1 to 31 characters, none of [ ] : * ? / \, no apostrophe at either end.
// The message says which rule the name breaks.
Result<void> check_sheet_name(std::string_view name);
// The same rules but the length, which OpenDocument files do not have.
bool sheet_name_chars_ok(std::string_view name);

class Workbook {
public:
    // One empty sheet, "sheet1", active.
    Workbook();
    // The active sheet is held by address.
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    // ------------------------------------------------ sheets
    // Keys (lower-case names) in tab order.
    const std::vector<std::string>& sheet_names() const { return order_; }
    // The name as written when the sheet was made or last renamed.
    const std::string& display_name(const std::string& key) const;
    // Adds a sheet after the last one, named as written, unless one of that
    // name (in any letter case) exists.
    void ensure_sheet(std::string_view name);
    // Moves sheet `key` to place `index` (0-based, at most the last) in tab order.
    void move_sheet(const std::string& key, size_t index);
    // Renames sheet `key`: the name must pass check_sheet_name and be no
    // other sheet's name in any letter case.
    Result<void> rename_sheet(const std::string& key, std::string_view name);
    // Removes a sheet; the active one hands over to its right neighbour (or
    // its left, when it is the last). The only sheet cannot go.
    Result<void> delete_sheet(const std::string& key);
    Result<void> set_active_sheet(std::string_view name);
    // The key (lower-case name) of the active sheet.
    const std::string& active_sheet() const { return active_sheet_; }
    const SheetMap& sheets() const { return sheets_; }
    bool has_sheet(const std::string& key) const { return sheets_.contains(key); }
    // By name, in any letter case; null when absent.
    const CellMap* get_sheet_cells(std::string_view name) const;
    // By key (already lower case); null when absent.
    const CellMap* sheet_by_key(const std::string& key) const;
    // The same, to change in any way; marks the occupancy index and the
    // sheet's formulas stale.
    CellMap* sheet_cells_mut(const std::string& key);
    // The same, for a change of values (no formula stored) inside `changed`.
    CellMap* sheet_cells_mut(const std::string& key, const CellRange& changed);
    // Removes a sheet that is not active; false when it is active or absent.
    bool remove_sheet(std::string_view key);
    // Drops every sheet but those in `keep` (keys), for a workbook that
    // holds exactly what was loaded. The active sheet must be kept.
    void keep_only(const std::vector<std::string>& keep);

    // ------------------------------------------------ cells of the active sheet
    const CellMap& cells() const { return *active_cells_; }
    // Any change goes through here, which marks the occupancy index stale,
    // and the formulas of the sheet: they are all parsed and computed again.
    CellMap& cells_mut() {
        index_dirty_ = true;
        active_formulas_->invalidate();
        return *active_cells_;
    }
    // A change of values (no formula stored) inside `changed`: only the
    // formulas those cells reach are computed again.
    CellMap& cells_mut(const CellRange& changed) {
        index_dirty_ = true;
        active_formulas_->changed(changed, interrupt_);
        return *active_cells_;
    }
    Variant get_cell(uint32_t row, uint32_t col) const;
    // Stores a value cell (no formula).
    void set_cell_value(uint32_t row, uint32_t col, Variant value);

    // ------------------------------------------------ formulas (recalc.h)
    // Asked by every formula evaluation whether to stop (Ctrl-C).
    void set_formula_interrupt(eval::InterruptCheck check) { interrupt_ = check; }
    // Parses, evaluates and stores a formula at `pos` of the active sheet;
    // in Automatic mode what it reads is brought up to date first. A text
    // that does not parse, an interrupt or a bound of the evaluation stores
    // nothing and returns the message; any other failure is an error value.
    Result<void> set_formula(CellPos pos, std::string_view text);
    // In Automatic mode, computes the formulas of sheet `key` that the
    // changes since its last update reach, so that every value read from it
    // is current. Manual mode reads the values as they are. Fails only when
    // an evaluation is stopped (an interrupt, a bound).
    Result<void> update(const std::string& key);
    Result<void> update_active() { return update(active_sheet_); }
    Result<void> update_all();
    // Nothing to compute before reading sheet `key`.
    bool up_to_date(const std::string& key) const;
    // Computes every formula of every sheet, of one sheet, or inside an
    // area of the active sheet (from the values the other cells hold).
    Result<void> recalculate_all();
    Result<void> recalculate_sheet(const std::string& key);
    Result<void> recalculate_area(const CellRange& area);

    // ------------------------------------------------ End searches
    uint32_t first_empty_row(uint32_t col, uint32_t start);
    uint32_t first_empty_col(uint32_t row, uint32_t start);
    uint32_t last_nonempty_row(uint32_t col, uint32_t bound);
    uint32_t last_nonempty_col(uint32_t row, uint32_t bound);
    // True until an End search rebuilds the index after a change.
    bool index_dirty() const { return index_dirty_; }

    // ------------------------------------------------ checks
    // `key` is looked up, `display` is shown in the message.
    Result<void> check_sheet_not_protected(std::string_view key, std::string_view display) const;
    Result<void> require_sheet_exists(std::string_view key, std::string_view display) const;

    // ------------------------------------------------ settings (no invariant to keep)
    // Lower-case name -> address text.
    std::unordered_map<std::string, std::string> defined_names;
    // Lower-case name -> the key of the sheet it was given on, whose moved
    // cells it follows.
    std::unordered_map<std::string, std::string> defined_name_sheets;
    // Keys of protected sheets.
    std::unordered_set<std::string> protected_sheets;
    CalcMode calc_mode = CalcMode::Automatic;

private:
    using Index = std::unordered_map<uint32_t, std::set<uint32_t>>;
    void rebuild_cell_index();
    SheetFormulas& formulas_of(const std::string& key);
    // `which` (row_index_ or col_index_), rebuilt first when stale.
    const Index& index(const Index& which);

    SheetMap sheets_;
    // Keys in tab order, and the names as written.
    std::vector<std::string> order_;
    std::unordered_map<std::string, std::string> display_;
    std::string active_sheet_ = "sheet1";
    // The active sheet's cells; node-based maps keep it valid until that
    // sheet is erased, which never happens to the active sheet.
    CellMap* active_cells_ = nullptr;
    // Each sheet's formulas, by key; the active sheet's, held by address.
    std::unordered_map<std::string, SheetFormulas> formulas_;
    SheetFormulas* active_formulas_ = nullptr;
    eval::InterruptCheck interrupt_{};
    // Occupied columns by row and rows by column, of the active sheet.
    Index row_index_;
    Index col_index_;
    bool index_dirty_ = true;
};

}  // namespace morvane
