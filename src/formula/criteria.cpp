// Criterion parsing and matching.
#include "formula/criteria.h"

#include <cmath>
#include <algorithm>
#include <cstddef>

#include "formula/dates.h"
#include "formula/eval.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

double number_or_nan(std::string_view rest) { return criterion_number(rest).value_or(std::nan("")); }

// A criterion text without a comparison prefix: a pattern, a number or a text.
ParsedCriteria plain_criterion(std::string_view s) {
    if (s.find_first_of("*?") != std::string_view::npos)
        return ParsedCriteria{ParsedCriteria::Wildcard{text::to_upper(s)}};
    if (auto x = criterion_number(s)) return ParsedCriteria{ParsedCriteria::NumEq{number_variant(*x)}};
    return ParsedCriteria{ParsedCriteria::TextEq{std::string(s)}};
}

bool text_equals(const Variant& c, const std::string& t) {
    if (c.is_str()) return ascii_ieq(c.as_str(), t);
    if (c.is_empty()) return t.empty();
    return ascii_ieq(to_str(c), t);
}

// Upper-cased text; ASCII text skips the Unicode tables.
std::string upper_text(std::string_view s) {
    std::string t(s);
    for (char ch : t)
        if (static_cast<unsigned char>(ch) >= 0x80) return text::to_upper(t);
    for (char& ch : t)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    return t;
}

// Whether a candidate equals the number of an equality criterion: a number
// or date of that value, or a text that reads as it (IDs kept as text match
// "110" and 110 alike).
bool equals_number(const Variant& c, double x) {
    if (is_numeric_kind(c)) return numeric_value(c) == x;
    if (!c.is_str()) return false;
    Result<double> y = to_float(c);
    return y && *y == x;
}

bool numeric_test(CritOp op, double a, double b) {
    switch (op) {
        case CritOp::Gt: return a > b;
        case CritOp::Ge: return a >= b;
        case CritOp::Lt: return a < b;
        case CritOp::Le: return a <= b;
        case CritOp::Ne: return std::fabs(a - b) > 0x1.0p-52;
    }
    return false;
}

// Star-only patterns: fixed prefix and suffix, middle parts found in order.
bool match_stars(std::string_view t, std::string_view p) {
    size_t first_star = p.find('*');
    if (first_star == std::string_view::npos) return t == p;
    size_t last_star = p.rfind('*');
    std::string_view first = p.substr(0, first_star), last = p.substr(last_star + 1);
    if (t.size() < first.size() + last.size()) return false;
    if (t.substr(0, first.size()) != first) return false;
    if (t.substr(t.size() - last.size()) != last) return false;
    size_t lo = first.size(), hi = t.size() - last.size();
    for (size_t pos = first_star + 1; pos < last_star;) {
        size_t next = p.find('*', pos);
        std::string_view part = p.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty()) continue;
        size_t at = t.substr(0, hi).find(part, lo);
        if (at == std::string_view::npos) return false;
        lo = at + part.size();
    }
    return true;
}

