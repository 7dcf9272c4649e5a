// Declarations inside a procedure body: Dim, ReDim and Const.
//
//   dim        = "dim" declarator { "," declarator }
//   declarator = name "(" expr { "," expr } ")" ["as" type]
//              | name ["as" type ["*" length]]
//   redim      = "redim" ["preserve"] name "(" expr { "," expr } ")" ["as" type]
//   const      = "const" name ["as" type] "=" expr
#include <array>

#include "parser/mod.h"

namespace morvane::parser {

bool Parser::is_vba_builtin_type(std::string_view name) {
    static constexpr std::array<std::string_view, 13> kBuiltins = {
        "long",    "date",    "byte",    "single",  "double",   "string",  "object",
        "integer", "boolean", "variant", "decimal", "longlong", "currency"};
    for (auto b : kBuiltins)
        if (b == name) return true;
    return false;
}

namespace {

// "(" expr { "," expr } ")": the bounds of an array declarator.
Result<std::vector<Expr>> parse_bounds(Parser& p) {
    TRY_VOID(p.expect_tok(Tok::LParen));
    std::vector<Expr> bounds;
    bounds.push_back(TRY(p.parse_expr()));
    while (p.cur().is(Tok::Comma)) {
        p.advance();
        bounds.push_back(TRY(p.parse_expr()));
    }
    TRY_VOID(p.expect_tok(Tok::RParen));
    return bounds;
}

}  // namespace

Result<std::vector<Stmt>> Parser::parse_declarators() {
    std::vector<Stmt> decls;
    decls.push_back(TRY(parse_dim_declarator()));
    while (cur().is(Tok::Comma)) {
        advance();
        decls.push_back(TRY(parse_dim_declarator()));
    }
    return decls;
}

Result<Stmt> Parser::parse_dim() {
    TRY_VOID(expect_ident("dim"));
    std::vector<Stmt> decls = TRY(parse_declarators());
    if (decls.size() == 1) return std::move(decls[0]);
    return Stmt{Stmt::DimList{std::move(decls)}};
}

Result<Stmt> Parser::parse_static() { return Stmt{Stmt::DimList{TRY(parse_declarators()), true}}; }

Result<Stmt> Parser::parse_dim_declarator() {
    if (cur().is(Tok::Ident) && peek(1).is(Tok::LParen)) {
        std::string name = advance().text;
        std::vector<Expr> bounds = TRY(parse_bounds(*this));
        std::string type;
        if (is_ident("as")) {
            advance();
            type = TRY(consume_ident());
            if (!is_vba_builtin_type(type))
                return Stmt{Stmt::DimArrayAs{std::move(name), std::move(bounds), std::move(type)}};
        }
        return Stmt{Stmt::DimArray{std::move(name), std::move(bounds), kNoSlot, std::move(type)}};
    }
    std::string name = TRY(consume_ident());
    std::string type;
    if (is_ident("as")) {
        advance();
        type = TRY(consume_ident());
        if (!is_vba_builtin_type(type)) return Stmt{Stmt::DimAs{std::move(name), std::move(type)}};
    }
    // A fixed length (String * 20) is read and not modelled; anything else
    // left on the line is the caller's end-of-line failure.
    if (type == "string" && cur().is(Tok::Star) && (peek(1).is(Tok::Int) || peek(1).is(Tok::Ident))) pos += 2;
    return Stmt{Stmt::DimScalar{std::move(name), std::move(type)}};
}

Result<Stmt> Parser::parse_redim() {
    TRY_VOID(expect_ident("redim"));
    bool preserve = false;
    if (is_ident("preserve")) {
        advance();
        preserve = true;
    }
    std::string name = TRY(consume_ident());
    std::vector<Expr> bounds = TRY(parse_bounds(*this));
    std::string type;
    if (is_ident("as")) {
        advance();
        type = TRY(consume_ident());
        if (!is_vba_builtin_type(type)) type.clear();
    }
    return Stmt{Stmt::ReDim{std::move(name), std::move(bounds), preserve, kNoSlot, std::move(type)}};
}

Result<Stmt> Parser::parse_const() {
    TRY_VOID(expect_ident("const"));
    std::string name = TRY(consume_ident());
    if (is_ident("as")) {
        advance();
        TRY(consume_ident());
    }
    TRY_VOID(expect_tok(Tok::Eq));
    Expr value = TRY(parse_expr());
    return Stmt{Stmt::Assign{std::move(name), box(std::move(value)), kNoSlot, true}};
}

}  // namespace morvane::parser
