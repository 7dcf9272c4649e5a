// Forms where plain VBA must not run silently wrong: single-line If
// branches, bare calls, With-block members and relative addressing, typed
// Dim, End/Stop, date literals, Unicode names, multi-dimensional indices.
#include <gtest/gtest.h>

#include <string>

#include "parser/mod.h"
#include "tests/cpp/parser_test_util.h"

namespace morvane::parser {
namespace {

using testing::body_of;
using testing::check_rows;
using testing::Row;

constexpr const char* kShape = "Unsupported(single-line 'If ... Then ...' branch isn't a recognized statement shape)";

TEST(ParserMends, SingleLineIf) {
    const std::string shape = kShape;
    const Row rows[] = {
        {"If c Then Range(\"A1\").Value = 1", "[If(c, [RangeWrite(\"A1\", 1, 0)], [])]"},
        {"If c Then Call F(1) Else Call G(2)", "[If(c, [Call(f(1))], [Call(g(2))])]"},
        {"If c Then Set x = Range(\"A1\")", "[If(c, [SetObject(x, Range(\"A1\"))], [])]"},
        {"If c Then MsgBox m Else y = 1", "[If(c, [MsgBox(m)], [Assign(y, 1)])]"},
        {"If c Then Cells(1, 1).Value = 2 Else Exit For", "[If(c, [CellWrite(1, 1, 2)], [ExitFor])]"},
        {"If c Then Debug.Print x Else y = 1",
         "[If(c, [Skipped(Debug.Print/Debug.Assert has no effect (no-op))], [Assign(y, 1)])]"},
        {"If c Then a.Activate Else y = 1", "[If(c, [ObjCall(a.activate [])], [Assign(y, 1)])]"},
        {"If c Then DoWork a, b Else Beep", "[If(c, [BareCall(dowork(a, b))], [BareCall(beep())])]"},
        {"If c Then Dim n As Long", "[If(c, [DimScalar(n, long)], [])]"},
        {"If c Then On Error Resume Next", "[If(c, [OnError(1)], [])]"},
        {"If c Then End", "[If(c, [End], [])]"},
        {"If c Then Else y = 1", "[If(c, [], [Assign(y, 1)])]"},
        {"If c Then If d Then Else y = 1", "[If(c, [If(d, [], [Assign(y, 1)])], [])]"},
        {"If c Then Else = 1", "[If(c, [Assign(else, 1)], [])]"},
        {"If c Then x = 1 Else If d Then x = 2 Else x = 3",
         "[If(c, [Assign(x, 1)], [If(d, [Assign(x, 2)], [Assign(x, 3)])])]"},
        {"If c Then If d Then x = 1 Else x = 2", "[If(c, [If(d, [Assign(x, 1)], [Assign(x, 2)])], [])]"},
        {"If c Then If d Then x = 1 Else x = 2 Else x = 3",
         "[If(c, [If(d, [Assign(x, 1)], [Assign(x, 2)])], [Assign(x, 3)])]"},
        {"If c Then Sheets(\"S\").Activate Else x = 1",
         "[If(c, [ObjCall(sheets(\"S\").activate [])], [Assign(x, 1)])]"},
        {"If c Then Range(\"A1\").Select Else x = 1", "[If(c, [ObjCall(range(\"A1\").select [])], [Assign(x, 1)])]"},
        // Block forms are not branches.
        {"If c Then For i = 1 To 2", "[If(c, [" + shape + "], [])]"},
        {"If c Then Do While x Else y = 1", "[If(c, [" + shape + "], [Assign(y, 1)])]"},
        {"If c Then If d Then\nx = 1", "[If(c, [" + shape + "], []); Assign(x, 1)]"},
        {"If c Then .Value = 1", "[If(c, [" + shape + "], [])]"},
        // Dotted branches follow the enclosing With.
        {"With Range(\"A1\")\nIf c Then .Value = 1 Else .Formula = \"=B1\"\nEnd With",
         "[Block([If(c, [RangeWrite(\"A1\", 1, 0)], [RangeWrite(\"A1\", \"=B1\", 1)])])]"},
        {"With p\nIf c Then .x = 1 Else .y.z = 2\nEnd With",
         "[WithVar(p, [If(c, [FieldAssign(p, x, 1)], [PathAssign(p.y.z, 2)])])]"},
        {"With Range(\"A1\")\nFor i = 1 To 2\nIf c Then .Value = i\nNext\nEnd With",
         "[Block([For(i, 1, 2, -, [If(c, [RangeWrite(\"A1\", i, 0)], [])])])]"},
        {"With Range(\"A1\")\nIf c Then .Font.Bold = True Else x = 1\nEnd With",
         "[Block([If(c, [Skipped(With-block '.font' is not implemented)], [Assign(x, 1)])])]"},
    };
    check_rows(rows, body_of);
    const Row errors[] = {
        {"If c Then Call F", "[If(c, [Call(f())], [])]"},
        {"If c Then x = 1 Else y = 2 z", "ERR: expected newline, got Ident(\"z\")"},
        {"If c Then MsgBox", "ERR: unexpected token in expression: Newline"},
        {"If c Then If d Then x = (", "ERR: unexpected token in expression: Newline"},
    };
    check_rows(errors, body_of);
}

TEST(ParserMends, BareCalls) {
    const Row rows[] = {
        {"DoWork", "[BareCall(dowork())]"},
        {"DoWork a, b + 1", "[BareCall(dowork(a, (b + 1)))]"},
        {"MySub 1, 2", "[BareCall(mysub(1, 2))]"},
        {"DoEvents\nBeep", "[BareCall(doevents()); BareCall(beep())]"},
        {"Foo -1", "[BareCall(foo(Neg(1)))]"},
        {"Print #1, x", "[BareCall(print(1, x))]"},
        {"Close #1", "[BareCall(close(1))]"},
        {"Let x = 1\nLet a(1) = 2", "[Assign(x, 1); IndexAssign(a, [1], 2)]"},
        // Lines whose rest is no list of expressions stay skipped words.
        {"Open f For Input As #1",
         "[Unsupported('open' as a bare statement (no Call keyword or parentheses) is not supported)]"},
        {"Line Input #1, s",
         "[Unsupported('line' as a bare statement (no Call keyword or parentheses) is not supported)]"},
        // Named and left-out arguments.
        {"Foo x:=1", "[BareCall(foo(x:=1))]"},
        {"Foo 1, , 3\nFoo , b:=2", "[BareCall(foo(1, _, 3)); BareCall(foo(_, b:=2))]"},
        {"Call Foo(1, , c:=3)", "[Call(foo(1, _, c:=3))]"},
        {"Foo Cells(1, 1)", "[BareCall(foo(ObjPath(cells(1, 1))))]"},
        {"Foo a,", "[Unsupported('foo' as a bare statement (no Call keyword or parentheses) is not supported)]"},
        // A name with parentheses is the call form, which must end its line.
        {"Foo (1), 2", "ERR: expected newline, got Comma"},
        {"Foo (", "ERR: unexpected token in expression: Newline"},
        {"Let 5", "[Unsupported('let' as a bare statement (no Call keyword or parentheses) is not supported)]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserMends, EndAndStop) {
    const Row rows[] = {
        {"End", "[End]"},
        {"Stop", "[Stop]"},
        {"x = 1\nEnd\nx = 2", "[Assign(x, 1); End; Assign(x, 2)]"},
        {"End Function", "[Unsupported('end' as a bare statement (no Call keyword or parentheses) is not supported)]"},
        {"Stop 1", "[Unsupported('stop' as a bare statement (no Call keyword or parentheses) is not supported)]"},
        {"end = 3", "[Assign(end, 3)]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserMends, WithBlocks) {
    const Row rows[] = {
        // Only Value and Formula write a value; other properties are skipped.
        {"With Range(\"A1\")\n.Range(\"A1\").NumberFormat = \"0.00\"\n.Range(\"A1\").Text = 1\nEnd With",
         "[Block([Skipped(Range property/method 'numberformat' is not implemented); Skipped(Range property/method "
         "'text' is not implemented)])]"},
        {"With Sheets(\"S\")\n.Range(\"C3\").NumberFormat = \"0.00\"\n.Range(\"C3\").Formula = \"=1\"\nEnd With",
         "[WithSheet(S, [ObjCall(sheets(\"S\").range(\"C3\").numberformat = \"0.00\"); "
         "ObjCall(sheets(\"S\").range(\"C3\").formula = \"=1\")])]"},
        {"With ws\n.Range(\"A1\").NumberFormat = \"0.00\"\nEnd With",
         "[WithVar(ws, [ObjCall(ws.range(\"A1\").numberformat = \"0.00\")])]"},
        // Cells and Range inside With Range are relative to its first cell.
        {"With Range(\"B2:D5\")\n.Cells(1, 1).Value = 1\n.Range(\"A1\").Value = 2\n.Range(\"a1:b2\").ClearContents\n"
         ".Range(\"$A$1,C3\").Formula = f\nEnd With",
         "[Block([CellWrite((1 + 1), (1 + 1), 1); RangeWrite(\"B2\", 2, 0); RangeClear(\"B2:C3\", 1); "
         "RangeWrite(\"B2,D4\", f, 1)])]"},
        {"With Range(\"B2:D5\")\nx = .Cells(r, 3).Value + .Range(\"b1\").Value\nEnd With",
         "[Block([Assign(x, (Cells((r + 1), (3 + 1)) + RangeValue(\"C2\")))])]"},
        {"With Range(\"C1\")\nx = .Cells(1, 1).End(xlDown).Row\nEnd With",
         "[Block([Assign(x, CellsEnd(1, (1 + 2), Down, row))])]"},
        {"With Range(\"A1:C3\")\n.Cells(i, j).Value = 0\nEnd With", "[Block([CellWrite(i, j, 0)])]"},
        {"With Range(\"Data!C3\")\n.Cells(1, 1).Value = 1\n.Range(\"A2\").Value = 2\nEnd With",
         "[Block([SheetCellWrite(\"Data\", (1 + 2), (1 + 2), 1); RangeWrite(\"Data!C4\", 2, 0)])]"},
        {"With Range(\"'My Sheet'!B2\")\nx = .Cells(1, 1).Value\nEnd With",
         "[Block([Assign(x, SheetCells(\"My Sheet\", (1 + 1), (1 + 1)))])]"},
        {"With Range(\"MyName\")\n.Cells(1, 1).Value = 1\n.Range(\"A1\").Value = 2\nEnd With",
         "[Block([CellWrite(1, 1, 1); RangeWrite(\"A1\", 2, 0)])]"},
        {"With Range(\"B2\")\n.Range(\"Total\").Value = 1\n.Range(\"S!A1\").Value = 2\nEnd With",
         "[Block([RangeWrite(\"Total\", 1, 0); RangeWrite(\"S!A1\", 2, 0)])]"},
        // Other Range members apply to the With range itself.
        {"With Range(\"B2:D5\")\n.ClearContents\n.Offset(1, 0).Value = 5\n.Copy Destination:=Range(\"F1\")\nEnd With",
         "[Block([RangeClear(\"B2:D5\", 1); RangeOffsetWrite(\"B2:D5\", 1, 0, 5); RangeCopy(\"B2:D5\", \"F1\")])]"},
        // Inside With v, Cells and Range name cells of v's sheet.
        {"With ws\n.Range(\"A1\").Value = 1\n.Cells(2, 3).Value = 2\nx = .Range(\"b1\").Value + .Cells(1, "
         "1).Value\nEnd With",
         "[WithVar(ws, [ObjCall(ws.range(\"A1\").value = 1); ObjCall(ws.cells(2, 3).value = 2); "
         "Assign(x, (ObjPath(ws.range(\"b1\").value) + ObjPath(ws.cells(1, 1).value)))])]"},
        {"With ActiveSheet\nx = .Range(\"A1\").Value\nEnd With",
         "[WithVar(activesheet, [Assign(x, ObjPath(activesheet.range(\"A1\").value))])]"},
        // Inside With Sheets, Cells and Range name cells of that sheet, even
        // when an outer With Range or With variable block is in force.
        {"With Range(\"B2\")\nWith Sheets(\"S\")\n.Cells(1, 1).Value = 1\n.Range(\"A1\").Value = 2\n"
         "x = .Cells(1, 1).Value + .Range(\"b1\").Value\n.Value = 3\nEnd With\n.Cells(1, 1).Value = 4\nEnd With",
         "[Block([WithSheet(S, [ObjCall(sheets(\"S\").cells(1, 1).value = 1); "
         "ObjCall(sheets(\"S\").range(\"A1\").value = 2); "
         "Assign(x, (ObjPath(sheets(\"S\").cells(1, 1).value) + ObjPath(sheets(\"S\").range(\"b1\").value))); "
         "RangeWrite(\"B2\", 3, 0)]); CellWrite((1 + 1), (1 + 1), 4)])]"},
        {"With ws\nWith Sheets(\"S\")\n.Range(\"A1\").Value = 1\n.Cells(1, 2).Value = 2\n.Name = n\nEnd With\nEnd With",
         "[WithVar(ws, [WithSheet(S, [ObjCall(sheets(\"S\").range(\"A1\").value = 1); ObjCall(sheets(\"S\").cells(1, "
         "2).value = 2); ObjCall(sheets(\"S\").name = n)])])]"},
        {"With Sheets(\"S\")\nWith Range(\"C3\")\n.Cells(1, 1).Value = 1\nEnd With\nEnd With",
         "[WithSheet(S, [Block([CellWrite((1 + 2), (1 + 2), 1)])])]"},
        {"With Worksheets(\"S\")\nIf c Then .Range(\"A1\").Value = 1 Else .Cells(1, 1).Value = 2\nEnd With",
         "[WithSheet(S, [If(c, [ObjCall(sheets(\"S\").range(\"A1\").value = 1)], [ObjCall(sheets(\"S\").cells(1, "
         "1).value = 2)])])]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserMends, NamesDatesAndArrays) {
    const Row rows[] = {
        {"größe = 1\nCafé = CAFÉ + 1", "[Assign(größe, 1); Assign(café, (café + 1))]"},
        {"Dim Straße As String", "[DimScalar(straße, string)]"},
        {"d = #12/31/1999#", "[Assign(d, #36525)]"},
        {"If d > #2020-01-01# Then x = 1", "[If((d > #43831), [Assign(x, 1)], [])]"},
        {"Dim m(3, 4)\nm(1, 2) = 5\nx = m(1, 3)\nReDim Preserve m(5, 6)",
         "[DimArray(m, [3, 4]); IndexAssign(m, [1, 2], 5); Assign(x, m(1, 3)); ReDim(m, [5, 6], 1)]"},
        {"d = #1/2/2020 9:00#",
         "ERR: date literal with a time of day is not supported (Date values carry no time): #1/2/2020 9:00#"},
    };
    check_rows(rows, body_of);
}

}  // namespace
}  // namespace morvane::parser
