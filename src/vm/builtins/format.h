// The Format function of VBA: the named formats "General" and "General
// Number" and digit patterns made of the placeholders 0 and #, the decimal
// point, the grouping comma and a closing percent sign. Other pattern
// elements (literal text, exponents, date codes, sections) have no effect,
// and only Integer and Float values are reformatted: every other value
// comes out as its VBA text. Never fails.
#pragma once

#include <string>
#include <string_view>

#include "types/variant.h"

namespace morvane::vm {

std::string format_vba(const Variant& value, std::string_view pattern);

}  // namespace morvane::vm
