// VBA value rules of the macro interpreter: the number, text and truth of a
// value, equality and ordering, the Sort order, and every binary operator.
// Pure functions; they hold no state and touch no workbook.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "parser/ast.h"
#include "types/result.h"
#include "types/compare.h"
#include "types/variant.h"
#include "values/var_type.h"

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
inline constexpr std::string_view kTypeMismatch = "Type mismatch";

// A text as VBA reads a number from it (Val aside): blanks around it, a
// sign, a leading currency sign, parentheses for a negative, thousands
// separators, a point and an exponent, or &H / &O digits. None for any other
// text, for "inf" and "nan", and for a number beyond the Double range.
std::optional<double> read_vba_number(std::string_view s);
// A float as VBA prints it: at most 15 significant digits, without trailing
// zeros, in the E form from 1E+15 up and below 0.0001.
std::string vba_float_text(double x);

// The text `&`, CStr and Str make of a value: Variant::to_string with
// floats as vba_float_text prints them (arrays in brackets).
std::string vba_display_text(const Variant& v);
// Room for the digits of any 64-bit Integer, with its sign.
using IntText = std::array<char, 24>;
// An Integer's text as `&` shows it, written into `buf`.
std::string_view int_text(int64_t n, IntText& buf);

// The number of a value; a text by read_vba_number.
Result<double> to_f64(const Variant& v);
std::string vba_to_str(const Variant& v);
// `=`: a blank (Empty) equals "" and 0 (and False); a number equals a text
// that reads as the same number; other texts and numbers never meet.
bool vba_eq(const Variant& a, const Variant& b);
// `<` and the other orderings: texts as texts, a blank against a text as
// "", anything else as numbers when both read as numbers.
Result<Ordering> vba_cmp(const Variant& a, const Variant& b);
// Total order of the Sort statement; never fails.
Ordering cmp_variants(const Variant& a, const Variant& b);
// The truth of a condition. A text converts as CBool converts it: "True"
// and "False" in any case, or a number (true unless 0); any other text is a
// Type mismatch.
Result<bool> is_truthy(const Variant& v);
// `Not`: the logical negation of a Boolean, else the bitwise one.
Result<Variant> eval_not(Variant v);
// What a macro's write of `v` to a cell enters, as typing it would: a text
// is read by typed_entry (a number, a Date, TRUE or FALSE, an error literal,
// the apostrophe dropped), and the empty text becomes Empty, which empties
// the cell. Any other value is entered as it is.
Variant entered_value(Variant v);
// The integer operand of And, Or, Xor, Not, Mod and the backslash.
Result<int64_t> to_i64_bitwise(const Variant& v);
// Rounds half to even and saturates; NaN gives 0.
int64_t round_even_saturate(double x);
Result<Variant> eval_binop(BinOp op, Variant lhs, Variant rhs);
// A comparison operator (= <> < <= > >=) on two values, read in place: the
// Boolean eval_binop gives.
Result<bool> compare_values(BinOp op, const Variant& a, const Variant& b);
// Appends `tail` to `text` (what `&` does), within kMaxTextLen.
Result<void> append_text(std::string& text, std::string_view tail);
// Appends the text `&` makes of `v`, within kMaxTextLen.
Result<void> append_display_text(std::string& text, const Variant& v);
// A row or column argument to a cell index ("row" or "col" in the message).
Result<uint32_t> to_cell_index(const Variant& v, std::string_view label);

}  // namespace morvane::vm
