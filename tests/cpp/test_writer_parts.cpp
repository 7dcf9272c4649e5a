// The parts the workbook writer builds, compared byte for byte, and the
// refusals that keep a saved file readable by other programs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "writer/writer.h"
#include "writer/xml_writer.h"

using namespace morvane;
using namespace morvane::writer;

namespace {

constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kSheetHead =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">\n<sheetData>\n";
constexpr std::string_view kSheetTail = "</sheetData>\n</worksheet>\n";

CellMap cells_of(std::initializer_list<std::pair<CellPos, Variant>> items) {
    CellMap m;
    for (const auto& [pos, v] : items) m[pos] = CellContent{std::nullopt, v};
    return m;
}

// clang-format off
std::string sheet_xml(std::string_view rows) { return std::string(kDecl) + std::string(kSheetHead) + std::string(rows) + std::string(kSheetTail); }
// clang-format on

}  // namespace

TEST(WriterXlsx, SheetCells) {
    CellMap cells = cells_of({{{1, 1}, Variant(0.1)},
                              {{1, 2}, Variant(3.0)},
                              {{1, 3}, Variant(int64_t{-5})},
                              {{2, 28}, Variant(false)},
                              {{2, 1}, Variant(Date{45000})},
                              {{2, 16384}, Variant("x")},
                              {{3, 1}, Variant(ExcelError::NA)},
                              {{3, 2}, Variant("#N/A")},
                              {{3, 3}, Variant(Array{Variant(int64_t{1}), Variant(true), Variant("b")})},
                              {{3, 4}, Variant(1e21)},
                              {{3, 5}, Variant(-1.7976931348623157e308)},
                              {{4, 1}, Variant()},
                              {{4, 2}, Variant(Date{0, 0.75})},
                              {{4, 3}, Variant(Date{45000, 0.5})},
                              {{0, 3}, Variant("row zero")},
                              {{5, 0}, Variant("col zero")}});
    SharedStrings strings;
    EXPECT_EQ(build_xlsx_sheet({"s", &cells}, strings),
              sheet_xml("<row r=\"1\">\n<c r=\"A1\"><v>0.1</v></c>\n<c r=\"B1\"><v>3</v></c>\n"
                        "<c r=\"C1\"><v>-5</v></c>\n</row>\n"
                        "<row r=\"2\">\n<c r=\"A2\" s=\"1\"><v>45000</v></c>\n<c r=\"AB2\" t=\"b\"><v>0</v></c>\n"
                        "<c r=\"XFD2\" t=\"s\"><v>1</v></c>\n</row>\n"
                        "<row r=\"3\">\n<c r=\"A3\" t=\"e\"><v>#N/A</v></c>\n<c r=\"B3\" t=\"s\"><v>2</v></c>\n"
                        "<c r=\"C3\" t=\"s\"><v>3</v></c>\n<c r=\"D3\"><v>1e+21</v></c>\n"
                        "<c r=\"E3\"><v>-1.7976931348623157e+308</v></c>\n</row>\n"
                        "<row r=\"4\">\n<c r=\"B4\" s=\"3\"><v>0.75</v></c>\n"
                        "<c r=\"C4\" s=\"2\"><v>45000.5</v></c>\n</row>\n"));
    // Dates use the date format (with the time, or the time alone), errors are
    // error cells, a list is written as its text.
    std::vector<std::string_view> want = {"row zero", "x", "#N/A", "1, TRUE, b", "col zero"};
    EXPECT_EQ(strings.texts, want);
}

TEST(WriterXlsx, EmptySheetAndSharedStrings) {
    SharedStrings strings;
    EXPECT_EQ(build_xlsx_sheet({"s", nullptr}, strings), sheet_xml(""));
    CellMap empty;
    EXPECT_EQ(build_xlsx_sheet({"s", &empty}, strings), sheet_xml(""));
    // The active sheet's tab is the selected one.
    EXPECT_EQ(build_xlsx_sheet({"s", &empty, true}, strings),
              std::string(kDecl) +
                  "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">\n"
                  "<sheetViews>\n<sheetView tabSelected=\"1\" workbookViewId=\"0\"/>\n</sheetViews>\n"
                  "<sheetData>\n" +
                  std::string(kSheetTail));
    EXPECT_EQ(build_xlsx_shared_strings(strings),
              std::string(kDecl) +
                  "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"0\" "
                  "uniqueCount=\"0\">\n</sst>\n");
    strings.id("a<b");
    strings.id(" padded");
    strings.id("a<b");
    // A carriage return is a reference; an underscore that starts an escape is escaped itself.
    strings.id("x\r\ny_x0041_ _x41_");
    // Characters XML cannot hold are escapes, as Excel writes them; other
    // characters of that lead byte are themselves.
    const std::string controls("\x0C\x01\0_\xEF\xBF\xBF\xEF\xBF\xBE\xEF\xBF\xBD\xEF\xBF", 15);
    strings.id(controls);  // the table keeps a view
    EXPECT_EQ(build_xlsx_shared_strings(strings),
              std::string(kDecl) +
                  "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"4\" "
                  "uniqueCount=\"4\">\n<si><t>a&lt;b</t></si>\n<si><t xml:space=\"preserve\"> padded</t></si>\n"
                  "<si><t>x&#13;\ny_x005F_x0041_ _x41_</t></si>\n"
                  "<si><t>_x000C__x0001__x0000___xFFFF__xFFFE_\xEF\xBF\xBD\xEF\xBF</t></si>\n</sst>\n");
}

