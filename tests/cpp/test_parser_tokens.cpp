// Tokenizer, token Debug texts, token operations and their messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "parser/mod.h"
#include "tests/cpp/parser_test_util.h"

namespace morvane::parser {
namespace {

using testing::append_sep;
using testing::check_rows;
using testing::Row;

// Tokens as their Debug texts joined by spaces (Eof included).
std::string toks(const std::string& text) {
    auto r = tokenize(text);
    if (!r) return "ERR: " + r.error();
    std::string out;
    for (const auto& t : r->toks) append_sep(out, " ", tok_debug(t));
    return out;
}

std::string spans(const std::string& text) {
    auto r = tokenize(text);
    std::string out;
    for (const auto& s : r->spans) append_sep(out, " ", std::to_string(s.start) + "-" + std::to_string(s.end));
    return out;
}

TEST(ParserTokens, Table) {
    const Row rows[] = {
        {"x = 1\r\n\r\n   ' note\r\ny = 2", "Ident(\"x\") Eq Int(1) Newline Ident(\"y\") Eq Int(2) Eof"},
        {"MsgBox \"\"\"hi\"\"\"", "Ident(\"msgbox\") Str(\"\\\"hi\\\"\") Eof"},
        {"a = _\n   b", "Ident(\"a\") Eq Ident(\"b\") Eof"},
        {"a _ b", "Ident(\"a\") Ident(\"b\") Eof"},
        {"Range(\"A1\").Value", "Ident(\"range\") LParen Str(\"A1\") RParen Dot Ident(\"value\") Eof"},
        {"x := 3", "Ident(\"x\") ColonEq Int(3) Eof"},
        // clang-format off
        {"a <> b <= c >= d < e > f : g", "Ident(\"a\") Ne Ident(\"b\") Le Ident(\"c\") Ge Ident(\"d\") Lt Ident(\"e\") Gt Ident(\"f\") Colon Ident(\"g\") Eof"},
        // clang-format on
        {"+-*/&\\^(),.", "Plus Minus Star Slash Amp Backslash Caret LParen RParen Comma Dot Eof"},
        {"3.14", "Float(3.14) Eof"},
        {"2.0", "Float(2.0) Eof"},
        {"3.", "Int(3) Dot Eof"},
        {".5", "Dot Int(5) Eof"},
        {"1.x", "Int(1) Dot Ident(\"x\") Eof"},
        {"1.5.3", "Float(1.5) Dot Int(3) Eof"},
        {"1e5", "Int(1) Ident(\"e5\") Eof"},
        {"007", "Int(7) Eof"},
        {"", "Eof"},
        {"\n", "Newline Eof"},
        {"\"abc", "Str(\"abc\") Eof"},
        {"\"a\nb\"", "Str(\"a\\nb\") Eof"},
        {"Rem x", "Ident(\"rem\") Ident(\"x\") Eof"},
        {"a$ = b% ! @ ? ; [ ] { } ~", "Ident(\"a\") Eq Ident(\"b\") Eof"},
        {"My_Var2 = 1", "Ident(\"my_var2\") Eq Int(1) Eof"},
        // Digit runs past the 64-bit range become floats.
        {"99999999999999999999", "Float(1e20) Eof"},
        {"9223372036854775807", "Int(9223372036854775807) Eof"},
        {"9223372036854775808", "Float(9.223372036854776e18) Eof"},
        // Past the float range: infinity, the nearest float.
        {std::string(400, '9'), "Float(inf) Eof"},
        {std::string(400, '9') + ".5", "Float(inf) Eof"},
        {"0." + std::string(400, '0') + "1", "Float(0.0) Eof"},
        // Unicode letters belong to identifiers, lower-cased by the full mapping.
        {"Größe = Café", "Ident(\"größe\") Eq Ident(\"café\") Eof"},
        {"ÄBC", "Ident(\"äbc\") Eof"},
        {"x€y", "Ident(\"x\") Ident(\"y\") Eof"},
        // Date literals.
        {"#1/2/2020#", "Date(43832) Eof"},
        {"#2020-01-02#", "Date(43832) Eof"},
        {"# 12/31/1999 #", "Date(36525) Eof"},
        {"#1/1/1900#", "Date(1) Eof"},
        {"#2/28/1900#", "Date(59) Eof"},
        {"#2/29/1900#", "Date(60) Eof"},
        {"#3/1/1900#", "Date(61) Eof"},
        {"#2/29/2000#", "Date(36585) Eof"},
        {"#1/2/20#", "Date(43832) Eof"},
        {"#1/2/99#", "Date(36162) Eof"},
        {"#12/31/9999#", "Date(2958465) Eof"},
        // Any other '#' is dropped: file numbers stay plain numbers.
        {"Print #1, x", "Ident(\"print\") Int(1) Comma Ident(\"x\") Eof"},
        {"Close #1", "Ident(\"close\") Int(1) Eof"},
        {"Open f For Input As #1: Line Input #1, s",
         "Ident(\"open\") Ident(\"f\") Ident(\"for\") Ident(\"input\") Ident(\"as\") Int(1) Colon Ident(\"line\") "
         "Ident(\"input\") Int(1) Comma Ident(\"s\") Eof"},
        {"#1/2/2020\n#", "Int(1) Slash Int(2) Slash Int(2020) Newline Eof"},
        // Date literals with a time of day, and impossible dates, fail.
        // clang-format off
        {"#1/2/2020 10:30#", "ERR: date literal with a time of day is not supported (Date values carry no time): #1/2/2020 10:30#"},
        {"#10:30:00 PM#", "ERR: date literal with a time of day is not supported (Date values carry no time): #10:30:00 PM#"},
        {"#2020-01-02 8 AM#", "ERR: date literal with a time of day is not supported (Date values carry no time): #2020-01-02 8 AM#"},
        // clang-format on
        {"#13/1/2020#", "ERR: invalid date literal: #13/1/2020#"},
        {"#2/29/2019#", "ERR: invalid date literal: #2/29/2019#"},
        {"#1/1/1899#", "ERR: invalid date literal: #1/1/1899#"},
    };
    check_rows(rows, toks);
}

TEST(ParserTokens, Spans) {
    EXPECT_EQ(spans("ab = 12"), "0-2 3-4 5-7 7-7");
    EXPECT_EQ(spans(""), "0-0");
    EXPECT_EQ(spans("\n"), "0-1 1-1");
    EXPECT_EQ(spans("a\r\nb"), "0-1 1-3 3-4 4-4");
    // Character indices, not bytes: "é" is one character.
    EXPECT_EQ(spans("\"é\" x"), "0-3 4-5 5-5");
    EXPECT_EQ(spans("d = #1/2/2020#"), "0-1 2-3 4-14 14-14");
}

TEST(ParserTokens, DebugTexts) {
    Tok t;
    t.kind = Tok::Str;
    t.text = "a\"b\\c\td\x01";
    EXPECT_EQ(tok_debug(t), "Str(\"a\\\"b\\\\c\\td\\u{1}\")");
    t = Tok{};
    t.kind = Tok::Float;
    // clang-format off
    for (auto [v, want] : {std::pair{1.5, "Float(1.5)"}, {2.0, "Float(2.0)"}, {1e-7, "Float(1e-7)"},
                           {0.0001, "Float(0.0001)"}, {1.5e300, "Float(1.5e300)"}}) {
        // clang-format on
        t.f = v;
        EXPECT_EQ(tok_debug(t), want);
    }
}

TEST(ParserTokens, Equality) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE((Tok{Tok::Float, 0, nan, {}} == Tok{Tok::Float, 0, nan, {}}));  // NaN equals nothing
    EXPECT_TRUE((Tok{Tok::Float, 0, 1.5, {}} == Tok{Tok::Float, 0, 1.5, {}}));
    EXPECT_TRUE((Tok{Tok::Ident, 0, 0, std::string("x")} == Tok{Tok::Ident, 0, 0, std::string("x")}));
    EXPECT_FALSE((Tok{Tok::Ident, 0, 0, std::string("x")} == Tok{Tok::Str, 0, 0, std::string("x")}));
    EXPECT_FALSE((Tok{Tok::Int, 1, 0, {}} == Tok{Tok::Int, 2, 0, {}}));
}

Parser parser_over(const std::string& text) { return Parser(*tokenize(text)); }

TEST(ParserTokens, Operations) {
    {
        Parser p = parser_over(",");
        EXPECT_EQ(p.expect_tok(Tok::RParen).error(), "expected RParen, got Comma");
    }
    {
        Parser p = parser_over("");
        EXPECT_EQ(p.expect_ident("then").error(), "expected 'then', got Eof");
        EXPECT_TRUE(p.eat_eol().has_value());
        EXPECT_TRUE(p.cur().is(Tok::Eof));
        p.advance();
        EXPECT_TRUE(p.cur().is(Tok::Eof));
    }
    {
        Parser p = parser_over("5 x");
        EXPECT_EQ(p.consume_ident().error(), "expected identifier, got Int(5)");
        EXPECT_EQ(*p.consume_ident(), "x");
        EXPECT_EQ(p.consume_str().error(), "expected string literal, got Eof");
    }
    {
        Parser p = parser_over("a b c\n\n d");
        EXPECT_TRUE(p.is_ident_at(2, "c"));
        EXPECT_TRUE(p.is_ident_at(9, "") == false);
        p.skip_to_eol();
        EXPECT_TRUE(p.is_ident("d"));
        EXPECT_EQ(p.eat_eol().error(), "expected newline, got Ident(\"d\")");
    }
    {
        Parser p = parser_over("else if");
        EXPECT_TRUE(p.is_elseif());
        EXPECT_EQ(p.consume_end_kw("if").error(), "expected 'end', got Ident(\"else\")");
    }
}

}  // namespace
}  // namespace morvane::parser
