// Cell areas of the object model: `Rect` (one rectangle, corners as
// written), multi-area address texts ("A1, C3:D4") with defined names
// followed one level, and the size arithmetic of areas, done in 64 bits so
// that no count of a huge or reversed area wraps round. Pure functions: they
// touch no workbook.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "types/result.h"

namespace morvane {

// One rectangular area, corners as written (B2:A1 is not reordered); an area
// whose first row or column is greater than its last holds no cell.
struct Rect {
    uint32_t first_row = 0;
    uint32_t first_col = 0;
    uint32_t last_row = 0;
    uint32_t last_col = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Two (row, column) corners as written.
using CellCorner = std::pair<uint32_t, uint32_t>;
using Corners = std::pair<CellCorner, CellCorner>;

namespace vm {

// Most cells one statement may read, write, copy or paste at once.
inline constexpr uint64_t kMaxRangeCells = 10'000'000;

// Lower-case defined name -> the address text it stands for.
using NameMap = std::unordered_map<std::string, std::string>;

inline Rect rect_of(const Corners& c) { return {c.first.first, c.first.second, c.second.first, c.second.second}; }

// Rows, columns and cells an area holds; 0 for a reversed area.
inline uint64_t rect_rows(const Rect& r) {
    return r.first_row > r.last_row ? 0 : uint64_t{r.last_row} - r.first_row + 1;
}
inline uint64_t rect_cols(const Rect& r) {
    return r.first_col > r.last_col ? 0 : uint64_t{r.last_col} - r.first_col + 1;
}
// Saturates at UINT64_MAX (row 0 and column 0 parse, so 2^32 x 2^32 can arise).
uint64_t rect_cells(const Rect& r);
// The sum over several areas, saturating.
uint64_t total_cells(const std::vector<Rect>& areas);

inline bool rect_contains(const Rect& r, uint32_t row, uint32_t col) {
    return row >= r.first_row && row <= r.last_row && col >= r.first_col && col <= r.last_col;
}

// The A1 text of an area ("C4", "A1:B2"), corners as written.
std::string rect_text(const Rect& r);

// "Range '{addr}' is too large to {action} ({cells} cells; the limit is ...)"
// when `cells` exceeds kMaxRangeCells.
Result<void> check_range_size(std::string_view addr, uint64_t cells, std::string_view action);

// Areas separated by commas, each an A1 cell or range; none when any piece
// (an empty one included) is no address.
std::optional<std::vector<Rect>> parse_multi_area_addr(std::string_view text);

// An A1 range, else the defined name's stored A1 range.
std::optional<Corners> resolve_range_addr(std::string_view addr, const NameMap& names);
// Several areas, else the defined name's stored areas.
std::optional<std::vector<Rect>> resolve_multi_area_addr(std::string_view addr, const NameMap& names);

}  // namespace vm

}  // namespace morvane
