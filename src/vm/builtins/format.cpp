#include "vm/builtins/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "types/text.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

// What a digit pattern asks for.
struct Pattern {
    bool grouping = false;  // a comma anywhere, after the point too
    size_t decimals = 0;    // placeholders after the first point
    bool percent = false;   // a closing "%": the value times 100, then "%"
};

Pattern read_pattern(std::string_view pattern) {
    Pattern p;
    p.grouping = pattern.find(',') != std::string_view::npos;
    p.percent = pattern.ends_with('%');
    if (size_t point = pattern.find('.'); point != std::string_view::npos)
        for (char c : pattern.substr(point + 1)) p.decimals += c == '0' || c == '#';
    return p;
}

bool is_named_general(std::string_view pattern) {
    return text::equals_ignore_case(pattern, "general") || text::equals_ignore_case(pattern, "general number");
}

// Commas before every third digit of `digits` counted from the right.
std::string group_digits(std::string_view digits) {
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

// The magnitude's digits grouped, a minus sign in front when negative.
std::string grouped_integer(uint64_t magnitude, bool negative) {
    std::string out(negative ? "-" : "");
    out += group_digits(std::to_string(magnitude));
    return out;
}

// x with exactly `decimals` decimals, rounded from its exact decimal
// expansion with halves to even; never an exponent.
std::string fixed(double x, size_t decimals) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    if (x == 0) x = 0.0;  // -0.0 is not negative
    // 310 integer digits at most, a sign and a point.
    std::string out(decimals + 320, '\0');
    auto res = std::to_chars(out.data(), out.data() + out.size(), x, std::chars_format::fixed,
                             static_cast<int>(std::min<size_t>(decimals, std::numeric_limits<int>::max())));
    out.resize(static_cast<size_t>(res.ptr - out.data()));
    return out;
}

// Groups the digits before the point of a fixed text, the sign kept in front.
std::string group_fixed(const std::string& s) {
    const size_t sign = s.starts_with('-') ? 1 : 0;
    size_t end = s.find('.');
    if (end == std::string::npos) end = s.size();
    std::string out = s.substr(0, sign);
    out += group_digits(std::string_view(s).substr(sign, end - sign));
    out += std::string_view(s).substr(end);
    return out;
}

std::string format_integer(int64_t v, const Pattern& p) {
    if (!p.grouping) return p.decimals == 0 ? std::to_string(v) : fixed(static_cast<double>(v), p.decimals);
    const uint64_t magnitude = v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string out = grouped_integer(magnitude, v < 0);
    if (p.decimals > 0) out.append(".").append(p.decimals, '0');
    return out;
}

std::string format_float(double x, const Pattern& p) {
    if (!p.grouping) return fixed(x, p.decimals);
    if (p.decimals > 0) return group_fixed(fixed(x, p.decimals));
    // Grouped without decimals: the whole part, truncated, not rounded.
    const int64_t whole = saturate_i64(std::trunc(x));
    const uint64_t magnitude = whole < 0 ? uint64_t{0} - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole);
    return grouped_integer(magnitude, x < 0);
}

// The value a percent pattern shows: a hundred times the number.
Variant percent_of(const Variant& v) {
    int64_t scaled;
    if (v.is_int() && !__builtin_mul_overflow(v.as_int(), int64_t{100}, &scaled)) return Variant(scaled);
    return Variant((v.is_int() ? static_cast<double>(v.as_int()) : v.as_float()) * 100);
}

}  // namespace

std::string format_vba(const Variant& value, std::string_view pattern) {
    if (pattern.empty() || is_named_general(pattern) || !value.is_number()) return vba_to_str(value);
    const Pattern p = read_pattern(pattern);
    const Variant shown = p.percent ? percent_of(value) : value;
    std::string out = shown.is_int() ? format_integer(shown.as_int(), p) : format_float(shown.as_float(), p);
    if (p.percent) out.push_back('%');
    return out;
}

}  // namespace morvane::vm
