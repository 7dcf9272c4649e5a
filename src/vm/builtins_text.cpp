// VBA built-ins: text (Len, Left, Mid, InStr, Replace, Trim, case, Chr, Asc,
// Split, Join). None is built yet: each reports so until its handler joins
// the table at the end of this file.
#include "vm/builtins.h"

namespace morvane::vm {

namespace {

constexpr Builtin kTable[] = {
    {"len", builtin_not_yet},
    {"left", builtin_not_yet},
    {"right", builtin_not_yet},
    {"mid", builtin_not_yet},
    {"instr", builtin_not_yet},
    {"replace", builtin_not_yet},
    {"trim", builtin_not_yet},
    {"ltrim", builtin_not_yet},
    {"rtrim", builtin_not_yet},
    {"ucase", builtin_not_yet},
    {"lcase", builtin_not_yet},
    {"chr", builtin_not_yet},
    {"asc", builtin_not_yet},
    {"split", builtin_not_yet},
    {"join", builtin_not_yet},
};

}  // namespace

std::span<const Builtin> text_builtins() { return kTable; }

}  // namespace morvane::vm
