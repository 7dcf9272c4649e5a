#include "formula/number_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formula/dates.h"
#include "types/calendar.h"

namespace morvane::numfmt {

namespace {

// ---- Decimal values ------------------------------------------------------

// A magnitude as decimal digits: value = 0.digits x 10^point. Zero has no
// digits. Digits carry no leading zeros; trailing zeros are allowed. At
// most 20 digits (a 64-bit integer's) and one a rounding carries in, so
// they live in the record itself.
struct Decimal {
    std::array<char, 24> digits{};
    uint32_t count = 0;
    int64_t point = 0;
    bool zero() const { return count == 0; }
    void drop_trailing_zeros() {
        while (count > 0 && digits[count - 1] == '0') --count;
    }
};

// "00" to "99", for writing two digits at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> t{};
    for (int i = 0; i < 100; ++i) {
        t[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        t[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return t;
}();

// Writes the `width` (at most 8) last decimal digits of `n` at `out`,
// zero-padded.
void write_digits(char* out, uint32_t n, size_t width) {
    while (width >= 2) {
        width -= 2;
        const size_t pair = static_cast<size_t>(n % 100) * 2;
        n /= 100;
        out[width] = kDigitPairs[pair];
        out[width + 1] = kDigitPairs[pair + 1];
    }
    if (width == 1) out[0] = static_cast<char>('0' + n % 10);
}

// 10^0 to 10^22: the powers of ten a double holds exactly.
constexpr std::array<double, 23> kExactPowers = [] {
    std::array<double, 23> t{};
    double p = 1;
    for (double& x : t) {
        x = p;
        p *= 10;
    }
    return t;
}();

// The 15 significant digits of `a` (finite, above zero) when a * 10^k lies
// in [1e14, 1e15) for an exactly held power 10^k: the scaled value is then
// rounded to a whole number as printing would round it (to nearest, ties to
// even), with the product's exact rounding error (a fused multiply-add) to
// settle the halves. Returns false where that does not apply.
bool fast_decimal_of(double a, Decimal& d) {
    if (!(a >= 1e-7 && a < 1e15)) return false;
    // floor(log10(a)) is floor(log10(2^e)) for a's binary exponent e, or one more.
    const int e2 = static_cast<int>((std::bit_cast<uint64_t>(a) >> 52) & 0x7FF) - 1023;
    int k = std::clamp(14 - ((e2 * 1233) >> 12), 0, 22);
    double p = a * kExactPowers[static_cast<size_t>(k)];
    if (p >= 1e15) {
        if (k == 0) return false;
        p = a * kExactPowers[static_cast<size_t>(--k)];
    } else if (p < 1e14 && k < 22) {
        const double q = a * kExactPowers[static_cast<size_t>(k + 1)];
        if (q < 1e15) {
            ++k;
            p = q;
        }
    }
    if (!(p >= 1e14 && p < 1e15)) return false;
    const double err = std::fma(a, kExactPowers[static_cast<size_t>(k)], -p);  // exact: a*10^k = p + err
    auto m = static_cast<uint64_t>(p);                                         // p's whole part
    // p's fraction and the half are exact; err is below half a unit of p,
    // so it decides only where the fraction is exactly a half.
    const double above_half = p - static_cast<double>(m) - 0.5;
    const bool up = above_half > 0 || (above_half == 0 && (err > 0 || (err == 0 && (m & 1) != 0)));
    m += up;
    d.point = 15 - k;
    if (m == 1'000'000'000'000'000) {
        m /= 10;
        ++d.point;
    }
    // 15 digits: 7 then 8, each in 32-bit arithmetic.
    write_digits(d.digits.data(), static_cast<uint32_t>(m / 100'000'000), 7);
    write_digits(d.digits.data() + 7, static_cast<uint32_t>(m % 100'000'000), 8);
    d.count = 15;
    d.drop_trailing_zeros();
    return true;
}

// The 15 significant digits a spreadsheet keeps of a double.
Decimal decimal_of(double a) {
    Decimal d;
    if (a == 0 || !std::isfinite(a)) return d;
    if (fast_decimal_of(a, d)) return d;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14);
    std::string_view s(buf, static_cast<size_t>(res.ptr - buf));  // d.dddddddddddddde[+-]x
    const size_t e = s.find('e');
    int exponent = 0;
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
    d.digits[0] = s[0];
    std::copy(s.begin() + 2, s.begin() + static_cast<ptrdiff_t>(e), d.digits.begin() + 1);
    d.count = static_cast<uint32_t>(e - 1);
    d.drop_trailing_zeros();
    d.point = exponent + 1;
    return d;
}

Decimal decimal_of(uint64_t n) {
    Decimal d;
    if (n == 0) return d;
    auto res = std::to_chars(d.digits.data(), d.digits.data() + d.digits.size(), n);
    d.count = static_cast<uint32_t>(res.ptr - d.digits.data());
    d.point = d.count;
    d.drop_trailing_zeros();
    return d;
}

// Keeps `decimals` digits after the point, half away from zero.
void round_to(Decimal& d, int64_t decimals) {
    if (d.zero()) return;
    const int64_t keep = d.point + decimals;
    if (keep >= static_cast<int64_t>(d.count)) return;
    if (keep < 0) {
        d.count = 0;
        return;
    }
    const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
    d.count = static_cast<uint32_t>(keep);
    if (up) {
        size_t i = d.count;
        while (i > 0 && d.digits[i - 1] == '9') d.digits[--i] = '0';
        if (i > 0) {
            ++d.digits[i - 1];
        } else {
            // Every kept digit was a 9 (or none was kept): the value is now a power of ten.
            d.digits[0] = '1';
            d.count = 1;
            ++d.point;
        }
    }
    d.drop_trailing_zeros();
    if (d.zero()) d.point = 0;
}

char digit_at(const Decimal& d, int64_t i) {
    return i >= 0 && i < static_cast<int64_t>(d.count) ? d.digits[static_cast<size_t>(i)] : '0';
}

// The digits before the point, without leading zeros ("" for none).
std::string whole_digits(const Decimal& d) {
    std::string out;
    for (int64_t i = 0; i < d.point; ++i) out.push_back(digit_at(d, i));
    return out;
}

// ---- General -------------------------------------------------------------

constexpr int64_t kGeneralWidth = 11;

std::string exponent_text(int64_t e) {
    std::string out = e < 0 ? "E-" : "E+";
    std::string digits = std::to_string(e < 0 ? -e : e);
    if (digits.size() < 2) out.push_back('0');
    return out + digits;
}

std::string plain_text(const Decimal& d) {
    std::string out = d.point > 0 ? whole_digits(d) : "0";
    if (static_cast<int64_t>(d.count) > std::max<int64_t>(d.point, 0)) {
        out.push_back('.');
        for (int64_t i = d.point; i < static_cast<int64_t>(d.count); ++i) out.push_back(digit_at(d, i));
    }
    return out;
}

// d.ddddE+xx in the width: as many decimals as fit, trailing zeros dropped.
std::string scientific_general(Decimal d) {
    int64_t e = d.point - 1;
    const int64_t room = kGeneralWidth - 2 - static_cast<int64_t>(exponent_text(e).size());
    Decimal m = d;
    m.point = 1;
    round_to(m, std::max<int64_t>(room, 0));
    if (m.point > 1) {  // 9.99999 rounded up to 10
        ++e;
        m.point = 1;
    }
    return plain_text(m) + exponent_text(e);
}

// Significant digits a text shows.
size_t significant(const std::string& s) {
    size_t n = 0;
    bool started = false;
    for (char c : s) {
        if (c == 'E') break;
        if (c >= '1' && c <= '9') started = true;
        n += started && c >= '0' && c <= '9';
    }
    return n;
}

// The magnitude as General shows it: positional when it fits the width
// and shows as much as the scientific form, else scientific.
std::string general_magnitude(const Decimal& d) {
    if (d.zero()) return "0";
    const std::string sci = scientific_general(d);
    if (d.point > kGeneralWidth) return sci;
    const int64_t whole = std::max<int64_t>(d.point, 1);
    Decimal f = d;
    round_to(f, std::max<int64_t>(kGeneralWidth - whole - 1, 0));
    if (f.zero() || f.point > kGeneralWidth) return sci;
    std::string fixed = plain_text(f);
    return significant(sci) > significant(fixed) ? sci : fixed;
}

// ---- Compiled patterns ---------------------------------------------------

enum class Tok : uint8_t {
    Literal,
    Zero,
    Hash,
    Question,
    Point,
    Comma,
    Percent,
    Exponent,  // text: "E+" / "e-" as written
    At,
    General,
    Year,
    Month,
    MonthOrMinute,
    Minute,
    Day,
    Hour,
    Second,
    ElapsedHour,
    ElapsedMinute,
    ElapsedSecond,
    AmPm,  // text: "AM"/"am" first letter case decides
    AP,
    // VBA's own codes: y (day of the year), w (weekday, Sunday 1), ww (week
    // of the year), q (quarter), and whole forms: c, ddddd, dddddd, ttttt.
    DayOfYear,
    Weekday,
    WeekOfYear,
    Quarter,
    Form,  // width: 1 General Date (c), 2 short date, 3 long date, 4 long time
    FracSecond,
};

// Where a digit placeholder or comma sits in a number section.
enum class Part : uint8_t { Whole, Fraction, Exponent };
enum class CommaRole : uint8_t { Literal, Group, Scale };

struct Token {
    Tok kind;
    uint32_t width = 1;  // letters of a date code; zeros of a fraction of seconds
    Part part = Part::Whole;
    CommaRole comma = CommaRole::Literal;
    std::string text;  // literal text, or the source of the token
};

enum class SectionKind : uint8_t { Number, Date, Text };

struct Section {
    SectionKind kind = SectionKind::Number;
    std::vector<Token> tokens;
    bool empty = true;  // nothing written between the semicolons
    // Number sections.
    uint32_t whole_places = 0;
    uint32_t fraction_places = 0;
    std::string fraction_kinds;  // the fraction's placeholders in order: 0, # or ?
    uint32_t exponent_zeros = 0;
    bool grouping = false;
    bool scientific = false;
    bool engineering = false;  // "##0.0E+0": exponents in steps of the whole places
    int64_t shift = 0;         // powers of ten: +2 per %, -3 per scaling comma
    // What the tokens write beside the whole digits, the exponent's digits
    // and General's text: a bound for sizing the result.
    size_t fixed_bytes = 0;
    uint32_t generals = 0;  // General tokens
    // Date sections.
    bool twelve_hour = false;
    uint32_t second_decimals = 0;
};

struct Compiled {
    std::vector<Section> sections;
    bool general_date = false;  // VBA's "General Date": the form depends on the value
    std::string error;          // not empty: the pattern is refused with this message
};

bool is_date_code(Tok t) { return t >= Tok::Year && t <= Tok::FracSecond; }
bool is_vba_date_code(Tok t) { return t >= Tok::DayOfYear && t <= Tok::Form; }

bool starts_with_ci(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// The names of formats are ASCII, so ASCII case folding finds them.
bool is_name(std::string_view pattern, std::string_view lower_name) {
    return pattern.size() == lower_name.size() && starts_with_ci(pattern, lower_name);
}

size_t utf8_length(std::string_view s, size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return std::min(n, s.size() - at);
}

// Colour names a cell format may carry; the text never shows a colour.
bool is_colour(std::string_view inner) {
    static constexpr std::string_view kColours[] = {"black",   "blue", "cyan",  "green",
                                                    "magenta", "red",  "white", "yellow"};
    for (auto c : kColours)
        if (is_name(inner, c)) return true;
    return starts_with_ci(inner, "color");
}

void add_literal(Section& s, std::string_view text) {
    if (!s.tokens.empty() && s.tokens.back().kind == Tok::Literal) {
        s.tokens.back().text.append(text);
        return;
    }
    s.tokens.push_back({Tok::Literal, 1, Part::Whole, CommaRole::Literal, std::string(text)});
}

void add(Section& s, Tok kind, std::string_view source, uint32_t width = 1) {
    s.tokens.push_back({kind, width, Part::Whole, CommaRole::Literal, std::string(source)});
}

// A bracketed piece: elapsed time, a colour, a currency or locale tag.
// Conditions and anything else are refused.
std::string read_bracket(Section& s, std::string_view inner) {
    if (!inner.empty() && (inner[0] == '<' || inner[0] == '>' || inner[0] == '='))
        return "conditions in brackets are not supported";
    if (!inner.empty() && inner[0] == '$') {
        add_literal(s, inner.substr(1, inner.find('-') == std::string_view::npos ? std::string_view::npos
                                                                                 : inner.find('-') - 1));
        return {};
    }
    if (is_colour(inner)) return {};
    const char c = inner.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(inner[0])));
    if ((c == 'h' || c == 'm' || c == 's') && std::all_of(inner.begin(), inner.end(), [c](char x) {
            return std::tolower(static_cast<unsigned char>(x)) == c;
        })) {
        const Tok kind = c == 'h' ? Tok::ElapsedHour : c == 'm' ? Tok::ElapsedMinute : Tok::ElapsedSecond;
        add(s, kind, inner, static_cast<uint32_t>(inner.size()));
        return {};
    }
    return "'[" + std::string(inner) + "]' is not supported";
}

// The United States forms of VBA's dates and times.
constexpr std::string_view kShortDate = "m/d/yyyy";
constexpr std::string_view kLongDate = "dddd, mmmm d, yyyy";
constexpr std::string_view kLongTime = "h:mm:ss AM/PM";
constexpr std::string_view kDateTime = "m/d/yyyy h:mm:ss AM/PM";

// Reads one section's characters into tokens. Returns a message for a
// pattern element that is refused.
std::string read_section(std::string_view p, Section& s, Dialect dialect) {
    s.empty = p.empty();
    size_t i = 0;
    while (i < p.size()) {
        const char c = p[i];
        const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto run_of = [&](char letter) {
            size_t j = i;
            while (j < p.size() && std::tolower(static_cast<unsigned char>(p[j])) == letter) ++j;
            return j - i;
        };
        if (c == '"') {
            const size_t end = p.find('"', i + 1);
            add_literal(s, p.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
            i = end == std::string_view::npos ? p.size() : end + 1;
        } else if (c == '\\' || c == '_' || c == '*') {
            const size_t n = i + 1 < p.size() ? utf8_length(p, i + 1) : 0;
            if (c == '\\') add_literal(s, p.substr(i + 1, n));
            if (c == '_') add_literal(s, " ");
            i += 1 + n;
        } else if (c == '[') {
            const size_t end = p.find(']', i);
            if (end == std::string_view::npos) {
                add_literal(s, "[");
                ++i;
                continue;
            }
            if (std::string m = read_bracket(s, p.substr(i + 1, end - i - 1)); !m.empty()) return m;
            i = end + 1;
        } else if (c == '0' || c == '#' || c == '?') {
            add(s, c == '0' ? Tok::Zero : c == '#' ? Tok::Hash : Tok::Question, p.substr(i, 1));
            ++i;
        } else if (c == '.' || c == ',' || c == '%' || c == '@') {
            add(s, c == '.' ? Tok::Point : c == ',' ? Tok::Comma : c == '%' ? Tok::Percent : Tok::At, p.substr(i, 1));
            ++i;
        } else if (lc == 'e' && i + 1 < p.size() && (p[i + 1] == '+' || p[i + 1] == '-')) {
            add(s, Tok::Exponent, p.substr(i, 2));
            i += 2;
        } else if (starts_with_ci(p.substr(i), "general")) {
            add(s, Tok::General, p.substr(i, 7));
            i += 7;
        } else if (starts_with_ci(p.substr(i), "am/pm")) {
            add(s, Tok::AmPm, p.substr(i, 5));
            i += 5;
        } else if (starts_with_ci(p.substr(i), "a/p")) {
            add(s, Tok::AP, p.substr(i, 3));
            i += 3;
        } else if (dialect == Dialect::Vba && (lc == 'w' || lc == 'q' || lc == 'c' || (lc == 'y' && run_of(lc) == 1) ||
                                               (lc == 'd' && run_of(lc) >= 5) || (lc == 't' && run_of(lc) == 5))) {
            const size_t n = run_of(lc);
            size_t used = 1;
            if (lc == 'y') {
                add(s, Tok::DayOfYear, p.substr(i, 1));
            } else if (lc == 'w') {
                used = std::min<size_t>(n, 2);
                add(s, used == 2 ? Tok::WeekOfYear : Tok::Weekday, p.substr(i, used));
            } else if (lc == 'q') {
                add(s, Tok::Quarter, p.substr(i, 1));
            } else if (lc == 'c') {
                add(s, Tok::Form, p.substr(i, 1), 1);
            } else if (lc == 'd') {
                used = std::min<size_t>(n, 6);
                add(s, Tok::Form, p.substr(i, used), used == 5 ? 2 : 3);
            } else {
                used = 5;
                add(s, Tok::Form, p.substr(i, used), 4);
            }
            i += used;
        } else if (lc == 'n' && dialect == Dialect::Vba) {
            // VBA's own minute code, free of the month's ambiguity.
            const size_t n = run_of(lc);
            add(s, Tok::Minute, p.substr(i, n), static_cast<uint32_t>(std::min<size_t>(n, 2)));
            i += n;
        } else if (lc == 'y' || lc == 'm' || lc == 'd' || lc == 'h' || lc == 's') {
            const size_t n = run_of(lc);
            const Tok kind = lc == 'y'   ? Tok::Year
                             : lc == 'd' ? Tok::Day
                             : lc == 'h' ? Tok::Hour
                             : lc == 's' ? Tok::Second
                             : n <= 2    ? Tok::MonthOrMinute
                                         : Tok::Month;
            add(s, kind, p.substr(i, n), static_cast<uint32_t>(std::min<size_t>(n, 1000)));
            i += n;
        } else {
            const size_t n = utf8_length(p, i);
            add_literal(s, p.substr(i, n));
            i += n;
        }
    }
    return {};
}

// m and mm are minutes right after an hour or right before a second, as
// in h:mm and mm:ss; otherwise months.
void settle_minutes(Section& s) {
    auto& t = s.tokens;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind != Tok::MonthOrMinute) continue;
        bool minute = false;
        for (size_t j = i; j-- > 0;)
            if (is_date_code(t[j].kind)) {
                minute = t[j].kind == Tok::Hour || t[j].kind == Tok::ElapsedHour;
                break;
            }
        if (!minute)
            for (size_t j = i + 1; j < t.size(); ++j)
                if (is_date_code(t[j].kind)) {
                    minute = t[j].kind == Tok::Second || t[j].kind == Tok::ElapsedSecond;
                    break;
                }
        t[i].kind = minute ? Tok::Minute : Tok::Month;
    }
}

// Tokens that mean nothing in this kind of section show their source.
void demote(Token& t) {
    t.kind = Tok::Literal;
    t.width = 1;
}

void settle_date(Section& s) {
    settle_minutes(s);
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        Token& t = s.tokens[i];
        if (t.kind == Tok::AmPm || t.kind == Tok::AP) s.twelve_hour = true;
        // ".000" after seconds: fractions of a second, three at most.
        if (t.kind == Tok::Point && i + 1 < s.tokens.size() && s.tokens[i + 1].kind == Tok::Zero && i > 0 &&
            (s.tokens[i - 1].kind == Tok::Second || s.tokens[i - 1].kind == Tok::ElapsedSecond)) {
            size_t n = 0;
            while (i + 1 + n < s.tokens.size() && s.tokens[i + 1 + n].kind == Tok::Zero) ++n;
            t.kind = Tok::FracSecond;
            t.width = static_cast<uint32_t>(std::min<size_t>(n, 3));
            s.second_decimals = std::max(s.second_decimals, t.width);
            s.tokens.erase(s.tokens.begin() + static_cast<ptrdiff_t>(i + 1),
                           s.tokens.begin() + static_cast<ptrdiff_t>(i + 1 + n));
            if (n > 3)
                s.tokens.insert(s.tokens.begin() + static_cast<ptrdiff_t>(i + 1),
                                Token{Tok::Literal, 1, Part::Whole, CommaRole::Literal, std::string(n - 3, '0')});
            continue;
        }
        if (!is_date_code(t.kind) && t.kind != Tok::Literal) demote(t);
    }
}

