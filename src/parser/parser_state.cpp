// Parser state and the token operations every grammar rule uses, with their
// messages; the `parser::parse` entry point.
#include "parser/mod.h"

#include <cstddef>

#include "types/stack.h"

namespace morvane::parser {

namespace {

constexpr std::string_view kExpectedToken = "expected {}, got {}";
constexpr std::string_view kExpectedWord = "expected '{}', got {}";
constexpr std::string_view kExpectedIdent = "expected identifier, got {}";
constexpr std::string_view kExpectedStr = "expected string literal, got {}";
constexpr std::string_view kExpectedNewline = "expected newline, got {}";
constexpr std::string_view kTooDeep = "expression or block nesting is too deep";

}  // namespace

Parser::Parser(Tokens tokens) : toks(std::move(tokens.toks)), spans(std::move(tokens.spans)) {
    if (toks.empty() || !toks.back().is(Tok::Eof)) {
        Tok eof;
        uint32_t end = spans.empty() ? 0 : spans.back().end;
        toks.push_back(eof);
        spans.push_back(SourceSpan{end, end});
    }
}

const Tok& Parser::peek(size_t k) const {
    size_t p = pos + k;
    return toks[p < toks.size() ? p : toks.size() - 1];
}

uint32_t Parser::cur_start() const { return spans[pos < spans.size() ? pos : spans.size() - 1].start; }

Tok Parser::advance() {
    Tok t = cur();
    if (pos + 1 < toks.size())
        ++pos;
    else
        pos = toks.size() - 1;
    return t;
}

Result<void> Parser::expect_tok(Tok::Kind k) {
    if (cur().kind == k) {
        advance();
        return {};
    }
    Tok want;
    want.kind = k;
    return fail(format_message(kExpectedToken, tok_debug(want), tok_debug(cur())));
}

Result<void> Parser::expect_ident(std::string_view word) {
    if (is_ident(word)) {
        advance();
        return {};
    }
    return fail(format_message(kExpectedWord, word, tok_debug(cur())));
}

Result<std::string> Parser::consume_ident() {
    Tok t = advance();
    if (!t.is(Tok::Ident)) return fail(format_message(kExpectedIdent, tok_debug(t)));
    return std::move(t.text);
}

Result<std::string> Parser::consume_str() {
    Tok t = advance();
    if (!t.is(Tok::Str)) return fail(format_message(kExpectedStr, tok_debug(t)));
    return std::move(t.text);
}

Result<void> Parser::consume_end_kw(std::string_view word) {
    TRY_VOID(expect_ident("end"));
    return expect_ident(word);
}

Result<void> Parser::eat_eol() {
    if (cur().is(Tok::Newline)) {
        advance();
        return {};
    }
    if (cur().is(Tok::Eof)) return {};
    return fail(format_message(kExpectedNewline, tok_debug(cur())));
}

void Parser::skip_nl() {
    while (cur().is(Tok::Newline)) advance();
}

bool Parser::at_line_end() const {
    return cur().is(Tok::Newline) || cur().is(Tok::Eof) || (single_line_ && is_ident("else"));
}

const Tok* Parser::after_parens(size_t k) const {
    size_t depth = 0;
    for (;; ++k) {
        const Tok& t = peek(k);
        if (t.is(Tok::Newline) || t.is(Tok::Eof)) return nullptr;
        if (t.is(Tok::LParen))
            ++depth;
        else if (t.is(Tok::RParen) && --depth == 0)
            return &peek(k + 1);
    }
}

bool Parser::arg_in_parens(bool bare) const {
    if (!cur().is(Tok::LParen)) return false;
    const Tok* next = after_parens(0);
    if (!next) return false;
    if (next->is(Tok::Comma) || next->is(Tok::RParen)) return true;
    return bare && (next->is(Tok::Newline) || next->is(Tok::Eof) ||
                    (single_line_ && next->is(Tok::Ident) && next->text == "else"));
}

void Parser::skip_rest_of_line() {
    while (!at_line_end()) advance();
}

void Parser::skip_to_eol() {
    skip_rest_of_line();
    // Inside a single-line If branch the If itself ends the line.
    if (!single_line_ && cur().is(Tok::Newline)) advance();
}

bool Parser::is_elseif() const { return is_ident("elseif") || (is_ident("else") && is_ident_at(1, "if")); }

Result<void> Parser::enter(int units) {
    if (depth_ + units > kMaxDepth || stack_nearly_exhausted()) return fail(std::string(kTooDeep));
    depth_ += units;
    return {};
}

Result<Program> parse(std::string_view text, size_t* error_at) {
    auto tokens = tokenize(text, error_at);
    if (!tokens) return fail(std::move(tokens).error());
    Parser p(std::move(*tokens));
    auto program = p.parse_program();
    // The parser stops on the token it could not take.
    if (!program && error_at) *error_at = p.cur_start();
    return program;
}

}  // namespace morvane::parser
