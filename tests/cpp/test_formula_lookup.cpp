// Lookup, information and array functions on what Python cannot put in a
// cell (dates), and the bounds of their walks over huge tables.
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/cpp/formula_test_util.h"

using namespace morvane;

namespace {

using morvane::testing::Case;
using morvane::testing::check;
using morvane::testing::sheet;

// A1:A3 dates in ascending order, B1:B3 their labels.
const CellMap kDates = sheet({
    {"A1", Variant(Date{43831})},
    {"A2", Variant(Date{43862})},
    {"A3", Variant(Date{43891})},
    {"B1", Variant("jan")},
    {"B2", Variant("feb")},
    {"B3", Variant("mar")},
});

// A date is a number to the engine: it tests, converts, matches and sorts as
// its serial.
TEST(FormulaLookup, DatesAreNumbers) {
    const Case cases[] = {
        {"=ISNUMBER(A1)", "Boolean(true)"},
        {"=N(A1)", "Integer(43831)"},
        {"=TYPE(A1)", "Integer(1)"},
        {"=CELL(\"type\",A1)", "Str(\"v\")"},
        {"=VLOOKUP(43862,A1:B3,2,FALSE)", "Str(\"feb\")"},
        {"=VLOOKUP(43870,A1:B3,2)", "Str(\"feb\")"},
        {"=MATCH(43891,A1:A3,0)", "Integer(3)"},
        {"=XLOOKUP(43880,A1:A3,B1:B3,\"none\",1)", "Str(\"mar\")"},
        {"=SORT(A1:A3,1,-1)", "Array([Date(43891), Date(43862), Date(43831)])"},
        {"=UNIQUE(VSTACK(A1:A3,43831))", "Array([Date(43831), Date(43862), Date(43891)])"},
    };
    check(cases, kDates);
}

// An exact scan of a table of four billion rows stops at the bound on cells
// read instead of running on; an approximate one halves it in a few steps.
TEST(FormulaLookup, HugeTablesAreBounded) {
    const Case cases[] = {
        // A key line of any length costs the cells the sheet stores.
        {"=VLOOKUP(\"x\",A1:B4294967295,2,FALSE)", "Error(NA)"},
        {"=MATCH(\"x\",A1:A4294967295,0)", "Error(NA)"},
        {"=XMATCH(43862,A1:A4294967295)", "Integer(2)"},
        {"=VLOOKUP(43870,A1:B4294967295,2)", "Str(\"feb\")"},
        {"=HLOOKUP(\"x\",A1:XFD2,2,FALSE)", "Error(NA)"},
        {"=INDEX(A1:B4294967295,4294967295,2)", "Empty"},
        {"=OFFSET(A1,4294967294,0)", "Empty"},
        {"=OFFSET(A1,4294967295,0)", "Error(Ref)"},
        {"=OFFSET(A1,4294967294,0,2,1)", "Error(Ref)"},
        {"=INDEX(A1:B4294967295,0,1)", "fail: Range too large (4294967295 cells); maximum is 1,000,000"},
        {"=SORT(A1:A4294967295)", "fail: Range too large (4294967295 cells); maximum is 1,000,000"},
    };
    check(cases, kDates);
}

}  // namespace
