// Evaluator: operators, conversions, comparisons, error values, scopes, the
// generator and the dispatch of function names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/random.h"
#include "formula/parser.h"
#include "tests/cpp/formula_test_util.h"

using namespace morvane;

namespace {

using morvane::testing::Case;
using morvane::testing::check;
using morvane::testing::outcome;
using morvane::testing::run;
using morvane::testing::sheet;

const CellMap kCells = sheet({
    {"A1", Variant(int64_t{1})},
    {"A2", Variant(int64_t{2})},
    {"A3", Variant(int64_t{3})},
    {"B1", Variant(ExcelError::NA)},
    {"B2", Variant("abc")},
    {"B3", Variant(Date{45000})},
    {"B4", Variant(true)},
    {"B5", Variant("")},
    {"B6", Variant(std::numeric_limits<int64_t>::min())},
    {"B7", Variant(ExcelError::DivZero)},
    {"B8", Variant(std::nan(""))},
    {"B9", Variant(Date{45000, 0.5})},
});

}  // namespace

TEST(FormulaEval, LiteralsAndReferences) {
    const Case cases[] = {
        {"=1", "Integer(1)"},
        {"=1.5", "Float(1.5)"},
        {"=9223372036854775808", "Integer(9223372036854775807)"},
        {"=\"x\"", "Str(\"x\")"},
        {"=TRUE", "Boolean(true)"},
        {"=A1", "Integer(1)"},
        {"=B3", "Date(45000)"},
        {"=C9", "Empty"},
        {"=$A$2", "Integer(2)"},
        {"=A1:A2", "fail: Range cannot be used as a scalar value"},
    };
    check(cases, kCells);
}

TEST(FormulaEval, Arithmetic) {
    const Case cases[] = {
        {"=4/2", "Integer(2)"},
        {"=3/2", "Float(1.5)"},
        {"=1/0", "Error(DivZero)"},
        {"=1/C9", "Error(DivZero)"},
        {"=1-0.5", "Float(0.5)"},
        {"=2*A3", "Integer(6)"},
        {"=1+\"3\"", "Integer(4)"},
        {"=1+\" 3\"", "Integer(4)"},
        {"=\"50%\"*2", "Integer(1)"},
        {"=1+\"3 3\"", "fail: Cannot convert '3 3' to a number"},
        {"=1+B2", "fail: Cannot convert 'abc' to a number"},
        {"=B3+1", "Integer(45001)"},
        {"=B4+1", "Integer(2)"},
        {"=C9+1", "Integer(1)"},
        {"=B8/0", "Error(DivZero)"},
        {"=1/B8", "Float(NaN)"},
    };
    check(cases, kCells);
}

TEST(FormulaEval, ErrorPrecedence) {
    const Case cases[] = {
        {"=A1+B1", "Error(NA)"},
        {"=B7+B1", "Error(DivZero)"},
        {"=B1+B7", "Error(NA)"},
        {"=NA()=NA()", "Error(NA)"},
        {"=\"a\"&B1", "Error(NA)"},
        {"=B1<B2", "Error(NA)"},
        {"=NA()+A1:A2", "Array([Error(NA), Error(NA)])"},
        {"=1/0+B2", "Error(DivZero)"},
    };
    check(cases, kCells);
}

