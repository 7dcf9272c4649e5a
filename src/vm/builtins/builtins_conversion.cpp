// Conversion built-ins: CInt, CLng, CLngLng, CByte, CDbl, CSng, CCur, CDec,
// CBool, CDate, Str, CStr and Val, and the conversion a typed variable makes
// on assignment, which they share.
#include <cctype>
#include <cmath>
#include <optional>
#include <string_view>
#include <utility>

#include "types/calendar.h"
#include "types/text.h"
#include "vm/builtins/builtins.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kValArgs = "Val requires 1 argument";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A conversion that cannot read its argument fails as VBA does, whatever the
// reason the value rules gave.
template <class T>
Result<T> or_mismatch(Result<T> r) {
    if (r) return r;
    return fail(std::string(kTypeMismatch));
}

// The number a value stands for, by the value rules.
Result<double> number_of(const Variant& v) { return or_mismatch(to_f64(v)); }

// x rounded half away from zero, within [low, high], else Overflow.
Result<Variant> whole_within(double x, double low, double high) {
    const double r = std::round(x);
    if (!(r >= low && r <= high)) return fail(std::string(kOverflow));
    return Variant(static_cast<int64_t>(r));
}

Result<Variant> to_boolean(const Variant& v) {
    if (v.is_bool()) return v;
    if (v.is_str()) {
        const std::string word = text::to_lower(text::trim(v.as_str()));
        if (word == "true") return Variant(true);
        if (word == "false") return Variant(false);
    }
    // NaN is not 0, so it is True.
    return Variant(TRY(or_mismatch(to_f64(v))) != 0);
}

// yyyy-mm-dd or m/d/yyyy, the date forms of the dialect's literals.
std::optional<int64_t> date_text_serial(std::string_view s) {
    int parts[3] = {0, 0, 0};
    size_t at = 0;
    char sep = 0;
    for (int k = 0; k < 3; ++k) {
        size_t start = at;
        while (at < s.size() && is_digit(s[at]) && at - start < 5) parts[k] = parts[k] * 10 + (s[at++] - '0');
        if (at == start) return std::nullopt;
        if (k < 2) {
            if (at >= s.size() || (s[at] != '-' && s[at] != '/') || (sep && s[at] != sep)) return std::nullopt;
            sep = s[at++];
        }
    }
    if (at != s.size()) return std::nullopt;
    const int y = sep == '-' ? parts[0] : parts[2];
    const int m = sep == '-' ? parts[1] : parts[0];
    const int d = sep == '-' ? parts[2] : parts[1];
    if (m < 1 || m > 12 || d < 1 || static_cast<uint32_t>(d) > morvane_types::month_length(y, static_cast<uint32_t>(m)))
        return std::nullopt;
    return morvane_types::serial_from_civil(y, static_cast<uint32_t>(m), static_cast<uint32_t>(d));
}

Result<Variant> to_date(const Variant& v) {
    if (v.is_date()) return v;
    if (v.is_str())
        if (auto serial = date_text_serial(text::trim(v.as_str()))) return Variant(Date{*serial});
    const double x = TRY(number_of(v));
    // 1 January 100 to 31 December 9999.
    if (!(x >= -657434.0 && x < 2958466.0)) return fail(std::string(kOverflow));
    return Variant(date_of_value(x));
}

Result<Variant> to_text(const Variant& v) {
    switch (v.kind()) {
        case Kind::Str: return v;
        case Kind::Array:
        case Kind::Record:
        case Kind::Error: return fail(std::string(kTypeMismatch));
        default: return Variant(vba_display_text(v));
    }
}

// One conversion built-in: one argument, converted to `T`.
template <VarType T, const std::string_view& Args>
Result<Variant> convert_arg(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, Args));
    return convert_to(T, std::move(a[0]));
}

constexpr std::string_view kCIntArgs = "CInt/CLng requires 1 argument";
constexpr std::string_view kCDblArgs = "CDbl requires 1 argument";
constexpr std::string_view kCBoolArgs = "CBool requires 1 argument";
constexpr std::string_view kCStrArgs = "CStr requires 1 argument";
constexpr std::string_view kCByteArgs = "CByte requires 1 argument";
constexpr std::string_view kCCurArgs = "CCur requires 1 argument";
constexpr std::string_view kCDateArgs = "CDate requires 1 argument";

// The longest prefix of `s` that is a number: a sign, digits with at most
// one point, and an exponent when digits follow its letter.
std::string_view leading_number(std::string_view s) {
    size_t i = 0, digits = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    for (; i < s.size() && is_digit(s[i]); ++i) ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && is_digit(s[i]); ++i) ++digits;
    if (digits == 0) return {};
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        const size_t exponent = j;
        while (j < s.size() && is_digit(s[j])) ++j;
        if (j > exponent) end = j;
    }
    return s.substr(0, end);
}

