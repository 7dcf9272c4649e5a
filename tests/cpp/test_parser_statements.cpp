// Statements inside a procedure body: declarations, simple statements,
// object-model statements, and their messages.
#include <gtest/gtest.h>

#include "parser/mod.h"
#include "tests/cpp/parser_test_util.h"

namespace morvane::parser {
namespace {

using testing::body_of;
using testing::check_rows;
using testing::Row;

TEST(ParserStatements, Declarations) {
    const Row rows[] = {
        {"Dim i As Integer", "[DimScalar(i, integer)]"},
        {"Dim i", "[DimScalar(i, )]"},
        {"Dim v As Variant", "[DimScalar(v, variant)]"},
        {"Dim r As Range", "[DimAs(r, range)]"},
        {"Dim p As Point", "[DimAs(p, point)]"},
        {"Dim a(10)", "[DimArray(a, [10])]"},
        {"Dim m(3, 4) As Double", "[DimArray(m, [3, 4])]"},
        {"Dim pts(5) As Point", "[DimArrayAs(pts, [5], point)]"},
        {"Dim a As Long, b(3), c As Point", "[DimList[DimScalar(a, long); DimArray(b, [3]); DimAs(c, point)]]"},
        {"Dim x As String * 10, y As Long", "[DimList[DimScalar(x, string); DimScalar(y, long)]]"},
        {"Dim n As Long = 5", "ERR: expected newline, got Eq"},
        {"Dim rate As Double: rate = 0.175", "ERR: expected newline, got Colon"},
        {"Static n As Long: n = 1", "ERR: expected newline, got Colon"},
        {"ReDim Preserve arr(n + 1)", "[ReDim(arr, [(n + 1)], 1)]"},
        {"ReDim arr(n) As String", "[ReDim(arr, [n], 0)]"},
        {"ReDim m(2, 3)", "[ReDim(m, [2, 3], 0)]"},
        {"Const Pi As Double = 3.14159", "[Assign(pi, 3.14159)]"},
        {"Private Const K = 3", "[Assign(k, 3)]"},
        {"Static n As Long, a(2)", "[StaticList[DimScalar(n, long); DimArray(a, [2])]]"},
        {"Public Dim q As Currency", "[DimScalar(q, currency)]"},
        {"Dim a(1 To 5)", "ERR: expected RParen, got Ident(\"to\")"},
        {"Dim a()", "ERR: unexpected token in expression: RParen"},
        {"ReDim a(1 To 5)", "ERR: expected RParen, got Ident(\"to\")"},
        {"ReDim a(5), b(5)", "ERR: expected newline, got Comma"},
        {"Dim c As New Collection", "ERR: expected newline, got Ident(\"collection\")"},
        {"Dim 5", "ERR: expected identifier, got Int(5)"},
        {"Dim x As 5", "ERR: expected identifier, got Int(5)"},
        {"Const X", "ERR: expected Eq, got Newline"},
        {"Const A = 1, B = 2", "ERR: expected newline, got Comma"},
    };
    check_rows(rows, body_of);
}

TEST(ParserStatements, Simple) {
    const Row rows[] = {
        {"", "[]"},
        {"x = 1", "[Assign(x, 1)]"},
        {"Debug = 5\nRange = 2\nExit = 3", "[Assign(debug, 5); Assign(range, 2); Assign(exit, 3)]"},
        {"start:", "[Label(start)]"},
        {"Debug.Print x\nDebug.Assert y",
         "[Skipped(Debug.Print/Debug.Assert has no effect (no-op)); "
         "Skipped(Debug.Print/Debug.Assert has no effect (no-op))]"},
        {"MySub(1, 2)\nCall MySub(1, 2)\nCall F()\nCall G",
         "[Call(mysub(1, 2)); Call(mysub(1, 2)); Call(f()); Call(g())]"},
        {"Resume\nResume Next\nResume again\nResume 0", "[Resume(0); Resume(1); Resume(0, again); Resume(0)]"},
        {"Erase a, b\nErr.Clear", "[Erase(a, b); ErrClear]"},
        {"Err.Raise 5\nErr.Raise 1000, \"me\", \"bad\"\nErr.Raise Description:=\"d\", Number:=7",
         "[ErrRaise(5, -, -); ErrRaise(1000, \"me\", \"bad\"); ErrRaise(7, -, \"d\")]"},
        {"Err.Raise(9)", "[ErrRaise(9, -, -)]"},
        {"Dim a(3) As Long\nReDim b(2) As String", "[DimArray(a, [3]); ReDim(b, [2], 0)]"},
        {"a(1, 2) = 5", "[IndexAssign(a, [1, 2], 5)]"},
        {"a(1).x = 5", "[IndexedFieldAssign(a, [1], x, 5)]"},
        {"a(1).x", "[Skipped('a(...).x' read without assignment has no effect)]"},
        {"p.x = 1\np.a.b = 1", "[FieldAssign(p, x, 1); PathAssign(p.a.b, 1)]"},
        {"ws.Activate", "[ObjCall(ws.activate [])]"},
        {"obj.Method(1)", "[ObjCall(obj.method(1) [])]"},
        {"ThisWorkbook.Save", "[ObjCall(thisworkbook.save [])]"},
        {"rng.Copy\nrng.Copy Destination:=Range(\"b2\")", "[VarCopy(rng, -); VarCopy(rng, \"b2\")]"},
        {"Exit For\nExit Do\nExit Sub\nExit Function", "[ExitFor; ExitDo; ExitSub; ExitFunction]"},
        {"On Error Resume Next\nOn Error GoTo 0\nOn Error GoTo 10\nOn Error GoTo Handler",
         "[OnError(1); OnError(0); OnError(0); OnErrorGoto(handler)]"},
        {"On Error GoTo", "ERR: expected newline, got Ident(\"end\")"},
        {"Resume Next\nResume", "[Resume(1); Resume(0)]"},
        {"GoTo done", "[GoTo(done)]"},
        {"Set r = Range(\"a1\")", "[SetObject(r, Range(\"A1\"))]"},
        {"Set ws = Worksheets(\"Data\")", "[SetObject(ws, ObjPath(worksheets(\"Data\")))]"},
        {"MsgBox msg, vbOKOnly, title\nMsgBox(\"Hi\")", "[MsgBox(msg); MsgBox(\"Hi\")]"},
        {"WorksheetFunction.Sum(1, 2)", "[Assign(_, wsf_sum(1, 2))]"},
        {"Application.WorksheetFunction.Max(a)", "[Assign(_, wsf_max(a))]"},
        {"On x GoTo a, b", "[Unsupported('on' as a bare statement (no Call keyword or parentheses) is not supported)]"},
        {"Private Sub Inner()", "[Unsupported('private' inside a procedure declares nothing: use Dim or Static)]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserStatements, SimpleErrors) {
    const Row rows[] = {
        {"x = 1: y = 2", "ERR: expected newline, got Colon"},
        {"start: x = 1", "ERR: expected newline, got Ident(\"x\")"},
        {"5 = x", "ERR: unexpected token starting statement: Int(5)"},
        {".x = 1", "ERR: unexpected token starting statement: Dot"},
        {"Call MySub\nCall MySub 1", "ERR: expected LParen, got Int(1)"},
        {"Call 5", "ERR: expected identifier, got Int(5)"},
        {"MySub(1) x", "ERR: expected newline, got Ident(\"x\")"},
        {"Exit Property", "ERR: unknown exit target: property"},
        {"Exit", "ERR: expected identifier, got Newline"},
        {"On Error Resume", "ERR: expected 'next', got Newline"},
        {"On Error Foo", "ERR: unexpected On Error action: Ident(\"foo\")"},
        {"Resume Label x", "ERR: expected newline, got Ident(\"x\")"},
        {"GoTo 100", "ERR: expected identifier, got Int(100)"},
        {"Set x Range(\"A1\")", "ERR: expected Eq, got Ident(\"range\")"},
        {"Set ws = ws2.Range(\"A1\")", "[SetObject(ws, ObjPath(ws2.range(\"A1\")))]"},
        {"MsgBox", "ERR: unexpected token in expression: Newline"},
        {"rng.Copy Destination:=Sheets(\"x\").Range(\"C1\")", "ERR: expected 'range', got Ident(\"sheets\")"},
        {"rng.Copy Destination:=Range(c)", "ERR: expected string literal, got Ident(\"c\")"},
        {"p. = 1", "ERR: expected identifier, got Eq"},
        {"x = a = Not b", "ERR: expected newline, got Ident(\"b\")"},
    };
    check_rows(rows, body_of);
}

TEST(ParserStatements, ObjectModel) {
    const Row rows[] = {
        {"Range(\"a1\").Value = 5", "[RangeWrite(\"a1\", 5, 0)]"},
        {"Range(\"A1\").Formula = \"=1+2\"", "[RangeWrite(\"A1\", \"=1+2\", 1)]"},
        {"Range(\"a1\").Offset(1, 0).Value = 5", "[RangeOffsetWrite(\"A1\", 1, 0, 5)]"},
        {"Range(\"A1\").Copy Destination:=Range(\"C1\")\nRange(\"A1\").Copy",
         "[RangeCopy(\"A1\", \"C1\"); RangeCopy(\"A1\", -)]"},
        {"Range(\"A1\").PasteSpecial Paste:=xlPasteValues, Transpose:=True\nRange(\"A1\").PasteSpecial xlPasteValues\n"
         "Range(\"A1\").Paste",
         "[RangePaste(\"A1\", True); RangePaste(\"A1\", -); RangePaste(\"A1\", -)]"},
        {"Range(\"A1:C9\").Sort Key1:=Range(\"B1\"), Order1:=xlDescending, Header:=xlYes",
         "[RangeSort(\"A1:C9\", 2, 1)]"},
        {"Range(\"A1:C9\").Sort Key1:=Range(\"b1\")", "[RangeSort(\"A1:C9\", 2, 0)]"},
        {"Range(\"A1:C9\").Sort Key1:=Range(\"$C$1\")", "[RangeSort(\"A1:C9\", 3, 0)]"},
        {"Range(\"A1:C9\").Sort Key1:=Range(\"B1:B9\")", "[RangeSort(\"A1:C9\", 1, 0)]"},
        {"Range(\"A1:C9\").Sort Key1:=Range(\"C1\"), Key1:=Range(\"B1\")", "[RangeSort(\"A1:C9\", 2, 0)]"},
        {"Range(\"A1:C9\").Sort Key1:=k, Order1:=2", "[RangeSort(\"A1:C9\", 1, 0)]"},
        {"Range(\"A1:C9\").Sort", "[RangeSort(\"A1:C9\", 1, 0)]"},
        {"Range(\"A1\").Insert Shift:=xlDown", "[RangeInsert(\"A1\")]"},
        {"Range(\"A1\").Clear\nRange(\"A1\").ClearContents\nRange(\"A1\").Delete",
         "[RangeClear(\"A1\", 0); RangeClear(\"A1\", 1); RangeDelete(\"A1\")]"},
        {"Range(\"A1\").EntireRow.Delete\nRange(\"A1\").EntireColumn.ClearContents\nRange(\"A1\").EntireRow.Insert",
         "[RangeDelete(\"A1\"); RangeClear(\"A1\", 1); RangeInsert(\"A1\")]"},
        {"Range(\"A1\").Delete Shift:=xlUp", "[RangeDelete(\"A1\")]"},
        {"Range(\"A1\").EntireColumn.Insert xlToRight", "[RangeInsert(\"A1\")]"},
        {"Range(\"A1\").Select\nRange(\"A1\").Font.Bold = True\nRange(\"A1\").NumberFormat = \"0.00\"",
         "[ObjCall(range(\"A1\").select []); Skipped(Range property/method 'font' is not "
         "implemented); Skipped(Range property/method 'numberformat' is not implemented)]"},
        {"Range(\"A1\").Name = \"Data\"", "[RangeName(\"A1\", \"Data\")]"},
        {"Cells(1, 2).Value = 3", "[CellWrite(1, 2, 3)]"},
        {"Application.Calculation = xlCalculationSemiautomatic\nApplication.Calculation = xlCalculationManual",
         "[SetCalculation(Automatic); SetCalculation(Manual)]"},
        {"Application.ScreenUpdating = False", "[ApplicationSet(screenupdating, False)]"},
        {"Sheets.Add After:=Sheets(Sheets.Count)\nWorksheets.Add\nSheets.Select",
         "[ObjCall(sheets.add [after:=ObjPath(sheets(ObjPath(sheets.count)))]); AddSheet; ObjCall(sheets.select [])]"},
        {"Sheets(\"Data\").Range(\"a1\").Value = 1", "[SheetRangeWrite(\"Data\", \"a1\", 1, 0)]"},
        {"Sheets(\"Data\").Range(\"a1\").Formula = f", "[SheetRangeWrite(\"Data\", \"a1\", f, 1)]"},
        {"Worksheets(2).Cells(1, 1).Value = 1", "[SheetCellWrite(2, 1, 1, 1)]"},
        {"Sheets(\"Data\").Activate", "[ObjCall(sheets(\"Data\").activate [])]"},
        {"Sheets(\"Data\").Protect \"pw\", UserInterfaceOnly:=True\nSheets(\"Data\").Unprotect",
         "[SheetProtect(\"Data\", True, 1); SheetProtect(\"Data\", -, 0)]"},
        {"Sheets(\"Data\").Paste Destination:=Range(\"B2\")\nSheets(1).Delete",
         "[SheetPaste(\"Data\", \"B2\"); SheetDelete(1)]"},
        {"Workbooks(1).Worksheets(\"Data\").Range(\"A1\").Value = 1",
         "[SheetRangeWrite(WorkbookSheet(1, \"Data\"), \"A1\", 1, 0)]"},
        {"Workbooks(1).Close", "[Skipped(Workbooks(...) is only supported followed by .Worksheets(...)/.Sheets(...))]"},
        {"ActiveSheet.Cells(1, 1).Value = 2", "[SheetCellWrite(ActiveSheet, 1, 1, 2)]"},
        {"ws.Range(\"A1\").Value = 1\nws.Cells(1, 2).Value = 2",
         "[ObjCall(ws.range(\"A1\").value = 1); ObjCall(ws.cells(1, 2).value = 2)]"},
        {"wb.Sheets(\"S\").Range(\"A1\").Value = 1\nThisWorkbook.Worksheets(\"S\").Range(\"A1\").Value = 1",
         "[SheetRangeWrite(\"S\", \"A1\", 1, 0); SheetRangeWrite(\"S\", \"A1\", 1, 0)]"},
    };
    check_rows(rows, body_of);
}

TEST(ParserStatements, ObjectModelErrors) {
    const Row rows[] = {
        {"Range(\"A1\").Offset(1, 0) = 5", "[ObjCall(range(\"A1\").offset(1, 0) = 5)]"},
        {"Range(\"A1\") = 5", "[ObjCall(range(\"A1\") = 5)]"},
        {"Range(x).Value = 5", "[ObjCall(range(x).value = 5)]"},
        {"Range(\"A1\").Copy Range(\"C1\")", "ERR: expected newline, got Ident(\"range\")"},
        {"Range(\"A1\").Name = n", "[ObjCall(range(\"A1\").name = n)]"},
        {"Cells(1, 2) = 3", "[ObjCall(cells(1, 2) = 3)]"},
        {"Cells(1, 2).Formula = \"=1\"", "[ObjCall(cells(1, 2).formula = \"=1\")]"},
        {"Application.Calculation = -4135", "ERR: expected identifier, got Minus"},
        {"Application.Run \"x\"", "ERR: expected Eq, got Str(\"x\")"},
        {"Sheets(\"Data\").Paste", "[ObjCall(sheets(\"Data\").paste [])]"},
        {"Sheets(i).Range(\"A1\").Value = 1", "[ObjCall(sheets(i).range(\"A1\").value = 1)]"},
        {"Sheets(\"D\").Range(\"A1\").Text = 1", "[ObjCall(sheets(\"D\").range(\"A1\").text = 1)]"},
        {"Range(\"A1\").Sort Key1:=Range(k)", "[ObjCall(range(\"A1\").sort [key1:=ObjPath(range(k))])]"},
    };
    check_rows(rows, body_of);
}

}  // namespace
}  // namespace morvane::parser
