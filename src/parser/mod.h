// Entry point of the VBA front end: module text to a Program or the first
// syntax-error message (raised word for word as SyntaxError by the module).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "parser/ast.h"
#include "types/result.h"

namespace morvane::parser {

// Parse one VBA module. A message carries no line or position.
Result<Program> parse(std::string_view text);

// One A1 address as (column, row), column first; used for Sort's Key1 cell.
std::optional<std::pair<uint32_t, uint32_t>> parse_cell_addr(std::string_view text);

}  // namespace morvane::parser
