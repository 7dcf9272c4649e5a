// Module level: procedures, Types, parameters, warnings, module name, spans.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "parser/mod.h"
#include "tests/cpp/parser_test_util.h"

namespace morvane::parser {
namespace {

using testing::body_of;
using testing::check_rows;
using testing::dump;
using testing::parse_dump;
using testing::Row;

TEST(ParserModule, Table) {
    const Row rows[] = {
        {"", ""},
        {"\n\n' only a comment\n   \n", ""},
        {"Sub S(a, b)\nEnd Sub", "Sub s(a, b) []"},
        {"Private Sub Tidy(a, b)\nEnd Sub\n", "Sub tidy(a, b) []"},
        {"Public Function F(x) As Double\nF = x\nEnd Function", "Function f(x) As double [Assign(f, x)]"},
        {"Function G()\nEnd Function", "Function g() []"},
        {"Sub A()\nEnd Sub\nSub A()\nx = 1\nEnd Sub", "Sub a() [] | Sub a() [Assign(x, 1)]"},
        {"Sub A(a b,)\nEnd Sub", "Sub a(a, b) []"},
        {"Type Point\n  x As Double\n  y\n  s As String * 20\n  arr(1 To 5) As Long\nEnd Type",
         "Type point(x As double, y As variant, s As string, arr As variant)"},
        {"Option Explicit\nDim x As Long\nPublic y As Long\nPrivate Declare PtrSafe Function F Lib \"k\" ()\n"
         "Sub S()\nEnd Sub",
         "Sub s() []"},
        {"Sub S() ' comment\nEnd Sub x = 1\n", "Sub s() []"},
        // Two modifiers are not read: the Sub line is skipped, its body read as module lines.
        {"Private Static Sub S()\nx = 1\nEnd Sub", ""},
        // Parameter modifiers are words, not names; array and typed
        // parameters and Optional defaults are kept.
        {"Sub S(ByVal n As Long, ByRef m)\nEnd Sub", "Sub s(n As long, m) []"},
        {"Sub S(Optional x As Long = 1, Optional ByVal s As String = \"a\" & \"b\")\nEnd Sub",
         "Sub s(Optional x As long = 1, Optional s As string = (\"a\" & \"b\")) []"},
        {"Sub S(a() As Variant, ParamArray rest())\nEnd Sub", "Sub s(a() As variant, ParamArray rest()) []"},
        {"Sub S(d As Scripting.Dictionary)\nEnd Sub", "Sub s(d As scripting.dictionary) []"},
        {"Sub S(optional, byval As Long)\nEnd Sub", "Sub s(optional, byval As long) []"},
        {"Function F(Optional n = -1) As Long\nEnd Function", "Function f(Optional n = Neg(1)) As long []"},
        {"Sub Größe(café)\nEnd Sub", "Sub größe(café) []"},
    };
    check_rows(rows, parse_dump);
}

TEST(ParserModule, Errors) {
    const Row rows[] = {
        {"Sub Main\nEnd Sub", "ERR: expected LParen, got Newline"},
        {"Sub 5()\nEnd Sub", "ERR: expected identifier, got Int(5)"},
        {"Sub f() As Long\nEnd Sub", "ERR: expected newline, got Ident(\"as\")"},
        {"Function F(x) As Variant()\nEnd Function", "ERR: expected newline, got LParen"},
        {"Function F(x) As String * 10\nEnd Function", "ERR: expected newline, got Star"},
        {"Function F(x) As 5\nEnd Function", "ERR: expected identifier, got Int(5)"},
        {"Sub S()\nx = 1\n", "ERR: expected 'end', got Eof"},
        {"Sub S()\nx = 1\nEnd Function", "ERR: expected 'end', got Eof"},
        {"Type T\nx As Long\n", "ERR: expected 'end', got Eof"},
        {"Type T\nx As 5\nEnd Type", "ERR: expected identifier, got Int(5)"},
        {"Type 5\nEnd Type", "ERR: expected identifier, got Int(5)"},
        {"Sub S(5)\nEnd Sub", "ERR: expected identifier, got Int(5)"},
        {"Sub S(x As 5)\nEnd Sub", "ERR: expected identifier, got Int(5)"},
        {"Sub S(Optional x = )\nEnd Sub", "ERR: unexpected token in expression: RParen"},
    };
    check_rows(rows, parse_dump);
}

TEST(ParserModule, NameAndWarnings) {
    auto p = parse("Attribute VB_Name = \"Module1\"\nAttribute VB_Exposed = True\n");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->name, "Module1");
    EXPECT_TRUE(p->warnings.empty());
    p = parse("Attribute VB_Name = 5\n");
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->name.has_value());

