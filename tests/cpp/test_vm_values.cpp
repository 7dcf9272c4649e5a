// The interpreter's value rules: numbers, texts, truth, equality, ordering,
// the Sort order and every binary operator, as tables of cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "formula/sort.h"
#include "values/values.h"

using namespace morvane;
using vm::Ordering;

namespace {

Variant I(int64_t v) { return Variant(v); }
Variant F(double v) { return Variant(v); }
Variant S(const char* v) { return Variant(v); }
Variant B(bool v) { return Variant(v); }
Variant D(int64_t serial) { return Variant(Date{serial}); }
Variant E(ExcelError e) { return Variant(e); }
Variant A(Array a) { return Variant(std::move(a)); }
Variant Rec() {
    Record r;
    r.set("x", I(1));
    return Variant(std::move(r));
}

// Same kind and same payload ("1 == 1.0" must not pass).
void expect_same(const Variant& got, const Variant& want, const std::string& what) {
    EXPECT_EQ(got.kind(), want.kind()) << what << ": got " << got.debug_text() << ", want " << want.debug_text();
    if (got.is_float() && want.is_float() && std::isnan(want.as_float())) {
        EXPECT_TRUE(std::isnan(got.as_float())) << what;
        return;
    }
    EXPECT_TRUE(got == want) << what << ": got " << got.debug_text() << ", want " << want.debug_text();
}

}  // namespace

TEST(VmValues, ToF64) {
    // clang-format off
    struct Case { Variant v; double want; };
    const Case cases[] = {
        {I(5), 5}, {F(2.5), 2.5}, {S("12.5"), 12.5}, {S("-1e3"), -1000}, {B(true), 1}, {B(false), 0},
        {D(45000), 45000}, {Variant(), 0}, {Variant(Date{45000, 0.25}), 45000.25},
        // Texts as VBA reads them: blanks, separators, currency, parentheses, &H and &O.
        {S(" 5 "), 5}, {S("1,000"), 1000}, {S("1,234.5"), 1234.5}, {S("$5"), 5}, {S("-$5"), -5},
        {S("(5)"), -5}, {S("&HFF"), 255}, {S("&hFFFF"), -1}, {S("&H10000"), 65536}, {S("&O17"), 15}, {S(".5"), 0.5},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(*vm::to_f64(c.v), c.want) << c.v.debug_text();

    // clang-format off
    struct Bad { Variant v; const char* msg; };
    const Bad bad[] = {
        {S("abc"), "Cannot convert 'abc' to number"}, {S("5 5"), "Cannot convert '5 5' to number"},
        {S("inf"), "Cannot convert 'inf' to number"}, {S("NaN"), "Cannot convert 'NaN' to number"},
        {S("1e400"), "Cannot convert '1e400' to number"}, {S(",5"), "Cannot convert ',5' to number"},
        {S("&HG"), "Cannot convert '&HG' to number"},
        {S(""), "Cannot convert '' to number"},       {E(ExcelError::NA), "#N/A"},
        {E(ExcelError::DivZero), "#DIV/0!"},          {A({I(1)}), "Cannot convert array to number"},
        // clang-format on
        {Rec(), "Cannot convert record to number"},
    };
    for (const auto& c : bad) EXPECT_EQ(vm::to_f64(c.v).error(), c.msg);
}

TEST(VmValues, VbaToStr) {
    // clang-format off
    struct Case { Variant v; const char* want; };
    const Case cases[] = {
        {I(-42), "-42"},   {F(2.5), "2.5"},     {F(3.0), "3"},       {F(0.1), "0.1"},
        {F(1e21), "1E+21"}, {F(NAN), "NaN"}, {F(-INFINITY), "-inf"},
        // Fifteen significant digits, as VBA prints a Double.
        {F(0.1 + 0.2), "0.3"}, {F(1.1 * 3), "3.3"}, {F(2.0 / 3), "0.666666666666667"}, {F(-1.5e-7), "-1.5E-07"},
        {F(1e15), "1E+15"}, {F(123456789012345.0), "123456789012345"}, {F(1234567890123456789.0), "1.23456789012346E+18"},
        {F(0.0001), "0.0001"}, {F(0.00001), "1E-05"}, {F(1e100), "1E+100"},
        {Variant(Date{45000, 0.5}), "2023-03-15 12:00:00"}, {Variant(Date{0, 0.75}), "18:00:00"},
        {S("x"), "x"},     {B(true), "True"},   {B(false), "False"}, {D(45000), "2023-03-15"},
        {E(ExcelError::Ref), "#REF!"},          {Variant(), ""},     {A({I(1), S("a"), B(true)}), "1, a, True"},
        // clang-format on
        {Rec(), "[Record]"},
    };
    for (const auto& c : cases) EXPECT_EQ(vm::vba_to_str(c.v), c.want) << c.v.debug_text();
}

TEST(VmValues, Equality) {
    // clang-format off
    struct Case { Variant a, b; bool eq; };
    const Case cases[] = {
        {I(1), I(1), true},       {I(1), F(1.0), true},     {F(1.5), F(1.5), true},    {I(3), D(3), true},
        {D(3), D(3), true},       {F(3.0), D(3), false},    {S("abc"), S("ABC"), true}, {S("straße"), S("STRASSE"), true},
        {S("1"), I(1), true},     {B(true), I(-1), false},  {B(true), I(1), false},    {B(true), B(true), true},
        {S(" 2 "), F(2.0), true}, {S("1,001"), I(1001), true}, {S("x"), I(0), false},  {D(3), S("3"), true},
        {Variant(), Variant(), true}, {Variant(), I(0), true}, {Variant(), S(""), true}, {Variant(), F(0.0), true},
        {Variant(), B(false), true}, {Variant(), S("0"), false}, {Variant(), I(1), false}, {Variant(), S(" "), false},
        {Variant(), D(0), true},
        {E(ExcelError::NA), E(ExcelError::NA), false},     {A({}), A({}), false},       {F(NAN), F(NAN), false},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vm::vba_eq(c.a, c.b), c.eq) << c.a.debug_text() << " = " << c.b.debug_text();
        EXPECT_EQ(vm::vba_eq(c.b, c.a), c.eq) << "symmetric: " << c.a.debug_text();
    }
}