// Blank cells compare like spreadsheets; texts order case-insensitively.
TEST(FormulaEval, Comparisons) {
    const Case cases[] = {
        {"=\"abc\"=\"ABC\"", "Boolean(true)"},
        {"=1=\"1\"", "Boolean(false)"},
        {"=1=1.0", "Boolean(true)"},
        {"=B3=45000", "Boolean(true)"},
        {"=C9=0", "Boolean(true)"},
        {"=C9=\"\"", "Boolean(true)"},
        {"=C9=FALSE", "Boolean(true)"},
        {"=C9=C10", "Boolean(true)"},
        {"=0=C9", "Boolean(true)"},
        {"=C9<>0", "Boolean(false)"},
        {"=C9=1", "Boolean(false)"},
        {"=C9=\"x\"", "Boolean(false)"},
        {"=C9=TRUE", "Boolean(false)"},
        {"=B5=C9", "Boolean(true)"},
        {"=C9<1", "Boolean(true)"},
        {"=C9<\"b\"", "Boolean(true)"},
        {"=\"a\"<\"b\"", "Boolean(true)"},
        {"=\"B\">\"a\"", "Boolean(true)"},
        {"=\"a\"<\"A\"", "Boolean(false)"},
        {"=\"a\"<=\"A\"", "Boolean(true)"},
        {"=\"10\"<\"9\"", "Boolean(true)"},
        {"=\"É\"<=\"é\"", "Boolean(true)"},
        {"=\"abc\">5", "Boolean(true)"},
        {"=5<\"abc\"", "Boolean(true)"},
        {"=\"abc\"<TRUE", "Boolean(true)"},
        // Numbers before texts before booleans, whatever a text holds.
        {"=\"3\"<5", "Boolean(false)"},
        {"=\"3\">5", "Boolean(true)"},
        {"=TRUE>0", "Boolean(true)"},
        {"=TRUE>1", "Boolean(true)"},
        {"=TRUE>\"z\"", "Boolean(true)"},
        {"=FALSE>\"z\"", "Boolean(true)"},
        {"=FALSE<TRUE", "Boolean(true)"},
        {"=C9<TRUE", "Boolean(true)"},
        {"=C9>=FALSE", "Boolean(true)"},
        // Numbers are equal at 15 significant digits, and ordered so.
        {"=0.1+0.2=0.3", "Boolean(true)"},
        {"=0.1+0.2<>0.3", "Boolean(false)"},
        {"=0.1+0.2>0.3", "Boolean(false)"},
        {"=0.1+0.2<=0.3", "Boolean(true)"},
        {"=1/3*3=1", "Boolean(true)"},
        {"=100000000000000001=100000000000000000", "Boolean(true)"},
        {"=1.00000000000001=1", "Boolean(false)"},
        {"=1.00000000000001>1", "Boolean(true)"},
        {"=B3=45000.0000000000001", "Boolean(true)"},
        {"=B3>44999", "Boolean(true)"},
        {"=2>=2", "Boolean(true)"},
        {"=2<=1", "Boolean(false)"},
        {"=B8<1", "fail: Cannot compare NaN values"},
    };
    check(cases, kCells);
}

TEST(FormulaEval, Concatenation) {
    const Case cases[] = {
        {"=TRUE&1", "Str(\"TRUE1\")"},
        {"=1.5&C9", "Str(\"1.5\")"},
        {"=\"x\"&(0.1+0.2)", "Str(\"x0.3\")"},
        {"=1/3&\"\"", "Str(\"0.333333333333333\")"},
        {"=100000000000000000000/3&\"\"", "Str(\"3.33333333333333E+19\")"},
        {"=B3&\"!\"", "Str(\"2023-03-15!\")"},
        {"=A1&A2&A3", "Str(\"123\")"},
    };
    check(cases, kCells);
}

TEST(FormulaEval, Negation) {
    const Case cases[] = {
        {"=-A1", "Integer(-1)"},     {"=-1.5", "Float(-1.5)"},
        {"=-C9", "Integer(0)"},      {"=-B3", "Integer(-45000)"},
        {"=-B9", "Float(-45000.5)"}, {"=-B6", "Integer(-9223372036854775808)"},
        {"=-B1", "Error(NA)"},       {"=-NA()", "Error(NA)"},
        {"=-TRUE", "Integer(-1)"},   {"=--TRUE", "Integer(1)"},
        {"=-FALSE", "Integer(0)"},   {"=--\"5\"", "Integer(5)"},
        {"=-\"0\"", "Integer(0)"},   {"=-B2", "fail: Unary minus on non-numeric value: abc"},
        {"=-A1*2", "Integer(-2)"},
    };
    check(cases, kCells);
}

