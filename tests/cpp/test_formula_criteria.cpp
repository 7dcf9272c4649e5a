// Criteria: parsing, matching, wildcards, FILTER's element test, and the
// conditional aggregates built on them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "formula/criteria.h"
#include "formula/eval.h"
#include "tests/cpp/formula_test_util.h"

using namespace morvane;

namespace {

using morvane::testing::run;
using morvane::testing::sheet;

std::string kind_of(const eval::ParsedCriteria& c) {
    using PC = eval::ParsedCriteria;
    constexpr const char* ops[] = {"Gt", "Ge", "Lt", "Le", "Ne"};
    switch (c.test.index()) {
        case 0: return "Exact " + std::get<PC::Exact>(c.test).value.debug_text();
        case 1: return "NumEq " + std::get<PC::NumEq>(c.test).value.debug_text();
        case 2: return "TextEq '" + std::get<PC::TextEq>(c.test).text + "'";
        case 3: return "TextNe '" + std::get<PC::TextNe>(c.test).text + "'";
        case 4: return "Wildcard '" + std::get<PC::Wildcard>(c.test).pattern + "'";
        default: {
            const auto& n = std::get<PC::NumCmp>(c.test);
            return std::string("NumCmp ") + ops[static_cast<int>(n.op)] + " " + number_to_text(n.value);
        }
    }
}

const Variant kNA{ExcelError::NA};
const Variant kEmpty{};

}  // namespace

TEST(FormulaCriteria, Parse) {
    const std::pair<Variant, const char*> cases[] = {
        {Variant(">=10"), "NumCmp Ge 10"},
        {Variant("<=2.5"), "NumCmp Le 2.5"},
        {Variant("<>5"), "NumCmp Ne 5"},
        {Variant("<>abc"), "TextNe 'abc'"},
        {Variant("<>"), "TextNe ''"},
        {Variant("<3"), "NumCmp Lt 3"},
        {Variant(">x"), "NumCmp Gt NaN"},
        {Variant("<"), "NumCmp Lt NaN"},
        {Variant("5"), "NumEq Integer(5)"},
        {Variant("1.5"), "NumEq Float(1.5)"},
        {Variant("abc"), "TextEq 'abc'"},
        {Variant(""), "TextEq ''"},
        {Variant("a*"), "Wildcard 'A*'"},
        {Variant("é?"), "Wildcard 'É?'"},
        {Variant("~*"), "Wildcard '~*'"},
        // A leading "=" asks for equality with the rest.
        {Variant("=5"), "NumEq Integer(5)"},
        {Variant("=x"), "TextEq 'x'"},
        {Variant("="), "Exact Empty"},
        {Variant("=a?"), "Wildcard 'A?'"},
        {Variant(int64_t{3}), "Exact Integer(3)"},
        {Variant(true), "Exact Boolean(true)"},
        {Variant(), "Exact Empty"},
    };
    for (const auto& [criterion, expected] : cases)
        EXPECT_EQ(kind_of(eval::parse_criteria(criterion)), expected) << criterion.debug_text();
}

