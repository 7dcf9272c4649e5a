// Formula parser: trees for accepted texts, exact messages for refused ones.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "formula/eval.h"
#include "formula/parser.h"
#include "tests/cpp/formula_test_util.h"

using namespace morvane;
namespace parser = morvane::formula::parser;

namespace {

using morvane::testing::Case;

constexpr const char* kOpText[] = {"+", "-", "*", "/", "=", "<>", "<", "<=", ">", ">=", "&"};

// A compact text of a tree: cells as C(col,row), calls as NAME[args].
void show(const FormulaExpr& e, std::string& out) {
    auto num = [&](uint32_t n, const char* after) {
        out += std::to_string(n);
        out += after;
    };
    switch (e.kind()) {
        case FormulaExpr::Kind::Number: out += number_to_text(e.get<FormulaExpr::Number>()->value); return;
        case FormulaExpr::Kind::Text:
            out += '"';
            out += e.get<FormulaExpr::Text>()->value;
            out += '"';
            return;
        case FormulaExpr::Kind::Bool: out += e.get<FormulaExpr::Bool>()->value ? "TRUE" : "FALSE"; return;
        case FormulaExpr::Kind::CellRef: {
            auto c = *e.get<FormulaExpr::CellRef>();
            out += "C(";
            num(c.col, ",");
            num(c.row, ")");
            return;
        }
        case FormulaExpr::Kind::Range: {
            auto r = *e.get<FormulaExpr::Range>();
            out += "R(";
            num(r.col1, ",");
            num(r.row1, ",");
            num(r.col2, ",");
            num(r.row2, ")");
            return;
        }
        case FormulaExpr::Kind::Binary: {
            const auto* b = e.get<FormulaExpr::Binary>();
            out += '(';
            show(*b->lhs, out);
            out += kOpText[static_cast<int>(b->op)];
            show(*b->rhs, out);
            out += ')';
            return;
        }
        case FormulaExpr::Kind::Neg:
            out += '-';
            show(*e.get<FormulaExpr::Neg>()->operand, out);
            return;
        case FormulaExpr::Kind::Func: {
            const auto* f = e.get<FormulaExpr::Func>();
            out += f->name;
            out += '[';
            for (size_t i = 0; i < f->args.size(); ++i) {
                if (i) out += ',';
                show(f->args[i], out);
            }
            out += ']';
            return;
        }
    }
}

std::string parsed(std::string_view text) {
    auto r = parser::parse(text);
    if (!r) return "error: " + r.error();
    std::string out;
    show(*r, out);
    return out;
}

}  // namespace

TEST(FormulaParser, Trees) {
    const Case cases[] = {
        // literals and leading "="
        {"1", "1"},
        {"==1+2", "(1+2)"},
        {"  =1", "1"},
        {"= 1", "1"},
        {"1.", "1"},
        {"1.25", "1.25"},
        {"007", "7"},
        {"\"a\"\"b\"", "\"a\"b\""},
        {"\" x\t\"", "\" x\t\""},
        {"true", "TRUE"},
        {"False", "FALSE"},
        {"TRUE()", "TRUE[]"},
        // precedence and associativity
        {"1-2-3", "((1-2)-3)"},
        {"1<2<3", "((1<2)<3)"},
        {"1+2&3", "((1+2)&3)"},
        {"1&2=12", "((1&2)=12)"},
        {"1+2*3", "(1+(2*3))"},
        {"(1+2)*3", "((1+2)*3)"},
        {"1<=2", "(1<=2)"},
        {"1<>2", "(1<>2)"},
        {"1>=2", "(1>=2)"},
        {"1>2", "(1>2)"},
        {"-A1*2", "(-C(1,1)*2)"},
        {"+5", "5"},
        {"- 5", "-5"},
        // signs repeat; "+" leaves no node
        {"--1", "--1"},
        {"+-1", "-1"},
        {"-+1", "-1"},
        {"- -A1", "--C(1,1)"},
        {"--A1*2", "(--C(1,1)*2)"},
        {"2*-1", "(2*-1)"},
        {"1 + 2 * 3", "(1+(2*3))"},
        // references
        {"a1", "C(1,1)"},
        {"B2:A1", "R(2,2,1,1)"},
        {"A1 : B2", "R(1,1,2,2)"},
        {"A1:5", "R(1,1,0,5)"},
        {"A0", "C(1,0)"},
        {"XFD1048576", "C(16384,1048576)"},
        {"A4294967295", "C(1,4294967295)"},
        {"LOG10", "C(8509,10)"},
        // "$" markers are accepted and ignored
        {"$A$1", "C(1,1)"},
        {"A$1", "C(1,1)"},
        {"$A1", "C(1,1)"},
        {"SUM($A$1:B$3)", "SUM[R(1,1,2,3)]"},
        {"$B$2:$A$1", "R(2,2,1,1)"},
        // calls and names
        {"LOG10(100)", "LOG10[100]"},
        {"log10 (100)", "LOG10[100]"},
        {"sum( 1 , 2 )", "SUM[1,2]"},
        {"NORM.S.DIST(1,TRUE)", "NORM.S.DIST[1,TRUE]"},
        {"PI", "PI[]"},
        {"pi()", "PI[]"},
        {"PI( )", "PI[]"},
        {"x1()", "X1[]"},
        {"LET(x, 2, x*3)", "LET[X[],2,(X[]*3)]"},
        {"IF(A1>0,\"p\",-1)", "IF[(C(1,1)>0),\"p\",-1]"},
    };
    for (const Case& c : cases) EXPECT_EQ(parsed(c.formula), c.expected) << c.formula;
}