TEST(VmValues, Ordering) {
    // clang-format off
    struct Case { Variant a, b; Ordering want; };
    const Case cases[] = {
        {S("abc"), S("ABD"), Ordering::Less},  {S("10"), S("9"), Ordering::Less},
        {S("10"), I(9), Ordering::Greater},    {S("1"), I(1), Ordering::Equal},
        {S("abc"), I(5), Ordering::Less},      {S("abc"), S("ABC"), Ordering::Equal},
        {I(2), F(2.5), Ordering::Less},        {B(true), I(0), Ordering::Greater},
        {E(ExcelError::NA), S("ERROR(NA)"), Ordering::Equal}, {Variant(), I(0), Ordering::Equal},
        {Variant(), S("a"), Ordering::Less},   {S(""), Variant(), Ordering::Equal},
        {S(" 10 "), I(9), Ordering::Greater},  {Variant(), I(-1), Ordering::Greater},
    };
    for (const auto& c : cases) EXPECT_EQ(*vm::vba_cmp(c.a, c.b), c.want) << c.a.debug_text() << " vs " << c.b.debug_text();
    // clang-format on
    EXPECT_EQ(vm::vba_cmp(F(NAN), I(1)).error(), "Cannot compare NaN values");
}

TEST(VmValues, SortOrder) {
    std::vector<Variant> values = {I(10), S("9"), Variant(), B(true), S("apple")};
    std::vector<Variant> want = {Variant(), I(10), S("9"), S("apple"), B(true)};
    eval::stable_merge_sort(
        values, [](const Variant& a, const Variant& b) { return vm::cmp_variants(a, b) == Ordering::Less; });
    for (size_t i = 0; i < want.size(); ++i) expect_same(values[i], want[i], "sorted[" + std::to_string(i) + "]");
    EXPECT_EQ(vm::cmp_variants(F(NAN), I(3)), Ordering::Equal);
    EXPECT_EQ(vm::cmp_variants(E(ExcelError::NA), E(ExcelError::Ref)), Ordering::Less);
}

