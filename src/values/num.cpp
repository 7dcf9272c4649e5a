// The floating-point rule behind num_arith, and Mod and the backslash on
// numbers that are not both exact Integers.
#include "values/num.h"

#include <cmath>

#include "values/values.h"

namespace morvane::vm {

bool num_arith_float(BinOp op, const Num& a, const Num& c, Num& out) {
    const double x = a.as_double(), y = c.as_double();
    double r = 0;
    switch (op) {
        case BinOp::Add: r = x + y; break;
        case BinOp::Sub: r = x - y; break;
        case BinOp::Mul: r = x * y; break;
        case BinOp::Div:
            if (y == 0) return false;
            r = x / y;
            break;
        case BinOp::Pow: r = std::pow(x, y); break;
        case BinOp::Mod:
        case BinOp::IntDiv: {
            int64_t q;
            if (int_div_mod(op, round_even_saturate(x), round_even_saturate(y), q) != IntDivResult::Ok) return false;
            out = {true, q, 0};
            return true;
        }
        default: return false;
    }
    // A power past the Double range (or with no value) fails by the Variant rules.
    if (op == BinOp::Pow && !std::isfinite(r) && std::isfinite(x) && std::isfinite(y)) return false;
    out = op == BinOp::Div ? Num{false, 0, r} : num_of_double(r);
    return true;
}

}  // namespace morvane::vm