TEST(FormulaEval, ToFloat) {
    const std::pair<Variant, std::string> cases[] = {
        {Variant(int64_t{3}), "3"},
        {Variant(2.5), "2.5"},
        {Variant("1e3"), "1000"},
        {Variant(".5"), "0.5"},
        {Variant(true), "1"},
        {Variant(Date{7}), "7"},
        {Variant(), "0"},
        // a text reads as typed input
        {Variant(" 1 "), "1"},
        {Variant("50%"), "0.5"},
        {Variant("$1,200"), "1200"},
        {Variant("(12)"), "-12"},
        {Variant("2025-03-01"), "45717"},
        {Variant("6:00"), "0.25"},
        {Variant("1,2"), "fail: Cannot convert '1,2' to a number"},
        {Variant("nan"), "fail: Cannot convert 'nan' to a number"},
        {Variant("TRUE"), "fail: Cannot convert 'TRUE' to a number"},
        {Variant("#N/A"), "fail: Cannot convert '#N/A' to a number"},
        {Variant(""), "fail: Cannot convert '' to a number"},
        {Variant(ExcelError::NA), "fail: #N/A"},
        {Variant(Array{}), "fail: Cannot convert array to number"},
        {Variant(Record{}), "fail: Cannot convert record to number"},
    };
    for (const auto& [v, expected] : cases) {
        auto r = eval::to_float(v);
        EXPECT_EQ(r ? number_to_text(*r) : "fail: " + r.error(), expected) << v.debug_text();
    }
}

TEST(FormulaEval, ToStr) {
    const std::pair<Variant, std::string> cases[] = {
        {Variant(int64_t{-7}), "-7"},
        {Variant(2.0), "2"},
        {Variant(0.1 + 0.2), "0.3"},
        {Variant(std::nan("")), "NaN"},
        {Variant(std::numeric_limits<double>::infinity()), "inf"},
        {Variant("t"), "t"},
        {Variant(false), "FALSE"},
        {Variant(Date{1}), "1900-01-01"},
        {Variant(ExcelError::Num), "#NUM!"},
        {Variant(), ""},
        {Variant(Array{Variant("a"), Variant(int64_t{1}), Variant(true), Variant()}), "a, 1, TRUE, "},
        {Variant(Record{}), "[Record]"},
    };
    for (const auto& [v, expected] : cases) EXPECT_EQ(eval::to_str(v), expected) << v.debug_text();
}

TEST(FormulaEval, Truth) {
    const std::pair<Variant, bool> cases[] = {
        // clang-format off
        {Variant(int64_t{0}), false}, {Variant(int64_t{-1}), true}, {Variant(0.0), false},
        {Variant(std::nan("")), true}, {Variant(""), false},         {Variant("FALSE"), true},
        {Variant(true), true},         {Variant(Date{0}), true},     {Variant(ExcelError::NA), false},
        {Variant(), false},            {Variant(Array{}), false},    {Variant(Record{}), true},
        // clang-format on
    };
    for (const auto& [v, expected] : cases) EXPECT_EQ(eval::is_truthy(v), expected) << v.debug_text();
}

TEST(FormulaEval, VariantEq) {
    struct EqCase {
        Variant a, b;
        bool equal;
    };
    const EqCase cases[] = {
        {Variant(int64_t{5}), Variant(5.0), true},
        {Variant(int64_t{5}), Variant(Date{5}), true},
        {Variant(Date{5}), Variant(5.0), false},
        {Variant(std::nan("")), Variant(std::nan("")), false},
        {Variant("abc"), Variant("ABC"), true},
        {Variant("é"), Variant("É"), false},
        {Variant("5"), Variant(int64_t{5}), false},
        {Variant(true), Variant(int64_t{1}), false},
        {Variant(), Variant(), true},
        {Variant(), Variant(int64_t{0}), false},
        {Variant(), Variant(""), false},
        {Variant(ExcelError::NA), Variant(ExcelError::NA), false},
        {Variant(Array{}), Variant(Array{}), false},
    };
    for (const EqCase& c : cases)
        EXPECT_EQ(eval::variant_eq(c.a, c.b), c.equal) << c.a.debug_text() << " " << c.b.debug_text();
}

