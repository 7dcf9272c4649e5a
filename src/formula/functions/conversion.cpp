// Number and text conversion: TEXT (a number through a small format
// language), VALUE and NUMBERVALUE (a number read from text) and VALUETOTEXT.
//
// TEXT knows four cases, tested in this order: a format ending in "%"
// (percent), one holding "yy" or "dd" in any case (a date), one holding a
// "." (fixed decimals, as many as characters follow the point), and the
// rest (no decimals). Numbers are rounded half away from zero on their
// decimal value (15 significant digits, as the cell shows them), and a
// comma between the digit placeholders before the point groups thousands.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/text_chars.h"
#include "types/address.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kCannotRead = "VALUE: cannot convert '{}' to number";

// ---- Numbers with a fixed count of decimals ------------------------------

// A positive finite number as decimal digits and the place of the point:
// value = 0.digits x 10^point, with 15 significant digits.
struct Decimal {
    std::string digits;
    int64_t point = 0;
};

Decimal decimal_of(double a) {
    if (a == 0) return {"0", 1};
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14);
    std::string_view s(buf, static_cast<size_t>(res.ptr - buf));  // d.dddddddddddddde[+-]x
    const size_t e = s.find('e');
    int exponent = 0;
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
    Decimal out;
    out.digits.push_back(s[0]);
    out.digits.append(s.substr(2, e - 2));
    out.point = exponent + 1;
    return out;
}

// Keeps `keep` digits, rounding half away from zero on the digit after them.
void round_digits(Decimal& d, int64_t keep) {
    if (keep >= static_cast<int64_t>(d.digits.size())) return;
    const bool up = keep >= 0 && d.digits[static_cast<size_t>(keep)] >= '5';
    d.digits.resize(static_cast<size_t>(std::max<int64_t>(keep, 0)));
    if (!up) return;
    size_t i = d.digits.size();
    while (i > 0 && d.digits[i - 1] == '9') d.digits[--i] = '0';
    if (i > 0) {
        ++d.digits[i - 1];
    } else {
        d.digits.insert(d.digits.begin(), '1');
        ++d.point;
    }
}

void group_thousands(std::string& whole) {
    for (size_t i = whole.size(); i > 3; i -= 3) whole.insert(i - 3, 1, ',');
}

// `x` with exactly `decimals` digits after the point (none for 0).
std::string fixed_text(double x, size_t decimals, bool grouped) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
    Decimal d = decimal_of(std::fabs(x));
    round_digits(d, d.point + static_cast<int64_t>(decimals));
    auto digit_at = [&](int64_t i) {
        return i >= 0 && i < static_cast<int64_t>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0';
    };
    std::string whole(d.point > 0 ? 0 : 1, '0');
    for (int64_t i = 0; i < d.point; ++i) whole.push_back(digit_at(i));
    if (grouped) group_thousands(whole);
    std::string out = x < 0 ? "-" + whole : whole;
    if (decimals > 0) {
        out.push_back('.');
        for (size_t i = 0; i < decimals; ++i) out.push_back(digit_at(d.point + static_cast<int64_t>(i)));
    }
    return out;
}

// The characters between the first "." and the next "." or the end count
// the decimals; a format without "." has none.
size_t decimals_of(std::string_view format) {
    const size_t dot = format.find('.');
    if (dot == std::string_view::npos) return 0;
    const size_t next = format.find('.', dot + 1);
    return (next == std::string_view::npos ? format.size() : next) - dot - 1;
}

// "#,##0" groups; a comma after the last placeholder ("0,") does not.
bool groups_thousands(std::string_view format) {
    const std::string_view whole = format.substr(0, format.find('.'));
    const size_t comma = whole.find(',');
    return comma != std::string_view::npos && whole.find_first_of("0#", comma) != std::string_view::npos;
}

Result<Variant> number_text(double x, std::string_view format, std::string_view suffix, const EvalCtx& ctx) {
    const size_t decimals = decimals_of(format);
    if (decimals > kMaxTextChars) return Variant(ExcelError::Value);
    return built_text(fixed_text(x, decimals, groups_thousands(format)) + std::string(suffix), ctx);
}

// ---- Dates ---------------------------------------------------------------

void append_padded(std::string& out, int64_t n, size_t width) {
    if (n < 0) out.push_back('-');
    std::string digits = std::to_string(n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n));
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
}

std::string padded(int64_t n, size_t width) {
    std::string out;
    append_padded(out, n, width);
    return out;
}

