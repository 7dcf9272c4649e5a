// LET, LAMBDA and the functions that apply a LAMBDA.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

#include "formula/eval.h"
#include "tests/cpp/formula_test_util.h"

using namespace morvane;

namespace {

using morvane::testing::Case;
using morvane::testing::run;
using morvane::testing::sheet;

// A1:B2 = 1, 2 / 3, 4; A3 = 5; C1:C2 = 10, #N/A.
const CellMap kCells = sheet({
    {"A1", Variant(int64_t{1})},
    {"B1", Variant(int64_t{2})},
    {"A2", Variant(int64_t{3})},
    {"B2", Variant(int64_t{4})},
    {"A3", Variant(int64_t{5})},
    {"C1", Variant(int64_t{10})},
    {"C2", Variant(ExcelError::NA)},
});

// Each case against kCells, with every LET/LAMBDA scope unwound after it.
void check_unwinds(std::span<const Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.formula, kCells), c.expected) << c.formula;
        // Every push is matched by a pop, whatever the outcome.
        EXPECT_EQ(eval::binding_depth(), 0u) << c.formula;
    }
}

}  // namespace

TEST(FormulaLambda, Let) {
    const Case cases[] = {
        {"=LET(x, 2, x*3)", "Integer(6)"},
        {"=LET(x, 2, y, 3, x*y)", "Integer(6)"},
        {"=LET(x, 1, x, 5, x)", "Error(Value)"},  // a name bound twice
        // Each value sees the names bound before it.
        {"=LET(x, 1, y, x+1, y)", "Integer(2)"},
        {"=LET(x, 1, y, x+1, y*10)", "Integer(20)"},
        {"=LET(x, 1, y, 2, X, 3, x)", "Error(Value)"},
        {"=LET(x, 2, LET(x, 3, x) + x)", "Integer(5)"},
        {"=LET(abc, 1, ABC+Abc)", "Integer(2)"},
        {"=LET(PI, 3, PI())", "Integer(3)"},
        {"=LET(x, 2, x(1))", "Error(Name)"},
        {"=LET(x, NA(), 1)", "Integer(1)"},
        {"=LET(x, NA(), x)", "Error(NA)"},
        {"=LET(x, A1:B2, 1)", "fail: Range cannot be used as a scalar value"},
        {"=LET(x, 1, x+\"a\")", "fail: Cannot convert 'a' to a number"},
        {"=LET(x, 2)", "fail: LET requires an odd number of arguments: LET(name, val, ..., result)"},
        {"=LET(x, 1, y, 2)", "fail: LET requires an odd number of arguments: LET(name, val, ..., result)"},
        {"=LET(A1, 2, A1)", "fail: LET: name arguments must be identifiers"},
        {"=LET(x, 1, 5, 2, x)", "fail: LET: name arguments must be identifiers"},
        {"=x", "Error(Name)"},
    };
    check_unwinds(cases);
}

TEST(FormulaLambda, LambdaAndMap) {
    const Case cases[] = {
        {"=LAMBDA(x, x+1)", "Str(\"#LAMBDA\")"},
        {"=LAMBDA()", "Str(\"#LAMBDA\")"},
        {"=LET(f, LAMBDA(x, x*2), MAP(A1:A2, f))", "fail: expected a LAMBDA expression"},
        {"=MAP(A1:A3, 7)", "fail: expected a LAMBDA expression"},
        {"=MAP(A1:A3, LAMBDA(x, x*2))", "Array([Integer(2), Integer(6), Integer(10)])"},
        {"=MAP(A1:A1, LAMBDA(x, x*2))", "Integer(2)"},
        {"=MAP(A1:B2, LAMBDA(x, x))", "Array([Integer(1), Integer(2), Integer(3), Integer(4)])"},
        {"=MAP(A1:A2, B1:B2, LAMBDA(a, b, a+b))", "Array([Integer(3), Integer(7)])"},
        {"=MAP(A1:A3, B1:B2, LAMBDA(a, b, a+b))", "fail: MAP: all array arguments must have equal length"},
        {"=MAP(A1:A3, LAMBDA(x, y, x))", "fail: LAMBDA: expected 2 args, got 1"},
        {"=MAP(A1:A3, LAMBDA(x))", "fail: LAMBDA requires at least 2 arguments"},
        {"=MAP(A1:A3, LAMBDA(A1, 1))", "fail: LAMBDA: parameter names must be identifiers"},
        {"=MAP(A1:A3, LAMBDA(TRUE, 1))", "fail: LAMBDA: parameter names must be identifiers"},
        {"=MAP(A1:A2, LAMBDA(x(), x*2))", "Array([Integer(2), Integer(6)])"},
        {"=MAP(A1:A1, B1:B1, LAMBDA(x, x, x))", "Integer(2)"},
        {"=MAP(5, LAMBDA(x, x+1))", "Integer(6)"},
        {"=MAP(A1:A3)", "fail: MAP requires at least 2 arguments"},
        {"=LET(k, 10, MAP(A1:A2, LAMBDA(x, x*k)))", "Array([Integer(10), Integer(30)])"},
        {"=LET(x, 10, MAP(A1:A2, LAMBDA(x, x)))", "Array([Integer(1), Integer(3)])"},
        {"=MAP(C1:C2, LAMBDA(x, x))", "Array([Integer(10), Error(NA)])"},
        // A list made by a function is a list of elements, as a range is.
        {"=MAP(MAP(A1:A3, LAMBDA(x, x*2)), LAMBDA(x, x+1))", "Array([Integer(3), Integer(7), Integer(11)])"},
        {"=MAP(A1:A3, LAMBDA(x, IF(x=3, x+\"a\", x)))", "fail: Cannot convert 'a' to a number"},
        {"=MAP(A1:A2000000, LAMBDA(x, x))", "fail: Range too large (2000000 cells); maximum is 1,000,000"},
    };
    check_unwinds(cases);
}

