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

// Parses a formula; any number of leading "=" is allowed.
Result<FormulaExpr> parse(std::string_view text);

// Column letters (upper-case ASCII) to a column number, saturating at
// 4294967295: A is 1, AA 27, "" 0.
uint32_t col_letters_to_num(std::string_view letters);

}  // namespace morvane::formula::parser
