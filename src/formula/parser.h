// The formula parser: formula text to a FormulaExpr tree.
#pragma once

#include <cstdint>
#include <string_view>

#include "formula/ast.h"
#include "types/result.h"

namespace morvane::formula::parser {

// Deepest tree and deepest nesting of parentheses, calls and signs accepted;
// beyond them "Formula is nested too deeply".
inline constexpr uint32_t kMaxTreeDepth = 512;
inline constexpr uint32_t kMaxNesting = 128;

// What references a parse accepts: any row and column a number can hold,
// or only cells of a sheet (up to column XFD and row 1048576), as a formula
// stored in a cell must name.
enum class Refs { Any, OnSheet };

// Parses a formula; any number of leading "=" is allowed.
Result<FormulaExpr> parse(std::string_view text, Refs refs = Refs::Any);

// Column letters (upper-case ASCII) to a column number, saturating at
// 4294967295: A is 1, AA 27, "" 0.
uint32_t col_letters_to_num(std::string_view letters);

}  // namespace morvane::formula::parser
