#include "values/values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "formula/number_text.h"
#include "types/text.h"
#include "types/typed_input.h"
#include "values/num.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kUnknownOperator = "Unknown operator";
constexpr std::string_view kBadCellIndex = "Cell {} must be a positive integer, got {}";

// Day serials VBA's Date holds: 100-01-01 to 9999-12-31.
constexpr double kFirstDate = -657434.0;
constexpr double kLastDate = 2958466.0;  // exclusive

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// &H and &O texts: the value of the digits, as a 16-bit Integer when it
// fits 16 bits and a 32-bit Long when it fits 32, both two's complement.
std::optional<double> read_radix(std::string_view digits, int radix) {
    if (digits.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : digits) {
        int d = is_digit(c) ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : 99;
        if (d >= radix) return std::nullopt;
        v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    if (v <= 0xFFFF) return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v)));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
}

// A Date from a number of days, or Overflow past the years 100 to 9999.
Result<Variant> date_variant(double days) {
    if (!(days >= kFirstDate && days < kLastDate)) return fail(std::string(kOverflow));
    return Variant(date_of_value(days));
}

// + and - with a Date: a Date moved by a number of days; Date - Date is the
// number of days between them. A whole number of days leaves the time of
// day exactly as it was.
Result<Variant> date_arithmetic(BinOp op, const Variant& lhs, const Variant& rhs) {
    const double a = TRY(to_f64(lhs));
    const double b = TRY(to_f64(rhs));
    if (op == BinOp::Sub && lhs.is_date() && rhs.is_date()) return number_variant(a - b);
    // Date + n, n + Date and Date - n move the Date by n days.
    if (lhs.is_date() != rhs.is_date() && !(op == BinOp::Sub && rhs.is_date())) {
        const double by = lhs.is_date() ? (op == BinOp::Sub ? -b : b) : a;
        if (by == std::trunc(by) && std::fabs(by) < kLastDate - kFirstDate) {
            Date d = (lhs.is_date() ? lhs : rhs).as_date();
            d.serial += static_cast<int64_t>(by);
            const auto day = static_cast<double>(d.serial);
            if (!(day >= kFirstDate && day < kLastDate)) return fail(std::string(kOverflow));
            return Variant(d);
        }
    }
    return date_variant(op == BinOp::Sub ? a - b : a + b);
}

// A text operand of And, Or, Xor and Not as CBool reads it: "True" and
// "False" are Booleans, a number stays a number, anything else fails.
Result<Variant> logical_operand(const Variant& v) {
    if (!v.is_str()) return v;
    const std::string word = text::to_lower(text::trim(v.as_str()));
    if (word == "true") return Variant(true);
    if (word == "false") return Variant(false);
    if (auto x = read_vba_number(v.as_str())) return number_variant(*x);
    return fail(std::string(kTypeMismatch));
}

// The text a value contributes when ordering falls back to texts.
std::string cmp_text(const Variant& v) { return v.is_str() ? v.as_str() : v.debug_text(); }

// Whether the ordering `o` satisfies the comparison operator `op`.
bool holds(BinOp op, Ordering o) {
    switch (op) {
        case BinOp::Eq: return o == Ordering::Equal;
        case BinOp::Ne: return o != Ordering::Equal;
        case BinOp::Lt: return o == Ordering::Less;
        case BinOp::Le: return o != Ordering::Greater;
        case BinOp::Gt: return o == Ordering::Greater;
        default: return o != Ordering::Less;
    }
}

Result<Variant> arithmetic(BinOp op, double a, double b) {
    double r;
    switch (op) {
        case BinOp::Add: r = a + b; break;
        case BinOp::Sub: r = a - b; break;
        case BinOp::Mul: r = a * b; break;
        case BinOp::Div:
            if (b == 0) return fail(std::string(kDivisionByZero));
            r = a / b;
            break;
        default: r = std::pow(a, b); break;
    }
    if (op == BinOp::Pow && !std::isfinite(r) && std::isfinite(a) && std::isfinite(b)) {
        // Zero to a negative power and a negative base to a fractional one
        // have no value; any other power past the Double range overflows.
        return fail(std::string(std::isnan(r) || a == 0 ? kInvalidCall : kOverflow));
    }
    // `/` gives a Double even when the quotient is whole.
    if (op == BinOp::Div) return Variant(r);
    return number_variant(r);
}

Result<Variant> integer_division(BinOp op, const Variant& lhs, const Variant& rhs) {
    int64_t a = round_even_saturate(TRY(to_f64(lhs)));
    int64_t b = round_even_saturate(TRY(to_f64(rhs)));
    int64_t r;
    switch (int_div_mod(op, a, b, r)) {
        case IntDivResult::ByZero: return fail(std::string(kDivisionByZero));
        case IntDivResult::Overflow: return fail(std::string(kIntDivOverflow));
        default: return Variant(r);
    }
}