TEST(FormulaEval, CellVal) {
    EXPECT_EQ(eval::cell_val(kCells, 2, 2).debug_text(), "Str(\"abc\")");
    EXPECT_EQ(eval::cell_val(kCells, 9, 9).debug_text(), "Empty");
    EXPECT_EQ(eval::cell_val(CellMap{}, 1, 1).debug_text(), "Empty");
}

TEST(FormulaDispatch, NamesAndTables) {
    const Case cases[] = {
        {"=FOO()", "Error(Name)"},
        {"=FOO(1/0)", "Error(Name)"},
        {"=FOO(A1:A2)", "Error(Name)"},
        {"=XLFN.CONCAT(1)", "Error(Name)"},
        {"=ABCDEFGHIJKLMNOPQ(1)", "Error(Name)"},
        {"=sum(1,2)", "Integer(3)"},
    };
    check(cases);

    // Every registered name is a known one, registered once.
    auto known = eval::known_function_names();
    std::set<std::string_view> known_set(known.begin(), known.end());
    EXPECT_EQ(known_set.size(), 217u);
    std::set<std::string_view> seen;
    for (const auto& e : eval::registered_functions()) {
        EXPECT_TRUE(known_set.count(e.name)) << e.name;
        EXPECT_TRUE(seen.insert(e.name).second) << "twice: " << e.name;
        EXPECT_NE(e.handler, nullptr) << e.name;
    }
    // A known name whose family is not built yet gives #NAME? and evaluates nothing.
    CellMap cells;
    eval::EvalCtx ctx{cells, {}};
    auto bad = formula::parser::parse("A1:A2");
    for (std::string_view name : known) {
        if (eval::find_function(name)) continue;
        auto r = eval::eval_func(name, std::span<const FormulaExpr>(&*bad, 1), ctx);
        ASSERT_TRUE(r) << name;
        EXPECT_EQ(r->debug_text(), "Error(Name)") << name;
    }
}

namespace {

// Handlers that read one argument as a number, a text or a truth value.
Result<Variant> half(std::span<const FormulaExpr> args, const eval::EvalCtx& ctx) {
    double x = TRY(eval::arg_number(args[0], ctx));
    return number_variant(x / 2);
}
Result<Variant> shout(std::span<const FormulaExpr> args, const eval::EvalCtx& ctx) {
    std::string s = TRY(eval::arg_text(args[0], ctx));
    return Variant(s + "!");
}
Result<Variant> negate(std::span<const FormulaExpr> args, const eval::EvalCtx& ctx) {
    bool b = TRY(eval::arg_truth(args[0], ctx));
    return Variant(!b);
}

std::string call(FuncHandler h, std::string_view arg, const CellMap& cells) {
    std::vector<FormulaExpr> args;
    args.push_back(*formula::parser::parse(arg));
    FormulaExpr call{FormulaExpr::Func{"TEST", std::move(args), h}};
    return outcome(eval::evaluate(call, cells));
}

}  // namespace

// An error value reaching a number, text or truth argument is the result.
TEST(FormulaDispatch, ErrorValuesPropagate) {
    EXPECT_EQ(call(half, "3", kCells), "Float(1.5)");
    EXPECT_EQ(call(half, "NA()", kCells), "Error(NA)");
    EXPECT_EQ(call(half, "B7", kCells), "Error(DivZero)");
    EXPECT_EQ(call(half, "\"x\"", kCells), "fail: Cannot convert 'x' to a number");
    EXPECT_EQ(call(half, "A1:A2", kCells), "fail: Range cannot be used as a scalar value");
    EXPECT_EQ(call(shout, "1/0", kCells), "Error(DivZero)");
    EXPECT_EQ(call(shout, "TRUE", kCells), "Str(\"TRUE!\")");
    EXPECT_EQ(call(negate, "B1", kCells), "Error(NA)");
    EXPECT_EQ(call(negate, "0", kCells), "Boolean(true)");
    const Case cases[] = {
        {"=IF(NA(),1,2)", "Error(NA)"},
        {"=IF(1/0,1,2)", "Error(DivZero)"},
        {"=IF(1,\"a\")", "Str(\"a\")"},
        {"=IF(0,\"a\")", "Boolean(false)"},
        {"=IF(0,1/0,2)", "Integer(2)"},
        {"=IF(1,2,A1:A2)", "Integer(2)"},
        {"=IF(\"FALSE\",1,2)", "Integer(2)"},
        {"=IF(\"x\",1,2)", "Error(Value)"},
        {"=IF(1)", "fail: IF requires 2 or 3 arguments"},
        {"=NA()", "Error(NA)"},
        {"=NA(1)", "fail: NA takes no arguments"},
    };
    check(cases, kCells);
}

