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

// Arithmetic on two numbers; false leaves the case (division by zero,
// Mod of the smallest Integer by -1) to the Variant rules.
bool num_arith_general(BinOp op, const Num& a, const Num& c, Num& out);

inline bool num_arith(BinOp op, const Num& a, const Num& c, Num& out) {
    // Sums and differences of Integers within 2^53 are exact doubles, so
    // the float rule would give the same Integer.
    if (a.is_int && c.is_int && (op == BinOp::Add || op == BinOp::Sub) && a.i >= -k2p53 && a.i <= k2p53 &&
        c.i >= -k2p53 && c.i <= k2p53) {
        const int64_t r = op == BinOp::Add ? a.i + c.i : a.i - c.i;
        if (r >= -k2p53 && r <= k2p53) {
            out.is_int = true;
            out.i = r;
            return true;
        }
    }
    return num_arith_general(op, a, c, out);
}

// A comparison of two numbers; false for an ordering with NaN.
inline bool num_compare(BinOp op, const Num& a, const Num& c, bool& out) {
    if (op == BinOp::Eq || op == BinOp::Ne) {
        bool eq = (a.is_int && c.is_int) ? a.i == c.i : a.as_double() == c.as_double();
        out = (op == BinOp::Eq) == eq;
        return true;
    }
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
    if (auto p = std::get_if<int64_t>(&v)) out = {true, *p, 0};
    else if (auto q = std::get_if<double>(&v)) out = {false, 0, *q};
    else return false;
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
