// The writer's small kit: appending escaped text and numbers to a part,
// the character check that keeps every written part well-formed XML, the
// text a cell shows when its value has no cell type of its own, and the
// order in which a sheet's cells are written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types/variant.h"

namespace morvane::writer {

// & < > " ' as entities and a carriage return as &#13; (which XML readers
// would otherwise read as a line feed); nothing else changes.
void append_escaped(std::string& out, std::string_view s);
// The same for an .xlsx text, where a character XML cannot hold (a control
// character, U+FFFE, U+FFFF) is written as its _xHHHH_ escape, as Excel
// writes it, and an underscore that would start such an escape as _x005F_,
// so the text reads back as itself.
void append_xlsx_text(std::string& out, std::string_view s);
void append_int(std::string& out, int64_t v);
// A float in the shortest form that reads back as the same number:
// positional, or past 2^53 its exact digits or an exponent, whichever is shorter.
void append_number(std::string& out, double x);
std::string cell_ref(uint32_t row, uint32_t col);

// The text written for a value that no cell type holds: a list's elements
// joined as formulas join them to text, a record's own text form; none for
// other values.
std::optional<std::string> shown_text(const Variant& v);

// Well-formed UTF-8 holding only characters XML 1.0 allows.
bool xml_chars_ok(std::string_view s);
// Well-formed UTF-8: what an .xlsx text can carry, through its escapes.
bool xlsx_chars_ok(std::string_view s);

// A sheet's stored cells ordered by row, then column.
using CellRef = std::pair<CellPos, const CellContent*>;
std::vector<CellRef> sorted_cells(const CellMap& cells);

}  // namespace morvane::writer