bool is_placeholder(Tok t) { return t == Tok::Zero || t == Tok::Hash || t == Tok::Question; }

std::string settle_number(Section& s, Dialect dialect) {
    auto& t = s.tokens;
    bool point_seen = false;
    Part part = Part::Whole;
    size_t last_placeholder = t.size();
    for (size_t i = 0; i < t.size(); ++i) {
        Token& k = t[i];
        if (is_placeholder(k.kind)) {
            k.part = part;
            last_placeholder = i;
            if (part == Part::Whole) ++s.whole_places;
            if (part == Part::Fraction) {
                ++s.fraction_places;
                s.fraction_kinds.push_back(k.text[0]);
            }
            if (part == Part::Exponent) s.exponent_zeros += k.kind == Tok::Zero;
        } else if (k.kind == Tok::Point && !point_seen && part == Part::Whole) {
            point_seen = true;
            part = Part::Fraction;
        } else if (k.kind == Tok::Exponent && !s.scientific) {
            s.scientific = true;
            part = Part::Exponent;
        } else if (k.kind == Tok::Percent) {
            s.shift += 2;
        } else if (k.kind == Tok::Point || k.kind == Tok::Exponent) {
            demote(k);
        }
    }
    // A comma between placeholders groups; one after the last placeholder
    // divides by a thousand; one before any placeholder is text.
    bool placeholder_before = false;
    for (size_t i = 0; i < t.size(); ++i) {
        Token& k = t[i];
        if (is_placeholder(k.kind) && k.part != Part::Exponent) placeholder_before = true;
        if (k.kind != Tok::Comma) continue;
        if (!placeholder_before || (s.scientific && k.part == Part::Exponent)) {
            k.comma = CommaRole::Literal;
        } else if (last_placeholder != t.size() && i < last_placeholder && !s.scientific) {
            k.comma = CommaRole::Group;
            s.grouping = true;
        } else if (last_placeholder != t.size() && i < last_placeholder) {
            k.comma = CommaRole::Group;  // grouping means nothing beside an exponent
        } else {
            k.comma = CommaRole::Scale;
            s.shift -= 3;
        }
    }
    // A fraction ("# ?/?"): a slash between digit placeholders. VBA has no
    // fractions and reads "00/00" as digits around a slash, so there only a
    // "?" beside the slash marks one.
    for (size_t i = 1; i + 1 < t.size(); ++i) {
        if (t[i].kind != Tok::Literal || t[i].text.find('/') == std::string::npos) continue;
        if (!is_placeholder(t[i - 1].kind) || !is_placeholder(t[i + 1].kind)) continue;
        if (dialect == Dialect::Worksheet || t[i - 1].kind == Tok::Question || t[i + 1].kind == Tok::Question)
            return "fractions such as '# ?/?' are not supported";
    }
    if (s.scientific) {
        bool hash_first = false;
        for (const Token& k : t)
            if (is_placeholder(k.kind)) {
                hash_first = k.kind == Tok::Hash;
                break;
            }
        s.engineering = hash_first && s.whole_places > 1;
    }
    for (const Token& k : t) {
        s.fixed_bytes += k.text.size();
        s.generals += k.kind == Tok::General;
    }
    return {};
}