TEST(FormulaCriteria, Match) {
    struct MatchCase {
        Variant criterion;
        Variant candidate;
        bool matches;
    };
    const double near_tenth = std::nextafter(0.1, 1.0);
    const MatchCase cases[] = {
        {Variant(">=10"), Variant(int64_t{10}), true},
        {Variant(">=10"), Variant(12.0), true},
        {Variant(">=10"), Variant(Date{45000}), true},
        // Numeric comparisons see numbers and dates only.
        {Variant(">=10"), Variant("15"), false},
        {Variant(">=10"), kEmpty, false},
        {Variant("<5"), kEmpty, false},
        {Variant("<5"), Variant(false), false},
        {Variant("<5"), Variant("3"), false},
        {Variant("<5"), Variant(int64_t{4}), true},
        {Variant("<5"), Variant(Date{3}), true},
        {Variant("<5"), Variant(int64_t{5}), false},
        {Variant("<=5"), Variant(int64_t{5}), true},
        {Variant(">5"), Variant(5.5), true},
        // "<>n" accepts everything that is not that number.
        {Variant("<>5"), Variant(int64_t{4}), true},
        {Variant("<>5"), kEmpty, true},
        {Variant("<>5"), Variant(true), true},
        {Variant("<>5"), Variant("abc"), true},
        {Variant("<>5"), kNA, true},
        {Variant("<>5"), Variant(int64_t{5}), false},
        {Variant("<>5"), Variant(5.0), false},
        {Variant("<>5"), Variant(Date{5}), false},
        {Variant("<>0.1"), Variant(near_tenth), false},
        {Variant("<>0.1"), Variant(0.2), true},
        {Variant("<>"), Variant(int64_t{0}), true},
        {Variant("<>"), Variant(false), true},
        {Variant("<>"), kNA, true},
        {Variant("<>"), Variant("x"), true},
        // "<>" alone asks for a cell that is not empty; the empty text is in one.
        {Variant("<>"), kEmpty, false},
        {Variant("<>"), Variant(""), true},
        {Variant("<>abc"), Variant("ABC"), false},
        {Variant("<>abc"), kEmpty, true},
        {Variant(""), kEmpty, true},
        {Variant(""), Variant(""), true},
        {Variant(""), Variant(int64_t{0}), false},
        {Variant(""), Variant("x"), false},
        {Variant("=5"), Variant(int64_t{5}), true},
        {Variant("=5"), Variant("=5"), false},
        // An equality with a number takes the texts that read as it too.
        {Variant("=5"), Variant("5"), true},
        {Variant("=5"), Variant("5x"), false},
        {Variant("<>5"), Variant("5"), false},
        {Variant("<>5"), Variant("5.0"), false},
        {Variant("=x"), Variant("X"), true},
        {Variant("="), kEmpty, true},
        {Variant("="), Variant(""), false},
        {Variant("="), Variant(int64_t{0}), false},
        {Variant("5"), Variant(int64_t{5}), true},
        {Variant("5"), Variant(5.0), true},
        {Variant("5"), Variant("5"), true},
        {Variant("5"), Variant("05"), true},
        {Variant("5"), Variant(true), false},
        {Variant("5*"), Variant(int64_t{5}), false},
        {Variant("5*"), Variant(int64_t{50}), false},
        {Variant("5*"), Variant("5.5"), true},
        {Variant("5*"), Variant("5x"), true},
        {Variant("5*"), Variant(int64_t{6}), false},
        {Variant(">abc"), Variant(int64_t{1}), false},
        {Variant(">abc"), Variant("abc"), false},
        {Variant(">"), kEmpty, false},
        {Variant("<"), Variant(int64_t{-1}), false},
        {Variant("a?c"), Variant("ABC"), true},
        {Variant("a?c"), Variant("abc"), true},
        {Variant("a?c"), Variant("AC"), false},
        {Variant("a?c"), Variant("ABBC"), false},
        {Variant("a*c"), Variant("AC"), true},
        {Variant("a*c"), Variant("ABBC"), true},
        {Variant("a*c"), Variant("ab"), false},
        {Variant("*"), kEmpty, false},
        {Variant("*"), Variant(int64_t{1}), false},
        {Variant("*"), Variant(""), true},
        {Variant("*"), Variant(true), false},
        {Variant("?*"), Variant(""), false},
        {Variant("?"), kEmpty, false},
        {Variant("?"), Variant("x"), true},
        {Variant("é*"), Variant("été"), true},
        {Variant("true"), Variant(true), true},
        {Variant("true"), Variant("True"), true},
        {Variant("true"), Variant(false), false},
        {Variant("#N/A"), kNA, true},
        {Variant(true), Variant(true), true},
        {Variant(true), Variant("TRUE"), false},
        {Variant(true), Variant(int64_t{1}), false},
        {Variant(int64_t{5}), Variant(Date{5}), true},
        {Variant(int64_t{5}), Variant("5"), true},
        {Variant(int64_t{5}), Variant("five"), false},
        {kEmpty, kEmpty, true},
        {kEmpty, Variant(""), false},
        {kEmpty, Variant(int64_t{0}), false},
        {kNA, kNA, false},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(eval::matches_parsed(c.candidate, eval::parse_criteria(c.criterion)), c.matches)
            << c.criterion.debug_text() << " vs " << c.candidate.debug_text();
    }
}

