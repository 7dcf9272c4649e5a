#include "types/typed_input.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "types/calendar.h"
#include "types/text.h"

namespace morvane {

namespace {

namespace cal = morvane_types;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool ascii_ieq(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != b[i]) return false;
    return true;
}

// A run of `min` to `max` digits at `at`, moved past; none when the run is
// shorter or longer.
std::optional<uint32_t> read_digits(std::string_view s, size_t& at, size_t min, size_t max) {
    size_t i = at;
    uint32_t n = 0;
    while (i < s.size() && is_digit(s[i]) && i - at < max) n = n * 10 + static_cast<uint32_t>(s[i++] - '0');
    if (i - at < min || (i < s.size() && is_digit(s[i]))) return std::nullopt;
    at = i;
    return n;
}

// Whole digits with thousands separators: no comma, or a first group of one
// to three digits and groups of exactly three after each comma. The digits
// alone go to `out`.
bool read_grouped(std::string_view whole, std::string& out) {
    size_t group = 0;
    bool grouped = false;
    for (char c : whole) {
        if (c != ',') {
            out.push_back(c);
            ++group;
            continue;
        }
        if (group == 0 || group > 3 || (grouped && group != 3)) return false;
        grouped = true;
        group = 0;
    }
    return !grouped || group == 3;
}

// The value of `digits` (an optional "-", decimal digits and at most one
// point) times 10^`scale`, when it is exact without a decimal reader: at most
// 15 digits and a power of ten that is itself an exact double, so one
// correctly rounded operation gives the nearest double. None otherwise.
std::optional<double> exact_decimal(std::string_view digits, int64_t scale) {
    constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (scale < -22 || scale > 22) return std::nullopt;
    uint64_t m = 0;
    size_t count = 0;
    for (char c : digits) {
        if (!is_digit(c)) continue;
        if (++count > 15) return std::nullopt;
        m = m * 10 + static_cast<uint64_t>(c - '0');
    }
    double x = static_cast<double>(m);
    x = scale < 0 ? x / kPowers[-scale] : x * kPowers[scale];
    return digits[0] == '-' ? -x : x;
}

// A trimmed text as a typed number: "(...)" for a negative, a sign and a "$"
// in either order (no sign inside parentheses), grouped whole digits, a
// point and digits, an exponent, a trailing "%" (never with "$"). At least
// one digit; a value past the Double range is no number.
std::optional<double> read_number(std::string_view t) {
    bool negative = false;
    const bool parens = t.size() > 2 && t.front() == '(' && t.back() == ')';
    if (parens) {
        negative = true;
        t = text::trim(t.substr(1, t.size() - 2));
    }
    const bool percent = !t.empty() && t.back() == '%';
    if (percent) t = text::trim_end(t.substr(0, t.size() - 1));
    bool sign = false, currency = false;
    while (!t.empty()) {
        if (!currency && t[0] == '$') {
            currency = true;
        } else if (!sign && !parens && (t[0] == '+' || t[0] == '-')) {
            sign = true;
            negative = t[0] == '-';
        } else {
            break;
        }
        t.remove_prefix(1);
    }
    if (currency && percent) return std::nullopt;

    size_t i = 0;
    while (i < t.size() && (is_digit(t[i]) || t[i] == ',')) ++i;
    std::string canon = negative ? "-" : "";
    if (!read_grouped(t.substr(0, i), canon)) return std::nullopt;
    const size_t whole_digits = canon.size() - negative;
    size_t fraction_digits = 0;
    if (i < t.size() && t[i] == '.') {
        canon.push_back(t[i++]);
        for (; i < t.size() && is_digit(t[i]); ++i, ++fraction_digits) canon.push_back(t[i]);
    }
    if (whole_digits + fraction_digits == 0) return std::nullopt;
    // The exponent is read here so that a percent can move it by two places
    // instead of dividing, which would round a second time.
    int64_t exponent = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool exp_negative = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) exp_negative = t[i++] == '-';
        const size_t start = i;
        // Held where the decimal reader holds it: far past any text's digits.
        for (; i < t.size() && is_digit(t[i]); ++i)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (t[i] - '0');
        if (i == start) return std::nullopt;
        if (exp_negative) exponent = -exponent;
    }
    if (i != t.size()) return std::nullopt;
    if (percent) exponent -= 2;
    if (auto x = exact_decimal(canon, exponent - static_cast<int64_t>(fraction_digits))) return x;
    canon += 'e';
    canon += std::to_string(exponent);
    auto x = text_to_number(canon);
    if (!x || !std::isfinite(*x)) return std::nullopt;
    return x;
}

