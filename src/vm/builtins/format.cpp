#include "vm/builtins/format.h"

#include <cstdint>
#include <string>

#include "formula/number_format.h"
#include "types/text.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

// A number under General, as VBA prints it.
std::string vba_general(double x) { return vba_to_str(number_variant(x)); }

constexpr numfmt::Style kStyle{numfmt::Dialect::Vba, vba_general};

Result<std::string> shown(numfmt::Rendered r) {
    if (r) return std::move(*r);
    return fail("Format: " + r.error().message);
}

bool names_truth(std::string_view pattern) {
    return text::equals_ignore_case(pattern, "yes/no") || text::equals_ignore_case(pattern, "true/false") ||
           text::equals_ignore_case(pattern, "on/off");
}

}  // namespace

Result<std::string> format_vba(const Variant& value, std::string_view pattern) {
    // The plain text of a value stays VBA's own, whatever its kind.
    if (numfmt::is_general_name(pattern)) return vba_to_str(value);
    switch (value.kind()) {
        case Kind::Integer: return shown(numfmt::render_integer(pattern, value.as_int(), kStyle));
        case Kind::Float: return shown(numfmt::render_number(pattern, value.as_float(), kStyle));
        case Kind::Date: {
            // Before 1900 VBA counts the day back and the time forward: the
            // number is the day minus the time (-1.25 is a day back, 6:00).
            const Date d = value.as_date();
            const double x = d.serial < 0 ? static_cast<double>(d.serial) - d.time : d.value();
            return shown(numfmt::render_number(pattern, x, kStyle));
        }
        case Kind::Str: {
            // A text that reads as a number is formatted as that number.
            if (auto x = to_f64(value)) return shown(numfmt::render_number(pattern, *x, kStyle));
            return shown(numfmt::render_text(pattern, value.as_str(), kStyle));
        }
        case Kind::Boolean:
            if (names_truth(pattern)) return shown(numfmt::render_integer(pattern, value.as_bool() ? -1 : 0, kStyle));
            return vba_to_str(value);
        default: return vba_to_str(value);
    }
}

}  // namespace morvane::vm