TEST(FormulaLambda, ReduceAndScan) {
    const Case cases[] = {
        {"=REDUCE(0, A1:A3, LAMBDA(acc, x, acc+x))", "Integer(9)"},
        {"=REDUCE(0, A1:A3, LAMBDA(acc, x, acc+x), 99)", "Integer(9)"},
        {"=REDUCE(1, A1:B2, LAMBDA(acc, x, acc*x))", "Integer(24)"},
        {"=REDUCE(0, C1:C2, LAMBDA(acc, x, x))", "Error(NA)"},
        {"=REDUCE(0, A1:A3)", "fail: REDUCE requires 3 arguments: REDUCE(initial, array, LAMBDA(acc,x,body))"},
        {"=REDUCE(0, A1:A3, LAMBDA(x, x))", "fail: LAMBDA: expected 1 args, got 2"},
        {"=SCAN(0, A1:A3, LAMBDA(acc, x, acc+x))", "Array([Integer(1), Integer(4), Integer(9)])"},
        {"=SCAN(0, A1:A1, LAMBDA(acc, x, acc+x))", "Integer(1)"},
        {"=SCAN(0, A1:A3)", "fail: SCAN requires 3 arguments: SCAN(initial, array, LAMBDA(acc,x,body))"},
        {"=SUM(SCAN(0, A1:A3, LAMBDA(acc, x, acc+x)))", "Integer(14)"},
    };
    check_unwinds(cases);
}

TEST(FormulaLambda, ByRowAndByCol) {
    const Case cases[] = {
        {"=BYROW(A1:B2, LAMBDA(a, b, a+b))", "Array([Integer(3), Integer(7)])"},
        {"=BYCOL(A1:B2, LAMBDA(a, b, a+b))", "Array([Integer(4), Integer(6)])"},
        {"=BYROW(A1:B2, LAMBDA(r, r))", "fail: LAMBDA: expected 1 args, got 2"},
        {"=BYROW(A2:B1, LAMBDA(a, b, a))", "Empty"},
        {"=BYCOL(B1:A2, LAMBDA(a, b, a))", "Empty"},
        {"=BYROW(A1:A3, LAMBDA(x, x*10))", "Array([Integer(10), Integer(30), Integer(50)])"},
        {"=BYCOL(A1:B1, LAMBDA(x, x*10))", "Array([Integer(10), Integer(20)])"},
        {"=BYROW(A1:A1, LAMBDA(x, x*10))", "Integer(10)"},
        {"=BYROW(5, LAMBDA(x, x+1))", "Integer(6)"},
        {"=BYROW(A1:B2, 3)", "fail: expected a LAMBDA expression"},
        {"=BYROW(A1:B2)", "fail: BYROW requires 2 arguments"},
        {"=BYCOL(A1:B2)", "fail: BYCOL requires 2 arguments"},
        {"=BYROW(A1:B2, LAMBDA(a, b, a+b), 1/0)", "fail: BYROW requires 2 arguments"},
        {"=BYCOL(A1:B2, LAMBDA(a, b, a+b), 1)", "fail: BYCOL requires 2 arguments"},
        {"=BYROW(A1:A2000000, LAMBDA(x, x))", "fail: Range too large (2000000 cells); maximum is 1,000,000"},
        {"=BYCOL(A1:ZZZZ3, LAMBDA(x, y, z, x))", "fail: Range too large (1425762 cells); maximum is 1,000,000"},
    };
    check_unwinds(cases);
}

// Loops that keep one result per element count the text they keep against
// the evaluation's 256,000,000-byte bound: a million copies of one long text
// end with a message instead of exhausting memory.
TEST(FormulaLambda, KeptTextBound) {
    const CellMap cells = sheet({{"D1", Variant(std::string(20000, 'x'))}});
    constexpr const char* kTooMuch = "fail: Formula builds too much text; maximum is 256,000,000 bytes";
    const Case cases[] = {
        {"=MAP(A1:A20000, LAMBDA(x, D1))", kTooMuch},
        {"=BYROW(A1:A20000, LAMBDA(x, D1))", kTooMuch},
        {"=BYCOL(A1:ACOF1, LAMBDA(x, D1))", kTooMuch},  // 20,000 columns
        {"=SCAN(0, A1:A20000, LAMBDA(acc, x, D1))", kTooMuch},
        {"=MAP(A1:A20000, LAMBDA(x, MAP(A1:A2, LAMBDA(y, D1))))", kTooMuch},
        {"=REDUCE(0, A1:A20000, LAMBDA(acc, x, D1))=D1", "Boolean(true)"},  // REDUCE keeps one value
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.formula, cells), c.expected) << c.formula;
        EXPECT_EQ(eval::binding_depth(), 0u) << c.formula;
    }
    EXPECT_EQ(run("=MAP(A1:A1000, LAMBDA(x, D1))", cells).substr(0, 12), "Array([Str(\"");
}