    p = parse("Const K = 1\nPublic Const K2 = 2\nGlobal g As Long\n5 x\nProperty Get P()\nEnd Property\n");
    ASSERT_TRUE(p);
    std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> want = {
        {"Module-level statement is not recognized and was skipped", {49, 53}},
        {"Module-level statement starting with 'property' is not recognized and was skipped", {53, 70}},
        {"Module-level statement starting with 'end' is not recognized and was skipped", {70, 83}},
    };
    ASSERT_EQ(p->warnings.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(p->warnings[i].message, want[i].first);
        EXPECT_EQ(p->warnings[i].span.start, want[i].second.first) << i;
        EXPECT_EQ(p->warnings[i].span.end, want[i].second.second) << i;
    }
    // Consts and Global declare module variables.
    ASSERT_EQ(p->variables.size(), 3u);
    EXPECT_EQ(p->variables[0].stmt.as<Stmt::Assign>().name, "k");
    EXPECT_EQ(p->variables[1].stmt.as<Stmt::Assign>().name, "k2");
    EXPECT_EQ(p->variables[2].stmt.as<Stmt::DimScalar>().name, "g");
}

TEST(ParserModule, Spans) {
    // Each span runs from the statement's first token to the start of the
    // token after its line end.
    auto p = parse("Sub s()\nx = 1\n\n  Dim a, b\nIf c Then\ny = 2\nEnd If\nEnd Sub\n");
    ASSERT_TRUE(p);
    const Body& body = p->subs[0].body;
    ASSERT_EQ(body.size(), 3u);
    EXPECT_EQ(body[0].span, (SourceSpan{8, 17}));
    EXPECT_EQ(body[1].span, (SourceSpan{17, 26}));
    EXPECT_EQ(body[2].span, (SourceSpan{26, 49}));
    const auto& inner = body[2].stmt.as<Stmt::If>().then_body;
    EXPECT_EQ(inner[0].span, (SourceSpan{36, 42}));
    // A body that ends the text ends at Eof.
    p = parse("Sub s()\nx = 1\nEnd Sub");
    EXPECT_EQ(p->subs[0].body[0].span, (SourceSpan{8, 14}));
}

TEST(ParserModule, CopiesShareBodiesAndDeepCopyExpressions) {
    auto p = parse("Sub s()\nFor i = 1 To 3 Step 2\nx = i\nNext\nEnd Sub\n");
    ASSERT_TRUE(p);
    SubDef copy = p->subs[0];
    EXPECT_EQ(&copy.body[0], &p->subs[0].body[0]);  // bodies are shared, immutable
    Stmt loop = copy.body[0].stmt;                  // a Stmt copy is deep
    std::get<Stmt::For>(loop.node).start = box(Expr{Expr::Int{7}});
    EXPECT_EQ(dump(p->subs[0].body[0].stmt), "For(i, 1, 3, 2, [Assign(x, i)])");
    EXPECT_EQ(dump(loop), "For(i, 7, 3, 2, [Assign(x, i)])");
    // The parser leaves every slot unfilled.
    EXPECT_EQ(loop.as<Stmt::For>().slot, kNoSlot);
}

TEST(ParserModule, ParamsReadAsNames) {
    auto p = parse("Sub s(ByVal a, b)\nEnd Sub\n");
    ASSERT_TRUE(p);
    const std::string& first = p->subs[0].params[0];
    EXPECT_EQ(first, "a");
    EXPECT_EQ(p->subs[0].params[1].name, "b");
}

}  // namespace
}  // namespace morvane::parser
