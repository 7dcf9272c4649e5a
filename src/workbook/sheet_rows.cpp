#include "workbook/sheet_rows.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formula/shift.h"
#include "formula/sort.h"
#include "types/text.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

// The cells of rows from `from` down, moved by `shift` rows (negative: up);
// the rows from `drop_begin` to before `drop_end` are dropped. Rebuilding
// beats moving cells one by one, which would land on cells not yet moved.
void shift_rows(CellMap& cells, uint64_t from, int64_t shift, uint64_t drop_begin, uint64_t drop_end) {
    CellMap out;
    out.reserve(cells.size());
    for (auto& [pos, content] : cells) {
        if (pos.row >= drop_begin && pos.row < drop_end) continue;
        CellPos to = pos;
        if (pos.row >= from) to.row = static_cast<uint32_t>(int64_t{pos.row} + shift);
        out.try_emplace(to, std::move(content));
    }
    cells = std::move(out);
}

// One row of a sort area that stores at least one non-Empty value.
struct SortRow {
    uint32_t row;
    std::vector<Variant> keys;
    std::vector<std::pair<uint32_t, Variant>> cells;  // (column, value)
};

}  // namespace

namespace {

// What one cell holds of a value: an array gives its first element (an
// empty one #N/A; no cell holds an array), a Record its text form.
Variant cell_form(Variant v) {
    if (v.is_array()) {
        const Array& a = v.as_array();
        Variant first = a.empty() ? Variant(ExcelError::NA) : a.front();
        return first.is_array() ? Variant(ExcelError::NA) : cell_form(std::move(first));
    }
    if (v.is_record()) return Variant(v.to_string());
    return v;
}

}  // namespace

void enter_value(CellMap& cells, CellPos at, Variant value) {
    Variant entered = entered_value(cell_form(std::move(value)));
    if (entered.is_empty())
        cells.erase(at);
    else
        cells.insert_or_assign(at, CellContent{std::nullopt, std::move(entered)});
}

void fill_rect(CellMap& cells, const CellRange& area, const Variant& value) {
    if (value.is_array()) {
        // One element per cell in reading order; cells past the end get #N/A.
        const Array& a = value.as_array();
        size_t k = 0;
        for (uint64_t r = area.first.row; r <= area.last.row; ++r)
            for (uint64_t c = area.first.col; c <= area.last.col; ++c, ++k)
                enter_value(cells, CellPos{static_cast<uint32_t>(r), static_cast<uint32_t>(c)},
                            k < a.size() ? a[k] : Variant(ExcelError::NA));
        return;
    }
    const Variant entered = entered_value(cell_form(value));
    if (entered.is_empty()) {
        clear_rect(cells, area);
        return;
    }
    for (uint64_t r = area.first.row; r <= area.last.row; ++r)
        for (uint64_t c = area.first.col; c <= area.last.col; ++c)
            cells.insert_or_assign(CellPos{static_cast<uint32_t>(r), static_cast<uint32_t>(c)},
                                   CellContent{std::nullopt, entered});
}

void clear_rect(CellMap& cells, const CellRange& area) {
    // Walk whichever is smaller: the stored cells or the rectangle.
    if (area.cell_count() > cells.size()) {
        cells.erase_if([&](const auto& kv) { return area.contains(CellPos{kv.first.row, kv.first.col}); });
        return;
    }
    for (uint64_t r = area.first.row; r <= area.last.row; ++r)
        for (uint64_t c = area.first.col; c <= area.last.col; ++c)
            cells.erase(CellPos{static_cast<uint32_t>(r), static_cast<uint32_t>(c)});
}

void delete_rows(CellMap& cells, uint32_t first, uint32_t last) {
    const uint32_t lo = std::min(first, last), hi = std::max(first, last);
    const bool touched = std::any_of(cells.begin(), cells.end(), [&](const auto& kv) { return kv.first.row >= lo; });
    if (!touched) return;
    shift_rows(cells, uint64_t{hi} + 1, -(int64_t{hi} - lo + 1), lo, uint64_t{hi} + 1);
}