// Bytes of the UTF-8 character that starts with `lead` (1 for a stray byte).
size_t char_len(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF7) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// Patterns with "?" (or with escapes): one pass that remembers the last "*"
// and, on a mismatch, lets that star take one more character. "?" takes one
// whole character and other pattern bytes match text bytes, so the text is
// only ever resumed at character boundaries. With `escapes`, "~" before *, ?
// or ~ makes that byte a plain one. No allocation, and a text that fails
// early (no star to retry) is left at once; the cost is at most text x
// pattern.
bool match_questions(std::string_view t, std::string_view p, bool escapes = false) {
    size_t ti = 0, pi = 0;
    size_t star = std::string_view::npos, resume = 0;
    auto escaped = [&](size_t i) {
        return escapes && p[i] == '~' && i + 1 < p.size() && (p[i + 1] == '*' || p[i + 1] == '?' || p[i + 1] == '~');
    };
    while (ti < t.size()) {
        const bool plain = pi < p.size() && escaped(pi);
        if (pi < p.size() && !plain && p[pi] == '?') {
            ti = std::min(t.size(), ti + char_len(static_cast<unsigned char>(t[ti])));
            ++pi;
        } else if (pi < p.size() && !plain && p[pi] == '*') {
            star = pi++;
            resume = ti;
        } else if (pi < p.size() && p[pi + plain] == t[ti]) {
            ++ti;
            pi += 1 + plain;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            resume = std::min(t.size(), resume + char_len(static_cast<unsigned char>(t[resume])));
            ti = resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace

std::optional<double> criterion_number(std::string_view rest) {
    if (auto x = text_to_number(rest)) return x;
    if (auto serial = engine_date_text(rest)) return static_cast<double>(*serial);
    return std::nullopt;
}

ParsedCriteria parse_criteria(const Variant& criterion) {
    if (!criterion.is_str()) return ParsedCriteria{ParsedCriteria::Exact{criterion}};
    std::string_view s = criterion.as_str();
    auto num_cmp = [](CritOp op, std::string_view rest) {
        return ParsedCriteria{ParsedCriteria::NumCmp{op, number_or_nan(rest)}};
    };
    if (s.starts_with(">=")) return num_cmp(CritOp::Ge, s.substr(2));
    if (s.starts_with("<=")) return num_cmp(CritOp::Le, s.substr(2));
    if (s.starts_with("<>")) {
        std::string_view rest = s.substr(2);
        if (auto x = criterion_number(rest)) return ParsedCriteria{ParsedCriteria::NumCmp{CritOp::Ne, *x}};
        return ParsedCriteria{ParsedCriteria::TextNe{std::string(rest)}};
    }
    if (s.starts_with("<")) return num_cmp(CritOp::Lt, s.substr(1));
    if (s.starts_with(">")) return num_cmp(CritOp::Gt, s.substr(1));
    // A leading "=" asks for equality with what follows; "=" alone asks for
    // an empty cell, which an empty text is not.
    if (s == "=") return ParsedCriteria{ParsedCriteria::Exact{Variant{}}};
    if (s.starts_with("=")) return plain_criterion(s.substr(1));
    return plain_criterion(s);
}

bool matches_parsed(const Variant& c, const ParsedCriteria& criteria) {
    using PC = ParsedCriteria;
    switch (criteria.test.index()) {
        case 0: {
            const Variant& x = std::get<PC::Exact>(criteria.test).value;
            if (is_numeric_kind(x)) return equals_number(c, numeric_value(x));
            return variant_eq(c, x);
        }
        case 1: return equals_number(c, numeric_value(std::get<PC::NumEq>(criteria.test).value));
        case 2: return text_equals(c, std::get<PC::TextEq>(criteria.test).text);
        case 3: {
            // "<>" alone asks for a cell that is not empty: an empty text counts.
            const std::string& t = std::get<PC::TextNe>(criteria.test).text;
            return t.empty() ? !c.is_empty() : !text_equals(c, t);
        }
        // Patterns look at texts only, as in every spreadsheet: "*" counts
        // the text cells of a range, not its numbers and blanks.
        case 4:
            return c.is_str() && wildcard_match(upper_text(c.as_str()), std::get<PC::Wildcard>(criteria.test).pattern);
        case 5: {
            const auto& [op, b] = std::get<PC::NumCmp>(criteria.test);
            // Numeric comparisons look at numbers and dates only; "<>n"
            // accepts everything that does not equal n.
            if (op == CritOp::Ne && c.is_str()) return !equals_number(c, b);
            if (!is_numeric_kind(c)) return op == CritOp::Ne;
            return numeric_test(op, numeric_value(c), b);
        }
    }
    return false;
}

std::optional<std::string> lookup_pattern(const Variant& value) {
    if (!value.is_str() || value.as_str().find_first_of("*?~") == std::string::npos) return std::nullopt;
    return upper_text(value.as_str());
}

bool matches_lookup_pattern(const Variant& c, std::string_view pattern) {
    return c.is_str() && match_questions(upper_text(c.as_str()), pattern, true);
}

bool wildcard_match(std::string_view text, std::string_view pattern) {
    if (pattern.find('?') == std::string_view::npos) return match_stars(text, pattern);
    return match_questions(text, pattern);
}

}  // namespace morvane::eval
