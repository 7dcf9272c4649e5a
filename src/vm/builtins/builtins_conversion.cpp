// Conversion built-ins: CInt, CLng, CDbl, CSng, CBool, Str, CStr and Val.
#include <cctype>
#include <cmath>
#include <string_view>
#include <utility>

#include "types/text.h"
#include "vm/builtins/builtins.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kCIntArgs = "CInt/CLng requires 1 argument";
constexpr std::string_view kCDblArgs = "CDbl requires 1 argument";
constexpr std::string_view kCBoolArgs = "CBool requires 1 argument";
constexpr std::string_view kCStrArgs = "CStr requires 1 argument";
constexpr std::string_view kValArgs = "Val requires 1 argument";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Halves away from zero, then a saturated 64-bit Integer (NaN gives 0).
Result<Variant> cint(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kCIntArgs));
    return Variant(saturate_i64(std::round(TRY(to_f64(a[0])))));
}

Result<Variant> cdbl(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kCDblArgs));
    return Variant(TRY(to_f64(a[0])));
}

Result<Variant> cbool(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kCBoolArgs));
    const Variant& v = a[0];
    if (v.is_bool()) return v;
    if (v.is_str()) {
        const std::string word = text::to_lower(text::trim(v.as_str()));
        if (word == "true") return Variant(true);
        if (word == "false") return Variant(false);
    }
    // NaN is not 0, so it is True.
    return Variant(TRY(to_f64(v)) != 0);
}

Result<Variant> cstr(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kCStrArgs));
    if (a[0].is_str()) return std::move(a[0]);
    return Variant(vba_display_text(a[0]));
}

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
    auto digit = [&](char c) { return radix == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c >= '0' && c <= '7'; };
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
        if (!x) return fail(std::string(kNumberOverflow));
        return number_variant(*x);
    }
    std::string_view prefix = leading_number(shown);
    if (prefix.empty()) return Variant(int64_t{0});
    const double x = text_to_number(prefix).value_or(0.0);
    if (!std::isfinite(x)) return fail(std::string(kNumberOverflow));
    return number_variant(x);
}

constexpr Builtin kTable[] = {
    {"cbool", pure<cbool>}, {"cdbl", pure<cdbl>}, {"cint", pure<cint>}, {"clng", pure<cint>},
    {"csng", pure<cdbl>},   {"cstr", pure<cstr>}, {"str", pure<cstr>},  {"val", pure<val>},
};

}  // namespace

std::span<const Builtin> conversion_builtins() { return kTable; }

}  // namespace morvane::vm
