// Tokenizer of VBA module text: code points in, tokens with character spans
// out. Comments, blanks and unknown characters vanish; identifiers are
// lower-cased by the full Unicode mapping.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <system_error>

#include "parser/mod.h"
#include "types/address.h"
#include "types/calendar.h"
#include "types/text.h"
#include "types/variant.h"

namespace morvane::parser {

bool operator==(const Tok& a, const Tok& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case Tok::Int:
        case Tok::Date: return a.i == b.i;
        case Tok::Float: return a.f == b.f;
        case Tok::Str:
        case Tok::Ident: return a.text == b.text;
        default: return true;
    }
}

namespace {

constexpr std::string_view kDateWithTime =
    "date literal with a time of day is not supported (Date values carry no time): {}";
constexpr std::string_view kBadDate = "invalid date literal: {}";

constexpr const char* kKindNames[] = {"Int",     "Float",     "Str",     "Ident",  "Eq",     "Ne",    "Lt",
                                      "Le",      "Gt",        "Ge",      "Plus",   "Minus",  "Star",  "Slash",
                                      "Amp",     "Backslash", "Caret",   "LParen", "RParen", "Comma", "Dot",
                                      "ColonEq", "Colon",     "Newline", "Eof",    "Date"};

bool is_ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_word_start(char32_t c) { return is_ascii_letter(c) || (c >= 0x80 && text::is_alphabetic(c)); }
bool is_word_char(char32_t c) {
    return is_ascii_letter(c) || is_ascii_digit(c) || c == '_' || (c >= 0x80 && text::is_alphabetic(c));
}

// ---- date literals

// Reads an unsigned decimal run of 1..max_digits digits at s[i].
bool read_num(std::u32string_view s, size_t& i, int max_digits, int64_t& out, int& ndigits) {
    out = 0;
    ndigits = 0;
    while (i < s.size() && is_ascii_digit(s[i]) && ndigits < max_digits + 1) {
        out = out * 10 + (s[i] - '0');
        ++i;
        ++ndigits;
    }
    return ndigits >= 1 && ndigits <= max_digits;
}

void skip_blanks(std::u32string_view s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

// A time of day: h:mm[:ss] [AM|PM], or h AM/PM.
bool read_time(std::u32string_view s, size_t& i) {
    size_t j = i;
    int64_t v;
    int nd;
    if (!read_num(s, j, 2, v, nd)) return false;
    bool any = false;
    if (j < s.size() && s[j] == ':') {
        ++j;
        if (!read_num(s, j, 2, v, nd)) return false;
        if (j < s.size() && s[j] == ':') {
            ++j;
            if (!read_num(s, j, 2, v, nd)) return false;
        }
        any = true;
    }
    size_t k = j;
    skip_blanks(s, k);
    if (k + 1 < s.size() && (s[k] == 'a' || s[k] == 'A' || s[k] == 'p' || s[k] == 'P') &&
        (s[k + 1] == 'm' || s[k + 1] == 'M')) {
        j = k + 2;
        any = true;
    }
    if (!any) return false;
    i = j;
    return true;
}

enum class DateShape { NotDate, Date, WithTime, Invalid };

// Classifies the text between two '#' signs.
DateShape classify_date(std::u32string_view s, int64_t& serial) {
    size_t i = 0;
    skip_blanks(s, i);
    size_t j = i;
    if (read_time(s, j)) {
        skip_blanks(s, j);
        if (j == s.size()) return DateShape::WithTime;
    }
    int64_t a, b, c;
    int na, nb, nc;
    if (!read_num(s, i, 4, a, na) || i >= s.size()) return DateShape::NotDate;
    char32_t sep = s[i];
    if (sep != '/' && sep != '-') return DateShape::NotDate;
    ++i;
    if (!read_num(s, i, 2, b, nb) || i >= s.size() || s[i] != sep) return DateShape::NotDate;
    ++i;
    if (!read_num(s, i, 4, c, nc)) return DateShape::NotDate;
    int64_t y, m, d;
    if (na == 4 || na == 3) {
        if (nc > 2) return DateShape::NotDate;
        y = a, m = b, d = c;  // yyyy-mm-dd
    } else {
        if (nc == 3) return DateShape::NotDate;
        m = a, d = b, y = c;  // m/d/yyyy
        if (nc <= 2) y += y < 30 ? 2000 : 1900;
    }
    size_t k = i;
    skip_blanks(s, k);
    bool has_time = false;
    if (k > i && read_time(s, k)) has_time = true;
    skip_blanks(s, k);
    if (k != s.size()) return DateShape::NotDate;
    if (has_time) return DateShape::WithTime;
    if (y == 1900 && m == 2 && d == 29) {
        serial = 60;  // the phantom 1900-02-29 of the 1900 date system
        return DateShape::Date;
    }
    if (m < 1 || m > 12 || d < 1 || d > morvane_types::month_length(y, static_cast<uint32_t>(m)) || y < 1900 ||
        y > 9999)
        return DateShape::Invalid;
    serial = morvane_types::serial_from_civil(y, static_cast<uint32_t>(m), static_cast<uint32_t>(d));
    return DateShape::Date;
}

}  // namespace

bool opens_block(const Tok& t) {
    if (!t.is(Tok::Ident)) return false;
    const std::string& w = t.text;
    return w == "do" || w == "if" || w == "for" || w == "with" || w == "while" || w == "select";
}

std::string tok_debug(const Tok& t) {
    std::string name = kKindNames[t.kind];
    switch (t.kind) {
        case Tok::Int:
        case Tok::Date: return name + "(" + std::to_string(t.i) + ")";
        case Tok::Float: return name + "(" + float_debug(t.f) + ")";
        case Tok::Str:
        case Tok::Ident: return name + "(" + debug_quote(t.text) + ")";
        default: return name;
    }
}

Result<Tokens> tokenize(std::string_view source, size_t* error_at) {
    const std::u32string s = text::decode_utf8(source);
    const size_t n = s.size();
    Tokens out;
    out.toks.reserve(n / 3 + 2);
    out.spans.reserve(n / 3 + 2);
    auto push = [&](Tok t, size_t a, size_t b) {
        out.toks.push_back(std::move(t));
        out.spans.push_back(SourceSpan{static_cast<uint32_t>(a), static_cast<uint32_t>(b)});
    };
    auto simple = [&](Tok::Kind k, size_t a, size_t b) {
        Tok t;
        t.kind = k;
        push(std::move(t), a, b);
    };
    size_t i = 0;
    while (i < n) {
        const char32_t c = s[i];
        const size_t start = i;
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '\n' || c == '\r') {
            ++i;
            if (c == '\r' && i < n && s[i] == '\n') ++i;
            if (out.toks.empty() || !out.toks.back().is(Tok::Newline)) simple(Tok::Newline, start, i);
        } else if (c == '\'') {
            while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
        } else if (c == '_') {
            ++i;
            while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
            if (i < n && (s[i] == '\n' || s[i] == '\r')) {
                if (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') ++i;
                ++i;
            }
        } else if (c == '"') {
            ++i;
            std::u32string lit;
            while (i < n) {
                if (s[i] == '"') {
                    if (i + 1 < n && s[i + 1] == '"') {
                        lit.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                lit.push_back(s[i++]);
            }
            Tok t;
            t.kind = Tok::Str;
            t.text = text::encode_utf8(lit);
            push(std::move(t), start, i);
        } else if (is_ascii_digit(c)) {
            while (i < n && is_ascii_digit(s[i])) ++i;
            bool decimal = i + 1 < n && s[i] == '.' && is_ascii_digit(s[i + 1]);
            if (decimal) {
                ++i;
                while (i < n && is_ascii_digit(s[i])) ++i;
            }
            std::string digits;
            digits.reserve(i - start);
            for (size_t k = start; k < i; ++k) digits.push_back(static_cast<char>(s[k]));
            Tok t;
            int64_t v = 0;
            auto r = decimal ? std::from_chars_result{digits.data(), std::errc::invalid_argument}
                             : std::from_chars(digits.data(), digits.data() + digits.size(), v);
            if (!decimal && r.ec == std::errc{}) {
                t.kind = Tok::Int;
                t.i = v;
            } else {
                // A decimal, or a digit run beyond the 64-bit range.
                t.kind = Tok::Float;
                auto fr = std::from_chars(digits.data(), digits.data() + digits.size(), t.f);
                // Past the float range the nearest value is infinity (a
                // decimal too small for a float keeps 0).
                if (fr.ec == std::errc::result_out_of_range)
                    t.f = digits.find_first_not_of("0.") < digits.find('.') ? HUGE_VAL : 0.0;
            }
            push(std::move(t), start, i);
        } else if (is_word_start(c)) {
            bool ascii = true;
            while (i < n && is_word_char(s[i])) {
                ascii = ascii && s[i] < 0x80;
                ++i;
            }
            Tok t;
            t.kind = Tok::Ident;
            if (ascii) {
                t.text.reserve(i - start);
                for (size_t k = start; k < i; ++k) {
                    char ch = static_cast<char>(s[k]);
                    t.text.push_back(ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch);
                }
            } else {
                t.text = text::to_lower(text::encode_utf8(std::u32string_view(s).substr(start, i - start)));
            }
            push(std::move(t), start, i);
        } else if (c == '#') {
            // A date literal runs to the next '#' on the same line; any other
            // '#' (file numbers: Print #1, x) is skipped.
            size_t j = i + 1;
            while (j < n && s[j] != '#' && s[j] != '\n' && s[j] != '\r') ++j;
            DateShape shape = DateShape::NotDate;
            int64_t serial = 0;
            if (j < n && s[j] == '#') shape = classify_date(std::u32string_view(s).substr(i + 1, j - i - 1), serial);
            if (shape == DateShape::NotDate) {
                ++i;
                continue;
            }
            std::string lit = text::encode_utf8(std::u32string_view(s).substr(i, j + 1 - i));
            if (shape == DateShape::WithTime || shape == DateShape::Invalid) {
                if (error_at) *error_at = start;
                return fail(format_message(shape == DateShape::WithTime ? kDateWithTime : kBadDate, lit));
            }
            i = j + 1;
            Tok t;
            t.kind = Tok::Date;
            t.i = serial;
            push(std::move(t), start, i);
        } else {
            ++i;
            Tok::Kind k;
            switch (c) {
                case '=': k = Tok::Eq; break;
                case '+': k = Tok::Plus; break;
                case '-': k = Tok::Minus; break;
                case '*': k = Tok::Star; break;
                case '/': k = Tok::Slash; break;
                case '&': k = Tok::Amp; break;
                case '\\': k = Tok::Backslash; break;
                case '^': k = Tok::Caret; break;
                case '(': k = Tok::LParen; break;
                case ')': k = Tok::RParen; break;
                case ',': k = Tok::Comma; break;
                case '.': k = Tok::Dot; break;
                case ':':
                    // clang-format off
                    if (i < n && s[i] == '=') ++i, k = Tok::ColonEq;
                    else k = Tok::Colon;
                    break;
                case '<':
                    if (i < n && s[i] == '>') ++i, k = Tok::Ne;
                    else if (i < n && s[i] == '=') ++i, k = Tok::Le;
                    else k = Tok::Lt;
                    break;
                case '>':
                    if (i < n && s[i] == '=') ++i, k = Tok::Ge;
                    else k = Tok::Gt;
                    // clang-format on
                    break;
                default: continue;  // any other character is dropped
            }
            simple(k, start, i);
        }
    }
    simple(Tok::Eof, n, n);
    return out;
}

}  // namespace morvane::parser
