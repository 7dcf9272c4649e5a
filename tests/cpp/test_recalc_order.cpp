// Dependency order of formulas: reads by rectangle, Kahn's order, cycles found and placed last.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formula/parser.h"
#include "workbook/recalc.h"

using namespace morvane;
using morvane::vm::FormulaEntry;

namespace {

FormulaEntry entry(uint32_t row, uint32_t col, const char* text) {
    auto tree = formula::parser::parse(text);
    EXPECT_TRUE(tree.has_value()) << text;
    return {row, col, std::make_shared<const FormulaExpr>(std::move(*tree))};
}

}  // namespace

TEST(RecalcOrder, ReadsAreNormalisedRectangles) {
    auto tree = formula::parser::parse("=SUM(B2:A1)+C3*-D$4+LEN(\"x\")");
    ASSERT_TRUE(tree);
    std::vector<CellRange> want = {{{1, 1}, {2, 2}}, {{3, 3}, {3, 3}}, {{4, 4}, {4, 4}}};
    EXPECT_EQ(vm::extract_cell_refs(*tree), want);
}

TEST(RecalcOrder, PositionsAreNoReads) {
    auto tree = formula::parser::parse("=ROW(A1)+COLUMNS(B1:C9)+OFFSET(D1,1,0)+ROWS(E1:E2)*F1");
    ASSERT_TRUE(tree);
    std::vector<CellRange> want = {{{1, 6}, {1, 6}}};
    EXPECT_EQ(vm::extract_cell_refs(*tree), want);
}

TEST(RecalcOrder, Orders) {
    struct Case {
        const char* name;
        std::vector<FormulaEntry> formulas;
        std::vector<uint32_t> want;
        // Indices of the formulas on a cycle.
        std::vector<uint32_t> cycle;
    };
    std::vector<Case> cases;
    // A3 = A2 + 1, A2 = A1 + 1, A1 = 1, listed backwards.
    cases.push_back({"chain", {entry(3, 1, "=A2+1"), entry(2, 1, "=A1+1"), entry(1, 1, "=1")}, {2, 1, 0}, {}});
    // A range written backwards still reads all four cells.
    cases.push_back(
        {"reversed range",
         {entry(1, 3, "=SUM(B2:A1)"), entry(1, 1, "=1"), entry(1, 2, "=2"), entry(2, 1, "=3"), entry(2, 2, "=4")},
         {1, 2, 3, 4, 0},
         {}});
    // A cycle comes after everything else, and its reader after it.
    cases.push_back({"cycle last",
                     {entry(1, 3, "=A1"), entry(1, 1, "=B1+1"), entry(1, 2, "=A1+1"), entry(5, 5, "=7")},
                     {3, 1, 2, 0},
                     {1, 2}});
    // Reading one's own cell is a cycle of one that holds nothing up; a
    // cell read twice counts once.
    cases.push_back({"self and duplicates", {entry(1, 2, "=A1+A1+SUM(A1:A1)"), entry(1, 1, "=A1+1")}, {1, 0}, {1}});
    // A cycle through a range, reached from a formula before it in the list.
    cases.push_back({"cycle through a range",
                     {entry(9, 1, "=A3*2"), entry(3, 1, "=SUM(A1:A2)"), entry(1, 1, "=A3"), entry(2, 1, "=5")},
                     {3, 1, 2, 0},
                     {1, 2}});
    // Independent formulas keep list order; dependents follow FIFO.
    cases.push_back(
        {"fifo", {entry(9, 9, "=B1"), entry(1, 1, "=1"), entry(1, 2, "=A1"), entry(8, 8, "=A1")}, {1, 2, 3, 0}, {}});
    // A whole-sheet range costs its formula cells only.
    cases.push_back({"whole sheet", {entry(1, 1, "=SUM(B1:XFD1048576)"), entry(1048576, 16384, "=1")}, {1, 0}, {}});
    // A formula whose reads are found only when it runs waits for the rest.
    {
        Case c{
            "dynamic last", {entry(1, 1, "=INDIRECT(\"D1\")"), entry(1, 3, "=1"), entry(1, 4, "=C1+1")}, {1, 2, 0}, {}};
        c.formulas[0].dynamic = true;
        cases.push_back(std::move(c));
    }
    // Positions are no reads: ROW of its own cell is no cycle.
    cases.push_back({"position", {entry(1, 1, "=ROW(A1)+ROWS(A1:A3)")}, {0}, {}});
    for (const auto& c : cases) {
        auto sorted = vm::topo_sort_formulas(c.formulas);
        ASSERT_TRUE(sorted) << c.name;
        const vm::EvalOrder& got = *sorted;
        EXPECT_EQ(got.order, c.want) << c.name;
        std::vector<uint32_t> cycle;
        for (uint32_t i = 0; i < got.on_cycle.size(); ++i)
            if (got.on_cycle[i]) cycle.push_back(i);
        EXPECT_EQ(cycle, c.cycle) << c.name;
    }
}

