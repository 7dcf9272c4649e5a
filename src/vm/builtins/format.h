// The Format function of VBA: a value shown through a number format, VBA's
// named formats included (Currency, Fixed, Standard, Percent, Scientific,
// Yes/No, True/False, On/Off, General Date, Long/Medium/Short Date and
// Time). The patterns are the formula engine's number formats
// (formula/number_format.h); this unit decides how each kind of VBA value
// enters them: numbers, dates and texts that read as numbers as numbers,
// other texts through the text section, booleans as their text except
// under Yes/No, True/False and On/Off.
#pragma once

#include <string>
#include <string_view>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::vm {

// Fails only for a pattern the renderer refuses (conditions in brackets,
// fractions) or a date outside the calendar.
Result<std::string> format_vba(const Variant& value, std::string_view pattern);

}  // namespace morvane::vm
