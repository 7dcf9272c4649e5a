// Block statements: If, Select Case, loops, With, and their messages.
#include <gtest/gtest.h>

#include "parser/mod.h"
#include "tests/cpp/parser_test_util.h"

namespace morvane::parser {
namespace {

using testing::body_of;
using testing::check_rows;
using testing::parse_dump;
using testing::Row;

TEST(ParserBlocks, If) {
    const Row rows[] = {
        {"If a Then\nx = 1\nEnd If", "[If(a, [Assign(x, 1)], [])]"},
        {"If a Then\nx = 1\nElseIf b Then\ny = 2\nElse\nz = 3\nEnd If",
         "[If(a, [Assign(x, 1)], [If(b, [Assign(y, 2)], [Assign(z, 3)])])]"},
        {"If a Then\nx = 1\nElse If b Then\ny = 2\nEnd If", "[If(a, [Assign(x, 1)], [If(b, [Assign(y, 2)], [])])]"},
        {"If a Then\nElseIf b Then\nElseIf c Then\nEnd If", "[If(a, [], [If(b, [], [If(c, [], [])])])]"},
        {"If a Then\nElse\nElseIf b Then\nEnd If",
         "[If(a, [], [Unsupported('elseif' as a bare statement (no Call keyword or parentheses) is not supported)])]"},
        {"If a Then\nx = 1\nEnd If x = 2", "[If(a, [Assign(x, 1)], []); Assign(x, 2)]"},
        {"If a Then x = 1", "[If(a, [Assign(x, 1)], [])]"},
        {"If a Then x = 1 Else x = 2", "[If(a, [Assign(x, 1)], [Assign(x, 2)])]"},
        {"If a Then Exit Sub", "[If(a, [ExitSub], [])]"},
        {"If a Then GoTo done", "[If(a, [GoTo(done)], [])]"},
        // clang-format off
        {"If a Then 5", "[If(a, [Unsupported(single-line 'If ... Then ...' branch isn't a recognized statement shape)], [])]"},
        {"If a Then x = 1 Else", "[If(a, [Assign(x, 1)], [Unsupported(single-line 'If ... Then ...' branch isn't a recognized statement shape)])]"},
        // clang-format on
        {"Select Case n\nCase 1, 2\nx = 1\nCase 3 To 5\nCase Is >= 10\nx = 2\nCase Else\nx = 3\nEnd Select",
         "[Select(n, Case(1, 2) [Assign(x, 1)], Case(3 To 5) [], Case(Is >= 10) [Assign(x, 2)], Else [Assign(x, 3)])]"},
        {"Select Case n\nCase Is = 1\nEnd Select", "[Select(n, Case(Is = 1) [], Else [])]"},
        {"Select Case n\n\nCase Else\nx = 1\nCase Else\nx = 2\nCase 7\nEnd Select",
         "[Select(n, Case(7) [], Else [Assign(x, 2)])]"},
        {"Select Case n\nEnd Select x = 1", "[Select(n, Else []); Assign(x, 1)]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserBlocks, IfErrors) {
    const Row rows[] = {
        {"If a\nEnd If", "ERR: expected 'then', got Newline"},
        {"If a Then\nx = 1\nElseIf b Then x = 1\nEnd If", "ERR: expected newline, got Ident(\"x\")"},
        {"If a Then\nElse x = 1\nEnd If", "ERR: expected newline, got Ident(\"x\")"},
        {"If a Then GoTo 10", "ERR: expected identifier, got Int(10)"},
        {"If a Then x = 1: y = 2", "ERR: expected newline, got Colon"},
        {"If a Then\nx = 1\nEndIf", "ERR: expected 'end', got Eof"},
        {"Select Case x\ny = 1\nCase 1\nEnd Select", "ERR: expected 'Case' in Select Case, got Ident(\"y\")"},
        {"Select Case x\nCase Is Like \"a*\"\nEnd Select", "ERR: expected comparison operator, got Ident(\"like\")"},
        {"Select Case x\nCase 1: x = 2\nEnd Select", "ERR: expected newline, got Colon"},
        {"Select Case x\nCase 1", "ERR: expected 'end', got Eof"},
    };
    check_rows(rows, body_of);
    EXPECT_EQ(parse_dump("Sub t()\nIf a Then"), "ERR: expected 'end', got Eof");
    EXPECT_EQ(parse_dump("Sub t()\nSelect Case x\nCase 1\n"), "ERR: expected 'end', got Eof");
}

TEST(ParserBlocks, Loops) {
    const Row rows[] = {
        {"For i = 1 To 10 Step -2\nx = i\nNext i", "[For(i, 1, 10, Neg(2), [Assign(x, i)])]"},
        {"For i = 1 To n\n\n\nNext", "[For(i, 1, n, -, [])]"},
        {"For i = 1 To 3\nNext j", "[For(i, 1, 3, -, [])]"},
        {"For i = 1 To 3\nNext i x = 1", "[For(i, 1, 3, -, []); Assign(x, 1)]"},
        {"For i = 1 To 3\nNext x = 1", "ERR: unexpected token starting statement: Eq"},
        {"For Each c In Range(\"b2\")\nNext", "[ForEach(c, \"B2\", [])]"},
        {"For Each ws In Worksheets\nNext ws", "[ForEach(ws, \"\" worksheets, [])]"},
        {"For Each c In rng\nx = c\nNext", "[ForEach(c, \"\" rng, [Assign(x, c)])]"},
        {"Do\nLoop", "[Do(-, -, [])]"},
        {"Do While a < 3\nLoop", "[Do(While (a < 3), -, [])]"},
        {"Do\nLoop Until done", "[Do(-, Until done, [])]"},
        {"Do Until a\nx = 1\nLoop While b", "[Do(Until a, While b, [Assign(x, 1)])]"},
        {"While x = 1\nx = 2\nWend", "[Do(While (x = 1), -, [Assign(x, 2)])]"},
        {"Do While x = 1\nx = 2\nLoop", "[Do(While (x = 1), -, [Assign(x, 2)])]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserBlocks, LoopErrors) {
    const Row rows[] = {
        {"For i = 1 To 3\nNext i, j", "ERR: unexpected token starting statement: Comma"},
        {"For i = 1 To 3: x = i\nNext", "ERR: expected newline, got Colon"},
        {"For 5 = 1 To 2\nNext", "ERR: expected identifier, got Int(5)"},
        {"For i 1 To 2\nNext", "ERR: expected Eq, got Int(1)"},
        {"For i = 1 2\nNext", "ERR: expected 'to', got Int(2)"},
        {"For Each x In 5\nNext", "ERR: expected identifier, got Int(5)"},
        {"For Each x Of r\nNext", "ERR: expected 'in', got Ident(\"of\")"},
        {"For Each c In Range(\"b2\").Cells\nNext", "[ForEach(c, \"\" range(\"b2\").cells, [])]"},
        {"For Each c In Range(x)\nNext", "[ForEach(c, \"\" range(x), [])]"},
        {"Do While\nLoop", "ERR: unexpected token in expression: Newline"},
        {"Do x\nLoop", "ERR: expected newline, got Ident(\"x\")"},
    };
    check_rows(rows, body_of);
    EXPECT_EQ(parse_dump("Sub t()\nFor i = 1 To 2\n"), "ERR: expected 'next', got Eof");
    EXPECT_EQ(parse_dump("Sub t()\nDo\n"), "ERR: expected 'loop', got Eof");
    EXPECT_EQ(parse_dump("Sub t()\nWhile x\n"), "ERR: expected 'wend', got Eof");
}

TEST(ParserBlocks, With) {
    const Row rows[] = {
        {"With Range(\"a1\")\n.Value = 5\n.Formula = f\nEnd With",
         "[Block([RangeWrite(\"a1\", 5, 0); RangeWrite(\"a1\", f, 1)])]"},
        {"With ws\n.Name = n\n.Activate\nEnd With",
         "[WithVar(ws, [FieldAssign(ws, name, n); ObjCall(ws.activate [])])]"},
        // clang-format off
        {"With p\n.a.b = 1\nx = .a.b + .c\nEnd With", "[WithVar(p, [PathAssign(p.a.b, 1); Assign(x, (Path(p.a.b) + Field(p.c)))])]"},
        {"With Sheets(\"Data\")\n.Range(\"b2\").Value = 1\n.Cells(2, 3).Value = 2\nEnd With",
         "[WithSheet(Data, [ObjCall(sheets(\"Data\").range(\"b2\").value = 1); ObjCall(sheets(\"Data\").cells(2, 3).value = 2)])]"},
        {"With Sheets\nx = 1\nEnd With", "[Block([Assign(x, 1)])]"},
        {"With ActiveSheet\n.Cells(1, 1).Value = 2\nEnd With", "[WithVar(activesheet, [ObjCall(activesheet.cells(1, 1).value = 2)])]"},
        // clang-format on
        {"With v\nWith Range(\"B1\")\n.Value = 1\nEnd With\n.Value = 1\nEnd With",
         "[WithVar(v, [Block([RangeWrite(\"B1\", 1, 0)]); FieldAssign(v, value, 1)])]"},
        {"With Range(\"A1\")\nWith Sheets(\"S\")\n.Value = 1\nEnd With\nEnd With",
         "[Block([WithSheet(S, [RangeWrite(\"A1\", 1, 0)])])]"},
        {"With Sheets(\"S\")\n.Value = 1\nEnd With", "[WithSheet(S, [ObjCall(sheets(\"S\").value = 1)])]"},
        {"With Range(\"A1\")\n.Font.Bold = True\n.Interior.Color = c\nEnd With",
         // clang-format off
         "[Block([Skipped(With-block '.font' is not implemented); Skipped(With-block '.interior' is not implemented)])]"},
        {"With x\n.\n. 5\nEnd With",
         "[WithVar(x, [Skipped(With-block dotted statement is not recognized and was skipped); Skipped(With-block dotted "
         // clang-format on
         "statement is not recognized and was skipped)])]"},
        {"With 5\nx = 1\nEnd With", "[Block([Assign(x, 1)])]"},
        {"With Range(\"a1\")\nx = .Value\nEnd With", "[Block([Assign(x, RangeValue(\"a1\"))])]"},
        {"With Range(\"A1\")\nEnd With x = 1", "[Block([]); Assign(x, 1)]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserBlocks, WithErrors) {
    const Row rows[] = {
        {"With Range(\"a1\")\n.Value\nEnd With", "ERR: expected Eq, got Newline"},
        {"With Range(\"a1\").Font\nEnd With", "ERR: expected newline, got Dot"},
        {"With Range(x)\nEnd With", "ERR: expected string literal, got Ident(\"x\")"},
        {"With Sheets(1)\nEnd With", "ERR: expected string literal, got Int(1)"},
        {"With a.b\nEnd With", "ERR: expected newline, got Dot"},
        {"With Range(\"a1\")\nx = .Formula\nEnd With", "ERR: Unexpected '.' outside With block"},
        {"With v\n.Cells(1, 1) = 5\nEnd With", "[WithVar(v, [ObjCall(v.cells(1, 1) = 5)])]"},
        {"With v\n.Cells(1, 1).Text = 5\nEnd With", "[WithVar(v, [ObjCall(v.cells(1, 1).text = 5)])]"},
        {"With v\n.Range(\"A1\").\nEnd With", "ERR: expected identifier, got Newline"},
        {"With v\n.x = 1 y\nEnd With", "ERR: expected newline, got Ident(\"y\")"},
        // clang-format off
        {"With Range(\"A1\")\nIf c Then\n.Value = 1\nEnd If\nEnd With", "ERR: unexpected token starting statement: Dot"},
        {"With Range(\"A1\")\nFor i = 1 To 2\n.Value = i\nNext\nEnd With", "ERR: unexpected token starting statement: Dot"},
        // clang-format on
    };
    check_rows(rows, body_of);
    EXPECT_EQ(parse_dump("Sub t()\nWith v\n.x = 1\n"), "ERR: expected 'end', got Eof");
}

TEST(ParserBlocks, WithSpans) {
    auto p = parse("Sub t()\nWith v\n  .x = 1\nEnd With\nEnd Sub\n");
    ASSERT_TRUE(p);
    const auto& with = p->subs[0].body[0];
    EXPECT_EQ(with.span, (SourceSpan{8, 33}));
    EXPECT_EQ(with.stmt.as<Stmt::WithVar>().body[0].span, (SourceSpan{17, 24}));
}

}  // namespace
}  // namespace morvane::parser
