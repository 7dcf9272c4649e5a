// VBA built-ins: the clock (Now, Date, Time). None is built yet: each reports
// so until its handler joins the table at the end of this file.
#include "vm/builtins.h"

namespace morvane::vm {

namespace {

constexpr Builtin kTable[] = {
    {"now", builtin_not_yet},
    {"date", builtin_not_yet},
    {"time", builtin_not_yet},
};

}  // namespace

std::span<const Builtin> datetime_builtins() { return kTable; }

}  // namespace morvane::vm
