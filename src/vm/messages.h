// Texts of the interpreter used by more than one of its units, word for
// word. A text used in one unit only is a constant at the top of that unit.
#pragma once

#include <string_view>

#include "types/result.h"

namespace morvane::vm {

inline constexpr std::string_view kInterrupted = "Interrupted";
inline constexpr std::string_view kNotSupportedYet = "{} is not supported yet";
inline constexpr std::string_view kArrayNeedsIndex = "Array '{}' requires index";
inline constexpr std::string_view kNotAnArray = "'{}' is not an array";
inline constexpr std::string_view kUserTypesNotYet = "User-defined Types are not supported yet";

// A statement or feature that is not built yet.
inline Result<void> not_yet(std::string_view what) { return fail(format_message(kNotSupportedYet, what)); }

}  // namespace morvane::vm
