#include "types/variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <limits>
#include <system_error>

#include "types/address.h"

namespace morvane {

std::optional<ExcelError> error_from_text(std::string_view text) {
    for (size_t i = 0; i < std::size(kExcelErrorTexts); ++i)
        if (kExcelErrorTexts[i] == text) return static_cast<ExcelError>(i);
    return std::nullopt;
}

const Variant* Record::find(std::string_view name) const {
    for (const auto& [k, v] : entries_)
        if (k == name) return &v;
    return nullptr;
}

Variant* Record::find(std::string_view name) {
    for (auto& [k, v] : entries_)
        if (k == name) return &v;
    return nullptr;
}

void Record::set(std::string name, Variant value) {
    if (Variant* slot = find(name)) {
        *slot = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(name), std::move(value));
}

bool operator==(const Record& a, const Record& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [k, v] : a) {
        const Variant* other = b.find(k);
        if (!other || !(*other == v)) return false;
    }
    return true;
}

bool operator==(const Variant& a, const Variant& b) {
    return static_cast<const VariantBase&>(a) == static_cast<const VariantBase&>(b);
}

// ---------------------------------------------------------------- numbers

namespace {

// Shortest round-trip digits of a finite x as (negative, digits, exponent),
// meaning 0.d1d2... x 10^(exponent + 1).
struct Shortest {
    bool negative;
    std::string digits;
    int exponent;
};

Shortest shortest_digits(double x) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    std::string_view s(buf, static_cast<size_t>(res.ptr - buf));
    Shortest out{false, {}, 0};
    size_t i = 0;
    if (s[i] == '-') {
        out.negative = true;
        ++i;
    }
    for (; i < s.size() && s[i] != 'e'; ++i)
        if (s[i] != '.') out.digits.push_back(s[i]);
    int exp = 0;
    std::from_chars(s.data() + i + 1 + (s[i + 1] == '+'), s.data() + s.size(), exp);
    out.exponent = exp;
    return out;
}

}  // namespace

std::string number_to_text(int64_t x) { return std::to_string(x); }

std::string number_to_text(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    Shortest s = shortest_digits(x);
    std::string out = s.negative ? "-" : "";
    const int n = static_cast<int>(s.digits.size());
    const int point = s.exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-point), '0');
        out += s.digits;
    } else if (point >= n) {
        out += s.digits;
        out.append(static_cast<size_t>(point - n), '0');
    } else {
        out.append(s.digits, 0, static_cast<size_t>(point));
        out.push_back('.');
        out.append(s.digits, static_cast<size_t>(point));
    }
    return out;
}

std::string float_debug(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    double a = std::fabs(x);
    if (a == 0 || (a >= 1e-4 && a < 1e16)) {
        std::string t = number_to_text(x);
        if (t.find('.') == std::string::npos) t += ".0";
        return t;
    }
    Shortest s = shortest_digits(x);
    std::string out = s.negative ? "-" : "";
    out.push_back(s.digits[0]);
    if (s.digits.size() > 1) {
        out.push_back('.');
        out.append(s.digits, 1);
    }
    out.push_back('e');
    out += std::to_string(s.exponent);
    return out;
}

namespace {

void append_escaped(std::string& out, std::string_view s) {
    static const char* hex = "0123456789abcdef";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += "\\u{";
                    if (c >= 0x10) out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0xf]);
                    out += "}";
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
}

}  // namespace

std::string debug_quote(std::string_view s) {
    std::string out = "\"";
    append_escaped(out, s);
    out += '"';
    return out;
}

Variant number_variant(double x) {
    constexpr double two63 = 9223372036854775808.0;
    if (x - std::trunc(x) == 0 && std::fabs(x) <= two63) return Variant(saturate_i64(x));
    return Variant(x);
}

