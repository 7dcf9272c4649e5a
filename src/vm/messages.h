// Texts of the interpreter used by more than one of its units, word for
// word. A text used in one unit only is a constant at the top of that unit.
#pragma once

#include <string_view>

#include "formula/eval.h"

namespace morvane::vm {

// A stopped run reads the same whether a statement or a formula saw the stop.
using eval::kInterrupted;
// A sheet named by a macro that the workbook does not have.
inline constexpr std::string_view kNoSuchSheet = "Subscript out of range: there is no sheet '{}'";
inline constexpr std::string_view kZeroStep = "For loop: step cannot be zero";
inline constexpr std::string_view kRangeInvalid = "Range: invalid address '{}'";
// A member of an object the interpreter does not model.
inline constexpr std::string_view kNotModeled = "{} member '{}' is not supported";
// A range or cell past the sheet's last row or column.
inline constexpr std::string_view kOffSheet = "{}: the range would lie off the sheet (Error 1004)";
inline constexpr std::string_view kNothing = "'{}' is Nothing — Set was never called";

}  // namespace morvane::vm
