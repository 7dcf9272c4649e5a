// Areas and their sizes, whole-row edits, the row sort and the clipboard,
// each on a bare CellMap written and read by A1 address.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/cpp/formula_test_util.h"
#include "types/address.h"
#include "workbook/areas.h"
#include "workbook/paste.h"
#include "workbook/sheet_rows.h"

using namespace morvane;

namespace {

using morvane::testing::sheet;

CellPos at(const char* a1) {
    auto p = morvane_types::parse_cell_addr(a1);
    EXPECT_TRUE(p.has_value()) << a1;
    return *p;
}

CellRange area(const char* a1) {
    auto c = morvane_types::parse_range_addr(a1);
    EXPECT_TRUE(c.has_value()) << a1;
    return *c;
}

// A1 address -> the formula text of a formula cell, else the value's text;
// cells holding Empty are left out, as every reader does.
std::map<std::string, std::string> dump(const CellMap& m) {
    std::map<std::string, std::string> out;
    for (const auto& [pos, cell] : m) {
        if (cell.value.is_empty() && !cell.formula) continue;
        std::string key = morvane_types::column_letters(pos.col) + std::to_string(pos.row);
        out[key] = cell.formula ? *cell.formula : cell.value.to_string();
    }
    return out;
}

using Cells = std::map<std::string, std::string>;

}  // namespace

// ------------------------------------------------------------------ areas

