// Inputs the fuzzers found that once ended in undefined behaviour: each must
// now evaluate to a value or a message (the sanitizer pass checks the rest).
#include <gtest/gtest.h>

#include "tests/cpp/formula_test_util.h"

using namespace morvane;

namespace {

using morvane::testing::Case;
using morvane::testing::check;

TEST(FuzzFindings, Formulas) {
    const Case cases[] = {
        // The product of no factor, counted from the largest n.
        {"=PERMUT(9223372036854775807,0)", "Integer(1)"},
        // Stray continuation bytes make a text of no character.
        {"=LEN(REPT(\"\x8a\x8a\",16383))", "Integer(0)"},
        {"=REPT(\"\x8a\",40000)", "Error(Value)"},
        // A criteria range written right to left has no columns: its rows
        // are blank and take every record.
        {"=DCOUNT(A1:C5,1,E1:A2)", "Integer(0)"},
        {"=DSUM(A1:A3,1,C1:A3)", "Integer(0)"},
    };
    check(cases);
    const CellMap cells = morvane::testing::sheet(
        {{"A1", Variant("n")}, {"A2", Variant(int64_t{2})}, {"A3", Variant(int64_t{3})}, {"C2", Variant(">2")}});
    EXPECT_EQ(morvane::testing::run("=DSUM(A1:A3,1,C1:A2)", cells), "Integer(5)");
}

}  // namespace
