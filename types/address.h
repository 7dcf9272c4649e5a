// A1 cell and range addresses to cell positions, and 1900-system day serials
// to calendar dates and their text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace morvane::morvane_types {

struct Ymd {
    int32_t year;
    uint32_t month;
    uint32_t day;
    friend bool operator==(const Ymd&, const Ymd&) = default;
};

// (row, column); "$" markers are accepted and ignored.
std::optional<std::pair<uint32_t, uint32_t>> parse_cell_addr(std::string_view text);
// Two corners as written ("B2:A1" is not reordered); one cell gives it twice.
std::optional<std::pair<std::pair<uint32_t, uint32_t>, std::pair<uint32_t, uint32_t>>>
parse_range_addr(std::string_view text);

Ymd serial_to_ymd(int64_t serial);
std::string serial_to_display(int64_t serial);

// Letters of a 1-based column number (1 -> "A", 27 -> "AA").
std::string column_letters(uint32_t col);

}  // namespace morvane::morvane_types
