// A1 cell and range addresses to cell positions (the day serials live in
// types/calendar.h, included here for the callers of both).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "types/calendar.h"

namespace morvane::morvane_types {

// (row, column); "$" markers are accepted and ignored.
std::optional<std::pair<uint32_t, uint32_t>> parse_cell_addr(std::string_view text);
// Two corners as written ("B2:A1" is not reordered); one cell gives it twice.
std::optional<std::pair<std::pair<uint32_t, uint32_t>, std::pair<uint32_t, uint32_t>>>
parse_range_addr(std::string_view text);

// Letters of a 1-based column number (1 -> "A", 27 -> "AA").
std::string column_letters(uint32_t col);

}  // namespace morvane::morvane_types
