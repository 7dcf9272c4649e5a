// Times parser::parse on a generated 10,000-line module (built with
// -DMORVANE_BENCH=ON). Prints the best and the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "parser/mod.h"

namespace {

// One procedure of 50 lines mixing the common statement forms.
std::string procedure(int k) {
    std::string n = std::to_string(k);
    std::string s;
    s += "' Procedure " + n + ": a mix of the usual statements\n";
    s += "Sub Work" + n + "(ByVal count As Long, Optional label As String = \"row\")\n";
    s += "    Dim i As Long, total As Double, name As String\n";
    s += "    Dim grid(10, 10)\n";
    s += "    total = 0\n";
    s += "    For i = 1 To count Step 1\n";
    s += "        total = total + Cells(i, 2).Value * 1.5 - (i Mod 3) ^ 2\n";
    s += "        If total > 100 And Not (i = 5 Or i = 7) Then\n";
    s += "            Range(\"A1\").Value = total & \" \" & label\n";
    s += "        ElseIf total < 0 Then\n";
    s += "            Cells(i, 3).Value = -total\n";
    s += "        Else\n";
    s += "            grid(i Mod 10, 1) = WorksheetFunction.Sum(total, i, 3)\n";
    s += "        End If\n";
    s += "    Next i\n";
    s += "    Select Case total\n";
    s += "        Case 1, 2, 3\n";
    s += "            name = \"small\"\n";
    s += "        Case 4 To 10\n";
    s += "            name = \"medium\"\n";
    s += "        Case Is > 10\n";
    s += "            name = \"large\"\n";
    s += "        Case Else\n";
    s += "            name = \"none\"\n";
    s += "    End Select\n";
    s += "    With Range(\"B2:D5\")\n";
    s += "        .Cells(1, 1).Value = name\n";
    s += "        .Value = Len(name) + Cells(Rows.Count, 1).End(xlUp).Row\n";
    s += "    End With\n";
    s += "    Do While i > 0\n";
    s += "        i = i - 1\n";
    s += "        If i = 3 Then Exit Do\n";
    s += "    Loop\n";
    s += "    Sheets(\"Data\").Range(\"C1\").Value = Sheets(\"Data\").Range(\"C2\").Value + 1\n";
    s += "    On Error Resume Next\n";
    s += "    Helper" + n + " total, name\n";
    s += "    Call Helper" + n + "(total, name)\n";
    s += "    MsgBox \"Done: \" & name, vbOKOnly, \"Title\"\n";
    s += "    Debug.Print total\n";
    s += "    Set r = Range(\"A1:B2\")\n";
    s += "    r.Copy Destination:=Range(\"E1\")\n";
    s += "    total = total * 2 + Int(total / 3) - Abs(total - 7) + Sqr(16)\n";
    s += "    name = UCase(Left(name, 2)) & Mid(name, 3, 4) & Right$(name, 1)\n";
    s += "    If total = 0 Then total = 1 Else total = total + 1\n";
    s += "    While total > 1000\n";
    s += "        total = total / 2\n";
    s += "    Wend\n";
    s += "End Sub\n";
    s += "\n";
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
