// VBA built-in functions: the handler type, one table per family (each
// builtins_<family>.cpp ends with its own), the look-up that resolves a
// name, and the conversions several families share. Most handlers are free
// functions over the evaluated arguments alone (`pure` fits them to the
// table); Range, which reads the workbook, takes the Vm. Built-ins are the
// interpreter's own: they share nothing with the worksheet functions.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "types/result.h"
#include "types/variant.h"
#include "values/var_type.h"

namespace morvane {

class Vm;

namespace vm {

// `name` is the lower-case name called; `args` are evaluated already, and
// the handler may take them apart.
using BuiltinHandler = Result<Variant> (*)(Vm& vm, std::string_view name, std::vector<Variant>& args);

// The arguments of one call read where they stand (a variable, a constant,
// a value computed for the call), in source order; the handler only reads
// them and writes its value into `out` once it has read them all. No copy
// of an argument is made, which is what a loop calling Len or Mid on a
// variable's text pays for otherwise.
using ArgRefs = std::span<const Variant* const>;
using ReadingBuiltin = Result<void> (*)(ArgRefs args, Variant& out);

struct Builtin {
    std::string_view name;
    BuiltinHandler fn;
    // The same built-in taking its arguments in place; null for one that
    // takes them apart or needs the Vm.
    ReadingBuiltin reads = nullptr;
};

// The evaluated arguments of one call, in source order. A handler owns them
// and may move out of them; arguments beyond those it uses are ignored.
using BuiltinArgs = std::span<Variant>;
using PureBuiltin = Result<Variant> (*)(BuiltinArgs args);

// A handler that needs nothing but its arguments, as a table entry.
template <PureBuiltin F>
Result<Variant> pure(Vm&, std::string_view, std::vector<Variant>& args) {
    return F(args);
}

// The handler of a reading built-in for a call whose arguments are
// evaluated already.
template <ReadingBuiltin F>
Result<Variant> by_reading(Vm&, std::string_view, std::vector<Variant>& args) {
    // The usual few arguments need no allocation.
    constexpr size_t kFew = 8;
    std::array<const Variant*, kFew> few;
    std::vector<const Variant*> many;
    if (args.size() > kFew) many.resize(args.size());
    const Variant** refs = args.size() > kFew ? many.data() : few.data();
    for (size_t i = 0; i < args.size(); ++i) refs[i] = &args[i];
    Variant out;
    TRY_VOID(F(ArgRefs(refs, args.size()), out));
    return out;
}

// A table entry for a reading built-in: both ways of calling it.
template <ReadingBuiltin F>
constexpr Builtin reading(std::string_view name) {
    return Builtin{name, &by_reading<F>, F};
}

// A reading built-in that returns its value.
using ReadingValue = Result<Variant> (*)(ArgRefs args);
template <ReadingValue F>
Result<void> value_into(ArgRefs args, Variant& out) {
    out = TRY(F(args));
    return {};
}
template <ReadingValue F>
constexpr Builtin reading(std::string_view name) {
    return reading<value_into<F>>(name);
}

std::span<const Builtin> math_builtins();        // builtins_math.cpp
std::span<const Builtin> conversion_builtins();  // builtins_conversion.cpp
std::span<const Builtin> text_builtins();        // builtins_text.cpp
std::span<const Builtin> info_builtins();        // builtins_info.cpp
std::span<const Builtin> datetime_builtins();    // builtins_datetime.cpp
std::span<const Builtin> format_builtins();      // builtins_format.cpp

// The built-in named `name` (lower case) in any family; null when none.
const Builtin* find_builtin(std::string_view name);

// The built-ins a macro may name without parentheses, as `d = Date` does
// (Date, Now, Time); null for any other name.
const Builtin* find_bare_builtin(std::string_view name);

// Fails with `message` when fewer than `n` arguments were given.
inline Result<void> need_args(BuiltinArgs args, size_t n, std::string_view message) {
    if (args.size() >= n) return {};
    return fail(std::string(message));
}
inline Result<void> need_args(ArgRefs args, size_t n, std::string_view message) {
    if (args.size() >= n) return {};
    return fail(std::string(message));
}

// `v` converted to `type` as CInt, CLng, CDbl, CStr, CBool, CDate and their
// kin do: a value that does not fit fails with "Overflow", one that does not
// read as the type with "Type mismatch". Variant keeps any value.
Result<Variant> convert_to(VarType type, Variant v);

// The VBA text of an argument, taken over when it already is a text.
std::string take_text(Variant& v);

// A whole-number argument (a dimension, a limit, a count that may be -1):
// the number rounded as CLng rounds, saturated to 64 bits.
Result<int64_t> to_whole(const Variant& v);

// A length, position or start: the number rounded as CLng rounds; negative
// values give 0, 2^64 and more the largest count.
Result<uint64_t> to_count(const Variant& v);

// How an exact half rounds.
enum class Halves : uint8_t { ToEven, AwayFromZero };

// x rounded to `digits` decimals (negative digits round to tens, hundreds,
// ...). Digits are clamped to the 32-bit range and truncated (NaN gives 0).
// When 10^digits or x * 10^digits overflows, x has no digits to drop and
// comes back unchanged; when 10^digits underflows, the result is 0.
double round_to_digits(double x, double digits, Halves halves);

}  // namespace vm

}  // namespace morvane
