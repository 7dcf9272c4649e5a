// Times parser::parse on a generated 10,000-line module (built with
// -DMORVANE_BENCH=ON). Prints the best and the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <ratio>
#include <string>
#include <vector>

#include "parser/mod.h"

namespace {

// One procedure of 50 lines mixing the common statement forms; every '@'
// stands for the procedure's number.
constexpr const char* kProcedure = R"(' Procedure @: a mix of the usual statements
Sub Work@(ByVal count As Long, Optional label As String = "row")
    Dim i As Long, total As Double, name As String
    Dim grid(10, 10)
    total = 0
    For i = 1 To count Step 1
        total = total + Cells(i, 2).Value * 1.5 - (i Mod 3) ^ 2
        If total > 100 And Not (i = 5 Or i = 7) Then
            Range("A1").Value = total & " " & label
        ElseIf total < 0 Then
            Cells(i, 3).Value = -total
        Else
            grid(i Mod 10, 1) = WorksheetFunction.Sum(total, i, 3)
        End If
    Next i
    Select Case total
        Case 1, 2, 3
            name = "small"
        Case 4 To 10
            name = "medium"
        Case Is > 10
            name = "large"
        Case Else
            name = "none"
    End Select
    With Range("B2:D5")
        .Cells(1, 1).Value = name
        .Value = Len(name) + Cells(Rows.Count, 1).End(xlUp).Row
    End With
    Do While i > 0
        i = i - 1
        If i = 3 Then Exit Do
    Loop
    Sheets("Data").Range("C1").Value = Sheets("Data").Range("C2").Value + 1
    On Error Resume Next
    Helper@ total, name
    Call Helper@(total, name)
    MsgBox "Done: " & name, vbOKOnly, "Title"
    Debug.Print total
    Set r = Range("A1:B2")
    r.Copy Destination:=Range("E1")
    total = total * 2 + Int(total / 3) - Abs(total - 7) + Sqr(16)
    name = UCase(Left(name, 2)) & Mid(name, 3, 4) & Right$(name, 1)
    If total = 0 Then total = 1 Else total = total + 1
    While total > 1000
        total = total / 2
    Wend
End Sub

)";

std::string procedure(int k) {
    const std::string n = std::to_string(k);
    std::string s;
    for (const char* c = kProcedure; *c; ++c) {
        if (*c == '@')
            s += n;
        else
            s += *c;
    }
    return s;
}

}  // namespace

int main() {
    std::string text = "Attribute VB_Name = \"Bench\"\nOption Explicit\n\n";
    for (int k = 0; k < 205; ++k) text += procedure(k);
    size_t lines = std::count(text.begin(), text.end(), '\n');

    std::vector<double> ms;
    for (int run = 0; run < 15; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        auto prog = morvane::parser::parse(text);
        auto t1 = std::chrono::steady_clock::now();
        if (!prog) {
            std::fprintf(stderr, "parse failed: %s\n", prog.error().c_str());
            return 1;
        }
        if (prog->subs.size() != 205) {
            std::fprintf(stderr, "unexpected procedure count %zu\n", prog->subs.size());
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("parser::parse: %zu lines, %zu bytes: best %.2f ms, median %.2f ms\n", lines, text.size(), ms.front(),
                ms[ms.size() / 2]);
    return 0;
}
