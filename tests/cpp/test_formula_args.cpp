// Argument collection, arity messages, numeric filters, SUM and the sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/parser.h"
#include "formula/sort.h"
#include "tests/cpp/formula_test_util.h"

using namespace morvane;

namespace {

using morvane::testing::Case;
using morvane::testing::check;
using morvane::testing::outcome;
using morvane::testing::run;
using morvane::testing::sheet;

// The values collected from one argument, as the Debug form of an array.
std::string collected(std::string_view arg, const CellMap& cells) {
    auto tree = formula::parser::parse(arg);
    if (!tree) return "parse: " + tree.error();
    auto r = eval::collect_values(*tree, eval::EvalCtx{cells, {}});
    return r ? Variant(std::move(*r)).debug_text() : "fail: " + r.error();
}

const CellMap kGrid = sheet({
    {"A1", Variant(int64_t{1})},
    {"B1", Variant(int64_t{2})},
    {"A2", Variant(int64_t{3})},
    {"B2", Variant("x")},
    {"C1", Variant(ExcelError::NA)},
});

}  // namespace

TEST(FormulaArgs, ArityMessages) {
    struct ArityCase {
        const char* name;
        size_t count, min, max;
        const char* expected;
    };
    const ArityCase cases[] = {
        {"ATAN2", 1, 2, 2, "ATAN2 requires 2 arguments"},
        {"ABS", 0, 1, 1, "ABS requires 1 argument"},
        {"IF", 4, 2, 3, "IF requires 2 or 3 arguments"},
        {"FV", 2, 3, 5, "FV requires 3 to 5 arguments"},
        {"PRODUCT", 0, 1, eval::kNoMax, "PRODUCT requires at least 1 argument"},
        {"SUBTOTAL", 1, 2, eval::kNoMax, "SUBTOTAL requires at least 2 arguments"},
        {"NA", 1, 0, 0, "NA takes no arguments"},
        {"FV", 5, 3, 5, ""},
        {"SUM", 300, 0, eval::kNoMax, ""},
    };
    for (const ArityCase& c : cases) {
        auto r = eval::check_arity(c.name, c.count, c.min, c.max);
        EXPECT_EQ(r ? "" : r.error(), c.expected) << c.name << " " << c.count;
    }
}

TEST(FormulaArgs, CollectValues) {
    const Case cases[] = {
        {"A1:B2", "Array([Integer(1), Integer(2), Integer(3), Str(\"x\")])"},
        {"B2:A1", "Array([Integer(1), Integer(2), Integer(3), Str(\"x\")])"},
        {"A1:C1", "Array([Integer(1), Integer(2), Error(NA)])"},
        {"D1:D2", "Array([Empty, Empty])"},
        {"A1", "Array([Integer(1)])"},
        {"1+1", "Array([Integer(2)])"},
        {"NA()", "Array([Error(NA)])"},
        // A list made by a function is opened one level, like a range.
        {"MAP(A1:B1, LAMBDA(x, x*10))", "Array([Integer(10), Integer(20)])"},
        {"1+B2", "fail: Cannot convert 'x' to a number"},
        {"A1:B500001", "fail: Range too large (1000002 cells); maximum is 1,000,000"},
    };
    for (const Case& c : cases) EXPECT_EQ(collected(c.formula, kGrid), c.expected) << c.formula;
}

TEST(FormulaArgs, CollectAllAndPaired) {
    eval::EvalCtx ctx{kGrid, {}};
    auto call = formula::parser::parse("F(A1:B1, 5, A2)");
    auto args = std::span<const FormulaExpr>(call->get<FormulaExpr::Func>()->args);
    auto all = eval::collect_all(args, ctx);
    ASSERT_TRUE(all);
    EXPECT_EQ(Variant(*all).debug_text(), "Array([Integer(1), Integer(2), Integer(5), Integer(3)])");

    auto failing = formula::parser::parse("F(A1, 1+B2, A2)");
    auto bad = eval::collect_all(failing->get<FormulaExpr::Func>()->args, ctx);
    EXPECT_EQ(bad.error(), "Cannot convert 'x' to a number");

    auto paired = [&](std::string_view text) -> std::string {
        auto t = formula::parser::parse(text);
        auto r = eval::collect_paired(t->get<FormulaExpr::Func>()->args, ctx, "CORREL");
        if (!r) return "fail: " + r.error();
        return std::to_string(r->first.size()) + " pairs";
    };
    EXPECT_EQ(paired("F(A1:A2, B1:B2)"), "fail: CORREL: arrays must have equal length");  // text dropped
    EXPECT_EQ(paired("F(A1:B1, A1:A2)"), "2 pairs");
    EXPECT_EQ(paired("F(B2, B2)"), "fail: CORREL: arrays must have equal length");
    EXPECT_EQ(paired("F(A1)"), "fail: CORREL requires 2 arguments");
}