std::string classify(Section& s, Dialect dialect) {
    // VBA's own codes make a date section of one without digit
    // placeholders; beside digits they stay the letters they are.
    bool placeholders = false, plain_date = false;
    for (const Token& t : s.tokens) {
        placeholders |= is_placeholder(t.kind);
        plain_date |= is_date_code(t.kind) && !is_vba_date_code(t.kind);
    }
    if (placeholders && !plain_date)
        for (Token& t : s.tokens)
            if (is_vba_date_code(t.kind)) demote(t);
    bool date = false, text = false;
    for (const Token& t : s.tokens) {
        date |= is_date_code(t.kind);
        text |= t.kind == Tok::At;
    }
    if (date) {
        s.kind = SectionKind::Date;
        settle_date(s);
        return {};
    }
    if (text) {
        s.kind = SectionKind::Text;
        for (Token& t : s.tokens)
            if (t.kind != Tok::At && t.kind != Tok::Literal) demote(t);
        return {};
    }
    s.kind = SectionKind::Number;
    return settle_number(s, dialect);
}

// Splits at semicolons outside quotes, backslash escapes and brackets.
std::vector<std::string_view> split_sections(std::string_view p) {
    std::vector<std::string_view> out;
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == '\\' || c == '_' || c == '*')) {
            ++i;
        } else if (!quoted && c == '[') {
            const size_t end = p.find(']', i);
            if (end != std::string_view::npos) i = end;
        } else if (!quoted && c == ';') {
            out.push_back(p.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(p.substr(start));
    return out;
}

// VBA's named formats, in the United States forms.
struct Named {
    std::string_view name;
    std::string_view pattern;
};
constexpr Named kNamed[] = {
    {"general number", "General"},
    {"currency", "$#,##0.00;($#,##0.00)"},
    {"fixed", "0.00"},
    {"standard", "#,##0.00"},
    {"percent", "0.00%"},
    {"scientific", "0.00E+00"},
    {"yes/no", "\"Yes\";\"Yes\";\"No\""},
    {"true/false", "\"True\";\"True\";\"False\""},
    {"on/off", "\"On\";\"On\";\"Off\""},
    {"long date", kLongDate},
    {"medium date", "dd-mmm-yy"},
    {"short date", "m/d/yyyy"},
    {"long time", "h:mm:ss AM/PM"},
    {"medium time", "hh:mm AM/PM"},
    {"short time", "hh:mm"},
};

Compiled compile(std::string_view pattern, Dialect dialect) {
    Compiled out;
    if (dialect == Dialect::Vba) {
        if (is_name(pattern, "general date")) {
            out.general_date = true;
            return out;
        }
        for (const Named& n : kNamed)
            if (is_name(pattern, n.name)) {
                pattern = n.pattern;
                break;
            }
    }
    const std::vector<std::string_view> parts = split_sections(pattern);
    if (parts.size() > 4) {
        out.error = "a format of more than four sections is not supported";
        return out;
    }
    for (std::string_view part : parts) {
        Section s;
        std::string message = read_section(part, s, dialect);
        if (message.empty()) message = classify(s, dialect);
        if (!message.empty()) {
            out.error = std::move(message);
            return out;
        }
        out.sections.push_back(std::move(s));
    }
    return out;
}

// This thread's compiled patterns. An entry stays for the thread's life, so
// a pattern in use never goes away under a nested use (General Date renders
// through another pattern); past the cache's size, and for long patterns,
// a pattern is compiled for each use instead.
constexpr size_t kCacheEntries = 256;
constexpr size_t kCachedPatternBytes = 256;

struct Cache {
    std::unordered_map<std::string, std::unique_ptr<const Compiled>> entries[2];
    // The last pattern used, checked before hashing.
    std::string last_pattern[2];
    const Compiled* last[2] = {nullptr, nullptr};
};

// A compiled pattern in use: the cache's, or one of its own.
class CompiledUse {
public:
    explicit CompiledUse(const Compiled* cached) : c_(cached) {}
    explicit CompiledUse(Compiled own) : own_(std::make_unique<const Compiled>(std::move(own))), c_(own_.get()) {}
    const Compiled& operator*() const { return *c_; }
    const Compiled* operator->() const { return c_; }

private:
    std::unique_ptr<const Compiled> own_;
    const Compiled* c_;
};

CompiledUse compiled(std::string_view pattern, Dialect dialect) {
    if (pattern.size() > kCachedPatternBytes) return CompiledUse(compile(pattern, dialect));
    thread_local Cache cache;
    const auto d = static_cast<size_t>(dialect);
    if (cache.last[d] && cache.last_pattern[d] == pattern) return CompiledUse(cache.last[d]);
    auto& map = cache.entries[d];
    std::string key(pattern);
    auto it = map.find(key);
    if (it == map.end()) {
        if (map.size() >= kCacheEntries) return CompiledUse(compile(pattern, dialect));
        it = map.emplace(key, std::make_unique<const Compiled>(compile(pattern, dialect))).first;
    }
    cache.last_pattern[d] = std::move(key);
    cache.last[d] = it->second.get();
    return CompiledUse(cache.last[d]);
}

// ---- Rendering numbers ---------------------------------------------------

// Placeholders, codes and literals each add a bounded piece, so only the
// text section, which repeats a text at every "@", can grow past the pattern.
constexpr size_t kMaxRenderedBytes = size_t{1} << 24;
constexpr std::string_view kTooLong = "the result would be longer than 16,777,216 bytes";

// A number to render: its magnitude's digits and sign.
struct Value {
    Decimal magnitude;
    bool negative = false;
    bool zero = false;
    double approx = 0;  // the value as a double, for dates and General
};

std::string general_of(double magnitude, const Style& style) {
    return style.general ? style.general(magnitude) : general_text(magnitude);
}

// Places the whole digits of `d` into the whole-part placeholders, right to
// left; the leftmost placeholder takes every digit left over. Writes at
// `out` and returns the end of what it wrote.
struct WholeWriter {
    const Decimal& d;
    int64_t n;  // whole digits: those before the point
    uint32_t places;
    bool grouping;
    uint32_t seen = 0;  // placeholders written so far

    char* emit_digit(char* out, char c, int64_t position) const {
        *out++ = c;
        if (grouping && position > 0 && position % 3 == 0) *out++ = ',';
        return out;
    }

    char* write(char* out, Tok kind) {
        const int64_t position = static_cast<int64_t>(places) - 1 - seen;  // from the right
        if (seen == 0)
            for (int64_t p = n - 1; p > position; --p) out = emit_digit(out, digit_at(d, n - 1 - p), p);
        ++seen;
        if (position < n) return emit_digit(out, digit_at(d, n - 1 - position), position);
        if (kind == Tok::Zero) return emit_digit(out, '0', position);
        if (kind == Tok::Question) *out++ = ' ';
        return out;
    }
};

// How many fraction digits show as digits: trailing zeros under # are
// dropped and under ? blank, up to the last 0 placeholder.
uint32_t fraction_shown(const Section& s, const Decimal& d) {
    uint32_t shown = s.fraction_places;
    while (shown > 0 && s.fraction_kinds[shown - 1] != '0' && digit_at(d, d.point + shown - 1) == '0') --shown;
    return shown;
}

// The exponent that leaves the mantissa its whole digits.
int64_t exponent_for(const Section& s, const Decimal& d) {
    if (d.zero()) return 0;
    const auto places = static_cast<int64_t>(s.whole_places);
    if (s.engineering) {
        const int64_t e = d.point - 1;
        return (e >= 0 ? e / places : -((-e + places - 1) / places)) * places;
    }
    return d.point - places;
}

// The text is written straight into the result, sized beforehand from
// the section's fixed text, its whole digits and the exponent's.
std::string render_number_section(const Section& s, const Value& v, bool minus, const Style& style) {
    Decimal d = v.magnitude;
    d.point += d.zero() ? 0 : s.shift;
    int64_t exponent = 0;
    if (s.scientific) {
        exponent = exponent_for(s, d);
        Decimal m = d;
        m.point -= exponent;
        round_to(m, s.fraction_places);
        // Rounding may add a digit (9.99 to 10.0): take the exponent again.
        if (!m.zero()) {
            Decimal back = m;
            back.point += exponent;
            const int64_t again = exponent_for(s, back);
            if (again != exponent) {
                m.point += exponent - again;
                exponent = again;
            }
        }
        d = m;
    } else {
        round_to(d, s.fraction_places);
    }
    const int64_t whole = std::max<int64_t>(d.point, 0);
    const uint32_t shown = fraction_shown(s, d);
    const std::string general = s.generals > 0 ? general_of(std::fabs(v.approx), style) : std::string();
    char exponent_digits[24];
    size_t exponent_size = 0;
    if (s.scientific) {
        const uint64_t e =
            exponent < 0 ? uint64_t{0} - static_cast<uint64_t>(exponent) : static_cast<uint64_t>(exponent);
        exponent_size =
            static_cast<size_t>(std::to_chars(exponent_digits, exponent_digits + 24, e).ptr - exponent_digits);
    }
    const size_t bound = 1 + 2 * static_cast<size_t>(std::max<int64_t>(whole, s.whole_places)) + s.fixed_bytes +
                         s.exponent_zeros + exponent_size + s.generals * general.size();
    auto write = [&](char* start) {
        char* o = start;
        if (minus) *o++ = '-';
        WholeWriter writer{d, whole, s.whole_places, s.grouping};
        uint32_t fraction_seen = 0;
        bool exponent_written = false;
        for (const Token& t : s.tokens) {
            switch (t.kind) {
                case Tok::Zero:
                case Tok::Hash:
                case Tok::Question:
                    if (t.part == Part::Whole) {
                        o = writer.write(o, t.kind);
                    } else if (t.part == Part::Fraction) {
                        const uint32_t j = fraction_seen++;
                        if (j < shown)
                            *o++ = digit_at(d, d.point + j);
                        else if (s.fraction_kinds[j] == '?')
                            *o++ = ' ';
                    } else if (!exponent_written) {
                        exponent_written = true;
                        const bool bare_zero = exponent_size == 1 && exponent_digits[0] == '0';
                        for (size_t z = exponent_size; z < s.exponent_zeros; ++z) *o++ = '0';
                        if (!bare_zero || s.exponent_zeros > 0) o = std::copy_n(exponent_digits, exponent_size, o);
                    }
                    break;
                case Tok::Point:
                    // Without whole placeholders the whole digits still show.
                    if (s.whole_places == 0) {
                        WholeWriter all{d, whole, static_cast<uint32_t>(whole), s.grouping};
                        for (int64_t i = 0; i < whole; ++i) o = all.write(o, Tok::Hash);
                    }
                    *o++ = '.';
                    break;
                case Tok::Comma:
                    if (t.comma == CommaRole::Literal) *o++ = ',';
                    break;
                case Tok::Percent: *o++ = '%'; break;
                case Tok::Exponent:
                    *o++ = t.text[0];
                    if (exponent < 0)
                        *o++ = '-';
                    else if (t.text[1] == '+')
                        *o++ = '+';
                    break;
                case Tok::General: o = std::copy(general.begin(), general.end(), o); break;
                default: o = std::copy(t.text.begin(), t.text.end(), o); break;
            }
        }
        return static_cast<size_t>(o - start);
    };
    // Most results fit a small buffer and then the string's own storage.
    if (bound <= 256) {
        char buf[256];
        return std::string(buf, write(buf));
    }
    std::string out;
    out.resize_and_overwrite(bound, [&](char* start, size_t) { return write(start); });
    return out;
}

// ---- Rendering dates -----------------------------------------------------

constexpr std::array<std::string_view, 12> kMonths = {"January",   "February", "March",    "April",
                                                      "May",       "June",     "July",     "August",
                                                      "September", "October",  "November", "December"};
constexpr std::array<std::string_view, 7> kWeekdays = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                       "Friday", "Saturday", "Sunday"};

