// VBA built-ins: conversions (CInt, CLng, CDbl, CSng, CBool, Str, CStr, Val).
// None is built yet: each reports so until its handler joins the table at the
// end of this file.
#include "vm/builtins.h"

namespace morvane::vm {

namespace {

constexpr Builtin kTable[] = {
    {"cint", builtin_not_yet},
    {"clng", builtin_not_yet},
    {"cdbl", builtin_not_yet},
    {"csng", builtin_not_yet},
    {"cbool", builtin_not_yet},
    {"str", builtin_not_yet},
    {"cstr", builtin_not_yet},
    {"val", builtin_not_yet},
};

}  // namespace

std::span<const Builtin> conversion_builtins() { return kTable; }

}  // namespace morvane::vm
