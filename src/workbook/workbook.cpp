// The workbook model: sheets, the active sheet, single cells, the occupancy
// index behind the End searches, and the sheet checks.
#include "workbook/workbook.h"

#include <algorithm>
#include <iterator>

#include "types/text.h"

namespace morvane {

namespace {

constexpr std::string_view kSheetProtected = "Cannot edit: sheet '{}' is protected";
constexpr std::string_view kBadSheetNameLength = "Sheet name '{}' must be 1 to 31 characters long";
constexpr std::string_view kBadSheetNameChar = "Sheet name '{}' may not contain any of [ ] : * ? / \\";
constexpr std::string_view kBadSheetNameQuote = "Sheet name '{}' may not begin or end with an apostrophe";
constexpr std::string_view kSheetNameTaken = "Sheet name '{}' is already taken by another sheet";
constexpr std::string_view kLastSheet = "Cannot delete the only sheet of the workbook";
constexpr size_t kMaxSheetName = 31;
constexpr std::string_view kSheetNameForbidden = "[]:*?/\\";

// The first position at or after `start` that the run of occupied members
// starting there does not cover.
uint32_t first_gap(const std::unordered_map<uint32_t, std::set<uint32_t>>& index, uint32_t line, uint32_t start) {
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
uint32_t last_member(const std::unordered_map<uint32_t, std::set<uint32_t>>& index, uint32_t line, uint32_t bound) {
    auto it = index.find(line);
    if (it == index.end()) return 1;
    auto m = it->second.upper_bound(bound);
    if (m == it->second.begin()) return 1;
    return *std::prev(m);
}

}  // namespace

bool sheet_name_chars_ok(std::string_view name) {
    return !name.empty() && name.find_first_of(kSheetNameForbidden) == std::string_view::npos && name.front() != '\'' &&
           name.back() != '\'';
}

Result<void> check_sheet_name(std::string_view name) {
    if (name.empty() || text::char_count(name) > kMaxSheetName) return fail(format_message(kBadSheetNameLength, name));
    if (name.find_first_of(kSheetNameForbidden) != std::string_view::npos)
        return fail(format_message(kBadSheetNameChar, name));
    if (name.front() == '\'' || name.back() == '\'') return fail(format_message(kBadSheetNameQuote, name));
    return {};
}

Workbook::Workbook() {
    active_cells_ = &sheets_[active_sheet_];
    order_.push_back(active_sheet_);
    display_.emplace(active_sheet_, "Sheet1");
    active_formulas_ = &formulas_of(active_sheet_);
}

SheetFormulas& Workbook::formulas_of(const std::string& key) {
    auto it = formulas_.find(key);
    if (it == formulas_.end()) it = formulas_.emplace(key, SheetFormulas(sheets_.at(key))).first;
    return it->second;
}

const std::string& Workbook::display_name(const std::string& key) const {
    auto it = display_.find(key);
    return it == display_.end() ? key : it->second;
}

void Workbook::ensure_sheet(std::string_view name) {
    std::string key = text::to_lower(name);
    if (!sheets_.try_emplace(key).second) return;
    // A new sheet starts without formulas, whatever an earlier one of that name held.
    formulas_.erase(key);
    order_.push_back(key);
    display_.insert_or_assign(std::move(key), std::string(name));
}

void Workbook::move_sheet(const std::string& key, size_t index) {
    auto at = std::find(order_.begin(), order_.end(), key);
    if (at == order_.end()) return;
    order_.erase(at);
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(std::min(index, order_.size())), key);
}

Result<void> Workbook::rename_sheet(const std::string& key, std::string_view name) {
    if (!sheets_.contains(key)) return fail(format_message(vm::kSheetNotFound, key));
    TRY_VOID(check_sheet_name(name));
    std::string new_key = text::to_lower(name);
    if (new_key != key && sheets_.contains(new_key)) return fail(format_message(kSheetNameTaken, name));
    if (new_key != key) {
        // The node moves whole, so the active sheet's cells stay where they are.
        auto node = sheets_.extract(key);
        node.key() = new_key;
        sheets_.insert(std::move(node));
        // Its formulas move with it, held where they were.
        if (auto f = formulas_.extract(key)) {
            f.key() = new_key;
            formulas_.insert(std::move(f));
        }
        std::replace(order_.begin(), order_.end(), key, new_key);
        display_.erase(key);
        if (protected_sheets.erase(key)) protected_sheets.insert(new_key);
        for (auto& [name, sheet] : defined_name_sheets)
            if (sheet == key) sheet = new_key;
        if (active_sheet_ == key) active_sheet_ = new_key;
    }
    display_.insert_or_assign(new_key, std::string(name));
    return {};
}

Result<void> Workbook::delete_sheet(const std::string& key) {
    auto at = std::find(order_.begin(), order_.end(), key);
    if (at == order_.end()) return fail(format_message(vm::kSheetNotFound, key));
    if (order_.size() == 1) return fail(std::string(kLastSheet));
    if (key == active_sheet_) {
        const std::string& next = at + 1 != order_.end() ? *(at + 1) : *(at - 1);
        auto it = sheets_.find(next);
        active_sheet_ = it->first;
        active_cells_ = &it->second;
        active_formulas_ = &formulas_of(it->first);
        index_dirty_ = true;
    }
    formulas_.erase(key);
    order_.erase(at);
    display_.erase(key);
    protected_sheets.erase(key);
    sheets_.erase(key);
    return {};
}

void Workbook::keep_only(const std::vector<std::string>& keep) {
    std::vector<std::string> drop;
    for (const std::string& key : order_)
        if (key != active_sheet_ && std::find(keep.begin(), keep.end(), key) == keep.end()) drop.push_back(key);
    for (const std::string& key : drop) (void)remove_sheet(key);
}

Result<void> Workbook::set_active_sheet(std::string_view name) {
    auto it = sheets_.find(text::to_lower(name));
    if (it == sheets_.end()) return fail(format_message(vm::kSheetNotFound, name));
    active_sheet_ = it->first;
    active_cells_ = &it->second;
    active_formulas_ = &formulas_of(it->first);
    index_dirty_ = true;
    return {};
}

const CellMap* Workbook::get_sheet_cells(std::string_view name) const { return sheet_by_key(text::to_lower(name)); }

const CellMap* Workbook::sheet_by_key(const std::string& key) const {
    auto it = sheets_.find(key);
    return it == sheets_.end() ? nullptr : &it->second;
}

CellMap* Workbook::sheet_cells_mut(const std::string& key) {
    index_dirty_ = true;
    auto it = sheets_.find(key);
    if (it == sheets_.end()) return nullptr;
    formulas_of(key).invalidate();
    return &it->second;
}

CellMap* Workbook::sheet_cells_mut(const std::string& key, const CellRange& changed) {
    index_dirty_ = true;
    auto it = sheets_.find(key);
    if (it == sheets_.end()) return nullptr;
    formulas_of(key).changed(changed, interrupt_);
    return &it->second;
}

bool Workbook::remove_sheet(std::string_view key) {
    if (key == active_sheet_) return false;
    const std::string k(key);
    formulas_.erase(k);
    if (sheets_.erase(k) == 0) return false;
    std::erase(order_, k);
    display_.erase(k);
    protected_sheets.erase(k);
    return true;
}

Variant Workbook::get_cell(uint32_t row, uint32_t col) const {
    auto it = active_cells_->find(CellPos{row, col});
    return it == active_cells_->end() ? Variant() : it->second.value;
}

void Workbook::set_cell_value(uint32_t row, uint32_t col, Variant value) {
    const CellPos pos{row, col};
    CellContent& cell = cells_mut(CellRange::single(pos))[pos];
    cell.formula.reset();
    cell.value = std::move(value);
}

Result<void> Workbook::set_formula(CellPos pos, std::string_view text) {
    index_dirty_ = true;
    return active_formulas_->store(pos, text, calc_mode == CalcMode::Automatic, interrupt_);
}

Result<void> Workbook::update(const std::string& key) {
    if (calc_mode != CalcMode::Automatic) return {};
    if (key == active_sheet_) {
        if (active_formulas_->up_to_date()) return {};
        return active_formulas_->update(interrupt_);
    }
    if (!sheets_.contains(key)) return {};
    SheetFormulas& f = formulas_of(key);
    if (f.up_to_date()) return {};
    return f.update(interrupt_);
}

Result<void> Workbook::update_all() {
    for (const auto& [key, cells] : sheets_) TRY_VOID(update(key));
    return {};
}

bool Workbook::up_to_date(const std::string& key) const {
    if (calc_mode != CalcMode::Automatic) return true;
    if (key == active_sheet_) return active_formulas_->up_to_date();
    auto it = formulas_.find(key);
    // A sheet never looked at may hold formulas (written before it was
    // seen here, or loaded): it is looked at once.
    return it == formulas_.end() ? !sheets_.contains(key) : it->second.up_to_date();
}

Result<void> Workbook::recalculate_all() {
    for (const auto& [key, cells] : sheets_) TRY_VOID(recalculate_sheet(key));
    return {};
}

Result<void> Workbook::recalculate_sheet(const std::string& key) {
    if (!sheets_.contains(key)) return {};
    return formulas_of(key).recalculate(interrupt_);
}

Result<void> Workbook::recalculate_area(const CellRange& area) {
    return active_formulas_->recalculate_area(area, interrupt_);
}

void Workbook::rebuild_cell_index() {
    row_index_.clear();
    col_index_.clear();
    for (const auto& [pos, cell] : *active_cells_) {
        if (cell.value.is_empty()) continue;
        row_index_[pos.row].insert(pos.col);
        col_index_[pos.col].insert(pos.row);
    }
    index_dirty_ = false;
}

const Workbook::Index& Workbook::index(const Index& which) {
    if (index_dirty_) rebuild_cell_index();
    return which;
}

uint32_t Workbook::first_empty_row(uint32_t col, uint32_t start) { return first_gap(index(col_index_), col, start); }

uint32_t Workbook::first_empty_col(uint32_t row, uint32_t start) { return first_gap(index(row_index_), row, start); }

uint32_t Workbook::last_nonempty_row(uint32_t col, uint32_t bound) {
    return last_member(index(col_index_), col, bound);
}

uint32_t Workbook::last_nonempty_col(uint32_t row, uint32_t bound) {
    return last_member(index(row_index_), row, bound);
}

Result<void> Workbook::check_sheet_not_protected(std::string_view key, std::string_view display) const {
    if (protected_sheets.empty() || !protected_sheets.contains(std::string(key))) return {};
    return fail(format_message(kSheetProtected, display));
}

Result<void> Workbook::require_sheet_exists(std::string_view key, std::string_view display) const {
    if (sheets_.contains(std::string(key))) return {};
    return fail(format_message(vm::kSheetNotFound, display));
}

}  // namespace morvane
