// The workbook model: sheets, the active sheet, cells, the End searches, the
// sheet checks, and the conversion of row and column arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vm/mod.h"
#include "values/values.h"
#include "workbook/workbook.h"

using namespace morvane;

TEST(VmWorkbook, NewVmHasOneActiveSheet) {
    Vm vm;
    EXPECT_EQ(vm.sheet_names(), std::vector<std::string>{"sheet1"});
    EXPECT_EQ(vm.active_sheet(), "sheet1");
    EXPECT_TRUE(vm.get_cell(1, 1).is_empty());
    EXPECT_TRUE(vm.workbook().index_dirty());
}

TEST(VmWorkbook, SheetsAreKeyedByLowerCaseName) {
    Workbook vm;
    vm.ensure_sheet("Data");
    vm.ensure_sheet("DATA");
    vm.ensure_sheet("sheet10");
    vm.ensure_sheet("sheet2");
    vm.ensure_sheet("ÄRGER");
    // Tab order: creation order, keyed by the lower-case name.
    EXPECT_EQ(vm.sheet_names(), (std::vector<std::string>{"sheet1", "data", "sheet10", "sheet2", "ärger"}));
    EXPECT_EQ(vm.display_name("data"), "Data");
    EXPECT_EQ(vm.active_sheet(), "sheet1");
    ASSERT_TRUE(vm.set_active_sheet("DATA").has_value());
    EXPECT_EQ(vm.active_sheet(), "data");
    EXPECT_EQ(vm.set_active_sheet("Nope").error(), "Sheet 'Nope' not found");
    EXPECT_EQ(vm.active_sheet(), "data");
    EXPECT_NE(vm.get_sheet_cells("Ärger"), nullptr);
    EXPECT_EQ(vm.get_sheet_cells("missing"), nullptr);
    EXPECT_FALSE(vm.remove_sheet("data"));  // the active sheet stays
    EXPECT_TRUE(vm.remove_sheet("sheet10"));
}

TEST(VmWorkbook, CellsFollowTheActiveSheet) {
    Vm vm;
    vm.set_cell_value(1, 1, Variant(int64_t{5}));
    vm.ensure_sheet("other");
    ASSERT_TRUE(vm.set_active_sheet("other").has_value());
    EXPECT_TRUE(vm.get_cell(1, 1).is_empty());
    vm.set_cell_value(1, 1, Variant("x"));
    ASSERT_TRUE(vm.set_active_sheet("sheet1").has_value());
    EXPECT_EQ(vm.get_cell(1, 1).as_int(), 5);
    EXPECT_EQ(vm.get_sheet_cells("other")->at(CellPos{1, 1}).value.as_str(), "x");
}

TEST(VmWorkbook, EndSearches) {
    Workbook vm;
    for (uint32_t r : {1u, 2u, 3u, 5u}) vm.set_cell_value(r, 1, Variant(int64_t{r}));
    vm.set_cell_value(7, 1, Variant());    // stored Empty counts as empty
    vm.set_cell_value(2, 3, Variant(""));  // the empty text does not
    // clang-format off
    struct Case { uint32_t got, want; };
    // clang-format on
    const Case cases[] = {
        {vm.first_empty_row(1, 1), 4},    {vm.first_empty_row(1, 4), 4},   {vm.first_empty_row(1, 5), 6},
        {vm.last_nonempty_row(1, 10), 5}, {vm.last_nonempty_row(1, 4), 3}, {vm.last_nonempty_row(1, 3), 3},
        {vm.first_empty_row(2, 9), 9},    {vm.last_nonempty_row(2, 9), 1}, {vm.last_nonempty_row(3, 9), 2},
        {vm.first_empty_col(2, 1), 2},    {vm.first_empty_col(2, 3), 4},   {vm.last_nonempty_col(2, 100), 3},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
    EXPECT_FALSE(vm.index_dirty());
    vm.set_cell_value(4, 1, Variant(int64_t{4}));
    EXPECT_TRUE(vm.index_dirty());
    EXPECT_EQ(vm.first_empty_row(1, 1), 6u);
}

TEST(VmWorkbook, Protection) {
    Workbook book;
    EXPECT_TRUE(book.check_sheet_not_protected("data", "Data").has_value());
    book.protected_sheets.insert("data");
    EXPECT_EQ(book.check_sheet_not_protected("data", "Data").error(), "Cannot edit: sheet 'Data' is protected");
    EXPECT_TRUE(book.check_sheet_not_protected("sheet1", "sheet1").has_value());
    // Both checks take the key first, then the name to show.
    EXPECT_EQ(book.require_sheet_exists("data", "Data").error(), "Sheet 'Data' not found");
    EXPECT_TRUE(book.require_sheet_exists("sheet1", "x").has_value());
}

TEST(VmWorkbook, ToCellIndex) {
    // clang-format off
    struct Case { Variant v; uint32_t want; };
    const Case ok[] = {
        {Variant(int64_t{3}), 3}, {Variant("2"), 2}, {Variant(true), 1}, {Variant(4.0), 4},
        // clang-format on
        {Variant(1e12), 4294967295u},
        {Variant(int64_t{5000000000}), 4294967295u},
    };
    for (const auto& c : ok) EXPECT_EQ(*vm::to_cell_index(c.v, "row"), c.want) << c.v.debug_text();
    // clang-format off
    struct Bad { Variant v; const char* label; const char* msg; };
    // clang-format on
    const Bad bad[] = {
        {Variant(), "row", "Cell row must be a positive integer, got 0"},
        {Variant(int64_t{0}), "row", "Cell row must be a positive integer, got 0"},
        {Variant(2.5), "col", "Cell col must be a positive integer, got 2.5"},
        {Variant(int64_t{-3}), "col", "Cell col must be a positive integer, got -3"},
        {Variant(std::nan("")), "row", "Cell row must be a positive integer, got NaN"},
        {Variant(HUGE_VAL), "row", "Cell row must be a positive integer, got inf"},
        {Variant("x"), "row", "Cannot convert 'x' to number"},
    };
    for (const auto& c : bad) EXPECT_EQ(vm::to_cell_index(c.v, c.label).error(), c.msg);
}
