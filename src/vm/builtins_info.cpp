// VBA built-ins: information and arrays (IIf, IsEmpty, IsNull, IsArray,
// IsNumeric, TypeName, VarType, UBound, LBound). None is built yet: each
// reports so until its handler joins the table at the end of this file.
#include "vm/builtins.h"

namespace morvane::vm {

namespace {

constexpr Builtin kTable[] = {
    {"iif", builtin_not_yet},
    {"isempty", builtin_not_yet},
    {"isnull", builtin_not_yet},
    {"isarray", builtin_not_yet},
    {"isnumeric", builtin_not_yet},
    {"typename", builtin_not_yet},
    {"vartype", builtin_not_yet},
    {"ubound", builtin_not_yet},
    {"lbound", builtin_not_yet},
};

}  // namespace

std::span<const Builtin> info_builtins() { return kTable; }

}  // namespace morvane::vm
