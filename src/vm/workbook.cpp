// The workbook model: sheets, the active sheet, single cells, the occupancy
// index behind the End searches, and the sheet checks.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "types/text.h"
#include "vm/mod.h"
#include "vm/values.h"

namespace morvane {

Vm::Vm() {
    active_cells_ = &sheets_["sheet1"];
}

std::vector<std::string> Vm::sheet_names() const {
    std::vector<std::string> names;
    names.reserve(sheets_.size());
    for (const auto& [key, cells] : sheets_) names.push_back(key);
    std::sort(names.begin(), names.end());
    return names;
}

void Vm::ensure_sheet(std::string_view name) {
    sheets_.try_emplace(text::to_lower(name));
}

Result<void> Vm::set_active_sheet(std::string_view name) {
    auto it = sheets_.find(text::to_lower(name));
    if (it == sheets_.end()) return fail(format_message("Sheet '{}' not found", name));
    active_sheet_ = it->first;
    active_cells_ = &it->second;
    index_dirty = true;
    return {};
}

const CellMap* Vm::get_sheet_cells(std::string_view name) const {
    auto it = sheets_.find(text::to_lower(name));
    return it == sheets_.end() ? nullptr : &it->second;
}

CellMap* Vm::sheet_cells_mut(std::string_view name) {
    index_dirty = true;
    auto it = sheets_.find(text::to_lower(name));
    return it == sheets_.end() ? nullptr : &it->second;
}

bool Vm::remove_sheet(std::string_view key) {
    if (key == active_sheet_) return false;
    return sheets_.erase(std::string(key)) > 0;
}

Variant Vm::get_cell(uint32_t row, uint32_t col) const {
    auto it = active_cells_->find(CellPos{row, col});
    return it == active_cells_->end() ? Variant() : it->second.value;
}

void Vm::set_cell_value(uint32_t row, uint32_t col, Variant value) {
    CellContent& cell = cells_mut()[CellPos{row, col}];
    cell.formula.reset();
    cell.value = std::move(value);
}

void Vm::rebuild_cell_index() {
    row_index.clear();
    col_index.clear();
    for (const auto& [pos, cell] : *active_cells_) {
        if (cell.value.is_empty()) continue;
        row_index[pos.row].insert(pos.col);
        col_index[pos.col].insert(pos.row);
    }
    index_dirty = false;
}

namespace {

using Index = std::unordered_map<uint32_t, std::set<uint32_t>>;

// The first position at or after `start` that the run of occupied members
// starting there does not cover.
uint32_t first_gap(const Index& index, uint32_t line, uint32_t start) {
    auto it = index.find(line);
    if (it == index.end()) return start;
    int64_t expected = int64_t{start} - 1;
    for (auto m = it->second.lower_bound(start); m != it->second.end(); ++m) {
        if (int64_t{*m} != expected + 1) break;
        expected = *m;
    }
    return static_cast<uint32_t>(std::min<int64_t>(expected + 1, UINT32_MAX));
}

// The greatest occupied member at or before `bound`, or 1.
uint32_t last_member(const Index& index, uint32_t line, uint32_t bound) {
    auto it = index.find(line);
    if (it == index.end()) return 1;
    auto m = it->second.upper_bound(bound);
    if (m == it->second.begin()) return 1;
    return *std::prev(m);
}

}  // namespace

uint32_t Vm::first_empty_row(uint32_t col, uint32_t start) {
    if (index_dirty) rebuild_cell_index();
    return first_gap(col_index, col, start);
}

uint32_t Vm::first_empty_col(uint32_t row, uint32_t start) {
    if (index_dirty) rebuild_cell_index();
    return first_gap(row_index, row, start);
}

uint32_t Vm::last_nonempty_row(uint32_t col, uint32_t bound) {
    if (index_dirty) rebuild_cell_index();
    return last_member(col_index, col, bound);
}

uint32_t Vm::last_nonempty_col(uint32_t row, uint32_t bound) {
    if (index_dirty) rebuild_cell_index();
    return last_member(row_index, row, bound);
}

Result<void> Vm::check_sheet_not_protected(std::string_view key, std::string_view display) const {
    if (protected_sheets.empty() || !protected_sheets.contains(std::string(key))) return {};
    return fail(format_message("Cannot edit: sheet '{}' is protected", display));
}

Result<void> Vm::require_sheet_exists(std::string_view display, std::string_view key) const {
    if (sheets_.contains(std::string(key))) return {};
    return fail(format_message("Sheet '{}' not found", display));
}

namespace vm {

Result<uint32_t> to_cell_index(const Variant& v, std::string_view label) {
    if (v.is_int() && v.as_int() >= 1) return static_cast<uint32_t>(std::min<int64_t>(v.as_int(), UINT32_MAX));
    double x = TRY(to_f64(v));
    if (!(x >= 1) || x - std::trunc(x) != 0)
        return fail(format_message("Cell {} must be a positive integer, got {}", label, number_to_text(x)));
    return saturate_u32(x);
}

}  // namespace vm

}  // namespace morvane