// 9999-12-31, the last day a date format shows.
constexpr double kLastSerial = 2958465;
// 0100-01-01: VBA's dates begin there.
constexpr double kFirstVbaSerial = -657434;

void append_number(std::string& out, int64_t n, uint32_t width) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    if (n < 0) out.push_back('-');
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
}

struct DateParts {
    int64_t year = 1900;
    uint32_t month = 1, day = 0;
    int weekday = 0;            // 0 Monday ... 6 Sunday
    int64_t total_seconds = 0;  // since the serial's day 0, for elapsed codes
    int64_t second_fraction = 0;
    int64_t hour = 0, minute = 0, second = 0;
};

Rendered out_of_range(double x) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    return std::unexpected(
        Failure{true, "the date serial " + std::string(buf, res.ptr) + " is outside the dates a format can show"});
}

std::expected<DateParts, Failure> date_parts(double x, const Section& s, Dialect dialect) {
    const double first = dialect == Dialect::Vba ? kFirstVbaSerial : 0;
    if (!(x >= first && x < kLastSerial + 1)) return std::unexpected(out_of_range(x).error());
    int64_t scale = 1;
    for (uint32_t i = 0; i < s.second_decimals; ++i) scale *= 10;
    const int64_t per_day = 86400 * scale;
    // Before serial 0 the day counts back and the time of day still runs forward.
    int64_t day = static_cast<int64_t>(std::trunc(x));
    int64_t ticks = std::llround(std::fabs(x - static_cast<double>(day)) * static_cast<double>(per_day));
    if (ticks >= per_day) {
        ticks -= per_day;
        day += x < 0 ? -1 : 1;
    }
    DateParts d;
    if (day > 0) {
        const morvane_types::Ymd ymd = morvane_types::serial_to_ymd(day);
        d.year = ymd.year;
        d.month = ymd.month;
        d.day = ymd.day;
    } else if (day < 0) {
        const morvane_types::CivilDate c =
            morvane_types::civil_from_days(morvane_types::days_from_civil(1899, 12, 31) + day);
        d.year = c.year;
        d.month = c.month;
        d.day = c.day;
    }
    d.weekday = eval::monday_index(day);
    const int64_t whole_ticks = (day < 0 ? 0 : day) * per_day + ticks;
    d.total_seconds = whole_ticks / scale;
    d.second_fraction = ticks % scale;
    const int64_t seconds = ticks / scale;
    d.hour = seconds / 3600;
    d.minute = seconds / 60 % 60;
    d.second = seconds % 60;
    return d;
}

