// Moving a formula's cell references, the one routine behind filling a
// formula over a range and pasting it elsewhere: the relative parts of each
// reference (those without "$") move by the distance from the first cell.
// A reference moved off the sheet becomes #REF!. The text is rewritten in
// place: everything but the references (spacing, names, literals) stays.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::formula {

// `formula` with every reference's relative row moved by `rows` and relative
// column by `cols`.
std::string shift_references(std::string_view formula, int64_t rows, int64_t cols);

}  // namespace morvane::formula