std::optional<double> text_to_number(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string_view rest = s.substr(i);
    auto word_is = [&](std::string_view w) {
        if (rest.size() != w.size()) return false;
        for (size_t k = 0; k < w.size(); ++k)
            if ((rest[k] | 0x20) != w[k]) return false;
        return true;
    };
    if (word_is("inf") || word_is("infinity"))
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    if (word_is("nan"))
        return negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();

    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t int_start = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    std::string_view int_part = s.substr(int_start, i - int_start);
    std::string_view frac_part;
    if (i < s.size() && s[i] == '.') {
        size_t f = ++i;
        while (i < s.size() && is_digit(s[i])) ++i;
        frac_part = s.substr(f, i - f);
    }
    if (int_part.empty() && frac_part.empty()) return std::nullopt;
    int64_t exp = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool exp_negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) exp_negative = s[i++] == '-';
        size_t e = i;
        while (i < s.size() && is_digit(s[i])) {
            if (exp < 1'000'000'000) exp = exp * 10 + (s[i] - '0');
            ++i;
        }
        if (i == e) return std::nullopt;
        if (exp_negative) exp = -exp;
    }
    if (i != s.size()) return std::nullopt;

    // A canonical literal for from_chars, which takes no '+' and no bare '.'.
    std::string canon;
    canon.reserve(s.size() + 24);
    if (negative) canon.push_back('-');
    canon.append(int_part.empty() ? std::string_view("0") : int_part);
    if (!frac_part.empty()) {
        canon.push_back('.');
        canon.append(frac_part);
    }
    canon.push_back('e');
    canon += std::to_string(exp);
    double value = 0;
    auto res = std::from_chars(canon.data(), canon.data() + canon.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        // Decide overflow or underflow from the position of the first
        // significant digit.
        size_t lead = int_part.find_first_not_of('0');
        int64_t magnitude;
        if (lead != std::string_view::npos) {
            magnitude = static_cast<int64_t>(int_part.size() - lead) - 1 + exp;
        } else {
            size_t f = frac_part.find_first_not_of('0');
            if (f == std::string_view::npos) return negative ? -0.0 : 0.0;
            magnitude = -static_cast<int64_t>(f) - 1 + exp;
        }
        if (magnitude > 0)
            value = std::numeric_limits<double>::infinity();
        else
            value = 0.0;
        return negative ? -value : value;
    }
    if (res.ec != std::errc()) return std::nullopt;
    return value;
}

Result<double> to_number(const Variant& v, std::string_view not_a_number) {
    switch (v.kind()) {
        case Kind::Integer: return static_cast<double>(v.as_int());
        case Kind::Float: return v.as_float();
        case Kind::Str:
            if (auto x = text_to_number(v.as_str())) return *x;
            return fail(format_message(not_a_number, v.as_str()));
        case Kind::Boolean: return v.as_bool() ? 1.0 : 0.0;
        case Kind::Date: return v.as_date().value();
        case Kind::Error: return fail(std::string(error_text(v.as_error())));
        case Kind::Empty: return 0.0;
        case Kind::Array: return fail("Cannot convert array to number");
        case Kind::Record: return fail("Cannot convert record to number");
    }
    return 0.0;
}

bool truth_of(const Variant& v) {
    switch (v.kind()) {
        case Kind::Integer: return v.as_int() != 0;
        case Kind::Float: return v.as_float() != 0.0;
        case Kind::Str: return !v.as_str().empty();
        case Kind::Boolean: return v.as_bool();
        case Kind::Date: return true;
        case Kind::Error: return false;
        case Kind::Empty: return false;
        case Kind::Array: return !v.as_array().empty();
        case Kind::Record: return true;
    }
    return false;
}

std::string join_texts(const Array& items, std::string (*text_of)(const Variant&)) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += text_of(items[i]);
    }
    return out;
}