TEST(VmValues, Truth) {
    // clang-format off
    struct Case { Variant v; bool want; };
    const Case cases[] = {
        {I(0), false}, {I(-1), true},  {F(0.0), false}, {F(NAN), true},
        {S("False"), false}, {S(" TRUE "), true}, {S("0"), false}, {S("2.5"), true}, {B(false), false},
        {D(0), true}, {E(ExcelError::NA), false},
        {Variant(), false}, {A({}), false}, {A({I(0)}), true}, {Rec(), true},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(*vm::is_truthy(c.v), c.want) << c.v.debug_text();
    // Any other text is no condition.
    for (const char* text : {"", "yes", "nan"}) EXPECT_EQ(vm::is_truthy(S(text)).error(), "Type mismatch") << text;
}

TEST(VmValues, BitwiseOperand) {
    // clang-format off
    struct Case { Variant v; int64_t want; };
    const Case cases[] = {
        {B(true), -1}, {B(false), 0}, {F(2.5), 2}, {F(3.5), 4}, {F(-2.5), -2}, {F(NAN), 0},
        {F(1e300), std::numeric_limits<int64_t>::max()}, {F(-1e300), std::numeric_limits<int64_t>::min()},
        // clang-format on
        {S("7"), 7},
    };
    for (const auto& c : cases) EXPECT_EQ(*vm::to_i64_bitwise(c.v), c.want) << c.v.debug_text();
}

TEST(VmValues, BinaryOperators) {
    const int64_t kMin = std::numeric_limits<int64_t>::min();
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    // clang-format off
    struct Case { BinOp op; Variant a, b, want; };
    const Case cases[] = {
        {BinOp::Add, I(2), I(3), I(5)},              {BinOp::Add, S("2"), I(3), I(5)},
        {BinOp::Add, S("2"), S("3"), S("23")},       {BinOp::Add, Variant(), I(1), I(1)},
        {BinOp::Add, B(true), I(0), I(1)},           {BinOp::Add, I((1LL << 53) + 1), I(0), I(1LL << 53)},
        {BinOp::Add, F(0.5), F(0.5), I(1)},          {BinOp::Sub, I(5), F(7.5), F(-2.5)},
        {BinOp::Mul, I(4), F(2.5), I(10)},           {BinOp::Div, I(10), I(4), F(2.5)},
        {BinOp::Div, I(10), I(5), F(2)},             {BinOp::Pow, I(2), I(10), I(1024)},
        {BinOp::Pow, I(2), F(0.5), F(std::sqrt(2.0))}, {BinOp::Pow, I(2), I(63), I(kMax)},
        {BinOp::Pow, I(2), I(64), F(18446744073709551616.0)},
        {BinOp::IntDiv, I(7), I(2), I(3)},           {BinOp::IntDiv, I(-7), I(2), I(-3)},
        {BinOp::IntDiv, F(2.5), I(1), I(2)},         {BinOp::IntDiv, F(3.5), I(1), I(4)},
        {BinOp::Mod, I(-7), I(2), I(-1)},            {BinOp::Mod, I(7), I(-2), I(1)},
        {BinOp::Mod, F(5.5), I(2), I(0)},            {BinOp::Mod, I(kMin), I(1), I(0)},
        {BinOp::Eq, S("1"), I(1), B(true)},          {BinOp::Le, S("1"), I(1), B(true)},
        {BinOp::Eq, Variant(), S(""), B(true)},      {BinOp::Ne, Variant(), I(0), B(false)},
        {BinOp::Ge, S("1"), I(1), B(true)},          {BinOp::Lt, S("1"), I(2), B(true)},
        {BinOp::Ne, S("a"), S("A"), B(false)},       {BinOp::Gt, S("abc"), I(5), B(false)},
        {BinOp::Concat, S("2"), S("3"), S("23")},    {BinOp::Concat, B(true), S(""), S("True")},
        {BinOp::Concat, A({I(1), S("a"), B(true)}), S(""), S("[1, a, True]")},
        {BinOp::Concat, I(1), F(2.5), S("12.5")},  {BinOp::Concat, S("Total: "), F(1.1 * 3), S("Total: 3.3")},
        {BinOp::Concat, A({F(0.1 + 0.2)}), S(""), S("[0.3]")},
        // A Date moved by days stays a Date; two Dates differ by days.
        {BinOp::Add, D(43832), I(1), D(43833)},    {BinOp::Add, I(30), D(43832), D(43862)},
        {BinOp::Sub, D(43832), I(2), D(43830)},    {BinOp::Sub, D(43833), D(43832), I(1)},
        // clang-format on
        {BinOp::Add, Variant(Date{43832, 0.5}), I(1), Variant(Date{43833, 0.5})},
        {BinOp::Add, D(43832), F(0.25), Variant(Date{43832, 0.25})},
        {BinOp::Sub, Variant(Date{43832, 0.5}), D(43832), F(0.5)},
        // clang-format off
        {BinOp::And, S("True"), S("False"), B(false)}, {BinOp::Or, S("false"), B(true), B(true)},
        {BinOp::And, S("6"), I(3), I(2)},
        {BinOp::And, B(true), I(7), I(7)},           {BinOp::And, I(6), I(3), I(2)},
        {BinOp::Or, I(1), I(2), I(3)},               {BinOp::Xor, B(true), I(1), I(-2)},
        {BinOp::And, B(true), B(false), B(false)},   {BinOp::Xor, B(true), B(false), B(true)},
        // clang-format on
    };
    for (const auto& c : cases) {
        auto got = vm::eval_binop(c.op, c.a, c.b);
        ASSERT_TRUE(got.has_value()) << int(c.op) << " " << c.a.debug_text() << ": " << got.error();
        expect_same(*got, c.want, std::to_string(int(c.op)) + " " + c.a.debug_text() + " " + c.b.debug_text());
    }

    // clang-format off
    struct Bad { BinOp op; Variant a, b; const char* msg; };
    const Bad bad[] = {
        {BinOp::Div, I(1), I(0), "Division by zero"},       {BinOp::Div, I(0), F(-0.0), "Division by zero"},
        {BinOp::IntDiv, I(5), I(0), "Division by zero"},    {BinOp::Mod, I(5), F(0.4), "Division by zero"},
        // clang-format on
        {BinOp::IntDiv, I(kMin), I(-1), "Integer division overflow"},
        {BinOp::Mod, I(kMin), I(-1), "Integer division overflow"},
        {BinOp::Add, S("a"), I(1), "Cannot convert 'a' to number"},
        {BinOp::Add, S("5 5"), I(0), "Cannot convert '5 5' to number"},
        {BinOp::And, S("yes"), B(true), "Type mismatch"},
        {BinOp::Add, D(2958465), I(1), "Overflow"},
        {BinOp::Pow, I(10), I(309), "Overflow"},
        {BinOp::Pow, F(-1e200), I(3), "Overflow"},
        {BinOp::Pow, I(0), I(-1), "Invalid procedure call or argument"},
        {BinOp::Pow, I(-8), F(1.0 / 3), "Invalid procedure call or argument"},
        {BinOp::Sub, S("x"), S("y"), "Cannot convert 'x' to number"},
        {BinOp::Add, E(ExcelError::NA), I(1), "#N/A"},
        {BinOp::Lt, F(NAN), I(1), "Cannot compare NaN values"},
        {BinOp::And, A({}), I(1), "Cannot convert array to number"},
    };
    for (const auto& c : bad) {
        auto got = vm::eval_binop(c.op, c.a, c.b);
        ASSERT_FALSE(got.has_value()) << c.msg;
        EXPECT_EQ(got.error(), c.msg);
    }
    EXPECT_TRUE(std::isnan(vm::eval_binop(BinOp::Div, I(1), F(NAN))->as_float()));
}

TEST(VmValues, Not) {
    expect_same(*vm::eval_not(S("False")), B(true), "Not \"False\"");
    expect_same(*vm::eval_not(I(0)), I(-1), "Not 0");
    EXPECT_EQ(vm::eval_not(S("maybe")).error(), "Type mismatch");
}

// What a macro's write enters in a cell, as typing the text would.
TEST(VmValues, EnteredValue) {
    // clang-format off
    struct Case { Variant v, want; };
    const Case cases[] = {
        {S("10"), I(10)},    {S(" -2.5 "), F(-2.5)}, {S("1e3"), I(1000)},  {S("007"), I(7)},
        {S("true"), B(true)}, {S(" FALSE"), B(false)}, {S(""), Variant()}, {S("1,000"), I(1000)},
        {S("$5"), I(5)},    {S("inf"), S("inf")},   {S("1e400"), S("1e400")}, {S("abc"), S("abc")},
        {S(" "), S(" ")},    {I(5), I(5)},           {Variant(), Variant()},
        {S("#N/A"), E(ExcelError::NA)}, {S("'5"), S("5")}, {S("25%"), F(0.25)},
        // clang-format on
    };
    for (const auto& c : cases) expect_same(vm::entered_value(c.v), c.want, c.v.debug_text());
}

// Joined texts stop at kMaxTextLen with "Out of string space" instead of
// growing until memory runs out.
TEST(VmValues, JoinedTextLimit) {
    const Variant half(std::string(vm::kMaxTextLen / 2, 'x'));
    for (BinOp op : {BinOp::Concat, BinOp::Add}) {
        auto full = vm::eval_binop(op, half, half);
        ASSERT_TRUE(full.has_value()) << full.error();
        EXPECT_EQ(full->as_str().size(), vm::kMaxTextLen);
        auto over = vm::eval_binop(op, *full, S("y"));
        ASSERT_FALSE(over.has_value());
        EXPECT_EQ(over.error(), "Out of string space");
    }
    std::string text(vm::kMaxTextLen - 1, 'x');
    EXPECT_TRUE(vm::append_text(text, "y").has_value());
    auto over = vm::append_text(text, "y");
    ASSERT_FALSE(over.has_value());
    EXPECT_EQ(over.error(), "Out of string space");
    EXPECT_EQ(text.size(), vm::kMaxTextLen);
}