TEST(FormulaParser, Messages) {
    const Case cases[] = {
        {"", "Unexpected end of formula"},
        {"=", "Unexpected end of formula"},
        {"   ", "Unexpected end of formula"},
        {"1+", "Unexpected end of formula"},
        {"F(1,", "Unexpected end of formula"},
        {"\"abc", "Unterminated string literal"},
        {"(1", "Expected ')'"},
        {"(1 2)", "Expected ')'"},
        {"SUM(1", "Expected ')' after arguments of 'SUM'"},
        {"ATAN2(1 2)", "Expected ')' after arguments of 'ATAN2'"},
        {"SUM(1,)", "Unexpected character: ')'"},
        {"F(,1)", "Unexpected character: ','"},
        {"-", "Unexpected end of formula"},
        {"1*-", "Unexpected end of formula"},
        {".5", "Unexpected character: '.'"},
        {"1=<2", "Unexpected character: '<'"},
        {"{1,2}", "Unexpected character: '{'"},
        {"#N/A!", "Unexpected input at position 4: '!'"},
        {"#NOPE", "Unexpected character: '#'"},
        {"é", "Unexpected character: 'é'"},
        {"1\n+2", "Unexpected input at position 1: '\n+2'"},
        {"1+\n2", "Unexpected character: '\n'"},
        {"=1 2", "Unexpected input at position 2: '2'"},
        {"2^3", "Unexpected input at position 1: '^3'"},
        {"5%", "Unexpected input at position 1: '%'"},
        {"1.5.2", "Unexpected input at position 3: '.2'"},
        {"1E5", "Unexpected input at position 1: 'E5'"},
        {"A:A", "Unexpected input at position 1: ':A'"},
        {"DEC2BIN(5)", "Unexpected input at position 4: 'BIN(5)'"},
        {"T.INV.2T(0.5,3)", "Unexpected input at position 5: '.2T(0.5,3)'"},
        {"Sheet1!A1", "Unexpected input at position 6: '!A1'"},
        {"\"é\"x", "Unexpected input at position 3: 'x'"},
        {"A4294967296", "number too large to fit in target type"},
        {"A1:B99999999999", "number too large to fit in target type"},
        {"A1:B", "cannot parse integer from empty string"},
        {"A1:", "cannot parse integer from empty string"},
        {"$", "Unexpected character: '$'"},
        {"$A", "Unexpected character: '$'"},
        {"$A$1(2)", "Unexpected character: '$'"},
        {"A$", "Unexpected input at position 1: '$'"},
    };
    for (const Case& c : cases) EXPECT_EQ(parsed(c.formula), std::string("error: ") + c.expected) << c.formula;
}

TEST(FormulaParser, ColumnLetters) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"", 0}, {"A", 1}, {"Z", 26}, {"AA", 27}, {"XFD", 16384}, {"ZZZZZZ", 321272406}, {"AAAAAAAAAAAA", 4294967295u},
    };
    for (auto [letters, n] : cases) EXPECT_EQ(parser::col_letters_to_num(letters), n) << letters;
}

TEST(FormulaParser, HandlersAreResolvedOnce) {
    auto tree = parser::parse("SUM(1)+FOO()");
    ASSERT_TRUE(tree);
    const auto* b = tree->get<FormulaExpr::Binary>();
    EXPECT_EQ(b->lhs->get<FormulaExpr::Func>()->handler, eval::find_function("SUM"));
    EXPECT_NE(b->lhs->get<FormulaExpr::Func>()->handler, nullptr);
    EXPECT_EQ(b->rhs->get<FormulaExpr::Func>()->handler, nullptr);
}

// Nesting is bounded so that neither the parser nor the evaluator can
// exhaust the stack.
TEST(FormulaParser, NestingIsBounded) {
    const std::string deep = "Formula is nested too deeply";
    auto nested = [](int n, std::string open, std::string close) {
        std::string s;
        for (int i = 0; i < n; ++i) s += open;
        s += "1";
        for (int i = 0; i < n; ++i) s += close;
        return s;
    };
    EXPECT_EQ(parsed(nested(100, "(", ")")), "1");
    EXPECT_EQ(parsed(nested(100000, "(", ")")), "error: " + deep);
    EXPECT_EQ(parsed(nested(100000, "ABS(", ")")), "error: " + deep);
    EXPECT_EQ(parsed(nested(100000, "-(", ")")), "error: " + deep);
    EXPECT_EQ(parsed(nested(100000, "-", "")), "error: " + deep);
    EXPECT_EQ(parsed(nested(100000, "+", "")), "error: " + deep);
    std::string chain = "1";
    for (int i = 0; i < 400; ++i) chain += "+1";
    EXPECT_TRUE(parser::parse(chain));
    for (int i = 0; i < 100000; ++i) chain += "+1";
    EXPECT_EQ(parsed(chain), "error: " + deep);
}
