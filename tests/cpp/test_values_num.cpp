// The numeric rules on plain numbers (values/num.h) against the Variant rules
// (values/values.h): wherever a numeric rule gives a result it is the value
// eval_binop gives; where it declines, eval_binop has a message or a value
// the numeric rule leaves to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "values/num.h"
#include "values/values.h"

using namespace morvane;

namespace {

const std::vector<vm::Num>& operands() {
    static const std::vector<vm::Num> table = {
        {true, 0, 0},         {true, 1, 0},          {true, -1, 0},
        {true, 7, 0},         {true, -7, 0},         {true, 2, 0},
        {true, vm::k2p53, 0}, {true, -vm::k2p53, 0}, {true, vm::k2p53 + 1, 0},
        {true, INT64_MAX, 0}, {true, INT64_MIN, 0},  {false, 0, 0.0},
        {false, 0, 2.5},      {false, 0, -2.5},      {false, 0, 0.5},
        {false, 0, 1e300},    {false, 0, NAN},       {false, 0, INFINITY},
    };
    return table;
}

std::string text(const vm::Num& n) { return n.is_int ? std::to_string(n.i) : std::to_string(n.d); }

// Same kind and same value; NaN matches NaN.
bool same(const Variant& a, const Variant& b) {
    if (a.kind() != b.kind()) return false;
    if (a.is_float() && std::isnan(a.as_float())) return std::isnan(b.as_float());
    return a == b;
}

}  // namespace

TEST(ValuesNum, ArithmeticAgreesWithTheVariantRule) {
    const BinOp ops[] = {BinOp::Add, BinOp::Sub, BinOp::Mul, BinOp::Div, BinOp::IntDiv, BinOp::Mod, BinOp::Pow};
    for (BinOp op : ops) {
        for (const vm::Num& a : operands()) {
            for (const vm::Num& c : operands()) {
                vm::Num n;
                if (!vm::num_arith(op, a, c, n)) continue;
                auto want = vm::eval_binop(op, vm::num_variant(a), vm::num_variant(c));
                ASSERT_TRUE(want) << static_cast<int>(op) << " " << text(a) << " " << text(c) << ": " << want.error();
                EXPECT_TRUE(same(vm::num_variant(n), *want))
                    << static_cast<int>(op) << " " << text(a) << " " << text(c) << ": " << text(n);
            }
        }
    }
}

TEST(ValuesNum, RulesDeclineWithTheVariantMessage) {
    struct Case {
        BinOp op;
        vm::Num a, c;
        const char* message;
    };
    const Case cases[] = {
        {BinOp::Div, {true, 1, 0}, {true, 0, 0}, "Division by zero"},
        {BinOp::Mod, {true, 5, 0}, {false, 0, 0.4}, "Division by zero"},
        {BinOp::IntDiv, {true, 5, 0}, {true, 0, 0}, "Division by zero"},
        {BinOp::IntDiv, {true, INT64_MIN, 0}, {true, -1, 0}, "Integer division overflow"},
        {BinOp::Mod, {true, INT64_MIN, 0}, {true, -1, 0}, "Integer division overflow"},
        {BinOp::Pow, {true, 10, 0}, {true, 309, 0}, "Overflow"},
        {BinOp::Pow, {false, 0, 1e200}, {false, 0, 2.0}, "Overflow"},
        {BinOp::Pow, {true, 0, 0}, {true, -2, 0}, "Invalid procedure call or argument"},
        {BinOp::Pow, {true, -8, 0}, {false, 0, 0.5}, "Invalid procedure call or argument"},
    };
    for (const Case& k : cases) {
        vm::Num n;
        EXPECT_FALSE(vm::num_arith(k.op, k.a, k.c, n)) << k.message;
        auto r = vm::eval_binop(k.op, vm::num_variant(k.a), vm::num_variant(k.c));
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), k.message);
    }
}

TEST(ValuesNum, ComparisonAgreesWithTheVariantRule) {
    const BinOp ops[] = {BinOp::Eq, BinOp::Ne, BinOp::Lt, BinOp::Le, BinOp::Gt, BinOp::Ge};
    for (BinOp op : ops) {
        for (const vm::Num& a : operands()) {
            for (const vm::Num& c : operands()) {
                bool t;
                auto want = vm::eval_binop(op, vm::num_variant(a), vm::num_variant(c));
                if (!vm::num_compare(op, a, c, t)) {
                    // Only an ordering with NaN declines, and the Variant rule fails it.
                    EXPECT_FALSE(want) << static_cast<int>(op) << " " << text(a) << " " << text(c);
                    continue;
                }
                ASSERT_TRUE(want) << want.error();
                EXPECT_EQ(Variant(t), *want) << static_cast<int>(op) << " " << text(a) << " " << text(c);
                bool i;
                if (a.is_int && c.is_int && vm::int_compare(op, a.i, c.i, i)) {
                    EXPECT_EQ(i, t);
                }
            }
        }
    }
}

// Mod and the backslash by multiplication give what the division gives,
// at the edges of the divisors and dividends it takes.
TEST(ValuesNum, MagicDivisionAgreesWithDivision) {
    const int64_t divisors[] = {2, 3, 5, 7, 10, 60, 641, 65536, 1000003, 1 << 30, INT32_MAX - 1, INT32_MAX};
    std::vector<int64_t> dividends = {0,
                                      1,
                                      2,
                                      3,
                                      INT32_MAX,
                                      INT32_MIN,
                                      UINT32_MAX,
                                      -int64_t{UINT32_MAX},
                                      4294967294,
                                      int64_t{1} << 31,
                                      12345678901 % UINT32_MAX};
    for (int64_t i = -1000; i <= 1000; ++i) dividends.push_back(i);
    for (int64_t d : divisors) {
        ASSERT_TRUE(vm::is_magic_divisor(d));
        const uint64_t magic = vm::divisor_magic(d);
        std::vector<int64_t> near = dividends;
        for (int64_t k : {int64_t{1}, int64_t{2}, int64_t{1000}, UINT32_MAX / d})
            for (int64_t delta : {-1, 0, 1}) near.push_back(k * d + delta), near.push_back(-(k * d + delta));
        for (int64_t a : near) {
            if (a > UINT32_MAX || a < -int64_t{UINT32_MAX}) continue;
            for (BinOp op : {BinOp::Mod, BinOp::IntDiv}) {
                int64_t got = 0, want = 0;
                ASSERT_TRUE(vm::magic_div_mod(op, a, d, magic, got)) << a << " " << d;
                ASSERT_EQ(vm::int_div_mod(op, a, d, want), vm::IntDivResult::Ok);
                EXPECT_EQ(got, want) << static_cast<int>(op) << " " << a << " " << d;
            }
            bool fits = false;
            const bool divides = vm::magic_divides(a, magic, fits);
            EXPECT_TRUE(fits);
            EXPECT_EQ(divides, a % d == 0) << a << " " << d;
        }
    }
    int64_t r;
    EXPECT_FALSE(vm::magic_div_mod(BinOp::Mod, int64_t{UINT32_MAX} + 1, 3, vm::divisor_magic(3), r));
    EXPECT_FALSE(vm::magic_div_mod(BinOp::Mod, -int64_t{UINT32_MAX} - 1, 3, vm::divisor_magic(3), r));
    bool fits = true;
    vm::magic_divides(int64_t{UINT32_MAX} + 1, vm::divisor_magic(3), fits);
    EXPECT_FALSE(fits);
    EXPECT_FALSE(vm::is_magic_divisor(1));
    EXPECT_FALSE(vm::is_magic_divisor(int64_t{INT32_MAX} + 1));
}