namespace {

// One sheet's cells and formulas, written and read as the workbook does.
struct Sheet {
    CellMap cells;
    SheetFormulas formulas{cells};

    void value(CellPos p, Variant v) {
        formulas.changed(CellRange::single(p), {});
        cells.insert_or_assign(p, CellContent{std::nullopt, std::move(v)});
    }
    void formula(CellPos p, const char* text) { ASSERT_TRUE(formulas.store(p, text, true, {})) << text; }
    Variant at(CellPos p) const { return cells.at(p).value; }
};

}  // namespace

TEST(SheetFormulas, ComputesOnlyWhatAWriteReachesWhenRead) {
    Sheet s;
    s.value({1, 1}, Variant(int64_t{1}));
    s.formula({1, 2}, "=A1*2");
    s.formula({1, 3}, "=B1+1");
    s.formula({1, 4}, "=5");
    s.formula({1, 5}, "=A2");
    // Values changed behind the record's back show whether a formula ran again.
    s.cells.at({1, 4}).value = Variant(int64_t{99});
    s.cells.at({1, 5}).value = Variant(int64_t{99});
    s.value({1, 1}, Variant(int64_t{10}));
    EXPECT_FALSE(s.formulas.up_to_date());
    EXPECT_EQ(s.at({1, 3}), Variant(int64_t{3}));  // nothing computed before a read
    ASSERT_TRUE(s.formulas.update({}));
    EXPECT_TRUE(s.formulas.up_to_date());
    EXPECT_EQ(s.at({1, 2}), Variant(int64_t{20}));
    EXPECT_EQ(s.at({1, 3}), Variant(int64_t{21}));
    EXPECT_EQ(s.at({1, 4}), Variant(int64_t{99}));  // not reached by A1
    EXPECT_EQ(s.at({1, 5}), Variant(int64_t{99}));
    ASSERT_TRUE(s.formulas.recalculate({}));
    EXPECT_EQ(s.at({1, 4}), Variant(int64_t{5}));
    EXPECT_EQ(s.at({1, 5}), Variant(int64_t{0}));  // a blank shows 0
}

TEST(SheetFormulas, RangesCyclesAndDynamicReads) {
    Sheet s;
    s.formula({1, 1}, "=SUM(B1:B100000)");
    s.formula({2, 1}, "=INDIRECT(\"C1\")");
    s.formula({3, 1}, "=A3+1");
    s.value({50000, 2}, Variant(int64_t{7}));
    s.value({1, 3}, Variant(std::string("x")));
    ASSERT_TRUE(s.formulas.update({}));
    EXPECT_EQ(s.at({1, 1}), Variant(int64_t{7}));
    EXPECT_EQ(s.at({2, 1}), Variant(std::string("x")));
    EXPECT_EQ(s.at({3, 1}), Variant(ExcelError::Ref));
    // A cleared cell inside a range is a change too.
    s.formulas.changed(CellRange::single({50000, 2}), {});
    s.cells.erase({50000, 2});
    ASSERT_TRUE(s.formulas.update({}));
    EXPECT_EQ(s.at({1, 1}), Variant(int64_t{0}));
}

