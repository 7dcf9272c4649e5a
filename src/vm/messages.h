// Texts of the interpreter used by more than one of its units, word for
// word. A text used in one unit only is a constant at the top of that unit.
#pragma once

#include <string_view>

namespace morvane::vm {

inline constexpr std::string_view kInterrupted = "Interrupted";

}  // namespace morvane::vm