// The evaluation knows its own cell: ROW() and COLUMN() give its position.
TEST(FormulaEval, OwnCell) {
    EXPECT_EQ(run("=ROW()", {}, CellPos{5, 3}), "Integer(5)");
    EXPECT_EQ(run("=COLUMN()", {}, CellPos{5, 3}), "Integer(3)");
    EXPECT_EQ(run("=ROW()+COLUMN()", {}, CellPos{5, 3}), "Integer(8)");
    const Case cases[] = {
        {"=ROW()", "Integer(1)"},      {"=COLUMN()", "Integer(1)"},
        {"=ROW(C7)", "Integer(7)"},    {"=COLUMN(C7)", "Integer(3)"},
        {"=ROW(D4:B2)", "Integer(4)"}, {"=COLUMN(D4:B2)", "Integer(4)"},
        {"=ROW(5)", "Integer(1)"},     {"=ROW(1+\"x\")", "fail: Cannot convert 'x' to a number"},
    };
    check(cases);
}

// Range sizes are counted exactly, even for 2^64 cells.
TEST(FormulaEval, RangeBounds) {
    const Case cases[] = {
        // Aggregates and conditional counts cost what the sheet stores, so
        // any rectangle is read, reversed corners too; blanks are counted.
        {"=SUM(AAAAAAAAAAAA0:4294967295)", "Integer(0)"},
        {"=SUM(A0:AAAAAAAAAAAA4294967295)", "Integer(0)"},
        {"=COUNTIF(AAAAAAAAAAAA0:4294967295,1)", "Integer(0)"},
        {"=COUNTIF(A0:A4294967295,1)", "Integer(0)"},
        {"=COUNTIF(A0:A4294967295,\"\")", "Integer(4294967296)"},
        {"=COUNTIF(AAAAAAAAAAAA0:4294967295,\"\")", "Float(1.8446744073709552e19)"},
        {"=COUNTIF(A1:B500001,1)", "Integer(0)"},
        {"=SUM(A1:B500001)", "Integer(0)"},
        // The bound stays where a list of that many values is built.
        {"=CONCAT(A1:B500001)", "fail: Range too large (1000002 cells); maximum is 1,000,000"},
        {"=SORT(A0:A4294967295)", "fail: Range too large (4294967296 cells); maximum is 1,000,000"},
        {"=COUNTIF(A1:A1000000,\"\")", "Integer(1000000)"},
        {"=SUM(A1:A1000000)", "Integer(0)"},
    };
    check(cases);
}

TEST(FormulaScopes, PushLookupPop) {
    EXPECT_EQ(eval::binding_depth(), 0u);
    EXPECT_FALSE(eval::lookup_binding("X"));
    eval::pop_bindings();  // empty: nothing happens
    eval::Scope outer;
    outer.set("X", Variant(int64_t{1}));
    outer.set("Y", Variant("y"));
    eval::push_bindings(std::move(outer));
    {
        eval::Scope inner;
        inner.set("X", Variant(int64_t{2}));
        inner.set("X", Variant(int64_t{3}));  // a later value replaces
        eval::ScopeGuard guard(std::move(inner));
        EXPECT_EQ(eval::lookup_binding("X")->debug_text(), "Integer(3)");
        EXPECT_EQ(eval::lookup_binding("Y")->debug_text(), "Str(\"y\")");
        EXPECT_FALSE(eval::lookup_binding("x"));  // names compare byte for byte
        EXPECT_EQ(eval::binding_depth(), 2u);
    }
    EXPECT_EQ(eval::lookup_binding("X")->debug_text(), "Integer(1)");
    // Each thread has its own stack.
    size_t other_depth = 99;
    std::thread([&] { other_depth = eval::binding_depth(); }).join();
    EXPECT_EQ(other_depth, 0u);
    eval::pop_bindings();
    EXPECT_EQ(eval::binding_depth(), 0u);
}

