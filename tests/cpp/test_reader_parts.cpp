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

Variant I(int64_t v) { return Variant(v); }
Variant F(double v) { return Variant(v); }
Variant S(const char* v) { return Variant(std::string(v)); }
Variant B(bool v) { return Variant(v); }
Variant E(ExcelError e) { return Variant(e); }
Variant D(int64_t serial, double time = 0) { return Variant(Date{serial, time}); }

using Cells = std::vector<std::pair<CellPos, Variant>>;

// Every cell of `got`, compared with `want` in any order.
void expect_cells(const CellMap& got, const Cells& want, const std::string& context) {
    EXPECT_EQ(got.size(), want.size()) << context;
    for (const auto& [pos, cell] : want) {
        auto found = got.find(pos);
        ASSERT_TRUE(found != got.end()) << context << " missing (" << pos.row << ", " << pos.col << ")";
        EXPECT_EQ(found->second.value, cell)
            << context << " at (" << pos.row << ", " << pos.col << "): " << found->second.value.debug_text();
        EXPECT_EQ(found->second.value.kind(), cell.kind()) << context;
    }
}

Result<WorkbookSheet> read_sheet(const std::string& sheet_data, const std::vector<std::string>& strings,
                                 const std::vector<DateStyle>* date_styles = nullptr, bool date1904 = false) {
    ReadBudget budget;
    SheetContext context{&strings, date_styles, date1904};
    return read_xlsx_sheet("s", "<worksheet><sheetData>" + sheet_data + "</sheetData></worksheet>", context, budget);
}

CellMap sheet_of(const std::string& sheet_data, const std::vector<std::string>& strings = {}) {
    auto sheet = read_sheet(sheet_data, strings);
    EXPECT_TRUE(sheet) << (sheet ? "" : sheet.error());
    return sheet ? std::move(sheet->cells) : CellMap();
}

}  // namespace

