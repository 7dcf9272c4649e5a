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
    if (a.size() < 2) return Variant(TRY(format_vba(a[0], {})));
    if (a[1].is_str()) return Variant(TRY(format_vba(a[0], a[1].as_str())));
    return Variant(TRY(format_vba(a[0], vba_to_str(a[1]))));
}

constexpr Builtin kTable[] = {
    {"format", pure<format>},
};

}  // namespace

std::span<const Builtin> format_builtins() { return kTable; }

}  // namespace morvane::vm