Rendered render_with(std::string_view pattern, double x, const Style& style);
Rendered render_general_date(double x, const Style& style, Dialect dialect);

// VBA's whole forms inside a pattern: the date or time through its own pattern.
Rendered render_form(uint32_t form, double x, Dialect dialect) {
    const Style style{dialect, nullptr};
    if (form == 1) return render_general_date(x, style, dialect);
    return render_with(form == 2 ? kShortDate : form == 3 ? kLongDate : kLongTime, x, style);
}

Rendered render_date_section(const Section& s, double x, Dialect dialect) {
    auto parts = date_parts(x, s, dialect);
    if (!parts) return std::unexpected(parts.error());
    const DateParts& d = *parts;
    std::string out;
    bool elapsed_hours = false, elapsed_minutes = false;
    for (const Token& t : s.tokens) {
        elapsed_hours |= t.kind == Tok::ElapsedHour;
        elapsed_minutes |= t.kind == Tok::ElapsedMinute;
    }
    const bool pm = d.hour >= 12;
    for (const Token& t : s.tokens) {
        switch (t.kind) {
            case Tok::Year:
                if (t.width <= 2)
                    append_number(out, (d.year % 100 + 100) % 100, 2);
                else
                    append_number(out, d.year, 4);
                break;
            case Tok::Month:
                if (t.width <= 2)
                    append_number(out, d.month, t.width);
                else if (t.width == 3)
                    out += kMonths[d.month - 1].substr(0, 3);
                else if (t.width == 4)
                    out += kMonths[d.month - 1];
                else
                    out += kMonths[d.month - 1].substr(0, 1);
                break;
            case Tok::Day:
                if (t.width <= 2)
                    append_number(out, d.day, t.width);
                else if (t.width == 3)
                    out += kWeekdays[static_cast<size_t>(d.weekday)].substr(0, 3);
                else
                    out += kWeekdays[static_cast<size_t>(d.weekday)];
                break;
            case Tok::Hour: {
                int64_t h = d.hour;
                if (s.twelve_hour) h = h % 12 == 0 ? 12 : h % 12;
                append_number(out, h, std::min<uint32_t>(t.width, 2));
                break;
            }
            case Tok::Minute:
                append_number(out, elapsed_minutes ? d.total_seconds / 60 : d.minute, std::min<uint32_t>(t.width, 2));
                break;
            case Tok::Second: append_number(out, d.second, std::min<uint32_t>(t.width, 2)); break;
            case Tok::ElapsedHour: append_number(out, d.total_seconds / 3600, t.width); break;
            case Tok::ElapsedMinute:
                append_number(out, elapsed_hours ? d.minute : d.total_seconds / 60, t.width);
                break;
            case Tok::ElapsedSecond:
                append_number(out, elapsed_hours || elapsed_minutes ? d.second : d.total_seconds, t.width);
                break;
            case Tok::AmPm: {
                const bool lower = std::islower(static_cast<unsigned char>(t.text[0]));
                out += pm ? (lower ? "pm" : "PM") : (lower ? "am" : "AM");
                break;
            }
            case Tok::DayOfYear:
                append_number(out,
                              morvane_types::days_from_civil(d.year, d.month, std::max<uint32_t>(d.day, 1)) -
                                  morvane_types::days_from_civil(d.year, 1, 1) + (d.day == 0 ? 0 : 1),
                              1);
                break;
            case Tok::Weekday: append_number(out, (d.weekday + 1) % 7 + 1, 1); break;
            case Tok::WeekOfYear: {
                // Weeks start on Sunday; the first holds January 1.
                const int64_t day_index =
                    morvane_types::days_from_civil(d.year, d.month, std::max<uint32_t>(d.day, 1)) -
                    morvane_types::days_from_civil(d.year, 1, 1);
                const int64_t sunday_based = (d.weekday + 1) % 7;
                const int64_t first = ((sunday_based - day_index) % 7 + 7) % 7;
                append_number(out, (day_index + first) / 7 + 1, 1);
                break;
            }
            case Tok::Quarter: append_number(out, (d.month - 1) / 3 + 1, 1); break;
            case Tok::Form: {
                Rendered form = render_form(t.width, x, dialect);
                if (!form) return form;
                out += *form;
                break;
            }
            case Tok::AP: {
                const bool lower = std::islower(static_cast<unsigned char>(t.text[0]));
                out.push_back(pm ? (lower ? 'p' : 'P') : (lower ? 'a' : 'A'));
                break;
            }
            case Tok::FracSecond: {
                out.push_back('.');
                std::string digits = std::to_string(d.second_fraction);
                std::string padded(s.second_decimals - std::min<size_t>(digits.size(), s.second_decimals), '0');
                padded += digits;
                out += padded.substr(0, t.width);
                break;
            }
            default: out += t.text; break;
        }
    }
    return out;
}

