// The part walks of the workbook reader on XML texts: worksheet cells,
// shared strings, OpenDocument content, the number rule and the budget.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "reader/package.h"

using namespace morvane;
using namespace morvane::reader;

namespace {

SheetCell I(int64_t v) { return SheetCell{v}; }
SheetCell F(double v) { return SheetCell{v}; }
SheetCell S(const char* v) { return SheetCell{std::string(v)}; }
SheetCell B(bool v) { return SheetCell{v}; }

using Cells = std::vector<std::pair<CellPos, SheetCell>>;

// Every cell of `got`, compared with `want` in any order.
void expect_cells(const SheetCells& got, const Cells& want, const std::string& context) {
    EXPECT_EQ(got.size(), want.size()) << context;
    for (const auto& [pos, cell] : want) {
        const SheetCell* found = got.find(pos);
        ASSERT_TRUE(found) << context << " missing (" << pos.row << ", " << pos.col << ")";
        EXPECT_EQ(*found, cell) << context << " at (" << pos.row << ", " << pos.col << ")";
    }
}

SheetCells sheet_of(const std::string& sheet_data, const std::vector<std::string>& strings = {}) {
    ReadBudget budget;
    auto sheet = read_xlsx_sheet("s", "<worksheet><sheetData>" + sheet_data + "</sheetData></worksheet>", strings,
                                 budget);
    EXPECT_TRUE(sheet) << (sheet ? "" : sheet.error());
    return sheet ? std::move(sheet->cells) : SheetCells();
}

}  // namespace