// "h:mm", "h:mm:ss" or "h:mm:ss.fff" (one or two digits each), then
// optionally AM or PM (blanks before it allowed) on the 12-hour clock, as a
// fraction of a day. Hours run to 23 (12 with AM or PM), minutes and
// seconds to 59.
std::optional<double> read_time(std::string_view t) {
    size_t i = 0;
    auto hours = read_digits(t, i, 1, 2);
    if (!hours || i >= t.size() || t[i++] != ':') return std::nullopt;
    auto minutes = read_digits(t, i, 1, 2);
    if (!minutes || *minutes > 59) return std::nullopt;
    double seconds = 0;
    if (i < t.size() && t[i] == ':') {
        const size_t start = ++i;
        auto whole = read_digits(t, i, 1, 2);
        if (!whole) return std::nullopt;
        if (i < t.size() && t[i] == '.')
            for (++i; i < t.size() && is_digit(t[i]);) ++i;
        seconds = *text_to_number(t.substr(start, i - start));
        if (*whole > 59) return std::nullopt;
    }
    std::string_view rest = text::trim_start(t.substr(i));
    if (!rest.empty()) {
        const bool am = ascii_ieq(rest, "am"), pm = ascii_ieq(rest, "pm");
        if (!(am || pm) || *hours < 1 || *hours > 12) return std::nullopt;
        *hours = *hours % 12 + (pm ? 12 : 0);
    }
    if (*hours > 23) return std::nullopt;
    return (*hours * 3600.0 + *minutes * 60.0 + seconds) / 86400.0;
}

// The serial of a typed calendar day in 1900 to 9999; 2/29/1900 is the
// phantom day the serials count (60).
std::optional<int64_t> day_serial(uint32_t year, uint32_t month, uint32_t day) {
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
    if (year == 1900 && month == 2 && day == 29) return 60;
    if (day > cal::month_length(year, month)) return std::nullopt;
    return cal::serial_from_civil(year, month, day);
}

// A trimmed text as a typed Date: yyyy-mm-dd or m/d/yyyy, optionally
// followed by blanks and a time; or a time alone (day 0).
std::optional<Date> read_date_time(std::string_view t) {
    size_t i = 0;
    auto first = read_digits(t, i, 1, 4);
    if (!first || i >= t.size()) return std::nullopt;
    if (t[i] == ':') {
        auto time = read_time(t);
        if (!time) return std::nullopt;
        return Date{0, *time};
    }
    const char sep = t[i];
    std::optional<int64_t> serial;
    if (sep == '-' && i == 4) {
        auto month = read_digits(t, ++i, 1, 2);
        if (!month || i >= t.size() || t[i] != '-') return std::nullopt;
        auto day = read_digits(t, ++i, 1, 2);
        if (day) serial = day_serial(*first, *month, *day);
    } else if (sep == '/' && i <= 2) {
        auto day = read_digits(t, ++i, 1, 2);
        if (!day || i >= t.size() || t[i] != '/') return std::nullopt;
        auto year = read_digits(t, ++i, 4, 4);
        if (year) serial = day_serial(*year, *first, *day);
    }
    if (!serial) return std::nullopt;
    if (i == t.size()) return Date{*serial, 0};
    const std::string_view rest = text::trim_start(t.substr(i));
    if (rest.size() == t.size() - i) return std::nullopt;  // a time needs a blank before it
    auto time = read_time(rest);
    if (!time) return std::nullopt;
    return Date{*serial, *time};
}

// Whether a trimmed text could be a number, date or time: what starts with
// a letter (or most other characters) never is, which spares the readers.
bool may_be_numeric(std::string_view t) {
    const char c = t[0];
    return is_digit(c) || c == '$' || c == '(' || c == '+' || c == '-' || c == '.';
}

}  // namespace

std::optional<Variant> typed_value(std::string_view text) {
    if (text.empty()) return Variant();
    if (text[0] == '\'') return Variant(text.substr(1));
    const std::string_view t = text::trim(text);
    if (t.empty()) return std::nullopt;
    if (ascii_ieq(t, "true")) return Variant(true);
    if (ascii_ieq(t, "false")) return Variant(false);
    // Typed in any case, an error literal is stored as the error.
    if (t[0] == '#') {
        if (auto e = error_from_text(text::ascii_upper(t))) return Variant(*e);
        return std::nullopt;
    }
    if (!may_be_numeric(t)) return std::nullopt;
    if (auto x = read_number(t)) return number_variant(*x);
    if (auto d = read_date_time(t)) return Variant(*d);
    return std::nullopt;
}

Variant typed_entry(std::string_view text) {
    if (auto v = typed_value(text)) return std::move(*v);
    return Variant(text);
}

std::optional<double> typed_number(std::string_view text) {
    const std::string_view t = text::trim(text);
    if (t.empty() || !may_be_numeric(t)) return std::nullopt;
    if (auto x = read_number(t)) return x;
    if (auto d = read_date_time(t)) return d->value();
    return std::nullopt;
}

}  // namespace morvane
