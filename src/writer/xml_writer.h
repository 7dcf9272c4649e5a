// The writer's small kit: appending escaped text and numbers to a part,
// the character check that keeps every written part well-formed XML, cell
// references, and the order in which a sheet's cells are written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types/variant.h"

namespace morvane::writer {

void append_escaped(std::string& out, std::string_view s);
void append_int(std::string& out, int64_t v);
// Column letters followed by the row number, such as AB12.
void append_cell_ref(std::string& out, uint32_t row, uint32_t col);
std::string cell_ref(uint32_t row, uint32_t col);

// Well-formed UTF-8 holding only characters XML 1.0 allows.
bool xml_chars_ok(std::string_view s);

// A sheet's stored cells ordered by row, then column.
using CellRef = std::pair<CellPos, const CellContent*>;
std::vector<CellRef> sorted_cells(const CellMap& cells);

}  // namespace morvane::writer