TEST(ReaderXlsx, WorksheetCells) {
    const std::vector<std::string> strings = {"zero", "one", "two", "three", "four"};
    struct Case {
        const char* xml;
        Cells want;
    };
    const Case cases[] = {
        {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c></row>", {}},
        {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v> +2 </v></c></row>", {{{1, 1}, S("two")}}},
        {"<row r=\"2\"><c r=\"B2\" t=\"b\"><v>true</v></c><c r=\"C2\" t=\"b\"><v>1</v></c></row>",
         {{{2, 2}, B(false)}, {{2, 3}, B(true)}}},
        {"<c r=\"C3\"><v> 42 </v></c><c r=\"D3\"><v>1.5</v></c><c r=\"E3\"><v>1E3</v></c><c r=\"F3\"><v>abc</v></c>",
         {{{3, 3}, I(42)}, {{3, 4}, F(1.5)}, {{3, 5}, I(1000)}}},
        {"<row r=\"1\"><c r=\"A0\"><v>1</v></c><c><v>2</v></c></row>", {}},
        {"<c r=\"D4\" t=\"str\"><f>A1&amp;\"x\"</f><v>hix</v></c>", {{{4, 4}, S("hix")}}},
        {"<c r=\"E5\" t=\"inlineStr\"><is><r><t>ab</t></r><r><t>cd</t></r></is></c>", {{{5, 5}, S("abcd")}}},
        {"<c r=\"A1\" t=\"e\"><v>#DIV/0!</v></c><c r=\"B1\" t=\"e\"><v></v></c><c r=\"C1\" t=\"b\"><v/></c>",
         {{{1, 1}, S("#DIV/0!")}, {{1, 2}, S("")}, {{1, 3}, B(false)}}},
        {"<c r=\"A1\" t=\"d\"><v>2024-01-01</v></c><c r=\"B1\"><v>-0</v></c>", {{{1, 2}, I(0)}}},
        // Whole numbers are exact up to 64 bits; 2^63 saturates.
        {"<c r=\"A1\"><v>9007199254740993</v></c><c r=\"B1\"><v>-9223372036854775808</v></c>"
         "<c r=\"C1\"><v>9223372036854775808</v></c><c r=\"D1\"><v>+12</v></c>",
         {{{1, 1}, I(9007199254740993)}, {{1, 2}, I(INT64_MIN)}, {{1, 3}, I(INT64_MAX)}, {{1, 4}, I(12)}}},
        {"<c r=\"A1\"><v>1e400</v></c><c r=\"C1\"><v>0.1</v></c>", {{{1, 1}, F(INFINITY)}, {{1, 3}, F(0.1)}}},
        // A later value for a position replaces the earlier one.
        {"<c r=\"A1\"><v>1</v></c><c r=\"A1\"><v>2</v></c>", {{{1, 1}, I(2)}}},
    };
    for (const Case& c : cases) expect_cells(sheet_of(c.xml, strings), c.want, c.xml);
    SheetCells nan = sheet_of("<c r=\"B1\"><v>nan</v></c>");
    ASSERT_TRUE(nan.find({1, 2}));
    EXPECT_TRUE(std::isnan(std::get<double>(nan.find({1, 2})->value)));
}

TEST(ReaderXlsx, PositionsWithoutReferences) {
    // A cell without r is the next column; a row without r is the next row.
    SheetCells got = sheet_of(
        "<row><c><v>1</v></c><c><v>2</v></c></row>"
        "<row><c><v>3</v></c><c r=\"C2\"><v>4</v></c><c><v>5</v></c></row>"
        "<row r=\"5\"><c><v>6</v></c></row><row><c r=\"bad\"><v>7</v></c></row>");
    expect_cells(got,
                 {{{1, 1}, I(1)}, {{1, 2}, I(2)}, {{2, 1}, I(3)}, {{2, 3}, I(4)}, {{2, 4}, I(5)}, {{5, 1}, I(6)},
                  {{6, 1}, I(7)}},
                 "no r");
}

TEST(ReaderXlsx, SharedStrings) {
    ReadBudget budget;
    auto got = read_shared_strings(
        "<sst><si><r><t>ab</t></r><r><t>cd</t></r></si>"
        "<si><t xml:space=\"preserve\"> x </t></si>"
        "<si/>"
        "<si><t>\xE6\x9D\xB1</t><rPh sb=\"0\" eb=\"1\"><t>\xE3\x81\xA8</t></rPh><phoneticPr fontId=\"1\"/></si>"
        "<si><t/></si>"
        "<si><t>last &amp; least</t></si></sst>",
        budget);
    ASSERT_TRUE(got);
    std::vector<std::string> want = {"abcd", " x ", "", "\xE6\x9D\xB1", "", "last & least"};
    EXPECT_EQ(*got, want);
}

TEST(ReaderBudget, SharedStringEntriesAreCharged) {
    // Five bytes per entry in the part, but a string object each in memory.
    std::string xml = "<sst>";
    for (int i = 0; i < 5'000'000; ++i) xml += "<si/>";
    ReadBudget budget;
    auto got = read_shared_strings(xml + "</sst>", budget);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error(), "workbook holds more than 128 MiB of text");
}

TEST(ReaderOds, Content) {
    auto read = [](const std::string& tables) {
        ReadBudget budget;
        auto sheets = read_ods_content("<office:document-content><office:body><office:spreadsheet>" + tables +
                                           "</office:spreadsheet></office:body></office:document-content>",
                                       budget);
        EXPECT_TRUE(sheets) << (sheets ? "" : sheets.error());
        return sheets ? std::move(*sheets) : std::vector<WorkbookSheet>();
    };
    auto sheets = read(
        "<table:table table:name=\"Data\">"
        "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"3\"/>"
        "<table:table-cell office:value-type=\"float\" office:value=\"2.5\"/>"
        "<table:table-cell office:value-type=\"float\" office:value=\"abc\"/>"
        "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"TRUE\"/>"
        "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"/>"
        "<table:table-cell office:value-type=\"percentage\" office:value=\"0.25\"/></table:table-row>"
        "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a</text:p><text:p>b</text:p>"
        "</table:table-cell><table:table-cell office:value-type=\"string\"><text:p>a<text:s/>b<text:s text:c=\"3\"/>"
        "c<text:tab/>d<text:line-break/>e <text:span>f</text:span></text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"string\"><office:annotation><dc:creator>me</dc:creator>"
        "<text:p>note</text:p></office:annotation><text:p>shown</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"date\" office:date-value=\"2024-01-01\"><text:p>01/01/24</text:p>"
        "</table:table-cell><table:table-cell><text:p>no type</text:p></table:table-cell></table:table-row>"
        "</table:table><table:table><table:table-row><table:table-cell office:value-type=\"float\" "
        "office:value=\"1\"/></table:table-row></table:table><table:table/>");
    ASSERT_EQ(sheets.size(), 3u);
    // Names as written; a table without one is Sheet1.
    EXPECT_EQ(sheets[0].name, "Data");
    EXPECT_EQ(sheets[1].name, "Sheet1");
    EXPECT_EQ(sheets[2].name, "Sheet1");
    expect_cells(sheets[0].cells,
                 {{{1, 1}, I(3)}, {{1, 2}, F(2.5)}, {{1, 4}, B(false)}, {{1, 5}, B(true)}, {{1, 6}, F(0.25)},
                  {{2, 1}, S("a\nb")}, {{2, 2}, S("a b   c\td\ne f")}, {{2, 3}, S("shown")}},
                 "content");
    expect_cells(sheets[1].cells, {{{1, 1}, I(1)}}, "second table");
}

TEST(ReaderOds, RepeatsKeepTheirValues) {
    ReadBudget budget;
    auto sheets = read_ods_content(
        "<table:table table:name=\"R\">"
        "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell table:number-columns-repeated=\"2\"/>"
        "<table:table-cell office:value-type=\"float\" office:value=\"5\" table:number-columns-repeated=\"3\"/>"
        "<table:table-cell office:value-type=\"string\"><text:p>x</text:p></table:table-cell></table:table-row>"
        "<table:table-row table:number-rows-repeated=\"0\"><table:covered-table-cell office:value-type=\"float\" "
        "office:value=\"9\"/><table:table-cell table:number-columns-repeated=\"16384\"/></table:table-row>"
        "<table:table-row table:number-rows-repeated=\"1048570\"><table:table-cell "
        "table:number-columns-repeated=\"1024\"/></table:table-row>"
        "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"7\"/></table:table-row>"
        "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"8\"/>",
        budget);
    ASSERT_TRUE(sheets) << sheets.error();
    ASSERT_EQ(sheets->size(), 1u);
    Cells want;
    for (uint32_t r : {1u, 2u}) {
        for (uint32_t c : {3u, 4u, 5u}) want.push_back({{r, c}, I(5)});
        want.push_back({{r, 6}, S("x")});
    }
    want.push_back({{3, 1}, I(9)});
    want.push_back({{1048574, 1}, I(7)});
    want.push_back({{1048575, 1}, I(8)});
    expect_cells((*sheets)[0].cells, want, "repeats");
}

TEST(ReaderBudget, RepeatsStopAtTheCellLimit) {
    ReadBudget budget;
    auto sheets = read_ods_content(
        "<table:table><table:table-row table:number-rows-repeated=\"1000000\">"
        "<table:table-cell office:value-type=\"float\" office:value=\"1\" table:number-columns-repeated=\"100\"/>"
        "</table:table-row></table:table>",
        budget);
    ASSERT_FALSE(sheets);
    EXPECT_EQ(sheets.error(), "workbook holds more than 3000000 cells");
}

TEST(ReaderBudget, SheetsAreCounted) {
    std::string tables;
    for (int i = 0; i < 10'000; ++i) tables += "<table:table/>";
    ReadBudget budget;
    auto sheets = read_ods_content(tables, budget);
    ASSERT_TRUE(sheets);
    EXPECT_EQ(sheets->size(), 10'000u);
    auto more = read_ods_content("<table:table/>", budget);
    ASSERT_FALSE(more);
    EXPECT_EQ(more.error(), "workbook holds more than 10000 sheets");
}

TEST(ReaderBudget, SpaceCountsAreBounded) {
    ReadBudget budget;
    auto sheets = read_ods_content(
        "<table:table><table:table-row><table:table-cell office:value-type=\"string\"><text:p>"
        "<text:s text:c=\"4000000000\"/></text:p></table:table-cell></table:table-row></table:table>",
        budget);
    ASSERT_FALSE(sheets);
    EXPECT_EQ(sheets.error(), "workbook holds more than 128 MiB of text");
}

TEST(ReaderBudget, SharedStringCopiesAreCharged) {
    std::vector<std::string> strings = {std::string(1 << 20, 'x')};
    std::string cells;
    for (int r = 1; r <= 200; ++r) cells += "<c r=\"A" + std::to_string(r) + "\" t=\"s\"><v>0</v></c>";
    ReadBudget budget;
    auto sheet = read_xlsx_sheet("s", cells, strings, budget);
    ASSERT_FALSE(sheet);
    EXPECT_EQ(sheet.error(), "workbook holds more than 128 MiB of text");
}

TEST(ReaderNumbers, NumberCell) {
    EXPECT_EQ(number_cell("12"), I(12));
    EXPECT_EQ(number_cell("-7"), I(-7));
    EXPECT_EQ(number_cell("2.50"), F(2.5));
    EXPECT_EQ(number_cell(".5"), F(0.5));
    EXPECT_EQ(number_cell("5."), I(5));
    EXPECT_EQ(number_cell("1e-2"), F(0.01));
    EXPECT_EQ(number_cell("-inf"), F(-INFINITY));
    EXPECT_EQ(number_cell("++1"), std::nullopt);
    EXPECT_EQ(number_cell(" 1"), std::nullopt);
    EXPECT_EQ(number_cell(""), std::nullopt);
    EXPECT_EQ(number_cell("0x10"), std::nullopt);
}

TEST(ReaderCells, TableGrowsAndReplaces) {
    SheetCells cells;
    for (uint32_t r = 1; r <= 40000; ++r) EXPECT_TRUE(cells.set({r, r % 7 + 1}, I(r)));
    EXPECT_FALSE(cells.set({5, 6}, S("again")));
    EXPECT_EQ(cells.size(), 40000u);
    EXPECT_EQ(*cells.find({5, 6}), S("again"));
    EXPECT_EQ(*cells.find({39999, 39999 % 7 + 1}), I(39999));
    EXPECT_FALSE(cells.find({1, 1}));
    size_t n = 0;
    for (const auto& entry : cells) n += entry.pos.row != 0;
    EXPECT_EQ(n, 40000u);
}
