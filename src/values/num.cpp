// The general numeric rule behind num_arith: Integer arithmetic while it is
// exact, else the floating-point rule.
#include "values/num.h"

#include "values/values.h"

namespace morvane::vm {

namespace {

bool exact(int64_t x) { return x >= -k2p53 && x <= k2p53; }

// Integers up to 2^53 are exact doubles, and so is any sum, difference or
// product of them that stays within 2^53: the float rule then yields the
// same Integer. False leaves the case to the float rule.
bool int_arith(BinOp op, int64_t a, int64_t b, int64_t& r) {
    if (!exact(a) || !exact(b)) return false;
    switch (op) {
        case BinOp::Add: r = a + b; break;
        case BinOp::Sub: r = a - b; break;
        case BinOp::Mul:
            if (__builtin_mul_overflow(a, b, &r)) return false;
            break;
        case BinOp::Mod:
            if (b == 0) return false;
            r = a % b;
            return true;
        case BinOp::IntDiv:
            if (b == 0) return false;
            r = a / b;
            return true;
        default: return false;
    }
    return exact(r);
}

}  // namespace

bool num_arith_general(BinOp op, const Num& a, const Num& c, Num& out) {
    if (a.is_int && c.is_int && int_arith(op, a.i, c.i, out.i)) {
        out.is_int = true;
        return true;
    }
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
            int64_t p = round_even_saturate(x), q = round_even_saturate(y);
            if (q == 0 || (p == INT64_MIN && q == -1)) return false;
            out = {true, op == BinOp::Mod ? p % q : p / q, 0};
            return true;
        }
        default: return false;
    }
    out = num_of_double(r);
    return true;
}

}  // namespace morvane::vm