bool insert_rows(CellMap& cells, uint32_t first, uint32_t last) {
    const uint32_t lo = std::min(first, last), hi = std::max(first, last);
    const int64_t shift = int64_t{hi} - lo + 1;
    int64_t lowest = -1;
    for (const auto& [pos, content] : cells)
        if (pos.row >= lo) lowest = std::max<int64_t>(lowest, pos.row);
    if (lowest < 0) return true;
    if (lowest + shift > int64_t{UINT32_MAX}) return false;
    shift_rows(cells, lo, shift, 0, 0);
    return true;
}

namespace {

uint32_t& along(CellPos& p, const CellShift& s) { return s.columns ? p.col : p.row; }
uint32_t across(const CellPos& p, const CellShift& s) { return s.columns ? p.row : p.col; }
int64_t& along(formula::RefCorner& r, const CellShift& s) { return s.columns ? r.col : r.row; }
int64_t across(const formula::RefCorner& r, const CellShift& s) { return s.columns ? r.row : r.col; }

}  // namespace

bool shift_cells(CellMap& cells, const CellShift& s) {
    const uint64_t end = uint64_t{s.at} + s.count;  // one past the block
    const uint64_t limit = s.columns ? kMaxCol : kMaxRow;
    auto in_band = [&](const CellPos& p) { return across(p, s) >= s.band_lo && across(p, s) <= s.band_hi; };
    bool touched = false;
    for (const auto& [pos, content] : cells) {
        CellPos p = pos;
        if (!in_band(p) || along(p, s) < s.at) continue;
        touched = true;
        if (s.insert && along(p, s) + uint64_t{s.count} > limit) return false;
    }
    if (!touched) return true;
    CellMap out;
    out.reserve(cells.size());
    for (auto& [pos, content] : cells) {
        CellPos to = pos;
        if (in_band(pos) && along(to, s) >= s.at) {
            if (s.insert)
                along(to, s) += s.count;
            else if (along(to, s) < end)
                continue;
            else
                along(to, s) -= s.count;
        }
        out.insert_or_assign(to, std::move(content));
    }
    cells = std::move(out);
    return true;
}

namespace {

// The corners of one reference after the block moved; false when every
// cell it names was deleted. A range from the first to the last row (or
// column) is the whole line and stays whole, one that reaches the sheet's
// edge keeps reaching it, and one that only partly covers the band stays as
// written.
bool follow_corners(formula::RefCorner& a, formula::RefCorner& b, bool range, const CellShift& s) {
    const int64_t at = s.at, end = int64_t{s.at} + s.count - 1;  // the block's last row or column
    const int64_t edge = s.columns ? kMaxCol : kMaxRow;
    const int64_t band_lo = std::min(across(a, s), across(b, s)), band_hi = std::max(across(a, s), across(b, s));
    if (band_lo < s.band_lo || band_hi > s.band_hi) return true;
    const bool forward = along(a, s) <= along(b, s);
    int64_t lo = std::min(along(a, s), along(b, s)), hi = std::max(along(a, s), along(b, s));
    if (range && lo == 1 && hi == edge) return true;
    if (s.insert) {
        if (lo >= at) lo += s.count;
        if (hi >= at && !(range && hi == edge)) hi += s.count;
        if (lo > hi) return false;  // the whole range pushed off the sheet
    } else {
        if (lo >= at && hi <= end) return false;
        lo = lo < at ? lo : (lo > end ? lo - s.count : at);
        hi = hi < at ? hi : (hi > end ? hi - s.count : at - 1);
    }
    along(a, s) = forward ? lo : hi;
    if (range) along(b, s) = forward ? hi : lo;
    return true;
}

}  // namespace

std::string follow_shift(std::string_view text, bool on_moved_sheet, std::string_view moved_key, const CellShift& s) {
    return formula::rewrite_references(
        text, [&](std::string_view sheet, formula::RefCorner& a, formula::RefCorner& b, bool range) {
            if (sheet.empty() ? !on_moved_sheet : text::to_lower(sheet) != moved_key) return true;
            return follow_corners(a, b, range, s);
        });
}

std::optional<CellRange> follow_shift(const CellRange& area, const CellShift& s) {
    formula::RefCorner a{area.first.row, area.first.col}, b{area.last.row, area.last.col};
    if (!follow_corners(a, b, true, s)) return std::nullopt;
    auto inside = [](const formula::RefCorner& r) {
        return r.row >= 1 && r.col >= 1 && r.row <= kMaxRow && r.col <= kMaxCol;
    };
    if (!inside(a) || !inside(b)) return std::nullopt;
    return CellRange{{static_cast<uint32_t>(a.row), static_cast<uint32_t>(a.col)},
                     {static_cast<uint32_t>(b.row), static_cast<uint32_t>(b.col)}};
}

