// Typed input: what a cell stores when a text is typed into it, and the
// number such a text stands for in arithmetic. One reader for the macro
// interpreter's cell writes and the formula engine's text coercion, so the
// two agree on every text.
#pragma once

#include <optional>
#include <string_view>

#include "types/variant.h"

namespace morvane {

// What a cell stores when `text` is typed into it, as the en-US spreadsheet
// reads typed input: a number (thousands separators, a leading currency sign,
// a trailing percent, a negative in parentheses, blanks around it), a Date
// (yyyy-mm-dd with an optional time, m/d/yyyy, times such as 8:00, 8:00 PM,
// 13:45:10), TRUE or FALSE, an error literal, or else the text itself; a
// leading apostrophe keeps the rest as text and is dropped. The empty text
// stores nothing (Empty).
Variant typed_entry(std::string_view text);
// typed_entry of `text` when it is not the text itself; none when the cell
// would store `text` unchanged, so a caller holding the text can keep it.
std::optional<Variant> typed_value(std::string_view text);
// The number `text` stands for in arithmetic: a number, or a date or time as
// its serial; none for logicals, error literals and other texts.
std::optional<double> typed_number(std::string_view text);

}  // namespace morvane
