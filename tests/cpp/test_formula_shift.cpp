// Moving a formula's references for a fill or a paste: relative parts move,
// "$" parts stay, texts and names are left alone, and a reference moved off
// the sheet becomes #REF!.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "formula/shift.h"

using morvane::formula::shift_references;

TEST(FormulaShift, Table) {
    struct Case {
        const char* formula;
        int64_t rows, cols;
        const char* want;
    };
    const Case cases[] = {
        {"=A1*2", 1, 0, "=A2*2"},
        {"=SUM(A1:A3)", 0, 2, "=SUM(C1:C3)"},
        {"=$A$1+A$1+$A1", 2, 2, "=$A$1+C$1+$A3"},
        {"=LOG10(A1)+ATAN2(B1, 1)", 1, 0, "=LOG10(A2)+ATAN2(B2, 1)"},
        {"=\"A1\"&A1", 1, 0, "=\"A1\"&A2"},
        {"=\"say \"\"B2\"\"\"&B2", 0, 1, "=\"say \"\"B2\"\"\"&C2"},
        {"=A1-1", -1, 0, "=#REF!-1"},
        {"=SUM(A1:B2)", 0, -1, "=SUM(#REF!)"},
        {"=XFD1", 0, 1, "=#REF!"},
        {"=a1 + b1", 1, 1, "=B2 + C2"},
        {"=DAYS360(A1, A2)", 1, 0, "=DAYS360(A2, A3)"},
    };
    for (const Case& c : cases) EXPECT_EQ(shift_references(c.formula, c.rows, c.cols), c.want) << c.formula;
}

TEST(FormulaShift, TheRewriterSeesEachReferenceWithItsSheet) {
    // Every reference once, the sheet as written without quotes, a range as
    // one; a dropped reference is #REF!, one moved off the sheet too.
    std::string seen;
    const std::string out = morvane::formula::rewrite_references(
        "=A1+Data!B2+'My ''x'''!C3:D4+SUM(E5)",
        [&](std::string_view sheet, morvane::formula::RefCorner& a, morvane::formula::RefCorner& b, bool range) {
            seen += std::string(sheet) + (range ? ":" : ".") + std::to_string(a.row) + std::to_string(b.col) + " ";
            if (a.row == 5) return false;
            if (a.row == 2) a.row = 0;
            return true;
        });
    EXPECT_EQ(seen, ".11 Data.22 My 'x':34 .55 ");
    EXPECT_EQ(out, "=A1+Data!#REF!+'My ''x'''!C3:D4+SUM(#REF!)");
}