int64_t saturate_i64(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (x < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}

uint64_t saturate_u64(double x) {
    if (std::isnan(x) || x <= 0) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(x);
}

int32_t saturate_i32(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(x);
}

uint32_t saturate_u32(double x) {
    if (std::isnan(x) || x <= 0) return 0;
    if (x >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(x);
}

// ---------------------------------------------------------------- text forms

namespace {

using FloatText = std::string (*)(double);

void append_text(std::string& out, const Variant& v, FloatText float_text);

std::string record_text(const Record& r, FloatText float_text) {
    std::vector<std::string> entries;
    entries.reserve(r.size());
    for (const auto& [k, v] : r) {
        std::string e = k + ": ";
        append_text(e, v, float_text);
        entries.push_back(std::move(e));
    }
    // Equal entries are equal texts, so an unstable sort gives the same text.
    std::sort(entries.begin(), entries.end());
    std::string out = "{";
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i) out += ", ";
        out += entries[i];
    }
    return out + "}";
}

void append_text(std::string& out, const Variant& v, FloatText float_text) {
    switch (v.kind()) {
        case Kind::Integer: out += number_to_text(v.as_int()); break;
        case Kind::Float: out += float_text(v.as_float()); break;
        case Kind::Str: out += v.as_str(); break;
        case Kind::Boolean: out += v.as_bool() ? "True" : "False"; break;
        case Kind::Date: out += date_text(v.as_date()); break;
        case Kind::Error: out += error_text(v.as_error()); break;
        case Kind::Empty: break;
        case Kind::Array: {
            out += "[";
            bool first = true;
            for (const Variant& e : v.as_array()) {
                if (!first) out += ", ";
                first = false;
                append_text(out, e, float_text);
            }
            out += "]";
            break;
        }
        case Kind::Record: out += record_text(v.as_record(), float_text); break;
    }
}

void append_debug(std::string& out, const Variant& v) {
    switch (v.kind()) {
        case Kind::Integer: out += "Integer(" + std::to_string(v.as_int()) + ")"; break;
        case Kind::Float: out += "Float(" + float_debug(v.as_float()) + ")"; break;
        case Kind::Str:
            out += "Str(\"";
            append_escaped(out, v.as_str());
            out += "\")";
            break;
        case Kind::Boolean: out += v.as_bool() ? "Boolean(true)" : "Boolean(false)"; break;
        case Kind::Date:
            out += "Date(" + std::to_string(v.as_date().serial);
            if (v.as_date().time != 0) {
                out.push_back('+');
                out += float_debug(v.as_date().time);
            }
            out += ")";
            break;
        case Kind::Error: out += "Error(" + std::string(error_name(v.as_error())) + ")"; break;
        case Kind::Empty: out += "Empty"; break;
        case Kind::Array: {
            out += "Array([";
            bool first = true;
            for (const Variant& e : v.as_array()) {
                if (!first) out += ", ";
                first = false;
                append_debug(out, e);
            }
            out += "])";
            break;
        }
        case Kind::Record: {
            out += "Record({";
            bool first = true;
            for (const auto& [k, e] : v.as_record()) {
                if (!first) out += ", ";
                first = false;
                out += "\"";
                append_escaped(out, k);
                out += "\": ";
                append_debug(out, e);
            }
            out += "})";
            break;
        }
    }
}

}  // namespace

std::string Variant::to_string() const { return text_with_floats(*this, number_to_text); }

std::string text_with_floats(const Variant& v, std::string (*float_text)(double)) {
    std::string out;
    append_text(out, v, float_text);
    return out;
}

Date date_of_value(double days) {
    const double day = std::floor(days);
    return Date{saturate_i64(day), days - day};
}

int64_t Date::microseconds() const {
    constexpr int64_t kLastOfDay = 86'400'000'000 - 1;
    return time > 0 && time < 1 ? std::min<int64_t>(std::llround(time * 86400e6), kLastOfDay) : 0;
}

std::string date_text(Date d) {
    const bool has_time = d.time > 0 && d.time < 1;
    // Day 0 is no calendar day: it holds a time of day alone, midnight when
    // it holds none.
    if (!has_time && d.serial != 0) return morvane_types::serial_to_display(d.serial);
    // Rounded to the second; a time that rounds up to midnight stays 23:59:59.
    const int64_t seconds = has_time ? std::min<int64_t>(std::llround(d.time * 86400.0), 86399) : 0;
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    if (d.serial == 0) return clock;
    std::string day = morvane_types::serial_to_display(d.serial);
    day.push_back(' ');
    day.append(clock);
    return day;
}

std::string Variant::debug_text() const {
    std::string out;
    append_debug(out, *this);
    return out;
}

}  // namespace morvane
