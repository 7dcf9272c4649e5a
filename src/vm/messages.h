// Texts of the interpreter used by more than one of its units, word for
// word. A text used in one unit only is a constant at the top of that unit.
#pragma once

#include <string_view>

namespace morvane::vm {

inline constexpr std::string_view kInterrupted = "Interrupted";
// A sheet named by a macro that the workbook does not have.
inline constexpr std::string_view kNoSuchSheet = "Subscript out of range: there is no sheet '{}'";
inline constexpr std::string_view kZeroStep = "For loop: step cannot be zero";

}  // namespace morvane::vm