TEST(ReaderXlsx, WorksheetCells) {
    const std::vector<std::string> strings = {"zero", "one", "two", "three", "four"};
    struct Case {
        const char* xml;
        Cells want;
    };
    const Case cases[] = {
        {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v> +2 </v></c></row>", {{{1, 1}, S("two")}}},
        {"<row r=\"2\"><c r=\"B2\" t=\"b\"><v>true</v></c><c r=\"C2\" t=\"b\"><v>1</v></c></row>",
         {{{2, 2}, B(true)}, {{2, 3}, B(true)}}},
        {"<row r=\"2\"><c r=\"B2\" t=\"b\"><v>false</v></c><c r=\"C2\" t=\"b\"><v>0</v></c></row>",
         {{{2, 2}, B(false)}, {{2, 3}, B(false)}}},
        {"<c r=\"C3\"><v> 42 </v></c><c r=\"D3\"><v>1.5</v></c><c r=\"E3\"><v>1E3</v></c><c r=\"F3\"><v>abc</v></c>",
         {{{3, 3}, I(42)}, {{3, 4}, F(1.5)}, {{3, 5}, I(1000)}}},
        {"<row r=\"1\"><c r=\"A0\"><v>1</v></c><c><v>2</v></c></row>", {}},
        {"<c r=\"D4\" t=\"str\"><f>A1&amp;\"x\"</f><v>hix</v></c>", {{{4, 4}, S("hix")}}},
        // A formula's text keeps its spaces.
        {"<c r=\"D4\" t=\"str\"><v>  hi x </v></c>", {{{4, 4}, S("  hi x ")}}},
        {"<c r=\"$B$2\"><v>3</v></c>", {{{2, 2}, I(3)}}},
        {"<c r=\"E5\" t=\"inlineStr\"><is><r><t>ab</t></r><r><t>cd</t></r></is></c>", {{{5, 5}, S("abcd")}}},
        // Error cells are error values; a literal the engine does not know stays text.
        {"<c r=\"A1\" t=\"e\"><v>#DIV/0!</v></c><c r=\"B1\" t=\"e\"><v></v></c><c r=\"C1\" t=\"b\"><v/></c>"
         "<c r=\"D1\" t=\"e\"><v> #N/A </v></c><c r=\"E1\" t=\"e\"><v>#SPILL!</v></c>",
         // clang-format off
         {{{1, 1}, E(ExcelError::DivZero)}, {{1, 2}, S("")}, {{1, 3}, B(false)}, {{1, 4}, E(ExcelError::NA)},
          // clang-format on
          {{1, 5}, E(ExcelError::Spill)}}},
        {"<c r=\"A1\" t=\"e\"><v>#CALC!</v></c><c r=\"B1\" t=\"e\"><v>#FIELD!</v></c>"
         "<c r=\"C1\" t=\"e\"><v>#BLOCKED!</v></c><c r=\"D1\" t=\"e\"><v>#GETTING_DATA</v></c>"
         "<c r=\"E1\" t=\"e\"><v>#BUSY!</v></c>",
         // clang-format off
         {{{1, 1}, E(ExcelError::Calc)}, {{1, 2}, E(ExcelError::Field)}, {{1, 3}, E(ExcelError::Blocked)},
          {{1, 4}, E(ExcelError::GettingData)}, {{1, 5}, S("#BUSY!")}}},
        // clang-format on
        // ISO dates load as Dates; a text that is not one stays text.
        {"<c r=\"A1\" t=\"d\"><v>2024-01-01</v></c><c r=\"B1\"><v>-0</v></c>"
         "<c r=\"C1\" t=\"d\"><v>2021-01-01T12:00:00</v></c><c r=\"D1\" t=\"d\"><v>06:00:00</v></c>"
         "<c r=\"E1\" t=\"d\"><v>1900-01-01</v></c><c r=\"F1\" t=\"d\"><v>2021-02-30</v></c>"
         "<c r=\"G1\" t=\"d\"><v>2021-01-01T10:10:10.5Z</v></c>",
         // clang-format off
         {{{1, 1}, D(45292)}, {{1, 2}, I(0)}, {{1, 3}, D(44197, 0.5)}, {{1, 4}, D(0, 0.25)}, {{1, 5}, D(1)},
          {{1, 6}, S("2021-02-30")}, {{1, 7}, D(44197, (10 * 3600 + 10 * 60 + 10.5) / 86400.0)}}},
        // clang-format on
        // Whole numbers are exact up to 64 bits; past them they stay floats.
        {"<c r=\"A1\"><v>9007199254740993</v></c><c r=\"B1\"><v>-9223372036854775808</v></c>"
         "<c r=\"C1\"><v>9223372036854775808</v></c><c r=\"D1\"><v>+12</v></c><c r=\"E1\"><v>1e19</v></c>"
         "<c r=\"F1\"><v>-9.223372036854775808E18</v></c>",
         // clang-format off
         {{{1, 1}, I(9007199254740993)}, {{1, 2}, I(INT64_MIN)}, {{1, 3}, F(0x1p63)}, {{1, 4}, I(12)},
          {{1, 5}, F(1e19)}, {{1, 6}, I(INT64_MIN)}}},
        // clang-format on
        // Escapes of the format are decoded in formula texts and inline strings.
        {"<c r=\"A1\" t=\"str\"><v>a_x000D_b_x005F_x0041_</v></c>"
         "<c r=\"B1\" t=\"inlineStr\"><is><t>_x0041__xD83D__xDE00__xD800_</t></is></c>",
         {{{1, 1}, S("a\rb_x0041_")}, {{1, 2}, S("A\xF0\x9F\x98\x80_xD800_")}}},
        {"<c r=\"A1\"><v>1e400</v></c><c r=\"C1\"><v>0.1</v></c>", {{{1, 1}, F(INFINITY)}, {{1, 3}, F(0.1)}}},
        // A later value for a position replaces the earlier one.
        {"<c r=\"A1\"><v>1</v></c><c r=\"A1\"><v>2</v></c>", {{{1, 1}, I(2)}}},
    };
    for (const Case& c : cases) expect_cells(sheet_of(c.xml, strings), c.want, c.xml);
    CellMap nan = sheet_of("<c r=\"B1\"><v>nan</v></c>");
    ASSERT_TRUE(nan.contains({1, 2}));
    EXPECT_TRUE(std::isnan(nan.at({1, 2}).value.as_float()));
}

TEST(ReaderXlsx, MissingSharedStringsFail) {
    const std::vector<std::string> strings = {"zero"};
    for (const char* v : {"7", "1", "abc"}) {
        auto sheet = read_sheet(std::string("<row r=\"3\"><c r=\"B3\" t=\"s\"><v>") + v + "</v></c></row>", strings);
        ASSERT_FALSE(sheet) << v;
        EXPECT_EQ(sheet.error(),
                  std::string("cell B3 of sheet 's' refers to shared string ") + v + ", but the workbook has 1");
    }
}

TEST(ReaderXlsx, FormatCodesThatShowDates) {
    struct Case {
        const char* code;
        DateStyle want;
    };
    // clang-format off
    const Case cases[] = {
        {"yyyy\\-mm\\-dd", DateStyle::Date}, {"d-mmm", DateStyle::Date}, {"mmm yyyy", DateStyle::Date},
        {"mmmm", DateStyle::Date}, {"m/d/yy h:mm", DateStyle::Date}, {"[$-409]dddd, mmmm d, yyyy", DateStyle::Date},
        {"h:mm AM/PM", DateStyle::Time}, {"mm:ss.0", DateStyle::Time}, {"[h]:mm:ss", DateStyle::Time},
        {"h:mm a/p", DateStyle::Time}, {"[Red]hh:mm", DateStyle::Time},
        {"General", DateStyle::None}, {"0.00E+00", DateStyle::None}, {"\"day\" 0.0", DateStyle::None},
        {"#,##0 \\d", DateStyle::None}, {"[h]", DateStyle::None}, {"_-* #,##0_-;[Red]-#,##0", DateStyle::None},
        {"@", DateStyle::None}, {"0.0%", DateStyle::None}, {"[$\xE2\x82\xAC-407] #,##0", DateStyle::None},
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(format_code_style(c.code), c.want) << c.code;
}

TEST(ReaderXlsx, DateCellsByTheirFormat) {
    // Formats: 0 General, 1 built-in date 14, 2 a custom date code, 3 a time of day (21), 4 a quoted "d",
    // 5 built-in date and time 22, 6 built-in time 46.
    std::vector<DateStyle> styles = read_date_styles(
        "<styleSheet><numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>"
        "<numFmt numFmtId=\"165\" formatCode=\"&quot;day&quot; 0.0\"/></numFmts>"
        "<cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"21\"/>"
        "<xf numFmtId=\"165\"/><xf numFmtId=\"22\"/><xf numFmtId=\"46\"/></cellXfs></styleSheet>");
    using enum DateStyle;
    EXPECT_EQ(styles, (std::vector<DateStyle>{None, Date, Date, Time, None, Date, Time}));
    const std::string cells =
        "<c r=\"A1\" s=\"1\"><v>42369</v></c><c r=\"B1\" s=\"2\"><v>42369.5</v></c>"
        "<c r=\"C1\" s=\"3\"><v>0.5</v></c><c r=\"D1\"><v>5</v></c><c r=\"E1\" s=\"4\"><v>5</v></c>"
        "<c r=\"F1\" s=\"1\" t=\"d\"><v>2020-01-01</v></c><c r=\"G1\" s=\"5\"><v>1.75</v></c>"
        "<c r=\"H1\" s=\"6\"><v>0.25</v></c><c r=\"I1\" s=\"1\"><v>-1</v></c>"
        "<c r=\"J1\" s=\"1\"><v>2958466</v></c><c r=\"K1\" s=\"9\"><v>3</v></c><c r=\"L1\" s=\"1\"><v>0</v></c>";
    auto sheet = read_sheet(cells, {}, &styles);
    ASSERT_TRUE(sheet) << sheet.error();
    // A number with no date to show (below 0, past 9999-12-31) and a format index past the table stay numbers.
    expect_cells(sheet->cells,
                 // clang-format off
                 {{{1, 1}, D(42369)}, {{1, 2}, D(42369, 0.5)}, {{1, 3}, D(0, 0.5)}, {{1, 4}, I(5)}, {{1, 5}, I(5)},
                  {{1, 6}, D(43831)}, {{1, 7}, D(1, 0.75)}, {{1, 8}, D(0, 0.25)}, {{1, 9}, I(-1)},
                  {{1, 10}, I(2958466)}, {{1, 11}, I(3)}, {{1, 12}, D(0)}},
                 // clang-format on
                 "1900");
    // 2020-01-01 is 42369 in the 1904 system and 43831 in the 1900 system; a time of day alone stays.
    sheet = read_sheet(cells, {}, &styles, true);
    ASSERT_TRUE(sheet) << sheet.error();
    expect_cells(sheet->cells,
                 // clang-format off
                 {{{1, 1}, D(43831)}, {{1, 2}, D(43831, 0.5)}, {{1, 3}, D(0, 0.5)}, {{1, 4}, I(5)}, {{1, 5}, I(5)},
                  {{1, 6}, D(43831)}, {{1, 7}, D(1463, 0.75)}, {{1, 8}, D(0, 0.25)}, {{1, 9}, I(-1)},
                  {{1, 10}, I(2958466)}, {{1, 11}, I(3)}, {{1, 12}, D(1462)}},
                 // clang-format on
                 "1904");
}

TEST(ReaderXlsx, CellsPastTheSheetAreRefused) {
    for (const char* ref : {"A1048577", "XFE1"}) {
        auto sheet = read_sheet(std::string("<c r=\"A1\"><v>1</v></c><c r=\"") + ref + "\"><v>2</v></c>", {});
        ASSERT_FALSE(sheet) << ref;
        EXPECT_EQ(sheet.error(), std::string("cell ") + ref +
                                     " of sheet 's' lies past the last row (1048576) or column (XFD) of a sheet");
    }
    // The last cell of a sheet, and a cell past it that holds no value, are fine.
    auto sheet = read_sheet("<c r=\"XFD1048576\"><v>1</v></c><c r=\"XFE1\"/>", {});
    ASSERT_TRUE(sheet) << sheet.error();
    expect_cells(sheet->cells, {{{1048576, 16384}, I(1)}}, "last cell");
}

TEST(ReaderXlsx, PositionsWithoutReferences) {
    // A cell without r is the next column; a row without r is the next row.
    CellMap got = sheet_of(
        "<row><c><v>1</v></c><c><v>2</v></c></row>"
        "<row><c><v>3</v></c><c r=\"C2\"><v>4</v></c><c><v>5</v></c></row>"
        "<row r=\"5\"><c><v>6</v></c></row><row><c r=\"bad\"><v>7</v></c></row>");
    expect_cells(got,
                 // clang-format off
                 {{{1, 1}, I(1)}, {{1, 2}, I(2)}, {{2, 1}, I(3)}, {{2, 3}, I(4)}, {{2, 4}, I(5)}, {{5, 1}, I(6)},
                  // clang-format on
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
    // Escapes decoded (a protected underscore reads as itself), line ends as XML reads them.
    got = read_shared_strings(
        "<sst><si><t>a_x000D_b</t></si><si><t>_x005F_x0041_</t></si><si><t>x\r\ny\rz&#13;</t></si>"
        "<si><t><![CDATA[p\r\nq]]></t></si></sst>",
        budget);
    ASSERT_TRUE(got);
    want = {"a\rb", "_x0041_", "x\ny\nz\r", "p\nq"};
    EXPECT_EQ(*got, want);
}

TEST(ReaderBudget, SharedStringEntriesAreCharged) {
    // Five bytes per entry in the part, but a string object each in memory.
    std::string xml = "<sst>";
    for (int i = 0; i < 40'000; ++i) xml += "<si/>";
    ReadBudget budget;
    budget.text_left = 1 << 20;
    auto got = read_shared_strings(xml + "</sst>", budget);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error(), "workbook holds more than 1 GiB of text");
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
        "</table:table-cell><table:table-cell><text:p>no type</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"string\"/><table:table-cell office:value-type=\"time\" "
        "office:time-value=\"PT06H00M00S\"/><table:table-cell office:value-type=\"date\" "
        "office:date-value=\"2024-01-01T12:00:00\"/></table:table-row>"
        "</table:table><table:table><table:table-row><table:table-cell office:value-type=\"float\" "
        "office:value=\"1\"/></table:table-row></table:table><table:table/>");
    ASSERT_EQ(sheets.size(), 3u);
    // Names as written; a table without one is Sheet1.
    EXPECT_EQ(sheets[0].name, "Data");
    EXPECT_EQ(sheets[1].name, "Sheet1");
    EXPECT_EQ(sheets[2].name, "Sheet1");
    expect_cells(sheets[0].cells,
                 // clang-format off
                 {{{1, 1}, I(3)}, {{1, 2}, F(2.5)}, {{1, 4}, B(false)}, {{1, 5}, B(true)}, {{1, 6}, F(0.25)},
                  {{2, 1}, S("a\nb")}, {{2, 2}, S("a b   c\td\ne f")}, {{2, 3}, S("shown")}, {{2, 4}, D(45292)},
                  {{2, 5}, S("no type")}, {{2, 6}, S("")}, {{2, 7}, D(0, 0.25)}, {{2, 8}, D(45292, 0.5)}},
                 // clang-format on
                 "content");
    expect_cells(sheets[1].cells, {{{1, 1}, I(1)}}, "second table");
}

TEST(ReaderOds, ErrorResultsBooleansAndStringValues) {
    ReadBudget budget;
    auto sheets = read_ods_content(
        "<table:table table:name=\"E\"><table:table-row>"
        // As LibreOffice writes a formula's error result, and as it wrote it with a float type.
        "<table:table-cell table:formula=\"of:=NA()\" office:value-type=\"string\" office:string-value=\"\" "
        "calcext:value-type=\"error\"><text:p>#N/A</text:p></table:table-cell>"
        "<table:table-cell table:formula=\"of:=1/0\" office:value-type=\"float\" office:value=\"0\" "
        "calcext:value-type=\"error\"><text:p>#DIV/0!</text:p></table:table-cell>"
        // An error of LibreOffice's own stays the text it shows.
        "<table:table-cell table:formula=\"of:=X\" office:value-type=\"string\" office:string-value=\"\" "
        "calcext:value-type=\"error\"><text:p>Err:502</text:p></table:table-cell>"
        // Without LibreOffice's own type, a formula's text result that is an error literal is that error ...
        "<table:table-cell table:formula=\"of:=#VALUE!\" office:value-type=\"string\"><text:p>#VALUE!</text:p>"
        "</table:table-cell>"
        // ... but a text result LibreOffice calls a string, and a constant text, stay text.
        "<table:table-cell table:formula=\"of:=&quot;#N/A&quot;\" office:value-type=\"string\" "
        "calcext:value-type=\"string\"><text:p>#N/A</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"string\"><text:p>#REF!</text:p></table:table-cell>"
        // The stored string value wins over the shown paragraphs.
        "<table:table-cell office:value-type=\"string\" office:string-value=\"stored\"><text:p>shown</text:p>"
        "</table:table-cell>"
        "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"1\"/>"
        "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"0\"/>"
        // LibreOffice's own value type first changes nothing.
        "<table:table-cell calcext:value-type=\"float\" office:value-type=\"float\" office:value=\"2\"/>"
        "<table:table-cell calcext:value-type=\"error\" office:value-type=\"string\" office:string-value=\"\">"
        "<text:p>#SPILL!</text:p></table:table-cell>"
        // A formula's error result with its literal stored and no paragraph.
        "<table:table-cell table:formula=\"of:=NA()\" office:value-type=\"string\" office:string-value=\"#N/A\"/>"
        "</table:table-row></table:table>",
        budget);
    ASSERT_TRUE(sheets) << sheets.error();
    expect_cells((*sheets)[0].cells,
                 // clang-format off
                 {{{1, 1}, E(ExcelError::NA)}, {{1, 2}, E(ExcelError::DivZero)}, {{1, 3}, S("Err:502")},
                  {{1, 4}, E(ExcelError::Value)}, {{1, 5}, S("#N/A")}, {{1, 6}, S("#REF!")}, {{1, 7}, S("stored")},
                  {{1, 8}, B(true)}, {{1, 9}, B(false)}, {{1, 10}, I(2)}, {{1, 11}, E(ExcelError::Spill)},
                  {{1, 12}, E(ExcelError::NA)}},
                 // clang-format on
                 "errors");
}

TEST(ReaderOds, CellsPastTheSheetAreRefused) {
    auto read = [](const std::string& rows) {
        ReadBudget budget;
        return read_ods_content("<table:table table:name=\"P\">" + rows + "</table:table>", budget);
    };
    const std::string past_rows =
        "<table:table-row table:number-rows-repeated=\"1048576\"><table:table-cell/></table:table-row>";
    const std::string value = "<table:table-cell office:value-type=\"float\" office:value=\"1\"/>";
    auto sheets = read(past_rows + "<table:table-row>" + value + "</table:table-row>");
    ASSERT_FALSE(sheets);
    EXPECT_EQ(sheets.error(), "cell A1048577 of sheet 'P' lies past the last row (1048576) or column (XFD) of a sheet");
    sheets = read("<table:table-row><table:table-cell table:number-columns-repeated=\"16384\"/>" + value +
                  "</table:table-row>");
    ASSERT_FALSE(sheets);
    EXPECT_EQ(sheets.error(), "cell XFE1 of sheet 'P' lies past the last row (1048576) or column (XFD) of a sheet");
    // Empty rows and cells past the sheet, as LibreOffice writes a sheet's tail, hold no value.
    sheets = read("<table:table-row>" + value +
                  "<table:table-cell table:number-columns-repeated=\"20000\"/>"
                  "</table:table-row>" +
                  past_rows + past_rows);
    ASSERT_TRUE(sheets) << sheets.error();
    expect_cells((*sheets)[0].cells, {{{1, 1}, I(1)}}, "tail");
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

TEST(ReaderBudget, RepeatsStopAtTheirLimit) {
    ReadBudget budget;
    auto sheets = read_ods_content(
        "<table:table><table:table-row table:number-rows-repeated=\"1000000\">"
        "<table:table-cell office:value-type=\"float\" office:value=\"1\" table:number-columns-repeated=\"100\"/>"
        "</table:table-row></table:table>",
        budget);
    ASSERT_FALSE(sheets);
    EXPECT_EQ(sheets.error(), "workbook repeats cells more than 1048576 times");
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
    EXPECT_EQ(sheets.error(), "workbook holds more than 1 GiB of text");
}

TEST(ReaderBudget, SharedStringCopiesAreCharged) {
    std::vector<std::string> strings = {std::string(1 << 20, 'x')};
    std::string cells;
    for (int r = 1; r <= 200; ++r) cells += "<c r=\"A" + std::to_string(r) + "\" t=\"s\"><v>0</v></c>";
    ReadBudget budget;
    budget.text_left = 128 << 20;
    SheetContext context{&strings, nullptr};
    auto sheet = read_xlsx_sheet("s", cells, context, budget);
    ASSERT_FALSE(sheet);
    EXPECT_EQ(sheet.error(), "workbook holds more than 1 GiB of text");
}

TEST(ReaderNumbers, NumberCell) {
    EXPECT_EQ(number_cell("12"), I(12));
    EXPECT_EQ(number_cell("-7"), I(-7));
    EXPECT_EQ(number_cell("2.50"), F(2.5));
    EXPECT_EQ(number_cell(".5"), F(0.5));
    EXPECT_EQ(number_cell("5."), I(5));
    EXPECT_EQ(number_cell("1e-2"), F(0.01));
    EXPECT_EQ(number_cell("-inf"), F(-INFINITY));
    EXPECT_TRUE(number_cell("1.8e19")->is_float());
    EXPECT_EQ(number_cell("++1"), std::nullopt);
    EXPECT_EQ(number_cell(" 1"), std::nullopt);
    EXPECT_EQ(number_cell(""), std::nullopt);
    EXPECT_EQ(number_cell("0x10"), std::nullopt);
}

TEST(ReaderDates, IsoTexts) {
    using DT = std::optional<Date>;
    EXPECT_EQ(iso_date("1900-03-01"), DT(Date{61, 0}));
    EXPECT_EQ(iso_date("1899-12-30"), DT(Date{-1, 0}));
    EXPECT_EQ(iso_date("2021-01-01 06:00"), DT(Date{44197, 0.25}));
    EXPECT_EQ(iso_date("2021-01-01T00:00:00+02:00"), DT(Date{44197, 0}));
    EXPECT_EQ(iso_date("24:00:00"), DT(Date{1, 0}));
    EXPECT_EQ(iso_date("2021-01-01T24:00"), DT(Date{44198, 0}));
    for (const char* bad : {"", "2021", "2021-13-01", "21-01-01", "2021-01-01X", "10:61", "2021-01-01T"})
        EXPECT_EQ(iso_date(bad), std::nullopt) << bad;
    // A date the sheet can show is a Date; one before 1900 stays its number.
    EXPECT_EQ(date_or_number(Date{-1, 0.5}), F(-0.5));
    EXPECT_EQ(date_or_number(Date{0, 0.5}), D(0, 0.5));
    using D = std::optional<double>;
    EXPECT_EQ(iso_duration_days("PT36H"), D(1.5));
    EXPECT_EQ(iso_duration_days("-P1DT12H"), D(-1.5));
    EXPECT_EQ(iso_duration_days("PT0.5S"), D(0.5 / 86400));
    // clang-format off
    for (const char* bad : {"", "P", "PT", "P1Y", "PT1D", "T1H"}) EXPECT_EQ(iso_duration_days(bad), std::nullopt) << bad;
    // clang-format on
}

TEST(ReaderXlsx, CellsReadAtOnceAgreeWithTheEvents) {
    // The walk reads common cells itself; a second space after "<c" sends the
    // same cells through the tokenizer's events, which must give the same map.
    const std::vector<std::string> strings = {"zero", "one"};
    const std::vector<DateStyle> formats = {DateStyle::None, DateStyle::Date};
    const char* cases[] = {
        "<c r=\"A1\"><v>1</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c r=\"C1\" t=\"b\"><v>1</v></c>",
        // clang-format off
        "<c r=\"A2\" t=\"str\"><v> sp _x0041_ </v></c><c r=\"B2\" t=\"e\"><v>#REF!</v></c><c r=\"C2\" t=\"d\"><v>2021-01-01</v></c>",
        "<c r=\"A3\" t=\"str\"><v></v></c><c r=\"B3\" t=\"b\"><v></v></c><c r=\"C3\"><v></v></c><c r=\"D3\" t=\"e\"><v></v></c>",
        "<c r=\"A4\" s=\"1\"><v>42369</v></c><c t=\"n\" s=\"0\" r=\"B4\"><v>5.5</v></c><c r=\"C4\" s=\"1\"/><c><v>7</v></c>",
        "<row r=\"5\"><c r=\"A5\"/><c><v>2</v></c><c r=\"A0\"><v>3</v></c><c><v>4</v></c></row>",
        "<c r=\"$B$6\"><v>x</v></c><c r=\"C6\"><v>1e400</v></c><c r=\"D6\" t=\"inlineStr\"><v>9</v></c>",
        "<c r=\"A7\" t=\"b\"><v>true</v></c><c r=\"B7\"><v> 12 </v></c><c r=\"bad\"><v>1</v></c><c r=\"E7\"><v>2</v></c>",
        // clang-format on
        "<c r=\"A8\" r=\"B8\"><v>1</v></c><c r=\"C8\" x=\"1\"><v>2</v></c><c r=\"D8\"><v>3</v><f>A1</f></c>",
    };
    for (const char* xml : cases) {
        std::string quick = xml;
        std::string events;
        for (size_t i = 0; i < quick.size(); ++i) {
            events += quick[i];
            if (quick.compare(i, 3, "<c ") == 0) events += "c  ", i += 2;
        }
        for (const std::vector<DateStyle>* f : {static_cast<const std::vector<DateStyle>*>(nullptr), &formats}) {
            auto a = read_sheet(quick, strings, f);
            auto b = read_sheet(events, strings, f);
            ASSERT_TRUE(a && b) << xml;
            EXPECT_EQ(a->cells, b->cells) << xml;
            EXPECT_FALSE(a->cells.empty()) << xml;
            for (const auto& [pos, content] : a->cells)
                EXPECT_EQ(content.value.kind(), b->cells.at(pos).value.kind()) << xml;
        }
    }
}
