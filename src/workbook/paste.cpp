#include "workbook/paste.h"

#include <string>

#include "formula/shift.h"
#include "types/address.h"
#include "workbook/sheet_rows.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kInvalidRange = "Paste error: invalid destination range '{}'";
constexpr std::string_view kInvalidAddress = "Paste error: invalid destination address '{}'";
constexpr std::string_view kShapeMismatch = "Paste error: shape mismatch (source {}x{}, destination {}x{})";
constexpr std::string_view kMultiNotSupported =
    "Paste error: multi-area paste is not yet supported by morvane (diagnosed, not executed)";
constexpr std::string_view kDisjointToSingle =
    "Paste error: source has {} disjoint areas but the destination is a single area";
constexpr std::string_view kAreaCount = "Paste error: source has {} areas but destination has {} areas";
constexpr std::string_view kAreaShape = "Paste error: area {} shape mismatch (source {}x{}, destination {}x{})";
constexpr std::string_view kPastEdge = "Paste error: destination '{}' runs past the last row or column";

std::string num(uint64_t n) { return std::to_string(n); }

// last - first + 1 as a signed count: 0 or less for a reversed pair.
int64_t span(uint32_t first, uint32_t last) { return int64_t{last} - first + 1; }

bool same_shape(const CellRange& a, const CellRange& b) {
    return span(a.first.row, a.last.row) == span(b.first.row, b.last.row) &&
           span(a.first.col, a.last.col) == span(b.first.col, b.last.col);
}

// Writes a copied cell at (row, col): a formula with its references moved
// by the distance from the cell it was copied from at (from_row, from_col).
void put(CellMap& sheet, uint64_t row, uint64_t col, const CopiedCell& cell, uint64_t from_row, uint64_t from_col,
         bool values_only) {
    std::optional<std::string> formula;
    if (cell.formula && !values_only)
        formula = formula::shift_references(*cell.formula, static_cast<int64_t>(row) - static_cast<int64_t>(from_row),
                                            static_cast<int64_t>(col) - static_cast<int64_t>(from_col));
    sheet.insert_or_assign(CellPos{static_cast<uint32_t>(row), static_cast<uint32_t>(col)},
                           CellContent{std::move(formula), cell.value});
}

// Writes one copied area with its first corner at (row, col), after
// clearing the rows x cols it covers.
void write_area(CellMap& sheet, const CopiedArea& src, uint64_t row, uint64_t col, bool transpose, bool values_only) {
    const uint64_t rows = transpose ? src.cols : src.rows, cols = transpose ? src.rows : src.cols;
    if (rows == 0 || cols == 0) return;
    clear_rect(sheet, CellRange{{static_cast<uint32_t>(row), static_cast<uint32_t>(col)},
                                {static_cast<uint32_t>(row + rows - 1), static_cast<uint32_t>(col + cols - 1)}});
    for (const CopiedCell& cell : src.values) {
        const uint64_t from_row = uint64_t{src.area.first.row} + cell.at.row;
        const uint64_t from_col = uint64_t{src.area.first.col} + cell.at.col;
        if (transpose)
            put(sheet, row + cell.at.col, col + cell.at.row, cell, from_row, from_col, values_only);
        else
            put(sheet, row + cell.at.row, col + cell.at.col, cell, from_row, from_col, values_only);
    }
}

Result<void> paste_areas(const ClipboardState& clip, std::string_view dest, bool transpose, bool values_only,
                         const std::optional<std::vector<CellRange>>& targets, CellMap& sheet) {
    const size_t n = clip.areas.size();
    auto shapes_match = [&] {
        for (size_t i = 0; i < n; ++i)
            if (!same_shape(clip.areas[i].area, (*targets)[i])) return false;
        return true;
    };
    if (n >= 2 && !transpose && targets && targets->size() == n && shapes_match()) {
        for (size_t i = 0; i < n; ++i)
            write_area(sheet, clip.areas[i], (*targets)[i].first.row, (*targets)[i].first.col, false, values_only);
        return {};
    }
    if (n == 1) return fail(std::string(kMultiNotSupported));
    if (!targets) return fail(format_message(kInvalidRange, dest));
    if (targets->size() == 1) return fail(format_message(kDisjointToSingle, num(n)));
    if (targets->size() != n) return fail(format_message(kAreaCount, num(n), num(targets->size())));
    for (size_t i = 0; i < n; ++i) {
        const CellRange& s = clip.areas[i].area;
        const CellRange& d = (*targets)[i];
        if (!same_shape(s, d))
            return fail(format_message(kAreaShape, num(i + 1), std::to_string(span(s.first.row, s.last.row)),
                                       std::to_string(span(s.first.col, s.last.col)),
                                       std::to_string(span(d.first.row, d.last.row)),
                                       std::to_string(span(d.first.col, d.last.col))));
    }
    return fail(std::string(kMultiNotSupported));
}

}  // namespace