TEST(SheetFormulas, AFailureIsAnErrorValueAndABoundIsAFailure) {
    Sheet s;
    s.value({1, 1}, Variant(std::string("abc")));
    s.formula({1, 2}, "=A1*2");
    EXPECT_EQ(s.at({1, 2}), Variant(ExcelError::Value));
    auto r = s.formulas.store({1, 3}, "=SUM(SEQUENCE(20000000))", true, {});
    EXPECT_FALSE(r);
    EXPECT_FALSE(s.cells.contains({1, 3}));
    EXPECT_FALSE(s.formulas.store({1, 3}, "=1+", true, {}));
}

TEST(SheetFormulas, AnInterruptedRecalculationLeavesTheRestStale) {
    Sheet s;
    for (uint32_t r = 1; r <= 70000; ++r) s.cells.insert_or_assign({r, 1}, CellContent{std::nullopt, Variant(0.0)});
    s.formula({1, 3}, "=1");
    s.formula({2, 3}, "=SUM(A1:A70000)+1");  // reads enough cells to meet an interrupt check
    s.formula({3, 3}, "=2");
    for (uint32_t r = 1; r <= 3; ++r) s.cells.at({r, 3}).value = Variant(int64_t{99});
    eval::InterruptCheck stop{[](void*) { return true; }, nullptr};
    EXPECT_FALSE(s.formulas.recalculate(stop));
    EXPECT_FALSE(s.formulas.up_to_date());
    EXPECT_EQ(s.at({1, 3}), Variant(int64_t{1}));  // computed before the interrupt
    EXPECT_EQ(s.at({3, 3}), Variant(int64_t{99}));
    // What was computed is not computed again; the rest is.
    s.cells.at({1, 3}).value = Variant(int64_t{77});
    ASSERT_TRUE(s.formulas.update({}));
    EXPECT_TRUE(s.formulas.up_to_date());
    EXPECT_EQ(s.at({1, 3}), Variant(int64_t{77}));
    EXPECT_EQ(s.at({2, 3}), Variant(int64_t{1}));
    EXPECT_EQ(s.at({3, 3}), Variant(int64_t{2}));
    // A full recalculation after a change leaves nothing stale.
    s.value({5, 1}, Variant(int64_t{5}));
    ASSERT_TRUE(s.formulas.recalculate({}));
    EXPECT_TRUE(s.formulas.up_to_date());
    EXPECT_EQ(s.at({2, 3}), Variant(int64_t{6}));
    EXPECT_EQ(s.at({1, 3}), Variant(int64_t{1}));
}

TEST(SheetFormulas, RemovedFormulasLeaveTheIndexRightWhenTheirIdsComeBack) {
    Sheet s;
    // Enough formulas, removed in pieces, that the reader index is swept
    // several times and new formulas take the ids of removed ones.
    constexpr uint32_t kRows = 5000;
    for (uint32_t r = 1; r <= kRows; ++r) {
        s.value({r, 1}, Variant(int64_t{r}));
        const std::string text = "=A" + std::to_string(r) + "*2";
        s.formula({r, 2}, text.c_str());
    }
    for (uint32_t r = 1; r <= 4000; r += 500) {
        const CellRange piece{{r, 2}, {r + 499, 2}};
        s.formulas.changed(piece, {});
        piece.for_each_cell([&](CellPos p) { s.cells.erase(p); });
        ASSERT_TRUE(s.formulas.update({}));
    }
    for (uint32_t r = 1; r <= kRows; ++r) {
        const std::string text = "=B" + std::to_string(r) + "+A" + std::to_string(r);
        s.formula({r, 3}, text.c_str());
    }
    s.value({10, 1}, Variant(int64_t{100}));
    s.value({4500, 1}, Variant(int64_t{1}));
    ASSERT_TRUE(s.formulas.update({}));
    EXPECT_FALSE(s.cells.contains({10, 2}));
    EXPECT_EQ(s.at({10, 3}), Variant(int64_t{100}));  // a blank B10 reads 0
    EXPECT_EQ(s.at({4500, 2}), Variant(int64_t{2}));
    EXPECT_EQ(s.at({4500, 3}), Variant(int64_t{3}));
    EXPECT_EQ(s.at({4999, 3}), Variant(int64_t{4999 * 3}));
}
