#include "workbook/areas.h"

#include <string>

#include "types/address.h"
#include "types/text.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kTooLarge = "Range '{}' is too large to {} ({} cells; the limit is {})";

}  // namespace

uint64_t total_cells(const std::vector<CellRange>& areas) {
    uint64_t total = 0;
    for (const CellRange& r : areas)
        if (__builtin_add_overflow(total, r.cell_count(), &total)) return UINT64_MAX;
    return total;
}

std::string rect_text(const CellRange& r) {
    std::string text = morvane_types::column_letters(r.first.col) + std::to_string(r.first.row);
    if (r.is_single()) return text;
    return text + ":" + morvane_types::column_letters(r.last.col) + std::to_string(r.last.row);
}

Result<void> check_range_size(std::string_view addr, uint64_t cells, std::string_view action) {
    if (cells <= kMaxRangeCells) return {};
    return fail(format_message(kTooLarge, addr, action, std::to_string(cells), std::to_string(kMaxRangeCells)));
}

std::optional<std::vector<CellRange>> parse_multi_area_addr(std::string_view text) {
    std::vector<CellRange> areas;
    for (;;) {
        size_t comma = text.find(',');
        auto corners = morvane_types::parse_range_addr(text.substr(0, comma));
        if (!corners) return std::nullopt;
        areas.push_back(*corners);
        if (comma == std::string_view::npos) return areas;
        text.remove_prefix(comma + 1);
    }
}

std::optional<CellRange> resolve_range_addr(std::string_view addr, const NameMap& names) {
    if (auto c = morvane_types::parse_range_addr(addr)) return c;
    // A defined name is followed one level only.
    auto it = names.find(text::to_lower(addr));
    if (it == names.end()) return std::nullopt;
    return morvane_types::parse_range_addr(it->second);
}

std::optional<std::vector<CellRange>> resolve_multi_area_addr(std::string_view addr, const NameMap& names) {
    if (auto areas = parse_multi_area_addr(addr)) return areas;
    auto it = names.find(text::to_lower(addr));
    if (it == names.end()) return std::nullopt;
    return parse_multi_area_addr(it->second);
}

}  // namespace morvane::vm