Result<Variant> logical(BinOp op, const Variant& left, const Variant& right) {
    const Variant lhs = TRY(logical_operand(left));
    const Variant rhs = TRY(logical_operand(right));
    if (lhs.is_bool() && rhs.is_bool()) {
        bool a = lhs.as_bool(), b = rhs.as_bool();
        return Variant(op == BinOp::And ? (a && b) : op == BinOp::Or ? (a || b) : (a != b));
    }
    int64_t a = TRY(to_i64_bitwise(lhs));
    int64_t b = TRY(to_i64_bitwise(rhs));
    return Variant(op == BinOp::And ? (a & b) : op == BinOp::Or ? (a | b) : (a ^ b));
}

Result<Variant> concat(Variant lhs, const Variant& rhs) {
    if (!lhs.is_str()) lhs = Variant(vba_display_text(lhs));
    TRY_VOID(append_display_text(lhs.as_str(), rhs));
    return lhs;
}

}  // namespace

Result<void> append_text(std::string& text, std::string_view tail) {
    if (tail.size() > kMaxTextLen - std::min(text.size(), kMaxTextLen)) return fail(std::string(kOutOfStringSpace));
    text += tail;
    return {};
}

Result<void> append_display_text(std::string& text, const Variant& v) {
    if (v.is_str()) return append_text(text, v.as_str());
    if (v.is_int()) {
        IntText buf;
        return append_text(text, int_text(v.as_int(), buf));
    }
    return append_text(text, vba_display_text(v));
}

std::string_view int_text(int64_t n, IntText& buf) {
    const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), n).ptr;
    return {buf.data(), static_cast<size_t>(end - buf.data())};
}

std::optional<double> read_vba_number(std::string_view s) {
    std::string_view t = text::trim(s);
    if (t.size() > 2 && t[0] == '&' && (t[1] | 0x20) == 'h') return read_radix(t.substr(2), 16);
    if (t.size() > 2 && t[0] == '&' && (t[1] | 0x20) == 'o') return read_radix(t.substr(2), 8);
    bool negative = false;
    if (t.size() > 2 && t.front() == '(' && t.back() == ')') {
        negative = true;
        t = t.substr(1, t.size() - 2);
    }
    // A sign and a currency sign, in either order.
    std::string canon;
    bool sign = false, currency = false;
    while (!t.empty() && ((!sign && (t[0] == '+' || t[0] == '-')) || (!currency && t[0] == '$'))) {
        if (t[0] == '$') {
            currency = true;
        } else {
            sign = true;
            if (t[0] == '-') negative = !negative;
        }
        t.remove_prefix(1);
    }
    if (negative) canon.push_back('-');
    // Thousands separators between the digits of the whole part.
    size_t i = 0;
    for (; i < t.size() && (is_digit(t[i]) || t[i] == ','); ++i) {
        if (t[i] != ',') {
            canon.push_back(t[i]);
            continue;
        }
        if (i == 0 || i + 1 >= t.size() || !is_digit(t[i + 1])) return std::nullopt;
    }
    const std::string_view rest = t.substr(i);
    // The rest is a point and an exponent; no words such as inf or nan.
    if (!rest.empty() && rest[0] != '.' && (rest[0] | 0x20) != 'e') return std::nullopt;
    canon.append(rest);
    auto x = text_to_number(canon);
    if (!x || !std::isfinite(*x)) return std::nullopt;
    return x;
}

std::string vba_display_text(const Variant& v) { return text_with_floats(v, vba_float_text); }

std::string vba_float_text(double x) { return eval::number_text_15(x, eval::SmallNumbers::Scientific); }

Result<double> to_f64(const Variant& v) {
    if (!v.is_str()) return to_number(v, kCannotConvert);
    if (auto x = read_vba_number(v.as_str())) return *x;
    return fail(format_message(kCannotConvert, v.as_str()));
}

std::string vba_to_str(const Variant& v) {
    switch (v.kind()) {
        case Kind::Float: return vba_float_text(v.as_float());
        case Kind::Array: return join_texts(v.as_array(), vba_to_str);
        case Kind::Record: return "[Record]";
        default: return v.to_string();
    }
}

bool vba_eq(const Variant& a, const Variant& b) {
    if (a.is_empty() || b.is_empty()) {
        const Variant& other = a.is_empty() ? b : a;
        switch (other.kind()) {
            case Kind::Empty: return true;
            case Kind::Str: return other.as_str().empty();
            case Kind::Boolean: return !other.as_bool();
            case Kind::Integer:
            case Kind::Float:
            case Kind::Date: return numeric_value(other) == 0;
            default: return false;
        }
    }
    if (a.is_str() != b.is_str() && is_numeric_kind(a.is_str() ? b : a)) {
        auto x = read_vba_number(a.is_str() ? a.as_str() : b.as_str());
        return x && *x == numeric_value(a.is_str() ? b : a);
    }
    return equal_without_conversion(
        a, b, [](std::string_view x, std::string_view y) { return text::compare_upper(x, y) == 0; });
}

