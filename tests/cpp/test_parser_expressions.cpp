// Expressions: precedence, atoms, object-model reads, Set operands, and
// their messages.
#include <gtest/gtest.h>

#include <string>

#include "parser/mod.h"
#include "tests/cpp/parser_test_util.h"

namespace morvane::parser {
namespace {

using testing::body_of;
using testing::check_rows;
using testing::expr_of;
using testing::Row;

TEST(ParserExpressions, Precedence) {
    const Row rows[] = {
        {"a Or b And c", "(a or (b and c))"},
        {"a Xor b Or c", "(a xor (b or c))"},
        {"Not a = b", "Not((a = b))"},
        {"Not a And b", "(Not(a) and b)"},
        {"Not Not a", "Not(Not(a))"},
        {"a = b = c", "((a = b) = c)"},
        {"a <> b", "(a <> b)"},
        {"a >= b", "(a >= b)"},
        {"a < b <= c > d", "(((a < b) <= c) > d)"},
        {"\"a\" & 1 + 2", "(\"a\" & (1 + 2))"},
        {"a + b Mod c", "(a + (b mod c))"},
        {"a Mod b \\ c", "(a mod (b \\ c))"},
        {"a \\ b * c", "(a \\ (b * c))"},
        {"a - b - c", "((a - b) - c)"},
        {"a / b * c", "((a / b) * c)"},
        {"-2 ^ 2", "Neg((2 ^ 2))"},
        {"2 ^ -1", "(2 ^ Neg(1))"},
        {"2 ^ 3 ^ 2", "((2 ^ 3) ^ 2)"},
        {"- -a", "Neg(Neg(a))"},
        {"a * -b", "(a * Neg(b))"},
        {"(1 + 2) * 3", "((1 + 2) * 3)"},
        {"1 - -2 ^ -3", "(1 - Neg((2 ^ Neg(3))))"},
    };
    check_rows(rows, expr_of);
}

TEST(ParserExpressions, Atoms) {
    const Row rows[] = {
        {"5", "5"},
        {"1.5", "1.5"},
        {"\"Hi\"", "\"Hi\""},
        {"TRUE", "True"},
        {"false", "False"},
        {"xlUp", "xlup"},
        {"#2020-01-02#", "#43832"},
        {"d + #1/2/2020#", "(d + #43832)"},
        {"f()", "f()"},
        {"f(a, g(1))", "f(a, g(1))"},
        {"a(1).x", "IndexedField(a(1).x)"},
        {"a.b", "Field(a.b)"},
        {"a.b.c", "Path(a.b.c)"},
        {"ws.Cells.Count", "Path(ws.cells.count)"},
        {"activesheet", "activesheet"},
        {"a = not", "(a = not)"},
        {"1 + not", "(1 + not)"},
    };
    check_rows(rows, expr_of);
}

TEST(ParserExpressions, ObjectModelReads) {
    const Row rows[] = {
        {"Range(\"a1:b2\").Value", "RangeValue(\"A1:B2\")"},
        {"Range(\"A1\")", "range(\"A1\")"},
        {"Range(\"data!a1\").Value", "RangeValue(\"DATA!A1\")"},
        {"Range(\"a1\").Offset(1, c).Value", "RangeOffsetValue(\"A1\", 1, c)"},
        {"Cells(r, 2).Value", "Cells(r, 2)"},
        {"Cells(Rows.Count, 1).End(xlUp).Row", "CellsEnd(RowsCount, 1, Up, row)"},
        {"Cells(1, Columns.Count).End(xlToLeft).Column", "CellsEnd(1, ColumnsCount, ToLeft, col)"},
        {"Cells(1, 1).End(xlToRight).Column", "CellsEnd(1, 1, ToRight, col)"},
        {"Cells(1, 1).End(xlDown).Value", "CellsEnd(1, 1, Down, col)"},
        {"Cells.Find(What:=\"x\", LookIn:=xlValues).Row", "CellsFind(\"x\", row)"},
        {"Cells.Find(LookAt:=xlWhole).Column", "CellsFind(\"\", col)"},
        {"Cells.Find(What:=1 What:=2).Row", "CellsFind(2, row)"},
        {"Sheets(\"Data\").Range(\"b2\").Value", "SheetRange(\"Data\", \"B2\")"},
        {"Worksheets(2).Cells(1, 1).Value", "SheetCells(2, 1, 1)"},
        {"Workbooks(1).Sheets(2).Range(\"A1\").Value", "SheetRange(WorkbookSheet(1, 2), \"A1\")"},
        {"ActiveSheet.Cells(1, 1).Value", "SheetCells(ActiveSheet, 1, 1)"},
        {"ws.Range(\"A1\").Value", "ObjPath(ws.range(\"A1\").value)"},
        {"ws.Cells(1, 2).Value", "ObjPath(ws.cells(1, 2).value)"},
        {"wb.Worksheets(\"S\").Range(\"A1\").Value", "SheetRange(\"S\", \"A1\")"},
        {"ThisWorkbook.Sheets(\"S\").Range(\"A1\").Value", "SheetRange(\"S\", \"A1\")"},
        {"WorksheetFunction.Sum(a, b)", "wsf_sum(a, b)"},
        {"Application.WorksheetFunction.CountIf(r, 1)", "wsf_countif(r, 1)"},
        {"WorksheetFunction.VLookup(a, b, 2, False)", "wsf_vlookup(a, b, 2, False)"},
        {"Rows.Count + Columns.Count", "(RowsCount + ColumnsCount)"},
        {"Range(\"größe\").Value", "RangeValue(\"GRÖSSE\")"},
    };
    check_rows(rows, expr_of);
}

TEST(ParserExpressions, Errors) {
    const Row rows[] = {
        {"+1", "ERR: unexpected token in expression: Plus"},
        {"", "ERR: unexpected token in expression: Newline"},
        {"f(a, , b)", "ERR: unexpected token in expression: Comma"},
        {"f(a,)", "ERR: unexpected token in expression: RParen"},
        {"f(x:=1)", "ERR: expected RParen, got ColonEq"},
        {"(1 + 2", "ERR: expected RParen, got Newline"},
        {"a.5", "ERR: expected identifier, got Int(5)"},
        {".x", "ERR: Unexpected '.' outside With block"},
        {"Range(x).Value", "ObjPath(range(x).value)"},
        {"Range(\"A\" & i).Value", "ObjPath(range((\"A\" & i)).value)"},
        {"Range(\"A1\", \"B2\").Value", "ObjPath(range(\"A1\", \"B2\").value)"},
        {"Range(\"A1\").Offset(1, 0)", "ObjPath(range(\"A1\").offset(1, 0))"},
        {"Range(\"A1\").Text", "ObjPath(range(\"A1\").text)"},
        {"Range(\"A1\").End(xlUp).Row", "ObjPath(range(\"A1\").end(xlup).row)"},
        {"Cells(1, 1)", "ObjPath(cells(1, 1))"},
        {"Cells(1, 1).Text", "ObjPath(cells(1, 1).text)"},
        {"Cells(1, 1).End(-4162).Row", "ObjPath(cells(1, 1).end(Neg(4162)).row)"},
        {"Cells(1, 1).End(xlNext).Row", "ObjPath(cells(1, 1).end(xlnext).row)"},
        {"Cells.Find(\"x\").Row", "ObjPath(cells.find(\"x\").row)"},
        {"Cells.Find(What \"x\").Row", "ERR: expected ColonEq, got Str(\"x\")"},
        {"Cells.Find(What:=1", "ERR: expected identifier, got Newline"},
        {"Cells.Count", "ObjPath(cells.count)"},
        {"Sheets(i).Range(\"A1\").Value", "ObjPath(sheets(i).range(\"A1\").value)"},
        {"Sheets(-1).Range(\"A1\").Value", "ObjPath(sheets(Neg(1)).range(\"A1\").value)"},
        {"Workbooks(1).Name", "ERR: expected Worksheets(...)/Sheets(...) after Workbooks(...), got Ident(\"name\")"},
        {"ActiveSheet.Name", "ObjPath(activesheet.name)"},
        {"Sheets(\"D\").Range(x).Value", "ObjPath(sheets(\"D\").range(x).value)"},
        {"Sheets.Count", "ObjPath(sheets.count)"},
        {"Application.Calculation", "ERR: expected 'worksheetfunction', got Ident(\"calculation\")"},
        {"WorksheetFunction.5", "ERR: expected identifier, got Int(5)"},
        {"Rows(1)", "ERR: expected Dot, got LParen"},
        {"Rows.Select", "ERR: expected 'count', got Ident(\"select\")"},
    };
    check_rows(rows, expr_of);
}

TEST(ParserExpressions, SetOperands) {
    const Row rows[] = {
        {"Set r = Range(\"a1\")", "[SetObject(r, Range(\"A1\"))]"},
        {"Set r = Union(r1, Range(\"B1\"))", "[SetObject(r, Union(r1, Range(\"B1\")))]"},
        {"Set r = r.Areas(2)", "[SetObject(r, Areas(r, 2))]"},
        {"Set r = Range(\"A1\").SpecialCells(xlCellTypeVisible).Areas(1)",
         "[SetObject(r, Areas(Visible(Range(\"A1\")), 1))]"},
        {"Set r = Range(\"A1\").SpecialCells(12)", "[SetObject(r, Visible(Range(\"A1\")))]"},
        {"Set ws = ActiveSheet", "[SetObject(ws, activesheet)]"},
        {"Set r = Range(\"A1\").SpecialCells(xlCellTypeConstants)",
         "[Unsupported('Set r = ...' targets an unmodeled object expression)]"},
        {"Set r = Cells(1, 1)", "[SetObject(r, ObjPath(cells(1, 1)))]"},
        {"Set r = f(1)", "[SetObject(r, ObjPath(f(1)))]"},
        {"Set r = 5", "[Unsupported('Set r = ...' targets an unmodeled object expression)]"},
        {"Set r = Union(a, Cells(1, 1))", "[SetObject(r, Union(a, ObjPath(cells(1, 1))))]"},
        {"Set r = Range(x)", "[SetObject(r, ObjPath(range(x)))]"},
        {"Set r = Union(a b)", "ERR: expected RParen, got Ident(\"b\")"},
    };
    check_rows(rows, body_of);
}

// Deep nesting fails with a message instead of exhausting the stack; the
// bound also keeps the tree shallow enough to walk recursively.
TEST(ParserExpressions, NestingDepth) {
    const std::string limit = "ERR: expression or block nesting is too deep";
    auto repeat = [](const char* s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    // A parenthesised level costs 4 of the 1024 units, the statement's own expression too.
    EXPECT_EQ(expr_of(repeat("(", 255) + "1" + repeat(")", 255)), "1");
    EXPECT_EQ(expr_of(repeat("(", 256) + "1" + repeat(")", 256)), limit);
    EXPECT_EQ(expr_of(repeat("(", 100000) + "1" + repeat(")", 100000)), limit);
    EXPECT_EQ(expr_of(repeat("-", 510) + "1").substr(0, 4), "Neg(");
    EXPECT_EQ(expr_of(repeat("-", 511) + "1"), limit);
    EXPECT_EQ(expr_of(repeat("-", 100000) + "1"), limit);
    EXPECT_EQ(expr_of(repeat("Not ", 100000) + "1"), limit);
    EXPECT_EQ(expr_of("2 ^ " + repeat("-", 100000) + "1"), limit);
    EXPECT_EQ(expr_of(repeat("f(", 100000) + "1" + repeat(")", 100000)), limit);
    EXPECT_EQ(body_of("Set r = " + repeat("Union(", 100000) + "a" + repeat(")", 100000)), limit);
    // An operator chain is as deep a tree as it is long.
    EXPECT_EQ(expr_of("1" + repeat(" & 1", 1020)).substr(0, 2), "((");
    EXPECT_EQ(expr_of("1" + repeat(" & 1", 1021)), limit);
    EXPECT_EQ(expr_of("1" + repeat(" + 1", 100000)), limit);
    // Blocks.
    EXPECT_EQ(body_of(repeat("If c Then\n", 100000)), limit);
    EXPECT_EQ(body_of(repeat("If c Then ", 100000) + "x = 1"), limit);
    EXPECT_EQ(body_of(repeat("With Range(\"A1\")\n", 100000)), limit);
    EXPECT_EQ(body_of("If a Then\n" + repeat("ElseIf b Then\n", 100000) + "End If"), limit);
    EXPECT_EQ(body_of(repeat("For i = 1 To 2\n", 200) + "x = 1\n" + repeat("Next\n", 200)).substr(0, 4), "[For");
}

}  // namespace
}  // namespace morvane::parser
