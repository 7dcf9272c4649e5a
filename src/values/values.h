// VBA value rules of the macro interpreter: the number, text and truth of a
// value, equality and ordering, the Sort order, and every binary operator.
// Pure functions; they hold no state and touch no workbook.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "parser/ast.h"
#include "types/result.h"
#include "types/compare.h"
#include "types/variant.h"

namespace morvane::vm {

using morvane::Ordering;

// Messages of the value rules, word for word.
inline constexpr std::string_view kCannotConvert = "Cannot convert '{}' to number";
inline constexpr std::string_view kDivisionByZero = "Division by zero";
inline constexpr std::string_view kIntDivOverflow = "Integer division overflow";
// A joined text longer than this fails instead of exhausting memory (a
// doubling loop reaches any size in a few dozen passes).
inline constexpr size_t kMaxTextLen = size_t{1} << 28;
inline constexpr std::string_view kOutOfStringSpace = "Out of string space";

Result<double> to_f64(const Variant& v);
std::string vba_to_str(const Variant& v);
bool vba_eq(const Variant& a, const Variant& b);
Result<Ordering> vba_cmp(const Variant& a, const Variant& b);
// Total order of the Sort statement; never fails.
Ordering cmp_variants(const Variant& a, const Variant& b);
bool is_truthy(const Variant& v);
// The integer operand of And, Or, Xor, Not, Mod and the backslash.
Result<int64_t> to_i64_bitwise(const Variant& v);
// Rounds half to even and saturates; NaN gives 0.
int64_t round_even_saturate(double x);
Result<Variant> eval_binop(BinOp op, Variant lhs, Variant rhs);
// Appends `tail` to `text` (what `&` does), within kMaxTextLen.
Result<void> append_text(std::string& text, std::string_view tail);
// A row or column argument to a cell index ("row" or "col" in the message).
Result<uint32_t> to_cell_index(const Variant& v, std::string_view label);

}  // namespace morvane::vm