// Dates are numbers wherever numbers are taken.
TEST(FormulaArgs, NumericFilters) {
    std::vector<Variant> values{Variant(int64_t{1}), Variant(ExcelError::NA), Variant(2.5),
                                Variant(Date{9}),    Variant(true),           Variant("3"),
                                Variant(),           Variant(Array{})};
    std::vector<double> nums = eval::collect_nums(values);
    EXPECT_EQ(nums, (std::vector<double>{1, 2.5, 9}));
    EXPECT_FALSE(eval::as_f64(Variant(true)));
    EXPECT_EQ(*eval::as_f64(Variant(Date{45000})), 45000);

    Array inner{Variant(int64_t{2}), Variant(Array{Variant(int64_t{3})})};
    auto flat = eval::flatten_array_vals({Variant(int64_t{1}), Variant(inner)});
    EXPECT_EQ(Variant(flat).debug_text(), "Array([Integer(1), Integer(2), Array([Integer(3)])])");

    EXPECT_EQ(eval::list_result({}).debug_text(), "Empty");
    EXPECT_EQ(eval::list_result({Variant(Array{})}).debug_text(), "Array([])");
    EXPECT_EQ(eval::list_result({Variant(1), Variant(2)}).debug_text(), "Array([Integer(1), Integer(2)])");
}

TEST(FormulaArgs, Sum) {
    const CellMap cells = sheet({
        {"A1", Variant(int64_t{1})},
        {"A2", Variant(true)},
        {"A3", Variant("5")},
        {"B1", Variant(Date{10})},
        {"B2", Variant(ExcelError::NA)},
        {"C1", Variant(0.5)},
    });
    const Case cases[] = {
        {"=SUM(A1:A3)", "Integer(1)"},
        {"=SUM(A1:A3, 0)", "Integer(1)"},    // a boolean in a cell adds nothing
        {"=SUM(1/0, 2)", "Error(DivZero)"},  // error values in the data propagate
        {"=SUM()", "Integer(0)"},
        {"=SUM(\"5\")", "Integer(5)"},  // a text typed as an argument counts as its number
        {"=SUM(\"x\")", "Error(Value)"},
        {"=SUM(A2)", "Integer(0)"},  // one cell is a reference: its boolean adds nothing
        {"=SUM(A2:A2)", "Integer(0)"},
        {"=SUM(C1:A1)", "Float(11.5)"},  // reversed corners: the same rectangle
        {"=SUM(C1:A1, 0)", "Float(11.5)"},
        {"=SUM(A1:C1)", "Float(11.5)"},
        {"=SUM(B1:B2)", "Error(NA)"},
        {"=SUM(B1)", "Integer(10)"},
        {"=SUM(MAP(A1:B1, LAMBDA(x, x*2)))", "Integer(22)"},
        {"=SUM(1+\"x\")", "fail: Cannot convert 'x' to a number"},
    };
    check(cases, cells);
}

TEST(FormulaSort, StableAndSafe) {
    // Stable: equal keys keep their order, below and above 20 elements.
    for (size_t n : {5u, 20u, 21u, 1000u}) {
        std::vector<std::pair<int, size_t>> v;
        for (size_t i = 0; i < n; ++i) v.push_back({static_cast<int>((i * 7919) % 13), i});
        eval::stable_merge_sort(v, [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 1; i < n; ++i) {
            ASSERT_LE(v[i - 1].first, v[i].first);
            if (v[i - 1].first == v[i].first) {
                ASSERT_LT(v[i - 1].second, v[i].second);
            }
        }
    }
    // A comparator that treats NaN as equal to everything is no ordering; the
    // sort must still finish with every element present.
    std::vector<double> v;
    for (int i = 0; i < 5000; ++i) v.push_back(i % 3 == 0 ? std::nan("") : static_cast<double>((i * 31) % 97));
    eval::stable_merge_sort(v, [](double a, double b) { return a < b; });
    EXPECT_EQ(v.size(), 5000u);
    EXPECT_EQ(std::count_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), 1667);
    // A comparator that always says "before" is also survived.
    std::vector<int> w(100, 1);
    eval::stable_merge_sort(w, [](int, int) { return true; });
    EXPECT_EQ(w.size(), 100u);
}