void sort_rows(CellMap& cells, const CellRange& area, std::span<const SortKey> keys) {
    const uint64_t height = area.rows();
    if (height == 0 || area.cols() == 0) return;
    // Take the area's values out, by row.
    std::vector<SortRow> rows;
    std::unordered_map<uint32_t, size_t> row_at;
    CellMap rest;
    rest.reserve(cells.size());
    for (auto& [pos, content] : cells) {
        if (!area.contains(CellPos{pos.row, pos.col})) {
            rest.try_emplace(pos, std::move(content));
            continue;
        }
        if (content.value.is_empty()) continue;
        auto [it, fresh] = row_at.try_emplace(pos.row, rows.size());
        if (fresh) rows.push_back(SortRow{pos.row, std::vector<Variant>(keys.size()), {}});
        SortRow& row = rows[it->second];
        for (size_t k = 0; k < keys.size(); ++k)
            if (uint64_t{pos.col} - area.first.col == keys[k].index) row.keys[k] = content.value;
        row.cells.emplace_back(pos.col, std::move(content.value));
    }
    // Rows keyed Empty by every key (every row that stores nothing among
    // them) form one block in their old order, after every keyed row in both
    // orders. Only the keyed rows need sorting.
    std::vector<SortRow*> keyed, blank;
    for (SortRow& r : rows)
        (std::all_of(r.keys.begin(), r.keys.end(), [](const Variant& v) { return v.is_empty(); }) ? blank : keyed)
            .push_back(&r);
    std::vector<uint32_t> keyed_rows;
    keyed_rows.reserve(keyed.size());
    for (const SortRow* r : keyed) keyed_rows.push_back(r->row);
    std::sort(keyed_rows.begin(), keyed_rows.end());
    eval::stable_merge_sort(keyed, [&](const SortRow* a, const SortRow* b) {
        for (size_t k = 0; k < keys.size(); ++k) {
            const Variant &x = a->keys[k], &y = b->keys[k];
            if (x.is_empty() || y.is_empty()) {
                if (x.is_empty() != y.is_empty()) return y.is_empty();
                continue;
            }
            const Ordering o = cmp_variants(x, y);
            if (o != Ordering::Equal) return o == (keys[k].descending ? Ordering::Greater : Ordering::Less);
        }
        return false;
    });

    const uint64_t keyed_base = 0;
    const uint64_t blank_base = keyed.size();
    auto place = [&](SortRow& r, uint64_t offset) {
        const auto row = static_cast<uint32_t>(area.first.row + offset);
        for (auto& [col, value] : r.cells)
            rest.try_emplace(CellPos{row, col}, CellContent{std::nullopt, std::move(value)});
    };
    for (size_t i = 0; i < keyed.size(); ++i) place(*keyed[i], keyed_base + i);
    for (SortRow* r : blank) {
        // Its place among the blank-keyed rows: the rows above it in the
        // area, less the keyed ones.
        const auto keyed_above =
            static_cast<uint64_t>(std::lower_bound(keyed_rows.begin(), keyed_rows.end(), r->row) - keyed_rows.begin());
        place(*r, blank_base + (r->row - area.first.row) - keyed_above);
    }
    cells = std::move(rest);
}

std::optional<bool> guess_header(const CellMap& cells, const CellRange& area) {
    if (area.rows() < 2) return false;
    auto value = [&](uint32_t row, uint32_t col) -> const Variant* {
        auto it = cells.find(CellPos{row, col});
        return it == cells.end() || it->second.value.is_empty() ? nullptr : &it->second.value;
    };
    bool texts = false, under = false;
    // Two look-ups a column: at most 32,768 on the widest sheet.
    for (uint64_t c = area.first.col; c <= area.last.col; ++c) {
        const auto col = static_cast<uint32_t>(c);
        const Variant* top = value(area.first.row, col);
        if (!top) continue;
        if (!top->is_str()) return false;
        texts = true;
        const Variant* below = value(area.first.row + 1, col);
        under = under || (below && !below->is_str());
    }
    if (!texts) return false;
    if (under) return true;
    return std::nullopt;
}

}  // namespace morvane::vm
