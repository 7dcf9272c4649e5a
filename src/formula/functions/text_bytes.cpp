// Byte-count and width functions. None is built yet: their names give #NAME?
// until they join the table at the end of this file.
#include <array>

#include "formula/eval.h"

namespace morvane::eval {

namespace {
constexpr std::array<FuncEntry, 0> kTable{};
}  // namespace

std::span<const FuncEntry> text_bytes_functions() { return kTable; }

}  // namespace morvane::eval
