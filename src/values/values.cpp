#include "values/values.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "types/text.h"
#include "values/num.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kUnknownOperator = "Unknown operator";
constexpr std::string_view kBadCellIndex = "Cell {} must be a positive integer, got {}";

// The text a value contributes when ordering falls back to texts.
std::string cmp_text(const Variant& v) { return v.is_str() ? v.as_str() : v.debug_text(); }

Result<Variant> arithmetic(BinOp op, double a, double b) {
    switch (op) {
        case BinOp::Add: return number_variant(a + b);
        case BinOp::Sub: return number_variant(a - b);
        case BinOp::Mul: return number_variant(a * b);
        case BinOp::Div:
            if (b == 0) return fail(std::string(kDivisionByZero));
            return number_variant(a / b);
        default: return number_variant(std::pow(a, b));
    }
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

Result<Variant> comparison(BinOp op, const Variant& a, const Variant& b) {
    if (op == BinOp::Eq) return Variant(vba_eq(a, b));
    if (op == BinOp::Ne) return Variant(!vba_eq(a, b));
    Ordering o = TRY(vba_cmp(a, b));
    switch (op) {
        case BinOp::Lt: return Variant(o == Ordering::Less);
        case BinOp::Le: return Variant(o != Ordering::Greater);
        case BinOp::Gt: return Variant(o == Ordering::Greater);
        default: return Variant(o != Ordering::Less);
    }
}

Result<Variant> logical(BinOp op, const Variant& lhs, const Variant& rhs) {
    if (lhs.is_bool() && rhs.is_bool()) {
        bool a = lhs.as_bool(), b = rhs.as_bool();
        return Variant(op == BinOp::And ? (a && b) : op == BinOp::Or ? (a || b) : (a != b));
    }
    int64_t a = TRY(to_i64_bitwise(lhs));
    int64_t b = TRY(to_i64_bitwise(rhs));
    return Variant(op == BinOp::And ? (a & b) : op == BinOp::Or ? (a | b) : (a ^ b));
}

Result<Variant> concat(Variant lhs, const Variant& rhs) {
    std::string out = lhs.is_str() ? std::move(lhs.as_str()) : lhs.to_string();
    if (rhs.is_str())
        TRY_VOID(append_text(out, rhs.as_str()));
    else
        TRY_VOID(append_text(out, rhs.to_string()));
    return Variant(std::move(out));
}

}  // namespace

Result<void> append_text(std::string& text, std::string_view tail) {
    if (tail.size() > kMaxTextLen - std::min(text.size(), kMaxTextLen)) return fail(std::string(kOutOfStringSpace));
    text += tail;
    return {};
}

Result<double> to_f64(const Variant& v) { return to_number(v, kCannotConvert); }

std::string vba_to_str(const Variant& v) {
    switch (v.kind()) {
        case Kind::Array: return join_texts(v.as_array(), vba_to_str);
        case Kind::Record: return "[Record]";
        default: return v.to_string();
    }
}

bool vba_eq(const Variant& a, const Variant& b) {
    return equal_without_conversion(a, b, [](std::string_view x, std::string_view y) {
        return x == y || text::to_upper(x) == text::to_upper(y);
    });
}

Result<Ordering> vba_cmp(const Variant& a, const Variant& b) {
    if (a.is_str() && b.is_str())
        return order_of(text::to_upper(a.as_str()).compare(text::to_upper(b.as_str())));
    auto x = to_f64(a);
    auto y = to_f64(b);
    if (x && y) {
        if (std::isnan(*x) || std::isnan(*y)) return fail(std::string(kCompareNaN));
        return order_values(*x, *y);
    }
    return order_of(text::to_upper(cmp_text(a)).compare(text::to_upper(cmp_text(b))));
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
    if (a.is_str() && b.is_str()) return order_of(text::to_lower(a.as_str()).compare(text::to_lower(b.as_str())));
    return order_of(text::to_lower(vba_to_str(a)).compare(text::to_lower(vba_to_str(b))));
}

bool is_truthy(const Variant& v) { return truth_of(v); }

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
        case BinOp::Ge: return comparison(op, lhs, rhs);
        case BinOp::Concat: return concat(std::move(lhs), rhs);
        case BinOp::And:
        case BinOp::Or:
        case BinOp::Xor: return logical(op, lhs, rhs);
    }
    return fail(std::string(kUnknownOperator));
}

Result<uint32_t> to_cell_index(const Variant& v, std::string_view label) {
    if (v.is_int() && v.as_int() >= 1) return static_cast<uint32_t>(std::min<int64_t>(v.as_int(), UINT32_MAX));
    double x = TRY(to_f64(v));
    if (!(x >= 1) || x - std::trunc(x) != 0)
        return fail(format_message(kBadCellIndex, label, number_to_text(x)));
    return saturate_u32(x);
}

}  // namespace morvane::vm
