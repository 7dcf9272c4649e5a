// Cell areas of the object model: multi-area address texts ("A1, C3:D4")
// with defined names followed one level, the text of an area, and the size
// arithmetic over several areas, done in 64 bits so that no count of a huge
// or reversed area wraps round. An area is a CellRange with its corners as
// written. Pure functions: they touch no workbook.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "types/address.h"
#include "types/result.h"

namespace morvane::vm {

// Most cells one statement may read, write, copy or paste at once.
inline constexpr uint64_t kMaxRangeCells = 10'000'000;

// Lower-case defined name -> the address text it stands for.
using NameMap = std::unordered_map<std::string, std::string>;

// The cells of several areas, saturating.
uint64_t total_cells(const std::vector<CellRange>& areas);

// The A1 text of an area ("C4", "A1:B2"), corners as written.
std::string rect_text(const CellRange& r);

// "Range '{addr}' is too large to {action} ({cells} cells; the limit is ...)"
// when `cells` exceeds kMaxRangeCells.
Result<void> check_range_size(std::string_view addr, uint64_t cells, std::string_view action);

// Areas separated by commas, each an A1 cell or range; none when any piece
// (an empty one included) is no address.
std::optional<std::vector<CellRange>> parse_multi_area_addr(std::string_view text);

// An A1 range, else the defined name's stored A1 range.
std::optional<CellRange> resolve_range_addr(std::string_view addr, const NameMap& names);
// Several areas, else the defined name's stored areas.
std::optional<std::vector<CellRange>> resolve_multi_area_addr(std::string_view addr, const NameMap& names);

}  // namespace morvane::vm