// The digits of a radix that `s` starts with, as &H and &O texts read them.
std::string_view leading_radix_digits(std::string_view s, int radix) {
    size_t i = 0;
    auto digit = [&](char c) {
        return radix == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c >= '0' && c <= '7';
    };
    while (i < s.size() && digit(s[i])) ++i;
    return s.substr(0, i);
}

// The number a text starts with, as VBA reads it: blanks, tabs and line
// breaks anywhere are skipped ("1 2 3" is 123), &H and &O start hex and
// octal digits, and reading stops at the first other character ("12abc"
// is 12; a text with no leading number is 0).
Result<Variant> val(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kValArgs));
    std::string shown;
    for (char c : a[0].is_str() ? a[0].as_str() : vba_display_text(a[0]))
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') shown.push_back(c);
    if (shown.size() > 1 && shown[0] == '&' && ((shown[1] | 0x20) == 'h' || (shown[1] | 0x20) == 'o')) {
        const std::string_view rest = std::string_view(shown).substr(2);
        const bool hex = (shown[1] | 0x20) == 'h';
        const std::string_view digits = leading_radix_digits(rest, hex ? 16 : 8);
        if (digits.empty()) return Variant(int64_t{0});
        auto x = read_vba_number(std::string(hex ? "&H" : "&O").append(digits));
        if (!x) return fail(std::string(kOverflow));
        return number_variant(*x);
    }
    std::string_view prefix = leading_number(shown);
    if (prefix.empty()) return Variant(int64_t{0});
    const double x = text_to_number(prefix).value_or(0.0);
    if (!std::isfinite(x)) return fail(std::string(kOverflow));
    return number_variant(x);
}

Result<Variant> str(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kCStrArgs));
    if (a[0].is_str()) return std::move(a[0]);
    return Variant(vba_display_text(a[0]));
}

constexpr Builtin kTable[] = {
    {"cbool", pure<convert_arg<VarType::Boolean, kCBoolArgs>>},
    {"cbyte", pure<convert_arg<VarType::Byte, kCByteArgs>>},
    {"ccur", pure<convert_arg<VarType::Currency, kCCurArgs>>},
    {"cdate", pure<convert_arg<VarType::Date, kCDateArgs>>},
    {"cdbl", pure<convert_arg<VarType::Double, kCDblArgs>>},
    {"cdec", pure<convert_arg<VarType::Decimal, kCDblArgs>>},
    {"cint", pure<convert_arg<VarType::Integer, kCIntArgs>>},
    {"clng", pure<convert_arg<VarType::Long, kCIntArgs>>},
    {"clnglng", pure<convert_arg<VarType::LongLong, kCIntArgs>>},
    {"csng", pure<convert_arg<VarType::Single, kCDblArgs>>},
    {"cstr", pure<convert_arg<VarType::String, kCStrArgs>>},
    {"str", pure<str>},
    {"val", pure<val>},
};

}  // namespace

Result<Variant> convert_to(VarType type, Variant v) {
    switch (type) {
        case VarType::Variant: return v;
        case VarType::Byte: return whole_within(TRY(number_of(v)), 0, 255);
        case VarType::Integer: return whole_within(TRY(number_of(v)), -32768, 32767);
        case VarType::Long: return whole_within(TRY(number_of(v)), -2147483648.0, 2147483647.0);
        // 2^63 is the first double past the largest 64-bit Integer.
        case VarType::LongLong: return whole_within(TRY(number_of(v)), -9223372036854775808.0, 9223372036854774784.0);
        case VarType::Single: {
            const double x = TRY(number_of(v));
            if (std::isfinite(x) && std::fabs(x) > 3.4028234663852886e38) return fail(std::string(kOverflow));
            return Variant(x);
        }
        case VarType::Currency: {
            const double x = TRY(number_of(v));
            if (!(std::fabs(x) <= 922337203685477.5807)) return fail(std::string(kOverflow));
            return Variant(std::nearbyint(x * 10000.0) / 10000.0);
        }
        case VarType::Double:
        case VarType::Decimal: return Variant(TRY(number_of(v)));
        case VarType::String: return to_text(v);
        case VarType::Boolean: return to_boolean(v);
        case VarType::Date: return to_date(v);
    }
    return v;
}

std::span<const Builtin> conversion_builtins() { return kTable; }

}  // namespace morvane::vm