ClipboardState take_snapshot(const CellMap* sheet, const std::vector<CellRange>& areas) {
    ClipboardState clip;
    clip.areas.reserve(areas.size());
    for (const CellRange& area : areas) {
        CopiedArea& copy = clip.areas.emplace_back(CopiedArea{area, area.rows(), area.cols(), {}});
        if (!sheet || copy.rows == 0 || copy.cols == 0) continue;
        auto keep = [&](CellPos pos, const CellContent& content) {
            if (!content.value.is_empty() || content.formula)
                copy.values.push_back(CopiedCell{CellPos{pos.row - area.first.row, pos.col - area.first.col},
                                                 content.value, content.formula.to_optional()});
        };
        // Walk whichever is smaller: the stored cells or the rectangle.
        if (area.cell_count() > sheet->size()) {
            for (const auto& [pos, content] : *sheet)
                if (area.contains(CellPos{pos.row, pos.col})) keep(pos, content);
            continue;
        }
        for (uint64_t r = area.first.row; r <= area.last.row; ++r)
            for (uint64_t c = area.first.col; c <= area.last.col; ++c) {
                CellPos pos{static_cast<uint32_t>(r), static_cast<uint32_t>(c)};
                if (auto it = sheet->find(pos); it != sheet->end()) keep(pos, it->second);
            }
    }
    return clip;
}

Result<void> paste(const ClipboardState& clip, std::string_view dest, bool transpose, bool values_only,
                   const NameMap& names, CellMap& sheet) {
    auto targets = resolve_multi_area_addr(dest, names);
    if (clip.areas.size() > 1 || (targets && targets->size() > 1))
        return paste_areas(clip, dest, transpose, values_only, targets, sheet);

    const CopiedArea& src = clip.areas.front();
    const uint64_t want_rows = transpose ? src.cols : src.rows, want_cols = transpose ? src.rows : src.cols;
    const bool single = src.rows == 1 && src.cols == 1;
    uint64_t row = 0, col = 0, rows = want_rows, cols = want_cols;
    if (dest.find(':') != std::string_view::npos) {
        auto corners = resolve_range_addr(dest, names);
        if (!corners) return fail(format_message(kInvalidRange, dest));
        const CellRange r = *corners;
        row = r.first.row, col = r.first.col, rows = r.rows(), cols = r.cols();
        if (!single && (rows != want_rows || cols != want_cols))
            return fail(format_message(kShapeMismatch, num(want_rows), num(want_cols), num(rows), num(cols)));
    } else {
        auto cell = morvane_types::parse_cell_addr(dest);
        if (!cell) return fail(format_message(kInvalidAddress, dest));
        row = cell->row, col = cell->col;
    }
    if (rows == 0 || cols == 0) return {};
    if (row + rows - 1 > UINT32_MAX || col + cols - 1 > UINT32_MAX) return fail(format_message(kPastEdge, dest));
    const CellRange target{{static_cast<uint32_t>(row), static_cast<uint32_t>(col)},
                           {static_cast<uint32_t>(row + rows - 1), static_cast<uint32_t>(col + cols - 1)}};
    TRY_VOID(check_range_size(dest, target.cell_count(), "paste"));
    if (!single) {
        write_area(sheet, src, row, col, transpose, values_only);
        return {};
    }
    // One copied cell fills the whole destination.
    if (src.values.empty()) {
        clear_rect(sheet, target);
        return {};
    }
    const CopiedCell& cell = src.values.front();
    for (uint64_t r = row; r < row + rows; ++r)
        for (uint64_t c = col; c < col + cols; ++c)
            put(sheet, r, c, cell, src.area.first.row, src.area.first.col, values_only);
    return {};
}

}  // namespace morvane::vm
