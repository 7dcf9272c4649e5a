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