TEST(WriterXlsx, WorkbookAndRelationships) {
    std::vector<SheetView> sheets = {{"a&b", nullptr}, {"c<d", nullptr, true}};
    // The file opens on the active sheet; without one, on the first.
    auto workbook = [](std::string_view active) {
        return std::string(kDecl) +
               "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
               "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">\n"
               "<bookViews>\n<workbookView activeTab=\"" +
               std::string(active) +
               "\"/>\n</bookViews>\n<sheets>\n"
               "<sheet name=\"a&amp;b\" sheetId=\"1\" r:id=\"rId1\"/>\n"
               "<sheet name=\"c&lt;d\" sheetId=\"2\" r:id=\"rId2\"/>\n</sheets>\n</workbook>\n";
    };
    EXPECT_EQ(build_xlsx_workbook(sheets), workbook("1"));
    sheets[1].active = false;
    EXPECT_EQ(build_xlsx_workbook(sheets), workbook("0"));
    // Only the workbook's content type tells .xlsm from .xlsx.
    const std::string xlsx = build_xlsx_content_types(2, FileFormat::Xlsx);
    const std::string xlsm = build_xlsx_content_types(2, FileFormat::Xlsm);
    const std::string main_type = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    const std::string macro_type = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
    EXPECT_NE(xlsx.find("<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + main_type + "\"/>"),
              std::string::npos);
    EXPECT_EQ(xlsx.find(macro_type), std::string::npos);
    std::string swapped = xlsm;
    swapped.replace(swapped.find(macro_type), macro_type.size(), main_type);
    EXPECT_EQ(swapped, xlsx);
    const std::string r = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    EXPECT_EQ(build_xlsx_workbook_rels(1),
              // clang-format off
              std::string(kDecl) + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">\n" +
                  // clang-format on
                  "<Relationship Id=\"rId1\" Type=\"" + r + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>\n" +
                  "<Relationship Id=\"rId2\" Type=\"" + r + "/sharedStrings\" Target=\"sharedStrings.xml\"/>\n" +
                  "<Relationship Id=\"rId3\" Type=\"" + r + "/styles\" Target=\"styles.xml\"/>\n</Relationships>\n");
}