// Every "@" repeats the text, so the result's size is checked first.
Rendered render_text_section(const Section& s, std::string_view text) {
    size_t size = 0;
    for (const Token& t : s.tokens) {
        size += t.kind == Tok::At ? text.size() : t.text.size();
        if (size > kMaxRenderedBytes) return std::unexpected(Failure{true, std::string(kTooLong)});
    }
    std::string out;
    out.reserve(size);
    for (const Token& t : s.tokens) out += t.kind == Tok::At ? text : std::string_view(t.text);
    return out;
}

// The section a number takes, and whether its minus sign is drawn.
struct Choice {
    const Section* section;
    bool minus;
};

Choice choose(const Compiled& c, bool negative, bool zero, Dialect dialect) {
    const auto& s = c.sections;
    const size_t numeric = s.size() == 4 ? 3 : s.size();
    size_t index = 0;
    if (negative && numeric >= 2)
        index = 1;
    else if (zero && numeric >= 3)
        index = 2;
    // VBA shows a value whose section is empty with the first section.
    if (index > 0 && s[index].empty && dialect == Dialect::Vba) return {&s[0], negative};
    return {&s[index], negative && index == 0};
}

Rendered render_value(const Compiled& c, const Value& v, const Style& style) {
    if (!c.error.empty()) return std::unexpected(Failure{false, c.error});
    if (c.general_date) return render_general_date(v.negative ? -v.approx : v.approx, style, style.dialect);
    const Choice pick = choose(c, v.negative, v.zero, style.dialect);
    const Section& s = *pick.section;
    // A negative section shows the magnitude; the first section shows a
    // negative value as the date it is, which only VBA's calendar has.
    if (s.kind == SectionKind::Date)
        return render_date_section(s, v.negative && pick.minus ? -v.approx : v.approx, style.dialect);
    if (s.kind == SectionKind::Text) {
        Rendered out = render_text_section(s, general_of(v.approx, style));
        if (out && pick.minus) out->insert(out->begin(), '-');
        return out;
    }
    if (!std::isfinite(v.approx)) return std::isnan(v.approx) ? "NaN" : v.negative ? "-inf" : "inf";
    return render_number_section(s, v, pick.minus, style);
}

