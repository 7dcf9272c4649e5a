// Numbers as the interpreter's fast paths carry them, without a Variant, and
// the numeric rules on them. Each rule gives exactly what the Variant rules
// of values.h give, or declines (false) and leaves the case to them.
#pragma once

#include <cmath>
#include <cstdint>

#include "parser/ast.h"
#include "types/variant.h"

namespace morvane::vm {

struct Num {
    bool is_int;
    int64_t i;
    double d;
    double as_double() const { return is_int ? static_cast<double>(i) : d; }
};

// Integers within 2^53 are exact doubles.
inline constexpr int64_t k2p53 = int64_t{1} << 53;

inline bool is_comparison(BinOp op) { return op >= BinOp::Eq && op <= BinOp::Ge; }
inline bool is_arithmetic(BinOp op) { return op <= BinOp::Pow; }

// Integers within 2^53 are exact doubles.
inline bool is_exact(int64_t x) { return x >= -k2p53 && x <= k2p53; }

// How Mod and the backslash end on two whole operands.
enum class IntDivResult : uint8_t { Ok, ByZero, Overflow };

// Mod (the remainder takes the dividend's sign) and the backslash
// (truncating) on operands already rounded to whole numbers.
[[gnu::always_inline]] inline IntDivResult int_div_mod(BinOp op, int64_t a, int64_t c, int64_t& r) {
    if (c == 0) return IntDivResult::ByZero;
    if (a == INT64_MIN && c == -1) return IntDivResult::Overflow;
    // The 32-bit division is several times quicker on many processors and
    // gives the same quotient and remainder when both operands fit it (a
    // positive divisor rules out the one overflow, INT32_MIN / -1).
    if (a >= INT32_MIN && a <= INT32_MAX && c > 0 && c <= INT32_MAX) {
        const auto a32 = static_cast<int32_t>(a), c32 = static_cast<int32_t>(c);
        r = op == BinOp::Mod ? a32 % c32 : a32 / c32;
        return IntDivResult::Ok;
    }
    r = op == BinOp::Mod ? a % c : a / c;
    return IntDivResult::Ok;
}

// Mod and the backslash by a fixed divisor d in [2, 2^31) as multiplications
// (division takes tens of cycles): `magic` is ceil(2^64 / d), which gives
// the exact quotient and remainder of every dividend below 2^32 in
// magnitude. A loop's `i Mod 3` pays for the magic once, when compiled.
inline bool is_magic_divisor(int64_t d) { return d >= 2 && d <= INT32_MAX; }
inline uint64_t divisor_magic(int64_t d) { return UINT64_MAX / static_cast<uint64_t>(d) + 1; }

// What int_div_mod gives for `a` and a divisor with its magic; false when
// `a` is too large for the magic.
[[gnu::always_inline]] inline bool magic_div_mod(BinOp op, int64_t a, int64_t d, uint64_t magic, int64_t& r) {
    const uint64_t u = a < 0 ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
    if (u > UINT32_MAX) return false;
    uint64_t q;
    if (op == BinOp::Mod)
        q = static_cast<uint64_t>((static_cast<unsigned __int128>(magic * u) * static_cast<uint64_t>(d)) >> 64);
    else
        q = static_cast<uint64_t>((static_cast<unsigned __int128>(magic) * u) >> 64);
    // Both truncate toward zero: the sign follows the dividend.
    r = a < 0 ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
    return true;
}

// Whether the divisor with this magic divides `a` (a Mod d = 0), with one
// multiplication; false in `fits` when `a` is too large for the magic.
[[gnu::always_inline]] inline bool magic_divides(int64_t a, uint64_t magic, bool& fits) {
    const uint64_t u = a < 0 ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
    fits = u <= UINT32_MAX;
    return u * magic <= magic - 1;
}

// Integer arithmetic within 2^53, where every value is an exact double and
// so the floating-point rule gives the same Integer; false otherwise.
[[gnu::always_inline]] inline bool int_arith(BinOp op, int64_t a, int64_t c, int64_t& r) {
    if (!is_exact(a) || !is_exact(c)) return false;
    switch (op) {
        case BinOp::Add: r = a + c; break;
        case BinOp::Sub: r = a - c; break;
        case BinOp::Mul:
            if (__builtin_mul_overflow(a, c, &r)) return false;
            break;
        case BinOp::Mod:
        case BinOp::IntDiv: return int_div_mod(op, a, c, r) == IntDivResult::Ok;
        default: return false;
    }
    return is_exact(r);
}

// The floating-point rule behind num_arith; false leaves the case (division
// by zero, Mod of the smallest Integer by -1, a power past the Double
// range) to the Variant rules.
bool num_arith_float(BinOp op, const Num& a, const Num& c, Num& out);

// Arithmetic on two numbers: Integers while exact, else the float rule.
[[gnu::always_inline]] inline bool num_arith(BinOp op, const Num& a, const Num& c, Num& out) {
    int64_t r;
    if (a.is_int && c.is_int && int_arith(op, a.i, c.i, r)) {
        out = {true, r, 0};
        return true;
    }
    return num_arith_float(op, a, c, out);
}

// A comparison of two Integers within 2^53, which order as their doubles
// do; false otherwise.
[[gnu::always_inline]] inline bool int_compare(BinOp op, int64_t i, int64_t j, bool& out) {
    if (!is_exact(i) || !is_exact(j)) return false;
    switch (op) {
        case BinOp::Eq: out = i == j; break;
        case BinOp::Ne: out = i != j; break;
        case BinOp::Lt: out = i < j; break;
        case BinOp::Le: out = i <= j; break;
        case BinOp::Gt: out = i > j; break;
        default: out = i >= j; break;
    }
    return true;
}

// A comparison of two numbers; false for an ordering with NaN.
inline bool num_compare(BinOp op, const Num& a, const Num& c, bool& out) {
    if (op == BinOp::Eq || op == BinOp::Ne) {
        bool eq = (a.is_int && c.is_int) ? a.i == c.i : a.as_double() == c.as_double();
        out = (op == BinOp::Eq) == eq;
        return true;
    }
    if (a.is_int && c.is_int && int_compare(op, a.i, c.i, out)) return true;
    const double x = a.as_double(), y = c.as_double();
    if (std::isnan(x) || std::isnan(y)) return false;
    switch (op) {
        case BinOp::Lt: out = x < y; break;
        case BinOp::Le: out = x <= y; break;
        case BinOp::Gt: out = x > y; break;
        default: out = x >= y; break;
    }
    return true;
}

inline bool num_of(const Variant& v, Num& out) {
    if (auto p = std::get_if<int64_t>(&v))
        out = {true, *p, 0};
    else if (auto q = std::get_if<double>(&v))
        out = {false, 0, *q};
    else
        return false;
    return true;
}

inline Variant num_variant(const Num& n) { return n.is_int ? Variant(n.i) : Variant(n.d); }

// The number_variant rule (whole and within +-2^63 -> Integer, saturated),
// without building a Variant.
inline Num num_of_double(double r) {
    if (r - std::trunc(r) == 0 && std::fabs(r) <= 9223372036854775808.0)
        return {true, r >= 9223372036854775807.0 ? INT64_MAX : static_cast<int64_t>(r), 0};
    return {false, 0, r};
}

}  // namespace morvane::vm