TEST(VmAreas, MultiAreaAddresses) {
    struct Case {
        const char* text;
        std::optional<std::vector<CellRange>> want;
    };
    const Case cases[] = {
        {"A1", std::vector<CellRange>{{1, 1, 1, 1}}},
        {"A1, C3:D4", std::vector<CellRange>{{1, 1, 1, 1}, {3, 3, 4, 4}}},
        {"B2:A1", std::vector<CellRange>{{2, 2, 1, 1}}},
        {"A1,A1", std::vector<CellRange>{{1, 1, 1, 1}, {1, 1, 1, 1}}},
        {"A1,", std::nullopt},
        {",A1", std::nullopt},
        {"A1,,B2", std::nullopt},
        {"A1,block", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(vm::parse_multi_area_addr(c.text), c.want) << c.text;
}

TEST(VmAreas, DefinedNamesAreFollowedOneLevel) {
    vm::NameMap names{{"block", "A1:B2"}, {"pair", "A1,C1:C2"}, {"alias", "block"}};
    EXPECT_EQ(vm::resolve_range_addr("Block", names), (CellRange{{1, 1}, {2, 2}}));
    EXPECT_EQ(vm::resolve_range_addr("alias", names), std::nullopt);
    EXPECT_EQ(vm::resolve_multi_area_addr("PAIR", names), (std::vector<CellRange>{{1, 1, 1, 1}, {1, 3, 2, 3}}));
    EXPECT_EQ(vm::resolve_multi_area_addr("pair,A1", names), std::nullopt);
}

TEST(VmAreas, SizesNeverWrap) {
    EXPECT_EQ(area("A1:B3").cell_count(), 6u);
    EXPECT_EQ(area("B2:A1").cell_count(), 0u);
    EXPECT_EQ(area("A3:B1").rows(), 0u);
    EXPECT_EQ(area("A3:B1").cols(), 2u);
    // The whole 32-bit square: 2^64 - 2^33 + 1 cells, counted exactly.
    const CellRange huge{{1, 1}, {UINT32_MAX, UINT32_MAX}};
    EXPECT_EQ(huge.cell_count(), uint64_t{UINT32_MAX} * UINT32_MAX);
    // Row and column 0 parse, so 2^32 x 2^32 saturates instead of wrapping to 0.
    EXPECT_EQ((CellRange{{0, 0}, {UINT32_MAX, UINT32_MAX}}).cell_count(), UINT64_MAX);
    EXPECT_EQ(vm::total_cells({huge, huge}), UINT64_MAX);
    EXPECT_EQ(vm::check_range_size("A1:XFD1048576", area("A1:XFD1048576").cell_count(), "copy").error(),
              "Range 'A1:XFD1048576' is too large to copy (17179869184 cells; the limit is 10000000)");
    EXPECT_TRUE(vm::check_range_size("x", 10'000'000, "copy").has_value());
}

// ------------------------------------------------------------------ rows

TEST(VmSheetRows, DeleteClosesTheGap) {
    CellMap m = sheet({{"A1", 1}, {"A2", 2}, {"A3", 3}, {"A4", 4}, {"B6", 6}, {"C3", "x"}});
    vm::delete_rows(m, 2, 3);
    EXPECT_EQ(dump(m), (Cells{{"A1", "1"}, {"A2", "4"}, {"B4", "6"}}));
    // Rows written last-first delete the same rows.
    CellMap r = sheet({{"A1", 1}, {"A2", 2}, {"A3", 3}, {"A4", 4}});
    vm::delete_rows(r, 3, 2);
    EXPECT_EQ(dump(r), (Cells{{"A1", "1"}, {"A2", "4"}}));
    // Every row to the last one a position can hold: a 2^32 - 1 row span.
    CellMap all = sheet({{"A1", 1}, {"B2", 2}});
    all.insert_or_assign(CellPos{UINT32_MAX, 1}, CellContent{std::nullopt, Variant(int64_t{3})});
    vm::delete_rows(all, UINT32_MAX, 2);
    EXPECT_EQ(dump(all), (Cells{{"A1", "1"}}));
}

TEST(VmSheetRows, DeleteMovesFormulasUnchanged) {
    CellMap m = sheet({{"A5", 10}});
    m.insert_or_assign(at("B5"), CellContent{"=A5*2", Variant(int64_t{20})});
    vm::delete_rows(m, 1, 1);
    EXPECT_EQ(dump(m), (Cells{{"A4", "10"}, {"B4", "=A5*2"}}));
}

TEST(VmSheetRows, InsertNeverOverwrites) {
    CellMap m = sheet({{"A1", 1}, {"A2", 2}, {"A3", 3}, {"B4", 4}});
    ASSERT_TRUE(vm::insert_rows(m, 2, 3));
    EXPECT_EQ(dump(m), (Cells{{"A1", "1"}, {"A4", "2"}, {"A5", "3"}, {"B6", "4"}}));
    // Reversed rows insert the same two rows instead of shifting by -1 onto
    // rows that still hold data.
    CellMap r = sheet({{"A1", 1}, {"A2", 2}, {"A3", 3}, {"B4", 4}});
    ASSERT_TRUE(vm::insert_rows(r, 3, 2));
    EXPECT_EQ(dump(r), dump(m));
}

TEST(VmSheetRows, InsertPastTheLastRowChangesNothing) {
    CellMap m = sheet({{"A1", 1}});
    m.insert_or_assign(CellPos{UINT32_MAX - 1, 1}, CellContent{std::nullopt, Variant(int64_t{2})});
    const Cells before = dump(m);
    EXPECT_FALSE(vm::insert_rows(m, 1, 2));
    EXPECT_EQ(dump(m), before);
    // The shift itself is 64-bit: rows 1 to 4294967295 is 2^32 rows.
    CellMap n = sheet({{"A1", 1}});
    EXPECT_FALSE(vm::insert_rows(n, 1, UINT32_MAX));
    // Cells above the inserted rows do not move.
    CellMap k = sheet({{"A1", 1}});
    EXPECT_TRUE(vm::insert_rows(k, 2, UINT32_MAX));
    EXPECT_EQ(dump(k), (Cells{{"A1", "1"}}));
}

TEST(VmSheetRows, ShiftsMoveOnlyTheirBand) {
    const CellMap grid = sheet({{"A1", 1}, {"B1", 2}, {"A2", 3}, {"B2", 4}, {"C2", 5}, {"A3", 6}});
    struct Case {
        const char* name;
        vm::CellShift shift;
        Cells want;
    };
    const Case cases[] = {
        {"whole rows deleted", {false, false, 1, 1, 1, kMaxCol}, {{"A1", "3"}, {"B1", "4"}, {"C1", "5"}, {"A2", "6"}}},
        // clang-format off
        {"whole rows inserted", {false, true, 2, 2, 1, kMaxCol},
         {{"A1", "1"}, {"B1", "2"}, {"A4", "3"}, {"B4", "4"}, {"C4", "5"}, {"A5", "6"}}},
        {"a column's cells moved up", {false, false, 1, 1, 2, 2},
         {{"A1", "1"}, {"B1", "4"}, {"A2", "3"}, {"C2", "5"}, {"A3", "6"}}},
        {"whole columns deleted", {true, false, 1, 2, 1, kMaxRow}, {{"A2", "5"}}},
        {"a row's cells moved right", {true, true, 1, 1, 2, 2},
         // clang-format on
         {{"A1", "1"}, {"B1", "2"}, {"B2", "3"}, {"C2", "4"}, {"D2", "5"}, {"A3", "6"}}},
    };
    for (const Case& c : cases) {
        CellMap m = grid;
        ASSERT_TRUE(vm::shift_cells(m, c.shift)) << c.name;
        EXPECT_EQ(dump(m), c.want) << c.name;
    }
    // A cell pushed past the sheet's edge fails and nothing moves.
    CellMap edge = sheet({{"A1", 1}, {"XFD2", 2}});
    EXPECT_FALSE(vm::shift_cells(edge, {true, true, 1, 1, 1, kMaxRow}));
    EXPECT_TRUE(vm::shift_cells(edge, {true, true, 1, 1, 1, 1}));
    EXPECT_EQ(dump(edge), (Cells{{"B1", "1"}, {"XFD2", "2"}}));
    CellMap bottom = sheet({{"A1048576", 1}});
    EXPECT_FALSE(vm::shift_cells(bottom, {false, true, 5, 1, 1, kMaxCol}));
    EXPECT_EQ(dump(bottom), (Cells{{"A1048576", "1"}}));
}

TEST(VmSheetRows, FormulasFollowTheShift) {
    const vm::CellShift rows_2_3_deleted{false, false, 2, 2, 1, kMaxCol};
    const vm::CellShift row_2_inserted{false, true, 2, 1, 1, kMaxCol};
    const vm::CellShift b_down{false, true, 1, 1, 2, 2};
    struct Case {
        const char* formula;
        const vm::CellShift* shift;
        bool own_sheet;
        const char* want;
    };
    const Case cases[] = {
        {"=SUM(A1:A5)+A4", &rows_2_3_deleted, true, "=SUM(A1:A3)+A2"},
        {"=SUM(A2:A3)+A3", &rows_2_3_deleted, true, "=SUM(#REF!)+#REF!"},
        {"=SUM(A3:A9)+SUM(A1:A2)", &rows_2_3_deleted, true, "=SUM(A2:A7)+SUM(A1:A1)"},
        {"=SUM(A5:A1)", &rows_2_3_deleted, true, "=SUM(A3:A1)"},
        {"=$A$3+A1", &row_2_inserted, true, "=$A$4+A1"},
        {"=A3+Other!A3+data!A3", &row_2_inserted, false, "=A3+Other!A3+data!A4"},
        {"=A3+B3+SUM(A3:B3)", &b_down, true, "=A3+B4+SUM(A3:B3)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vm::follow_shift(c.formula, c.own_sheet, "data", *c.shift), c.want) << c.formula;
}

TEST(VmSheetRows, AreasFollowTheShift) {
    const vm::CellShift rows_2_3_deleted{false, false, 2, 2, 1, kMaxCol};
    const vm::CellShift row_2_inserted{false, true, 2, 1, 1, kMaxCol};
    const vm::CellShift column_1_inserted{true, true, 1, 1, 1, kMaxRow};
    const vm::CellShift b_down{false, true, 1, 1, 2, 2};
    struct Case {
        const char* area;
        const vm::CellShift* shift;
        const char* want;  // "" when the area is gone
    };
    const Case cases[] = {
        {"A5", &rows_2_3_deleted, "A3"},
        {"A1:B6", &rows_2_3_deleted, "A1:B4"},
        {"A2:C3", &rows_2_3_deleted, ""},
        {"A1:A1048576", &row_2_inserted, "A1:A1048576"},
        {"A1048576", &row_2_inserted, ""},
        {"A3:A1048576", &row_2_inserted, "A4:A1048576"},
        {"A1:XFD1", &column_1_inserted, "A1:XFD1"},
        {"A1:XFC1", &column_1_inserted, "B1:XFD1"},
        {"B3", &b_down, "B4"},
        {"A3", &b_down, "A3"},
    };
    for (const Case& c : cases) {
        auto got = vm::follow_shift(area(c.area), *c.shift);
        EXPECT_EQ(got ? vm::rect_text(*got) : "", c.want) << c.area;
    }
}

TEST(VmSheetRows, ClearRemovesTheAreaOnly) {
    CellMap m = sheet({{"A1", 1}, {"B2", 2}, {"C3", 3}});
    vm::clear_rect(m, area("A1:B2"));
    EXPECT_EQ(dump(m), (Cells{{"C3", "3"}}));
    CellMap big = sheet({{"A1", 1}, {"XFD1048576", 2}});
    vm::clear_rect(big, area("A2:XFD1048576"));
    EXPECT_EQ(dump(big), (Cells{{"A1", "1"}}));
}

TEST(VmSheetRows, Sort) {
    struct Case {
        const char* name;
        CellMap cells;
        const char* area;
        std::vector<vm::SortKey> keys;
        Cells want;
    };
    Case cases[] = {
        {"ascending by the second column, ties keep their order",
         // clang-format off
         sheet({{"A1", "a"}, {"B1", 2}, {"A2", "b"}, {"B2", 1}, {"A3", "c"}, {"B3", 2}}), "A1:B3", {{1, false}},
         {{"A1", "b"}, {"B1", "1"}, {"A2", "a"}, {"B2", "2"}, {"A3", "c"}, {"B3", "2"}}},
        {"descending, ties keep their order",
         sheet({{"A1", "a"}, {"B1", 2}, {"A2", "b"}, {"B2", 1}, {"A3", "c"}, {"B3", 2}}), "A1:B3", {{1, true}},
         {{"A1", "a"}, {"B1", "2"}, {"A2", "c"}, {"B2", "2"}, {"A3", "b"}, {"B3", "1"}}},
        {"blank keys last ascending, in their old order",
         sheet({{"A1", 3}, {"B2", "x"}, {"A4", 1}, {"B5", "y"}}), "A1:B5", {{0, false}},
         {{"A1", "1"}, {"A2", "3"}, {"B3", "x"}, {"B5", "y"}}},
        {"blank keys last descending",
         sheet({{"A1", 3}, {"B2", "x"}, {"A4", 1}, {"B5", "y"}}), "A1:B5", {{0, true}},
         {{"A1", "3"}, {"A2", "1"}, {"B3", "x"}, {"B5", "y"}}},
        {"a key right of the area keeps the order",
         sheet({{"A1", 2}, {"A2", 1}}), "A1:A2", {{5, false}}, {{"A1", "2"}, {"A2", "1"}}},
        {"cells outside the area stay", sheet({{"A1", 2}, {"A2", 1}, {"C1", "out"}, {"A3", 0}}), "A1:A2", {{0, false}},
         {{"A1", "1"}, {"A2", "2"}, {"C1", "out"}, {"A3", "0"}}},
        {"reversed area is left alone", sheet({{"A1", 2}, {"A2", 1}}), "A2:A1", {{0, false}}, {{"A1", "2"}, {"A2", "1"}}},
        {"a second key orders the ties of the first, in its own order",
         sheet({{"A1", 1}, {"B1", 1}, {"A2", 2}, {"B2", 5}, {"A3", 1}, {"B3", 3}}), "A1:B3", {{0, false}, {1, true}},
         {{"A1", "1"}, {"B1", "3"}, {"A2", "1"}, {"B2", "1"}, {"A3", "2"}, {"B3", "5"}}},
        {"rows blank in the first key come last, ordered by the second",
         sheet({{"B1", 2}, {"A2", 9}, {"B3", 1}, {"C4", "x"}}), "A1:C4", {{0, false}, {1, false}},
         {{"A1", "9"}, {"B2", "1"}, {"B3", "2"}, {"C4", "x"}}},
        {"text orders without case", sheet({{"A1", "b"}, {"A2", "A"}, {"A3", "a"}}), "A1:A3", {{0, false}},
         // clang-format on
         {{"A1", "A"}, {"A2", "a"}, {"A3", "b"}}},
    };
    for (Case& c : cases) {
        vm::sort_rows(c.cells, area(c.area), c.keys);
        EXPECT_EQ(dump(c.cells), c.want) << c.name;
    }
}

TEST(VmSheetRows, SortDropsFormulas) {
    CellMap m = sheet({{"A1", 5}});
    m.insert_or_assign(at("A2"), CellContent{"=1+1", Variant(int64_t{2})});
    vm::sort_rows(m, area("A1:A2"), {{{0, false}}});
    EXPECT_EQ(dump(m), (Cells{{"A1", "2"}, {"A2", "5"}}));
}

TEST(VmSheetRows, SortSurvivesAnInconsistentOrder) {
    // Numbers compare as numbers and a number with a text by text, so
    // 9 < 10, 10 < "9" and "9" = 9: no strict weak ordering. Many rows of
    // such keys must sort in bounds and keep every value.
    CellMap m;
    const Variant keys[] = {Variant(int64_t{9}), Variant(int64_t{10}),  Variant("9"), Variant(0.5),
                            Variant("10"),       Variant(std::nan("")), Variant(true)};
    for (uint32_t r = 1; r <= 500; ++r) {
        m.insert_or_assign(CellPos{r, 1}, CellContent{std::nullopt, keys[(r * 7919u) % 7]});
        m.insert_or_assign(CellPos{r, 2}, CellContent{std::nullopt, Variant(int64_t{r})});
    }
    vm::sort_rows(m, CellRange{{1, 1}, {500, 2}}, {{{0, false}}});
    std::vector<bool> seen(501, false);
    for (const auto& [pos, cell] : m) {
        ASSERT_TRUE(pos.row >= 1 && pos.row <= 500 && pos.col <= 2);
        if (pos.col == 2) seen[cell.value.as_int()] = true;
    }
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), true), 500);
}

TEST(VmSheetRows, SortOfAHugeAreaCostsWhatItStores) {
    CellMap m = sheet({{"A1048576", 1}, {"A2", 3}, {"B7", "z"}});
    vm::sort_rows(m, area("A1:XFD1048576"), {{{0, true}}});
    // Row 7 comes after the two keyed rows and the five blank rows above it.
    EXPECT_EQ(dump(m), (Cells{{"A1", "3"}, {"A2", "1"}, {"B8", "z"}}));
}

TEST(VmSheetRows, GuessHeader) {
    struct Case {
        const char* name;
        CellMap cells;
        const char* area;
        std::optional<bool> want;
    };
    Case cases[] = {
        // clang-format off
        {"texts over a number", sheet({{"A1", "name"}, {"B1", "v"}, {"A2", "c"}, {"B2", 1}}), "A1:B3", true},
        {"a number on top is data", sheet({{"A1", "name"}, {"B1", 2020}, {"A2", "c"}, {"B2", 1}}), "A1:B3", false},
        {"texts over texts cannot tell", sheet({{"A1", "name"}, {"A2", "c"}, {"A3", "a"}}), "A1:A3", std::nullopt},
        {"a blank top row is data", sheet({{"A2", "c"}, {"A3", 1}}), "A1:A3", false},
        {"one row has no header", sheet({{"A1", "name"}}), "A1:B1", false},
        // clang-format on
    };
    for (Case& c : cases) EXPECT_EQ(vm::guess_header(c.cells, area(c.area)), c.want) << c.name;
}

// ------------------------------------------------------------------ clipboard

namespace {

Result<Cells> copy_paste(CellMap m, std::vector<const char*> from, const char* to, bool transpose,
                         const vm::NameMap& names = {}) {
    std::vector<CellRange> areas;
    for (const char* a : from) areas.push_back(area(a));
    vm::ClipboardState clip = vm::take_snapshot(&m, areas);
    TRY_VOID(vm::paste(clip, to, transpose, false, names, m));
    return dump(m);
}

}  // namespace

TEST(VmPaste, Pastes) {
    const CellMap grid = sheet({{"A1", 1}, {"B1", 2}, {"A2", 3}, {"B2", 4}});
    struct Case {
        const char* name;
        CellMap cells;
        std::vector<const char*> from;
        const char* to;
        bool transpose;
        Cells want;
    };
    const Case cases[] = {
        // clang-format off
        {"plain", grid, {"A1:B2"}, "D1", false,
         {{"A1", "1"}, {"B1", "2"}, {"A2", "3"}, {"B2", "4"}, {"D1", "1"}, {"E1", "2"}, {"D2", "3"}, {"E2", "4"}}},
        {"transposed", grid, {"A1:B2"}, "D1", true,
         {{"A1", "1"}, {"B1", "2"}, {"A2", "3"}, {"B2", "4"}, {"D1", "1"}, {"E1", "3"}, {"D2", "2"}, {"E2", "4"}}},
        {"transposed into a range of the swapped shape", sheet({{"A1", 1}, {"B3", 6}}), {"A1:B3"}, "D1:F2", true,
         {{"A1", "1"}, {"B3", "6"}, {"D1", "1"}, {"F2", "6"}}},
        {"one cell fills the destination", sheet({{"A1", "v"}}), {"A1"}, "D1:E2", false,
         {{"A1", "v"}, {"D1", "v"}, {"E1", "v"}, {"D2", "v"}, {"E2", "v"}}},
        {"empty cells overwrite", sheet({{"A1", 1}, {"D2", "old"}, {"E1", "old"}}), {"A1:B2"}, "D1", false,
         {{"A1", "1"}, {"D1", "1"}}},
        {"an empty cell clears a filled range", sheet({{"D1", 1}, {"D2", 2}}), {"A1"}, "D1:D2", false, {}},
        {"two areas to two areas", sheet({{"A1", "a"}, {"C1", "c1"}, {"C2", "c2"}}), {"A1", "C1:C2"}, "E1,G1:G2", false,
         {{"A1", "a"}, {"C1", "c1"}, {"C2", "c2"}, {"E1", "a"}, {"G1", "c1"}, {"G2", "c2"}}},
        {"a reversed source pastes nothing", sheet({{"A1", 1}, {"D1", "keep"}}), {"B2:A1"}, "D1", false,
         // clang-format on
         {{"A1", "1"}, {"D1", "keep"}}},
        {"a reversed destination receives nothing", sheet({{"A1", 1}}), {"A1"}, "D2:D1", false, {{"A1", "1"}}},
    };
    for (const Case& c : cases) {
        auto got = copy_paste(c.cells, c.from, c.to, c.transpose);
        ASSERT_TRUE(got.has_value()) << c.name << ": " << got.error();
        EXPECT_EQ(*got, c.want) << c.name;
    }
}

TEST(VmPaste, PasteErrors) {
    const CellMap m = sheet({{"A1", 1}, {"B1", 2}, {"A3", 3}});
    struct Case {
        std::vector<const char*> from;
        const char* to;
        bool transpose;
        const char* want;
    };
    const Case cases[] = {
        {{"A1:B3"}, "D1:E3", true, "Paste error: shape mismatch (source 2x3, destination 3x2)"},
        {{"A1:B3"}, "D1:ZZ", false, "Paste error: invalid destination range 'D1:ZZ'"},
        {{"A1:B3"}, "ZZ", false, "Paste error: invalid destination address 'ZZ'"},
        // clang-format off
        {{"A1"}, "E1,G1", false,
         // clang-format on
         "Paste error: multi-area paste is not yet supported by morvane (diagnosed, not executed)"},
        {{"A1", "C1:C2"}, "E1", false, "Paste error: source has 2 disjoint areas but the destination is a single area"},
        {{"A1", "C1:C2"}, "E1,G1,H1", false, "Paste error: source has 2 areas but destination has 3 areas"},
        // clang-format off
        {{"A1", "C1:C2"}, "E1:E2,G1:G2", false,
         "Paste error: area 1 shape mismatch (source 1x1, destination 2x1)"},
        {{"A1", "C1:C2"}, "E1,G1:G2", true,
         "Paste error: multi-area paste is not yet supported by morvane (diagnosed, not executed)"},
        {{"A1", "C1:C2"}, "nowhere", false, "Paste error: invalid destination range 'nowhere'"},
        {{"A1"}, "A1:XFD1048576", false,
         // clang-format on
         "Range 'A1:XFD1048576' is too large to paste (17179869184 cells; the limit is 10000000)"},
    };
    for (const Case& c : cases) {
        CellMap cells = m;
        const Cells before = dump(cells);
        std::vector<CellRange> areas;
        for (const char* a : c.from) areas.push_back(area(a));
        vm::ClipboardState clip = vm::take_snapshot(&cells, areas);
        auto r = vm::paste(clip, c.to, c.transpose, false, {}, cells);
        ASSERT_FALSE(r.has_value()) << c.to;
        EXPECT_EQ(r.error(), c.want);
        EXPECT_EQ(dump(cells), before) << c.to;
    }
}

TEST(VmPaste, FormulasMoveWithTheirCells) {
    struct Case {
        const char* name;
        const char* from;
        const char* to;
        bool transpose;
        bool values_only;
        const char* cell;
        const char* want;  // the formula, or "" for a value cell
    };
    const Case cases[] = {
        {"moved by the distance", "A1:A2", "C3", false, false, "C4", "=D3*2+$B$1"},
        {"one cell filled over the destination", "A1", "C3:D4", false, false, "D4", "=E4*2+$B$1"},
        {"transposed", "A1:A2", "C3", true, false, "D3", "=E2*2+$B$1"},
        {"off the sheet is #REF!", "A2", "A1", false, false, "A1", "=#REF!*2+$B$1"},
        {"values only", "A1:A2", "C3", false, true, "C4", ""},
    };
    for (const Case& c : cases) {
        CellMap m = sheet({{"B1", 1}, {"B2", 2}});
        m.insert_or_assign(at("A1"), CellContent{"=B1*2+$B$1", Variant(int64_t{3})});
        m.insert_or_assign(at("A2"), CellContent{"=B1*2+$B$1", Variant(int64_t{3})});
        vm::ClipboardState clip = vm::take_snapshot(&m, {area(c.from)});
        ASSERT_TRUE(vm::paste(clip, c.to, c.transpose, c.values_only, {}, m).has_value()) << c.name;
        const CellContent& got = m.at(at(c.cell));
        EXPECT_EQ(got.formula.value_or(""), c.want) << c.name;
        EXPECT_FALSE(got.value.is_empty()) << c.name;
    }
}

TEST(VmPaste, PastesStopAtThe32BitEdge) {
    // Column letters reach far beyond XFD; only the 32-bit edge limits a paste.
    CellMap m = sheet({{"A1", 1}, {"B1", 2}});
    vm::ClipboardState clip = vm::take_snapshot(&m, {area("A1:B1")});
    EXPECT_TRUE(vm::paste(clip, "XFD1", false, false, {}, m).has_value());
    EXPECT_EQ(m.at(at("XFE1")).value.as_int(), 2);
    EXPECT_EQ(vm::paste(clip, "A4294967295", true, false, {}, m).error(),
              "Paste error: destination 'A4294967295' runs past the last row or column");
}

TEST(VmPaste, DefinedNamesAsDestinations) {
    const vm::NameMap names{{"pair", "E1,G1:G2"}, {"block", "D1:E1"}};
    CellMap m = sheet({{"A1", "a"}, {"C1", "c1"}, {"C2", "c2"}});
    auto two = copy_paste(m, {"A1", "C1:C2"}, "Pair", false, names);
    ASSERT_TRUE(two.has_value()) << two.error();
    EXPECT_EQ(two->at("G2"), "c2");
    // Without a colon a single-area paste reads a cell address only.
    auto named = copy_paste(m, {"A1:B1"}, "block", false, names);
    EXPECT_EQ(named.error(), "Paste error: invalid destination address 'block'");
}

TEST(VmPaste, TheSnapshotIsTakenAtCopy) {
    CellMap m = sheet({{"A1", 1}});
    m.insert_or_assign(at("A2"), CellContent{"=A1+1", Variant(int64_t{2})});
    vm::ClipboardState clip = vm::take_snapshot(&m, {area("A1:A2")});
    m.insert_or_assign(at("A1"), CellContent{std::nullopt, Variant(int64_t{9})});
    ASSERT_TRUE(vm::paste(clip, "B1", false, false, {}, m).has_value());
    ASSERT_TRUE(vm::paste(clip, "C1", false, true, {}, m).has_value());
    // The formula moves with its cell; values alone paste the copied value.
    EXPECT_EQ(dump(m), (Cells{{"A1", "9"}, {"A2", "=A1+1"}, {"B1", "1"}, {"B2", "=B1+1"}, {"C1", "1"}, {"C2", "2"}}));
    // A sheet that does not exist copies as empty.
    vm::ClipboardState none = vm::take_snapshot(nullptr, {area("A1:A2")});
    ASSERT_TRUE(vm::paste(none, "B1", false, false, {}, m).has_value());
    EXPECT_FALSE(m.contains(at("B1")));
}
