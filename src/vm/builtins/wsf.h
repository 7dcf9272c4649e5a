// The WorksheetFunction subset a macro can call: sixteen functions over
// already evaluated values, where a range argument arrives as one flat Array
// of its cells in row-major order. They agree with the worksheet functions
// of the same names on what users rely on (Log's base, which cells of a
// range an aggregate takes, the criteria of CountIf and SumIf, which are
// the formula engine's own), and read or change nothing of the workbook.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "types/result.h"
#include "types/variant.h"
#include "vm/builtins/builtins.h"

namespace morvane::vm {

// `name` is the lower-case function name after "WorksheetFunction.";
// `widths` gives each range argument's column count (0 for any other
// argument, or none at all). A result that is an error value, or a number
// no cell can hold, fails with a message naming the function and the
// error, as the application's run-time error 1004 does.
Result<Variant> eval_wsf(std::string_view name, BuiltinArgs values, std::span<const uint64_t> widths = {});

}  // namespace morvane::vm
