#include "vm/areas.h"

#include <string>

#include "types/address.h"
#include "types/text.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kTooLarge = "Range '{}' is too large to {} ({} cells; the limit is {})";

}  // namespace

uint64_t rect_cells(const Rect& r) {
    uint64_t cells = 0;
    if (__builtin_mul_overflow(rect_rows(r), rect_cols(r), &cells)) return UINT64_MAX;
    return cells;
}

uint64_t total_cells(const std::vector<Rect>& areas) {
    uint64_t total = 0;
    for (const Rect& r : areas)
        if (__builtin_add_overflow(total, rect_cells(r), &total)) return UINT64_MAX;
    return total;
}

std::string rect_text(const Rect& r) {
    std::string text = morvane_types::column_letters(r.first_col) + std::to_string(r.first_row);
    if (r.first_row == r.last_row && r.first_col == r.last_col) return text;
    return text + ":" + morvane_types::column_letters(r.last_col) + std::to_string(r.last_row);
}

Result<void> check_range_size(std::string_view addr, uint64_t cells, std::string_view action) {
    if (cells <= kMaxRangeCells) return {};
    return fail(format_message(kTooLarge, addr, action, std::to_string(cells), std::to_string(kMaxRangeCells)));
}

std::optional<std::vector<Rect>> parse_multi_area_addr(std::string_view text) {
    std::vector<Rect> areas;
    for (;;) {
        size_t comma = text.find(',');
        auto corners = morvane_types::parse_range_addr(text.substr(0, comma));
        if (!corners) return std::nullopt;
        areas.push_back(rect_of(*corners));
        if (comma == std::string_view::npos) return areas;
        text.remove_prefix(comma + 1);
    }
}

std::optional<Corners> resolve_range_addr(std::string_view addr, const NameMap& names) {
    if (auto c = morvane_types::parse_range_addr(addr)) return c;
    // A defined name is followed one level only.
    auto it = names.find(text::to_lower(addr));
    if (it == names.end()) return std::nullopt;
    return morvane_types::parse_range_addr(it->second);
}

std::optional<std::vector<Rect>> resolve_multi_area_addr(std::string_view addr, const NameMap& names) {
    if (auto areas = parse_multi_area_addr(addr)) return areas;
    auto it = names.find(text::to_lower(addr));
    if (it == names.end()) return std::nullopt;
    return parse_multi_area_addr(it->second);
}

}  // namespace morvane::vm