TEST(FormulaKit, RangeViewReadsInPlaceWithShape) {
    auto tree = formula::parser::parse("=B2:A1");
    ASSERT_TRUE(tree);
    eval::EvalCtx ctx{kGrid, {}};
    auto view = eval::RangeView::open(*tree->get<FormulaExpr::Range>(), ctx);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->rows(), 2u);
    EXPECT_EQ(view->cols(), 2u);
    EXPECT_EQ(view->top(), 1u);
    EXPECT_EQ(view->left(), 1u);
    EXPECT_EQ(view->at(1, 0).debug_text(), "Integer(3)");
    EXPECT_EQ(view->at(uint64_t{1}).debug_text(), "Integer(2)");
    std::string walked;
    view->for_each([&](const Variant& v) { walked += v.debug_text() + " "; });
    EXPECT_EQ(walked, "Integer(1) Integer(2) Integer(3) Str(\"x\") ");
    EXPECT_EQ(ctx.cells_visited, 4u);

    auto huge = formula::parser::parse("=A1:B500001");
    auto refused = eval::RangeView::open(*huge->get<FormulaExpr::Range>(), ctx);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "Range too large (1000002 cells); maximum is 1,000,000");
}

TEST(FormulaKit, ForEachValueTellsWhereEachValueCameFrom) {
    auto tree = formula::parser::parse("=F(A1:B1, 7, MAP(A1:A2, LAMBDA(x, x)))");
    ASSERT_TRUE(tree);
    std::string seen;
    auto r = eval::for_each_value(
        tree->get<FormulaExpr::Func>()->args, eval::EvalCtx{kGrid, {}},
        [&](const Variant& v, eval::ValueSource src) -> Result<void> {
            seen += src == eval::ValueSource::Range ? 'r' : src == eval::ValueSource::Array ? 'a' : 's';
            seen += v.to_string();
            seen += ' ';
            return {};
        });
    ASSERT_TRUE(r);
    EXPECT_EQ(seen, "r1 r2 s7 a1 a3 ");
}

Result<Variant> kit_sqrt(eval::Args a, const eval::EvalCtx& c) {
    return eval::unary(a, c, "SQRT", [](double x) -> Result<Variant> {
        if (x < 0) return Variant(ExcelError::Num);
        return number_variant(std::sqrt(x));
    });
}

Result<Variant> kit_pow(eval::Args a, const eval::EvalCtx& c) {
    return eval::binary(a, c, "POWER", [](double x, double y) { return std::pow(x, y); });
}

TEST(FormulaKit, UnaryAndBinaryHelpers) {
    auto call = [](FuncHandler h, std::string_view formula) {
        auto tree = formula::parser::parse(formula);
        return outcome(h(tree->get<FormulaExpr::Func>()->args, eval::EvalCtx{kGrid, {}}));
    };
    EXPECT_EQ(call(kit_sqrt, "=F(16)"), "Integer(4)");
    EXPECT_EQ(call(kit_sqrt, "=F(-1)"), "Error(Num)");
    EXPECT_EQ(call(kit_sqrt, "=F(1, 2)"), "fail: SQRT requires 1 argument");
    EXPECT_EQ(call(kit_sqrt, "=F(NA())"), "fail: #N/A");  // the dispatcher turns it back into #N/A
    EXPECT_EQ(call(kit_pow, "=F(2, 10)"), "Integer(1024)");
    EXPECT_EQ(call(kit_pow, "=F(10, 400)"), "Error(Num)");
    EXPECT_EQ(call(kit_pow, "=F(2)"), "fail: POWER requires 2 arguments");
    EXPECT_TRUE(eval::is_error_signal("#DIV/0!"));
    EXPECT_FALSE(eval::is_error_signal("Range too large"));
}