Result<Ordering> vba_cmp(const Variant& a, const Variant& b) {
    if (a.is_str() && b.is_str()) return order_of(text::compare_upper(a.as_str(), b.as_str()));
    // A blank against a text is the empty text.
    if (a.is_empty() && b.is_str()) return b.as_str().empty() ? Ordering::Equal : Ordering::Less;
    if (b.is_empty() && a.is_str()) return a.as_str().empty() ? Ordering::Equal : Ordering::Greater;
    auto x = to_f64(a);
    auto y = to_f64(b);
    if (x && y) {
        if (std::isnan(*x) || std::isnan(*y)) return fail(std::string(kCompareNaN));
        return order_values(*x, *y);
    }
    return order_of(text::compare_upper(cmp_text(a), cmp_text(b)));
}

Ordering cmp_variants(const Variant& a, const Variant& b) {
    if (a.is_empty()) return b.is_empty() ? Ordering::Equal : Ordering::Less;
    if (b.is_empty()) return Ordering::Greater;
    if (a.is_int() && b.is_int()) return order_values(a.as_int(), b.as_int());
    if (a.is_number() && b.is_number()) {
        double x = a.is_int() ? static_cast<double>(a.as_int()) : a.as_float();
        double y = b.is_int() ? static_cast<double>(b.as_int()) : b.as_float();
        return order_values(x, y);  // NaN counts as equal to everything
    }
    if (a.is_str() && b.is_str()) return order_of(text::compare_lower(a.as_str(), b.as_str()));
    return order_of(text::compare_lower(vba_to_str(a), vba_to_str(b)));
}

Result<bool> is_truthy(const Variant& v) {
    if (!v.is_str()) return truth_of(v);
    const Variant b = TRY(logical_operand(v));
    return b.is_bool() ? b.as_bool() : truth_of(b);
}

Result<Variant> eval_not(Variant v) {
    v = TRY(logical_operand(v));
    if (v.is_bool()) return Variant(!v.as_bool());
    return Variant(~TRY(to_i64_bitwise(v)));
}

Variant entered_value(Variant v) {
    if (!v.is_str()) return v;
    if (auto typed = typed_value(v.as_str())) return std::move(*typed);
    return v;
}

int64_t round_even_saturate(double x) {
    if (std::isnan(x)) return 0;
    // Ties to even; the saturation guards the cast against out-of-range values.
    return saturate_i64(std::nearbyint(x));
}

Result<int64_t> to_i64_bitwise(const Variant& v) {
    if (v.is_bool()) return v.as_bool() ? int64_t{-1} : int64_t{0};
    return round_even_saturate(TRY(to_f64(v)));
}

Result<Variant> eval_binop(BinOp op, Variant lhs, Variant rhs) {
    if ((op == BinOp::Add || op == BinOp::Sub) && (lhs.is_date() || rhs.is_date()))
        return date_arithmetic(op, lhs, rhs);
    switch (op) {
        case BinOp::Add:
            // Two texts join, as VBA does; text with a number still adds.
            if (lhs.is_str() && rhs.is_str()) return concat(std::move(lhs), rhs);
            [[fallthrough]];
        case BinOp::Sub:
        case BinOp::Mul:
        case BinOp::Div:
        case BinOp::Pow: {
            double a = TRY(to_f64(lhs));
            double b = TRY(to_f64(rhs));
            return arithmetic(op, a, b);
        }
        case BinOp::Mod:
        case BinOp::IntDiv: return integer_division(op, lhs, rhs);
        case BinOp::Eq:
        case BinOp::Ne:
        case BinOp::Lt:
        case BinOp::Le:
        case BinOp::Gt:
        case BinOp::Ge: return Variant(TRY(compare_values(op, lhs, rhs)));
        case BinOp::Concat: return concat(std::move(lhs), rhs);
        case BinOp::And:
        case BinOp::Or:
        case BinOp::Xor: return logical(op, lhs, rhs);
    }
    return fail(std::string(kUnknownOperator));
}

Result<bool> compare_values(BinOp op, const Variant& a, const Variant& b) {
    // Two texts, the commonest pair, by one case-blind comparison for every
    // operator: what vba_eq and vba_cmp do with them.
    if (a.is_str() && b.is_str()) {
        const int c = text::compare_upper(a.as_str(), b.as_str());
        return holds(op, order_of(c));
    }
    if (op == BinOp::Eq) return vba_eq(a, b);
    if (op == BinOp::Ne) return !vba_eq(a, b);
    return holds(op, TRY(vba_cmp(a, b)));
}

Result<uint32_t> to_cell_index(const Variant& v, std::string_view label) {
    if (v.is_int() && v.as_int() >= 1) return static_cast<uint32_t>(std::min<int64_t>(v.as_int(), UINT32_MAX));
    double x = TRY(to_f64(v));
    if (!(x >= 1) || x - std::trunc(x) != 0) return fail(format_message(kBadCellIndex, label, number_to_text(x)));
    return saturate_u32(x);
}

}  // namespace morvane::vm
