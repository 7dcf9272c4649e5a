// The Format built-in; the patterns themselves are format.cpp's.
#include <string>
#include <string_view>

#include "vm/builtins/builtins.h"
#include "vm/builtins/format.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kFormatArgs = "Format requires at least 1 argument";

// Format(value[, pattern]); no pattern formats as General.
Result<Variant> format(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kFormatArgs));
    return Variant(format_vba(a[0], a.size() > 1 ? vba_to_str(a[1]) : std::string()));
}

constexpr Builtin kTable[] = {
    {"format", pure<format>},
};

}  // namespace

std::span<const Builtin> format_builtins() { return kTable; }

}  // namespace morvane::vm
