// VBA built-in functions by family. Each family file (builtins_<family>.cpp)
// holds free functions over already evaluated arguments and ends with its
// name table; builtins.cpp evaluates the arguments, merges the tables and
// dispatches. The conversions shared by several families live here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::vm {

// The evaluated arguments of one call, in source order. A handler owns them
// and may move out of them; arguments beyond those it uses are ignored.
using BuiltinArgs = std::span<Variant>;
using BuiltinFn = Result<Variant> (*)(BuiltinArgs args);

struct BuiltinEntry {
    std::string_view name;  // lower case
    BuiltinFn fn;
};

std::span<const BuiltinEntry> math_builtins();
std::span<const BuiltinEntry> convert_builtins();
std::span<const BuiltinEntry> text_builtins();
std::span<const BuiltinEntry> info_builtins();
std::span<const BuiltinEntry> clock_builtins();

// The handler of a built-in name (lower case); null for Range, which reads
// the workbook, and for names that are no built-in.
BuiltinFn find_builtin(std::string_view name);

// The built-ins a macro may name without parentheses, as `d = Date` does
// (Date, Now, Time); null for any other name.
BuiltinFn find_bare_builtin(std::string_view name);

// Fails with `message` when fewer than `n` arguments were given.
inline Result<void> need_args(BuiltinArgs args, size_t n, std::string_view message) {
    if (args.size() >= n) return {};
    return fail(std::string(message));
}

// The VBA text of an argument, taken over when it already is a text.
std::string take_text(Variant& v);

// A length, position or start: the number truncated toward zero; negative
// and NaN give 0, 2^64 and more the largest count.
Result<uint64_t> to_count(const Variant& v);

// How an exact half rounds.
enum class Halves : uint8_t { ToEven, AwayFromZero };

// x rounded to `digits` decimals (negative digits round to tens, hundreds,
// ...). Digits are clamped to the 32-bit range and truncated (NaN gives 0).
// When 10^digits or x * 10^digits overflows, x has no digits to drop and
// comes back unchanged; when 10^digits underflows, the result is 0.
double round_to_digits(double x, double digits, Halves halves);

}  // namespace morvane::vm