TEST(FormulaCriteria, Wildcards) {
    struct WildCase {
        const char* text;
        const char* pattern;
        bool matches;
    };
    const WildCase cases[] = {
        // clang-format off
        {"ABC", "A*C", true},   {"AC", "A*C", true},     {"A", "A*A", false},     {"AA", "A*A", true},
        {"AXBXC", "A*B*C", true}, {"ACB", "A*C*C*B", false}, {"ABCB", "*B", true},   {"", "*", true},
        {"", "**", true},       {"AXYB", "A**B", true},  {"", "?", false},        {"AB", "A?", true},
        {"ABC", "A?", false},   {"ABC", "?B*", true},    {"ÉTÉ", "?T?", true},    {"ÉTÉ", "É*É", true},
        {"XABCX", "*ABC*", true}, {"XABX", "*ABC*", false}, {"A*", "A?", true},   {"AB", "*?*?*", true},
        {"A", "*?*?*", false},
        // A star retried character by character, with "?" taking whole characters.
        {"ABABAC", "*AB?C", true}, {"ABABAD", "*AB?C", false}, {"AÉB", "A?B", true}, {"AÉÉB", "A?B", false},
        {"XÉYÉZ", "*É?É*", true}, {"ÉÉX", "*?X", true}, {"ÉX", "??X", false}, {"AB", "A?*", true},
        {"AB", "A??*", false}, {"B", "*?", true},
        // clang-format on
    };
    for (const WildCase& c : cases)
        EXPECT_EQ(eval::wildcard_match(c.text, c.pattern), c.matches) << c.text << " ~ " << c.pattern;
    // A long text against a long pattern without a star is settled at once.
    const std::string text(1'000'000, 'Z');
    const std::string pattern = "?" + std::string(1'000'000, 'A');
    for (int i = 0; i < 1000; ++i) ASSERT_FALSE(eval::wildcard_match(text, pattern));
}

