// How deep arrays and records may nest inside each other. Every value the
// interpreter stores inside an array element or a record field is checked,
// so copying, comparing, printing, converting or freeing a value never
// recurses deeper than this.
#pragma once

#include <cstddef>
#include <string_view>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::vm {

inline constexpr size_t kMaxNesting = 100;
inline constexpr std::string_view kTooDeep = "Arrays and records nested more than {} levels deep are not supported";

// Fails with kTooDeep when `value`, stored one level inside another value,
// would nest deeper than kMaxNesting.
Result<void> check_nesting(const Variant& value);

}  // namespace morvane::vm
