// VBA expressions: one method per precedence level, lowest first.
//
//   expr     = or { "xor" or }
//   or       = and { "or" and }
//   and      = not { "and" not }
//   not      = "not" not | concat { ("=" | "<>" | "<" | "<=" | ">" | ">=") concat }
//   concat   = additive { "&" additive }
//   additive = modop { ("+" | "-") modop }
//   modop    = intdiv { "mod" intdiv }
//   intdiv   = term { "\" term }
//   term     = unary { ("*" | "/") unary }
//   unary    = "-" unary | powop { "^" powop }
//   powop    = "-" powop | primary
//   primary  = Int | Float | Str | Date | "(" expr ")" | word-form | name-form | "." with-form
#include "parser/mod.h"

namespace morvane::parser {

namespace {

Expr binary(BinOp op, Expr lhs, Expr rhs) {
    return Expr{Expr::Binary{op, box(std::move(lhs)), box(std::move(rhs))}};
}

// One left-associative level over `next`, with its operator tokens and an
// optional operator word (xor, or, and, mod).
template <class Next, class Match>
Result<Expr> left_assoc(Parser& p, Next next, Match match) {
    Expr lhs = TRY(next());
    for (;;) {
        std::optional<BinOp> op = match(p.cur());
        if (!op) return lhs;
        p.advance();
        Expr rhs = TRY(next());
        lhs = binary(*op, std::move(lhs), std::move(rhs));
    }
}

std::optional<BinOp> word_op(const Tok& t, std::string_view word, BinOp op) {
    if (t.is_ident(word)) return op;
    return std::nullopt;
}

}  // namespace

Result<Expr> Parser::parse_expr() {
    return nested([&] {
        return left_assoc(*this, [&] { return parse_or(); },
                          [](const Tok& t) { return word_op(t, "xor", BinOp::Xor); });
    });
}

Result<Expr> Parser::parse_or() {
    return left_assoc(*this, [&] { return parse_and(); },
                      [](const Tok& t) { return word_op(t, "or", BinOp::Or); });
}

Result<Expr> Parser::parse_and() {
    return left_assoc(*this, [&] { return parse_not_level(); },
                      [](const Tok& t) { return word_op(t, "and", BinOp::And); });
}

Result<Expr> Parser::parse_not_level() {
    if (is_ident("not")) {
        advance();
        return nested([&]() -> Result<Expr> {
            Expr operand = TRY(parse_not_level());
            return Expr{Expr::Not{box(std::move(operand))}};
        });
    }
    return left_assoc(*this, [&] { return parse_concat(); }, [](const Tok& t) -> std::optional<BinOp> {
        // The comparison codes follow the token order: Eq (4) gives 7.
        if (t.kind >= Tok::Eq && t.kind <= Tok::Ge) return static_cast<BinOp>(t.kind + 3);
        return std::nullopt;
    });
}

Result<Expr> Parser::parse_concat() {
    return left_assoc(*this, [&] { return parse_additive(); }, [](const Tok& t) -> std::optional<BinOp> {
        if (t.is(Tok::Amp)) return BinOp::Concat;
        return std::nullopt;
    });
}

Result<Expr> Parser::parse_additive() {
    return left_assoc(*this, [&] { return parse_modop(); }, [](const Tok& t) -> std::optional<BinOp> {
        if (t.is(Tok::Plus)) return BinOp::Add;
        if (t.is(Tok::Minus)) return BinOp::Sub;
        return std::nullopt;
    });
}

Result<Expr> Parser::parse_modop() {
    return left_assoc(*this, [&] { return parse_intdiv(); },
                      [](const Tok& t) { return word_op(t, "mod", BinOp::Mod); });
}

Result<Expr> Parser::parse_intdiv() {
    return left_assoc(*this, [&] { return parse_term(); }, [](const Tok& t) -> std::optional<BinOp> {
        if (t.is(Tok::Backslash)) return BinOp::IntDiv;
        return std::nullopt;
    });
}

Result<Expr> Parser::parse_term() {
    return left_assoc(*this, [&] { return parse_unary(); }, [](const Tok& t) -> std::optional<BinOp> {
        if (t.is(Tok::Star)) return BinOp::Mul;
        if (t.is(Tok::Slash)) return BinOp::Div;
        return std::nullopt;
    });
}

Result<Expr> Parser::parse_unary() {
    if (cur().is(Tok::Minus)) {
        advance();
        // The negation covers the whole ^ chain: -2 ^ 2 is -(2 ^ 2).
        return nested([&]() -> Result<Expr> {
            Expr operand = TRY(parse_unary());
            return Expr{Expr::Neg{box(std::move(operand))}};
        });
    }
    return left_assoc(*this, [&] { return parse_pow_operand(); }, [](const Tok& t) -> std::optional<BinOp> {
        if (t.is(Tok::Caret)) return BinOp::Pow;
        return std::nullopt;
    });
}

Result<Expr> Parser::parse_pow_operand() {
    if (cur().is(Tok::Minus)) {
        advance();
        return nested([&]() -> Result<Expr> {
            Expr operand = TRY(parse_pow_operand());
            return Expr{Expr::Neg{box(std::move(operand))}};
        });
    }
    return parse_primary();
}

Result<std::vector<Expr>> Parser::parse_arg_list() {
    std::vector<Expr> args;
    if (cur().is(Tok::RParen)) return args;
    args.push_back(TRY(parse_expr()));
    while (cur().is(Tok::Comma)) {
        advance();
        args.push_back(TRY(parse_expr()));
    }
    return args;
}

Result<Expr> Parser::parse_primary() {
    const Tok& t = cur();
    switch (t.kind) {
        case Tok::Int: return Expr{Expr::Int{advance().i}};
        case Tok::Float: return Expr{Expr::Float{advance().f}};
        case Tok::Str: return Expr{Expr::Str{advance().text}};
        case Tok::Date: return Expr{Expr::Date{advance().i}};
        case Tok::LParen: {
            advance();
            Expr inner = TRY(parse_expr());
            TRY_VOID(expect_tok(Tok::RParen));
            return inner;
        }
        case Tok::Ident: return parse_name_primary();
        case Tok::Dot: return parse_dotted_primary();
        default: return fail(format_message("unexpected token in expression: {}", tok_debug(t)));
    }
}

// A word at the start of an atom: a fixed word of the object model, or a
// name with its call, index, member path or sheet-qualified read.
Result<Expr> Parser::parse_name_primary() {
    const std::string& w = cur().text;
    if (w == "true" || w == "false") return Expr{Expr::Bool{advance().text == "true"}};
    if (w == "rows") return parse_rows_cols_count("rows", Expr{Expr::RowsCount{}});
    if (w == "columns") return parse_rows_cols_count("columns", Expr{Expr::ColumnsCount{}});
    if (w == "cells") return parse_cells_expr();
    if (w == "range") return parse_range_expr();
    if (w == "sheets" || w == "worksheets") return parse_sheet_cell_read();
    if (w == "workbooks") return parse_workbook_qualified_read();
    if (w == "application") return parse_application_wsf_expr();
    if (w == "worksheetfunction") return parse_wsf_expr();
    if (w == "activesheet" && peek(1).is(Tok::Dot)) {
        advance();
        return parse_sheet_property_read(Expr{Expr::ActiveSheet{}});
    }
    if ((w == "thisworkbook" || w == "activeworkbook") && (is_ident_at(2, "worksheets") || is_ident_at(2, "sheets"))) {
        advance();
        TRY_VOID(expect_tok(Tok::Dot));
        return parse_sheet_cell_read();
    }
    std::string name = advance().text;
    if (cur().is(Tok::LParen)) {
        advance();
        std::vector<Expr> args = TRY(parse_arg_list());
        TRY_VOID(expect_tok(Tok::RParen));
        if (cur().is(Tok::Dot) && peek(1).is(Tok::Ident)) {
            advance();
            std::string field = advance().text;
            return Expr{Expr::IndexedField{std::move(name), std::move(args), std::move(field)}};
        }
        return Expr{Expr::Call{std::move(name), std::move(args)}};
    }
    if (!cur().is(Tok::Dot)) return Expr{Expr::Var{std::move(name)}};
    if ((is_ident_at(1, "range") || is_ident_at(1, "cells")) && peek(2).is(Tok::LParen))
        return parse_sheet_property_read(Expr{Expr::SheetVar{std::move(name)}});
    if ((is_ident_at(1, "worksheets") || is_ident_at(1, "sheets")) && peek(2).is(Tok::LParen)) {
        advance();
        return parse_sheet_cell_read();
    }
    advance();
    std::string first = TRY(consume_ident());
    return parse_member_path(std::move(name), std::move(first));
}

// root.first[.more...]: a field for one name, a member path for more.
Result<Expr> Parser::parse_member_path(std::string root, std::string first) {
    std::vector<std::string> path{std::move(first)};
    while (cur().is(Tok::Dot) && peek(1).is(Tok::Ident)) {
        advance();
        path.push_back(advance().text);
    }
    if (path.size() == 1) return Expr{Expr::Field{std::move(root), std::move(path[0])}};
    return Expr{Expr::MemberPath{std::move(root), std::move(path)}};
}

// A dotted read inside a With block.
Result<Expr> Parser::parse_dotted_primary() {
    if (with_range && is_ident_at(1, "value")) {
        pos += 2;
        return Expr{Expr::RangeValue{*with_range}};
    }
    // .Cells(...) and .Range(...) reads name cells of the With's range or
    // sheet variable.
    if ((with_range || with_object) && (is_ident_at(1, "cells") || is_ident_at(1, "range")) &&
        peek(2).is(Tok::LParen))
        return parse_with_relative_read();
    if (!with_object) return fail("Unexpected '.' outside With block");
    advance();
    std::string first = TRY(consume_ident());
    return parse_member_path(*with_object, std::move(first));
}

}  // namespace morvane::parser