TEST(FormulaConditional, Aggregates) {
    const CellMap cells = sheet({
        // clang-format off
        {"A1", Variant(int64_t{1})},   {"A2", Variant(int64_t{2})},  {"A3", Variant(int64_t{3})},
        {"B1", Variant(int64_t{10})},  {"B2", Variant(int64_t{20})}, {"B3", Variant(int64_t{30})},
        {"C1", Variant("5")},          {"C2", Variant(true)},        {"D2", Variant("")},
        {"D3", Variant(int64_t{0})},   {"E1", Variant(std::nan(""))}, {"E2", Variant(int64_t{3})},
        {"F1", Variant(Date{45000})},  {"F2", Variant(Date{45001})}, {"G1", Variant(ExcelError::NA)},
        {"G2", Variant(int64_t{2})},   {"H1", Variant(int64_t{2})},  {"H2", Variant(int64_t{4})},
        // clang-format on
    });
    const std::pair<const char*, const char*> cases[] = {
        {"=SUMIF(A1:A3,\">1\")", "Integer(5)"},
        {"=SUMIF(A1:A3,\">9\")", "Integer(0)"},
        {"=SUMIF(A1:A3,\">0\",B1:B2)", "Integer(30)"},
        {"=SUMIF(A1:A3,2,B1:B3)", "Integer(20)"},
        {"=SUMIF(C1:C2,\"<>x\")", "Integer(0)"},
        {"=SUMIF(C1:C2,\"*\")", "Integer(0)"},
        {"=COUNTIF(A1:D3,\"*\")", "Integer(2)"},
        {"=SUMIF(G1:G2,\"<>x\")", "Error(NA)"},
        {"=SUMIF(A1)", "fail: SUMIF requires 2 or 3 arguments"},
        {"=SUMIF(A1:A3,1+\"x\")", "fail: Cannot convert 'x' to a number"},
        {"=AVERAGEIF(A1:A4,\"<5\")", "Float(2.0)"},
        {"=AVERAGEIF(H1:H2,\">0\")", "Float(3.0)"},
        {"=AVERAGEIF(A1:A3,\">0\",B1:B3)", "Float(20.0)"},
        {"=AVERAGEIF(A1:A3,\">9\")", "Error(DivZero)"},
        {"=AVERAGEIF(A1)", "fail: AVERAGEIF requires 2 or 3 arguments"},
        {"=COUNTIF(A1:A100,\"<5\")", "Integer(3)"},
        {"=COUNTIF(A1:A5,\"<>2\")", "Integer(4)"},
        {"=COUNTIF(A1:A3,\"=2\")", "Integer(1)"},
        {"=COUNTIF(D1:D3,\"=\")", "Integer(1)"},
        {"=COUNTIF(D1:D3,\"\")", "Integer(2)"},
        {"=COUNTIF(D1:D3,D9)", "Integer(1)"},
        {"=COUNTIF(G1:G2,\"#N/A\")", "Integer(1)"},
        {"=COUNTIF(G1:G2,NA())", "Integer(0)"},
        {"=COUNTIF(F1:F2,\">=45000\")", "Integer(2)"},
        {"=COUNTIF(MAP(A1:A3,LAMBDA(x,x*2)),\">2\")", "Integer(2)"},
        {"=COUNTIF(A1:A3)", "fail: COUNTIF requires 2 arguments"},
        {"=COUNTIFS(A1:A3,\">0\",B1:B2,\">0\")", "Integer(3)"},
        {"=COUNTIFS(A1:A3,\">0\",B1:B2,\">10\")", "Integer(2)"},
        {"=COUNTIFS(A1:A2,\">0\",B1:B5,\">0\")", "Integer(2)"},
        {"=COUNTIFS(A1:A3,\">1\",B1:B3,\"<30\")", "Integer(1)"},
        {"=COUNTIFS(A1:A3,\">0\",B1:B3)", "fail: COUNTIFS requires pairs of (range,criteria)"},
        {"=SUMIFS(B1:B3,A1:A3,\">1\")", "Integer(50)"},
        {"=SUMIFS(B1:B3,A1:A3,\">1\",A1:A3,\"<3\")", "Integer(20)"},
        {"=SUMIFS(B1:B3,A1:A3)", "fail: SUMIFS requires sum_range then pairs of (range,criteria)"},
        {"=AVERAGEIFS(B1:B3,A1:A3,\">1\")", "Float(25.0)"},
        {"=AVERAGEIFS(B1:B3,A1:A2,\">1\")", "Float(25.0)"},
        {"=AVERAGEIFS(B1:B3,A1:A3,\">5\")", "Error(DivZero)"},
        {"=AVERAGEIFS(B1:B3,A1:A3)", "fail: AVERAGEIFS requires avg_range then pairs"},
        {"=MAXIFS(B1:B3,A1:A3,\"<3\")", "Integer(20)"},
        {"=MINIFS(B1:B3,A1:A3,\">1\")", "Integer(20)"},
        {"=MAXIFS(E1:E2,E1:E2,\"<>x\")", "Integer(3)"},
        {"=MINIFS(E1:E2,E1:E2,\"<>x\")", "Integer(3)"},
        {"=MAXIFS(E1:E1,E1:E1,\"<>x\")", "Float(NaN)"},
        {"=MAXIFS(F1:F2,F1:F2,\">0\")", "Integer(45001)"},
        {"=MAXIFS(C1:C2,C1:C2,\"<>x\")", "Integer(0)"},
        {"=MINIFS(C1:C2,C1:C2,\"<>x\")", "Integer(0)"},
        {"=MAXIFS(A1:A3,A1:A3)", "fail: MAXIFS requires max_range then pairs"},
        {"=MINIFS(A1:A3,A1:A3)", "fail: MINIFS requires min_range then pairs"},
        {"=COUNTBLANK(D1:D3)", "Integer(2)"},
        {"=COUNTBLANK(D1:D3,D9,\"\")", "Integer(4)"},
        {"=COUNTBLANK()", "Integer(0)"},
    };
    for (const auto& [formula, expected] : cases) EXPECT_EQ(run(formula, cells), expected) << formula;
}