Rendered render_with(std::string_view pattern, double x, const Style& style) {
    const auto c = compiled(pattern, style.dialect);
    Value v;
    v.approx = std::fabs(x);
    v.negative = x < 0;
    v.zero = x == 0;
    v.magnitude = decimal_of(v.approx);
    return render_value(*c, v, style);
}

Rendered render_general_date(double x, const Style& style, Dialect dialect) {
    const double day = std::trunc(x);
    const bool has_time = x != day;
    const std::string_view form = day == 0 ? kLongTime : has_time ? kDateTime : kShortDate;
    Style inner = style;
    inner.dialect = dialect;
    return render_with(form, x, inner);
}

}  // namespace

std::string general_text(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
    const std::string magnitude = general_magnitude(decimal_of(std::fabs(x)));
    return x < 0 && magnitude != "0" ? "-" + magnitude : magnitude;
}

bool is_general_name(std::string_view pattern) {
    return pattern.empty() || is_name(pattern, "general") || is_name(pattern, "general number");
}

Rendered render_number(std::string_view pattern, double x, const Style& style) {
    return render_with(pattern, x, style);
}

Rendered render_integer(std::string_view pattern, int64_t x, const Style& style) {
    const auto c = compiled(pattern, style.dialect);
    Value v;
    const uint64_t magnitude = x < 0 ? uint64_t{0} - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
    v.magnitude = decimal_of(magnitude);
    v.negative = x < 0;
    v.zero = x == 0;
    v.approx = static_cast<double>(magnitude);
    return render_value(*c, v, style);
}

Rendered render_text(std::string_view pattern, std::string_view text, const Style& style) {
    const auto c = compiled(pattern, style.dialect);
    if (!c->error.empty()) return std::unexpected(Failure{false, c->error});
    const auto& s = c->sections;
    if (s.size() == 4) return render_text_section(s[3], text);
    if (!s.empty() && s[0].kind == SectionKind::Text) return render_text_section(s[0], text);
    return std::string(text);
}

}  // namespace morvane::numfmt