void replace_every(std::string& s, std::string_view code, std::string_view with) {
    for (size_t at = s.find(code); at != std::string::npos; at = s.find(code, at + with.size()))
        s.replace(at, code.size(), with);
}

// Only the codes written all upper or all lower case change ("mm" is
// always the month); everything else in the format stays as written.
Result<Variant> date_text(double x, std::string format, const EvalCtx& ctx) {
    const int64_t serial = saturate_i64(x);
    if (serial < 0) return Variant(ExcelError::Value);  // before the first day of the calendar
    const morvane_types::Ymd d = morvane_types::serial_to_ymd(serial);
    const std::string year = padded(d.year, 4), yy = padded((d.year % 100 + 100) % 100, 2);
    const std::string month = padded(d.month, 2), day = padded(d.day, 2);
    replace_every(format, "YYYY", year);
    replace_every(format, "yyyy", year);
    replace_every(format, "YY", yy);
    replace_every(format, "yy", yy);
    replace_every(format, "MM", month);
    replace_every(format, "mm", month);
    replace_every(format, "DD", day);
    replace_every(format, "dd", day);
    return built_text(std::move(format), ctx);
}

// ---- Reading numbers -----------------------------------------------------

// `s` with every occurrence of `piece`, left to right, replaced by `with`.
std::string replaced(std::string_view s, std::string_view piece, std::string_view with) {
    std::string out;
    out.reserve(s.size());
    size_t from = 0;
    for (size_t at = s.find(piece); at != std::string_view::npos; at = s.find(piece, from)) {
        out.append(s.substr(from, at - from)).append(with);
        from = at + piece.size();
    }
    out.append(s.substr(from));
    return out;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    out.push_back('"');
    return out;
}

}  // namespace

Result<Variant> func_text(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TEXT", args.size(), 2, 2));
    const double x = TRY(arg_number(args[0], ctx));
    std::string format = TRY(arg_text(args[1], ctx));
    if (!format.empty() && format.back() == '%') {
        const size_t end = format.find_last_not_of('%');
        return number_text(x * 100, std::string_view(format).substr(0, end + 1), "%", ctx);
    }
    const std::string upper = text::to_upper(format);
    if (upper.find("YY") != std::string::npos || upper.find("DD") != std::string::npos)
        return date_text(x, std::move(format), ctx);
    return number_text(x, format, "", ctx);
}

// Thousands commas are dropped and surrounding white space ignored.
Result<Variant> func_value(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("VALUE", args.size(), 1, 1));
    const std::string s = TRY(arg_text(args[0], ctx));
    const auto x = text_to_number(replaced(text::trim(s), ",", ""));
    if (!x) return fail(format_message(kCannotRead, s));
    return number_variant(*x);
}

// A decimal comma alone brings the point as group separator ("2,5" with ","
// reads 2.5), as the two always go together.
Result<Variant> func_numbervalue(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NUMBERVALUE", args.size(), 1, 3));
    const std::string s = TRY(arg_text(args[0], ctx));
    std::string decimal = ".";
    if (args.size() > 1) decimal = TRY(arg_text(args[1], ctx));
    std::string group = decimal == "," ? "." : ",";
    if (args.size() > 2) group = TRY(arg_text(args[2], ctx));
    if (decimal.empty() || decimal == group) return Variant(ExcelError::Value);
    if (text::trim(s).empty()) return Variant(int64_t{0});
    const std::string plain = group.empty() ? s : replaced(s, group, "");
    const auto x = text_to_number(replaced(plain, decimal, "."));
    if (!x) return Variant(ExcelError::Value);
    return number_variant(*x);
}

// Strict format (1) quotes a text and doubles the quotes inside it.
Result<Variant> func_valuetotext(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("VALUETOTEXT", args.size(), 1, kNoMax));
    const Variant v = TRY(evaluate(args[0], ctx));
    const bool strict = args.size() > 1 && saturate_i32(TRY(arg_number(args[1], ctx))) == 1;
    if (strict && v.is_str()) return built_text(quoted(v.as_str()), ctx);
    return Variant(to_str(v));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"NUMBERVALUE", func_numbervalue},
    {"TEXT", func_text},
    {"VALUE", func_value},
    {"VALUETOTEXT", func_valuetotext},
};
}  // namespace

std::span<const FuncEntry> conversion_functions() { return kTable; }

}  // namespace morvane::eval