TEST(FormulaRandom, Generator) {
    EXPECT_EQ(eval::rand_seed(0, 0), 0x9E3779B97F4A7C15ULL);
    EXPECT_EQ(eval::rand_seed(-1, 0), 0xDEADBEEFCAFE1234ULL);
    EXPECT_EQ(eval::rand_seed(2004512814275203795, 2), 1u);  // a seed of 0 becomes 1

    eval::set_rand_state(1);
    EXPECT_EQ(eval::next_rand_f64(), static_cast<double>(1082269761ULL >> 11) * 0x1.0p-53);
    EXPECT_EQ(eval::rand_state(), 1082269761ULL);

    // The first draw of a thread seeds from the clock; draws stay in [0, 1).
    uint64_t fresh_state = 1;
    double draws_min = 1, draws_max = 0;
    std::thread([&] {
        fresh_state = eval::rand_state();
        for (int i = 0; i < 1000; ++i) {
            double u = eval::next_rand_f64();
            draws_min = std::min(draws_min, u);
            draws_max = std::max(draws_max, u);
        }
        EXPECT_NE(eval::rand_state(), 0u);
    }).join();
    EXPECT_EQ(fresh_state, 0u);
    EXPECT_GE(draws_min, 0.0);
    EXPECT_LT(draws_max, 1.0);
    EXPECT_EQ(eval::rand_state(), 1082269761ULL);  // untouched by the other thread
}

// The deepest trees the parser accepts evaluate without exhausting the stack.
TEST(FormulaEval, DeepestTreesEvaluate) {
    std::string chain = "=1";
    for (int i = 0; i < 511; ++i) chain += "+1";
    EXPECT_EQ(run(chain), "Integer(512)");
    EXPECT_EQ(run(chain + "+1"), "parse: Formula is nested too deeply");
    std::string nested;
    for (int i = 0; i < 126; ++i) nested += "IF(1,";  // 126 calls, a sign and a parenthesis: 128
    nested += "-(7)";
    for (int i = 0; i < 126; ++i) nested += ")";
    EXPECT_EQ(run(nested), "Integer(-7)");
    EXPECT_EQ(run("IF(1," + nested + ")"), "parse: Formula is nested too deeply");
}

// "&" builds at most 32,767 characters (#VALUE! beyond, as in every
// spreadsheet), and one evaluation joins at most 256,000,000 bytes in all, so
// that doubling a text again and again cannot exhaust memory.
namespace {

// The i-th name of `doubling`: QA to QZ, then RA on.
std::string doubling_name(int i) { return {static_cast<char>('Q' + i / 26), static_cast<char>('A' + i % 26)}; }

// LET(QA, "seed", QB, QA&QA, ...): the seed doubled `times` times; `body`
// sees every name, the i-th holding 2^i copies of the seed.
std::string doubling(int times, std::string_view seed, std::string_view body) {
    std::string f = "LET(QA,\"";
    f.append(seed).append("\"");
    for (int i = 1; i <= times; ++i)
        // clang-format off
        f.append(",").append(doubling_name(i)).append(",").append(doubling_name(i - 1)).append("&").append(
            doubling_name(i - 1));
    // clang-format on
    return f.append(",").append(body).append(")");
}

std::string str_of(size_t n, std::string_view unit) {
    std::string out = "Str(\"";
    for (size_t i = 0; i < n; ++i) out += unit;
    return out.append("\")");
}

}  // namespace

