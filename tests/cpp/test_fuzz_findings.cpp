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
    };
    check(cases);
}

}  // namespace
