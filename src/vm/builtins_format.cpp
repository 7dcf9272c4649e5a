// VBA built-ins: Format. None is built yet: each reports so until its handler
// joins the table at the end of this file.
#include "vm/builtins.h"

namespace morvane::vm {

namespace {

constexpr Builtin kTable[] = {
    {"format", builtin_not_yet},
};

}  // namespace

std::span<const Builtin> format_builtins() { return kTable; }

}  // namespace morvane::vm