TEST(FormulaEval, JoinedTextBounds) {
    // 1 + 2 + ... + 16384 = 32767 characters: the longest text.
    const std::string all = "QO&QN&QM&QL&QK&QJ&QI&QH&QG&QF&QE&QD&QC&QB&QA";
    EXPECT_EQ(run(std::string("=") + doubling(14, "a", all)), str_of(32767, "a"));
    EXPECT_EQ(run(std::string("=") + doubling(14, "a", all + "&\"a\"")), "Error(Value)");
    EXPECT_EQ(run(std::string("=") + doubling(15, "a", "QP")), "Error(Value)");
    // Characters are counted, not bytes: 32,767 two-byte characters fit.
    EXPECT_EQ(run(std::string("=") + doubling(14, "\xC3\xA9", all)), str_of(32767, "\xC3\xA9"));
    EXPECT_EQ(run(std::string("=") + doubling(14, "\xC3\xA9", all + "&\"a\"")), "Error(Value)");
    // Forty doublings stop at the first text too long; the error then flows on.
    EXPECT_EQ(run(std::string("=") + doubling(40, "aaaaaaaaaaaaaaaa", doubling_name(40))), "Error(Value)");
    // Many long joins inside a loop meet the bound on the bytes joined.
    EXPECT_EQ(run(std::string("=REDUCE(0, A1:A1000000, LAMBDA(acc, x, ") + doubling(14, "a", "LEN0") + "))"),
              "fail: Formula builds too much text; maximum is 256,000,000 bytes");
}

// One evaluation visits at most 100,000,000 cells over all its range walks,
// so nested loops over large ranges end with a message instead of running
// for hours; each walk alone keeps its 1,000,000-cell bound.
TEST(FormulaEval, CellVisitBound) {
    const Case cases[] = {
        // 100 + 100 * 1,000,000 cells: one walk too many. (GCD visits
        // every cell; aggregates cost only the stored ones.)
        {"=MAP(A1:A100, LAMBDA(x, GCD(A1:A1000000)))", "fail: Formula reads too many cells; maximum is 100,000,000"},
        {"=BYROW(A1:A1000000, LAMBDA(x, GCD(A1:A1000)))", "fail: Formula reads too many cells; maximum is 100,000,000"},
    };
    check(cases);
    // 99 + 99 * 1,000,000 cells fit; the count starts afresh with every evaluation.
    EXPECT_EQ(run("=SUM(MAP(A1:A99, LAMBDA(x, GCD(A1:A1000000))))"), "Integer(0)");
    EXPECT_EQ(run("=SUM(MAP(A1:A99, LAMBDA(x, GCD(A1:A1000000))))"), "Integer(0)");
    // A thousand sums over a million blank rows each cost nothing stored.
    EXPECT_EQ(run("=SUM(MAP(A1:A1000, LAMBDA(x, SUM(A1:A1000000))))"), "Integer(0)");

    // Every range walk counts: collection, the lone range of SUM, BYROW and
    // BYCOL. The six cells are stored, so the sparse walks cost six too.
    // clang-format off
    const CellMap cells = sheet({{"A1", Variant(int64_t{1})}, {"A2", Variant(int64_t{2})}, {"A3", Variant(int64_t{3})},
                                 {"B1", Variant(int64_t{4})}, {"B2", Variant(int64_t{5})}, {"B3", Variant(int64_t{6})}});
    // clang-format on
    for (const char* formula : {"=COUNTIF(A1:B3, 1)", "=SUM(A1:B3)", "=CONCAT(A1:B3)", "=BYROW(A1:B3, LAMBDA(a, b, a))",
                                "=BYCOL(A1:B3, LAMBDA(a, b, c, a))"}) {
        auto tree = formula::parser::parse(formula);
        ASSERT_TRUE(tree) << formula;
        eval::EvalCtx ctx{cells};
        ctx.cells_visited = eval::kMaxCellVisits - 6;
        EXPECT_TRUE(eval::evaluate(*tree, ctx)) << formula;
        EXPECT_EQ(ctx.cells_visited, eval::kMaxCellVisits) << formula;
        auto again = eval::evaluate(*tree, ctx);
        ASSERT_FALSE(again) << formula;
        EXPECT_EQ(again.error(), "Formula reads too many cells; maximum is 100,000,000") << formula;
    }
}