TEST(WriterXml, EscapeAndReferences) {
    EXPECT_EQ(xml_escape("&lt; <a href=\"x\">'y'</a>\r"),
              "&amp;lt; &lt;a href=&quot;x&quot;&gt;&apos;y&apos;&lt;/a&gt;&#13;");
    EXPECT_EQ(cell_ref(1, 1), "A1");
    EXPECT_EQ(cell_ref(12, 26), "Z12");
    EXPECT_EQ(cell_ref(1, 27), "AA1");
    EXPECT_EQ(cell_ref(1, 702), "ZZ1");
    EXPECT_EQ(cell_ref(1, 703), "AAA1");
    EXPECT_EQ(cell_ref(1048576, 16384), "XFD1048576");
    EXPECT_TRUE(xml_chars_ok("tab\tline\ncr\r \xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(xml_chars_ok(std::string("nul\0", 4)));
    EXPECT_FALSE(xml_chars_ok("bell\x07"));
    EXPECT_FALSE(xml_chars_ok("\xEF\xBF\xBE"));  // U+FFFE
    EXPECT_FALSE(xml_chars_ok("\xED\xA0\x80"));  // a surrogate
    EXPECT_FALSE(xml_chars_ok("\xC0\x80"));      // overlong
    EXPECT_FALSE(xml_chars_ok("\xC3"));          // cut short
    // An .xlsx text escapes what XML forbids; only broken UTF-8 is refused.
    EXPECT_TRUE(xlsx_chars_ok(std::string("nul\0 bell\x07 \xEF\xBF\xBE", 14)));
    EXPECT_FALSE(xlsx_chars_ok("\xED\xA0\x80"));
    EXPECT_FALSE(xlsx_chars_ok("\xC0\x80"));
    EXPECT_FALSE(xlsx_chars_ok("\xC3"));
}

TEST(WriterOds, Content) {
    CellMap b2 = cells_of({{{2, 2}, Variant(int64_t{5})}});
    CellMap mixed = cells_of({{{1, 1}, Variant(true)},
                              {{1, 2}, Variant("a < b")},
                              {{1, 3}, Variant(ExcelError::DivZero)},
                              {{2, 1}, Variant(Date{45000})},
                              {{2, 2}, Variant(2.5)},
                              {{2, 3}, Variant(Date{0})},
                              {{3, 1}, Variant("")},
                              {{3, 2}, Variant(false)},
                              {{3, 3}, Variant(1e300)}});
    CellMap only_empty = cells_of({{{3, 3}, Variant()}});
    CellMap row_zero = cells_of({{{0, 4}, Variant(int64_t{1})}});
    CellMap gaps = cells_of({{{1, 1}, Variant(int64_t{1})},
                             {{1, 3}, Variant()},
                             {{1, 5}, Variant(int64_t{2})},
                             {{5, 2}, Variant(Date{45000, 43200.25 / 86400})},
                             {{1048576, 16384}, Variant("last")}});
    // clang-format off
    std::vector<SheetView> sheets = {{"b2", &b2}, {"mixed", &mixed}, {"e", &only_empty}, {"z", &row_zero}, {"n", nullptr}, {"gaps", &gaps}};
    // clang-format on
    const std::string e = "<table:table-cell/>";
    auto f = [](std::string_view v) {
        return "<table:table-cell office:value-type=\"float\" office:value=\"" + std::string(v) + "\"><text:p>" +
               std::string(v) + "</text:p></table:table-cell>";
    };
    auto s = [](std::string_view v) {
        // clang-format off
        return "<table:table-cell office:value-type=\"string\"><text:p>" + std::string(v) + "</text:p></table:table-cell>";
        // clang-format on
    };
    std::string want =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
        "xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" "
        "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\" "
        "office:version=\"1.2\">\n"
        "<office:automatic-styles>"
        "<number:date-style style:name=\"N1\"><number:year number:style=\"long\"/><number:text>-</number:text>"
        "<number:month number:style=\"long\"/><number:text>-</number:text><number:day number:style=\"long\"/>"
        "</number:date-style>"
        "<number:boolean-style style:name=\"N2\"><number:boolean/></number:boolean-style>"
        "<style:style style:name=\"ce1\" style:family=\"table-cell\" style:data-style-name=\"N1\"/>"
        "<style:style style:name=\"ce2\" style:family=\"table-cell\" style:data-style-name=\"N2\"/>"
        "<number:date-style style:name=\"N3\"><number:year number:style=\"long\"/><number:text>-</number:text>"
        "<number:month number:style=\"long\"/><number:text>-</number:text><number:day number:style=\"long\"/>"
        "<number:text> </number:text><number:hours number:style=\"long\"/><number:text>:</number:text>"
        "<number:minutes number:style=\"long\"/><number:text>:</number:text><number:seconds number:style=\"long\"/>"
        "</number:date-style>"
        "<style:style style:name=\"ce3\" style:family=\"table-cell\" style:data-style-name=\"N3\"/>"
        "</office:automatic-styles>\n"
        "<office:body><office:spreadsheet>\n"
        "<table:table table:name=\"b2\">\n"
        // clang-format off
        "<table:table-row>" + e + "</table:table-row>\n"
        "<table:table-row>" + e + f("5") + "</table:table-row>\n"
        // clang-format on
        "</table:table>\n"
        "<table:table table:name=\"mixed\">\n"
        "<table:table-row><table:table-cell table:style-name=\"ce2\" office:value-type=\"boolean\" "
        // clang-format off
        "office:boolean-value=\"true\"><text:p>TRUE</text:p></table:table-cell>" + s("a &lt; b") +
        // An error value as LibreOffice writes a formula's error result.
        "<table:table-cell table:formula=\"of:=#DIV/0!\" office:value-type=\"string\" office:string-value=\"\" "
        "calcext:value-type=\"error\"><text:p>#DIV/0!</text:p></table:table-cell>"
        "</table:table-row>\n"
        "<table:table-row><table:table-cell table:style-name=\"ce1\" office:value-type=\"date\" "
        "office:date-value=\"2023-03-15\"><text:p>2023-03-15</text:p></table:table-cell>" + f("2.5") + f("0") +
        "</table:table-row>\n"
        "<table:table-row>" + s("") + "<table:table-cell table:style-name=\"ce2\" office:value-type=\"boolean\" "
        "office:boolean-value=\"false\"><text:p>FALSE</text:p></table:table-cell>" + f("1e+300") +
        // clang-format on
        "</table:table-row>\n"
        "</table:table>\n"
        // A cell holding nothing is no part of the table.
        "<table:table table:name=\"e\">\n</table:table>\n"
        "<table:table table:name=\"z\">\n</table:table>\n"
        "<table:table table:name=\"n\">\n</table:table>\n"
        // Runs of empty rows and cells are repeats; a time keeps its fraction of a second.
        "<table:table table:name=\"gaps\">\n"
        // clang-format off
        "<table:table-row>" + f("1") + "<table:table-cell table:number-columns-repeated=\"3\"/>" + f("2") +
        "</table:table-row>\n"
        "<table:table-row table:number-rows-repeated=\"3\">" + e + "</table:table-row>\n"
        "<table:table-row>" + e + "<table:table-cell table:style-name=\"ce3\" office:value-type=\"date\" "
        "office:date-value=\"2023-03-15T12:00:00.25\"><text:p>2023-03-15 12:00:00</text:p></table:table-cell>"
        "</table:table-row>\n"
        "<table:table-row table:number-rows-repeated=\"1048570\">" + e + "</table:table-row>\n"
        "<table:table-row><table:table-cell table:number-columns-repeated=\"16383\"/>" + s("last") +
        "</table:table-row>\n"
        // clang-format on
        "</table:table>\n"
        "</office:spreadsheet></office:body>\n</office:document-content>\n";
    EXPECT_EQ(build_ods_content(sheets), want);
}

TEST(WriterChecks, RefusedBeforeWriting) {
    struct Case {
        const char* name;
        CellMap cells;
        const char* path;
        std::string want;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Case> cases;
    cases.push_back({"s", cells_of({{{1, 2}, Variant(nan)}}), "x.xlsx",
                     "cannot save cell B1 of sheet 's': a workbook file cannot hold the number NaN"});
    cases.push_back({"s", cells_of({{{3, 1}, Variant(-inf)}}), "x.ods",
                     "cannot save cell A3 of sheet 's': a workbook file cannot hold the number -inf"});
    cases.push_back({"s", cells_of({{{1, 1}, Variant("a\x01")}}), "x.ods",
                     "cannot save cell A1 of sheet 's': its text holds a character that XML does not allow"});
    cases.push_back({"s", cells_of({{{0, 1}, Variant("a\xC3")}}), "x.xlsx",
                     "cannot save cell A0 of sheet 's': its text is not valid UTF-8"});
    cases.push_back({"s", cells_of({{{2, 1}, Variant(Array{Variant("\xFF")})}}), "x.xlsm",
                     "cannot save cell A2 of sheet 's': its text is not valid UTF-8"});
    // The extension chooses the format; no other is written.
    for (const char* path : {"x.csv", "x.xls", "x", "xlsx", "x.ods.bak"})
        cases.push_back({"s", CellMap(), path,
                         "cannot save '/nonexistent-dir/" + std::string(path) +
                             "': the file name must end in .xlsx, .xlsm or .ods"});
    cases.push_back({"s", cells_of({{{1048577, 1}, Variant(int64_t{1})}}), "x.xlsx",
                     "cannot save the cell at row 1048577, column 1 of sheet 's': beyond the last row 1048576 or "
                     "column 16384"});
    cases.push_back({"s", cells_of({{{1, 16385}, Variant()}}), "x.ods",
                     "cannot save the cell at row 1, column 16385 of sheet 's': beyond the last row 1048576 or "
                     "column 16384"});
    for (const char* bad :
         {"a[1]", "a:b", "a/b", "a\\b", "a?", "a*", "'quoted'", "history", "a name longer than thirty-one chars"})
        cases.push_back({bad, CellMap(), "x.xlsx", ""});
    for (const Case& c : cases) {
        std::vector<SheetView> sheets = {{c.name, &c.cells}};
        auto r = save_workbook(sheets, std::string("/nonexistent-dir/") + c.path);
        ASSERT_FALSE(r) << c.name;
        // clang-format off
        std::string want = !c.want.empty() ? c.want : "cannot save sheet '" + std::string(c.name) +
                                                          "': spreadsheet programs refuse that sheet name";
        // clang-format on
        EXPECT_EQ(r.error(), want);
    }
    // A long name is fine in OpenDocument, a control character in .xlsx,
    // which escapes it: both reach the write.
    CellMap far = cells_of({{{1048576, 1}, Variant(int64_t{1})}, {{1, 16384}, Variant()}});
    std::vector<SheetView> long_name = {{"a name longer than thirty-one chars", &far}};
    CellMap bell = cells_of({{{1, 1}, Variant("bell\x07")}});
    std::vector<SheetView> control = {{"s", &bell}};
    for (auto [sheets, path] : {std::pair{SheetsView(long_name), "/nonexistent-dir/x.ods"},
                                std::pair{SheetsView(control), "/nonexistent-dir/X.XLSM"}}) {
        auto r = save_workbook(sheets, path);
        ASSERT_FALSE(r) << path;
        EXPECT_EQ(r.error(), "No such file or directory (os error 2)");
    }
}
