// VBA built-in functions: the handler type, one table per family (each
// builtins_<family>.cpp ends with its own), and the look-up the loader uses
// to resolve a name once. Built-ins are the interpreter's own: they share
// nothing with the formula engine's worksheet functions.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "types/result.h"
#include "types/variant.h"

namespace morvane {

class Vm;

namespace vm {

// `name` is the lower-case name called; `args` are evaluated already, and
// the handler may take them apart.
using BuiltinHandler = Result<Variant> (*)(Vm& vm, std::string_view name, std::vector<Variant>& args);

struct Builtin {
    std::string_view name;
    BuiltinHandler fn;
};

// A built-in whose handler has not landed yet.
Result<Variant> builtin_not_yet(Vm& vm, std::string_view name, std::vector<Variant>& args);

std::span<const Builtin> math_builtins();        // builtins_math.cpp
std::span<const Builtin> conversion_builtins();  // builtins_conversion.cpp
std::span<const Builtin> text_builtins();        // builtins_text.cpp
std::span<const Builtin> info_builtins();        // builtins_info.cpp
std::span<const Builtin> datetime_builtins();    // builtins_datetime.cpp
std::span<const Builtin> format_builtins();      // builtins_format.cpp

// The built-in named `name` (lower case) in any family; null when none.
const Builtin* find_builtin(std::string_view name);

}  // namespace vm

}  // namespace morvane
