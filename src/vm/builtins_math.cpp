// VBA built-ins: numbers (Int, Fix, Sgn, Abs, Sqr, Round). None is built yet:
// each reports so until its handler joins the table at the end of this file.
#include "vm/builtins.h"

namespace morvane::vm {

namespace {

constexpr Builtin kTable[] = {
    {"int", builtin_not_yet},
    {"fix", builtin_not_yet},
    {"sgn", builtin_not_yet},
    {"abs", builtin_not_yet},
    {"sqr", builtin_not_yet},
    {"round", builtin_not_yet},
};

}  // namespace

std::span<const Builtin> math_builtins() { return kTable; }

}  // namespace morvane::vm
