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

TEST(ValuesNum, DivisionRulesDeclineWithTheVariantMessage) {
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
