// VBA expressions by precedence climbing over the levels of this grammar,
// lowest first (parse_level; "-" and "not" prefixes in parse_prefixed):
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

#include <expected>

namespace morvane::parser {

namespace {

constexpr std::string_view kUnexpectedInExpr = "unexpected token in expression: {}";
constexpr std::string_view kDotOutsideWith = "Unexpected '.' outside With block";

// Levels of the grammar above, lowest first: 1 xor, 2 or, 3 and, 4 not and
// comparisons, 5 &, 6 + -, 7 mod, 8 \, 9 * /, 10 prefix minus and ^, 11 an
// operand of ^.
constexpr int kNotLevel = 4;
constexpr int kUnaryLevel = 10;
constexpr int kPowOperandLevel = 11;

// The level and code of a binary operator token; level 0 for none.
std::pair<int, BinOp> binary_op(const Tok& t) {
    switch (t.kind) {
        case Tok::Ident:
            if (t.text == "xor") return {1, BinOp::Xor};
            if (t.text == "or") return {2, BinOp::Or};
            if (t.text == "and") return {3, BinOp::And};
            if (t.text == "mod") return {7, BinOp::Mod};
            return {0, BinOp::Add};
        // The comparison codes follow the token order: Eq (4) gives 7.
        case Tok::Eq:
        case Tok::Ne:
        case Tok::Lt:
        case Tok::Le:
        case Tok::Gt:
        case Tok::Ge: return {4, static_cast<BinOp>(t.kind + 3)};
        case Tok::Amp: return {5, BinOp::Concat};
        case Tok::Plus: return {6, BinOp::Add};
        case Tok::Minus: return {6, BinOp::Sub};
        case Tok::Backslash: return {8, BinOp::IntDiv};
        case Tok::Star: return {9, BinOp::Mul};
        case Tok::Slash: return {9, BinOp::Div};
        case Tok::Caret: return {10, BinOp::Pow};
        default: return {0, BinOp::Add};
    }
}

}  // namespace

// The first operand at level `min`: a prefix Not (levels up to 4) or minus
// (up to 11) with its operand, else an atom.
Result<Expr> Parser::parse_prefixed(int min) {
    const bool is_not = min <= kNotLevel && is_ident("not");
    if (!is_not && !cur().is(Tok::Minus)) return parse_primary();
    advance();
    // Not applies to a whole comparison (Not a = b is Not (a = b)). Before ^
    // a minus covers the whole chain (-2 ^ 2 is -(2 ^ 2)); as an operand of
    // ^ it binds to that operand only.
    const int inner = is_not ? kNotLevel : min <= kUnaryLevel ? kUnaryLevel : kPowOperandLevel;
    if (auto r = enter(kPrefixCost); !r) return std::unexpected(std::move(r).error());
    Result<Expr> operand = parse_level(inner);
    leave(kPrefixCost);
    if (!operand) return operand;
    if (is_not) return Expr{Expr::Not{box(std::move(*operand))}};
    return Expr{Expr::Neg{box(std::move(*operand))}};
}

// Everything from level `min` up: the first operand, then every operator of
// level `min` or higher, each left-associative, its right operand read one
// level up. One loop for all levels keeps the recursion per parenthesis
// short (and the frames small: the stack bounds the nesting).
Result<Expr> Parser::parse_level(int min) {
    Result<Expr> lhs = parse_prefixed(min);
    int taken = 0;
    while (lhs) {
        auto [level, op] = binary_op(cur());
        if (level == 0 || level < min) break;
        if (auto r = enter(1); !r) {  // each operator makes the tree one deeper
            lhs = std::unexpected(std::move(r).error());
            break;
        }
        ++taken;
        advance();
        Result<Expr> rhs = parse_level(level + 1);
        if (!rhs) {
            lhs = std::move(rhs);
            break;
        }
        lhs = Expr{Expr::Binary{op, box(std::move(*lhs)), box(std::move(*rhs))}};
    }
    leave(taken);
    return lhs;
}

Result<Expr> Parser::parse_expr() {
    return nested(kExprCost, [&] { return parse_level(1); });
}

Result<std::vector<Expr>> Parser::parse_arg_list(uint64_t* by_value) {
    std::vector<Expr> args;
    if (cur().is(Tok::RParen)) return args;
    for (;;) {
        if (by_value && args.size() < 64 && arg_in_parens(false)) *by_value |= uint64_t{1} << args.size();
        args.push_back(TRY(parse_expr()));
        if (!cur().is(Tok::Comma)) break;
        advance();
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
        default: return fail(format_message(kUnexpectedInExpr, tok_debug(t)));
    }
}

// A word at the start of an atom: a fixed word of the object model, or a
// name with its call, index, member path or sheet-qualified read.
Result<Expr> Parser::parse_name_primary() {
    const std::string& w = cur().text;
    if (w == "true" || w == "false") return Expr{Expr::Bool{advance().text == "true"}};
    if (w == "rows") return parse_rows_cols_count("rows", Expr{Expr::RowsCount{}});
    if (w == "columns") return parse_rows_cols_count("columns", Expr{Expr::ColumnsCount{}});
    if (w == "cells") return parse_object_read(&Parser::parse_cells_expr);
    if (w == "range") return parse_object_read(&Parser::parse_range_expr);
    if (w == "sheets" || w == "worksheets") return parse_object_read(&Parser::parse_sheet_cell_read);
    if (w == "workbooks") return parse_workbook_qualified_read();
    if (w == "application") return parse_application_wsf_expr();
    if (w == "worksheetfunction") return parse_wsf_expr();
    if (w == "activesheet" && peek(1).is(Tok::Dot)) {
        if ((is_ident_at(2, "range") || is_ident_at(2, "cells")) && peek(3).is(Tok::LParen))
            return parse_object_read(&Parser::parse_activesheet_read);
        return parse_obj_path_expr();
    }
    if (w == "activecell" || w == "selection") return parse_obj_path_expr();
    if ((w == "thisworkbook" || w == "activeworkbook") && (is_ident_at(2, "worksheets") || is_ident_at(2, "sheets"))) {
        advance();
        TRY_VOID(expect_tok(Tok::Dot));
        return parse_sheet_cell_read();
    }
    std::string name = advance().text;
    if (cur().is(Tok::LParen)) {
        advance();
        uint64_t by_value = 0;
        std::vector<Expr> args = TRY(parse_arg_list(&by_value));
        TRY_VOID(expect_tok(Tok::RParen));
        if (cur().is(Tok::Dot) && peek(1).is(Tok::Ident)) {
            advance();
            std::string field = advance().text;
            return Expr{Expr::IndexedField{std::move(name), std::move(args), std::move(field)}};
        }
        return Expr{Expr::Call{std::move(name), std::move(args), kNoSlot, by_value}};
    }
    if (!cur().is(Tok::Dot)) return Expr{Expr::Var{std::move(name)}};
    if ((is_ident_at(1, "worksheets") || is_ident_at(1, "sheets")) && peek(2).is(Tok::LParen)) {
        advance();
        return parse_object_read(&Parser::parse_sheet_cell_read);
    }
    return parse_var_member_read(std::move(name));
}

Result<Expr> Parser::parse_var_member_read(std::string name) {
    if (!peek(1).is(Tok::Ident)) {
        advance();
        TRY(consume_ident());
    }
    // A path with arguments anywhere (r.Offset(1, 0).Value) is an object
    // read; plain names (p.Age, r.Count) are fields, resolved when run.
    std::vector<ObjStep> steps;
    steps.push_back(ObjStep{std::move(name), {}, false});
    steps = TRY(parse_obj_tail(std::move(steps)));
    bool called = unmodeled_object(steps[0].name);
    for (const ObjStep& st : steps) called = called || st.called;
    if (called) return Expr{Expr::ObjPath{std::move(steps)}};
    if (steps.size() == 2) return Expr{Expr::Field{std::move(steps[0].name), std::move(steps[1].name)}};
    std::vector<std::string> path;
    for (size_t i = 1; i < steps.size(); ++i) path.push_back(std::move(steps[i].name));
    return Expr{Expr::MemberPath{std::move(steps[0].name), std::move(path)}};
}

Result<Expr> Parser::parse_activesheet_read() {
    TRY_VOID(expect_ident("activesheet"));
    return parse_sheet_property_read(Expr{Expr::ActiveSheet{}});
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
    if (with_range && !with_sheet_ && (is_ident_at(1, "cells") || is_ident_at(1, "range")) && peek(2).is(Tok::LParen))
        return parse_with_relative_read();
    if (with_sheet_ && with_sheet_key_) {
        std::vector<ObjStep> steps;
        std::vector<Expr> key;
        key.push_back(*with_sheet_key_);
        steps.push_back(ObjStep{"sheets", std::move(key), true});
        steps = TRY(parse_obj_tail(std::move(steps)));
        return Expr{Expr::ObjPath{std::move(steps)}};
    }
    if (!with_object) return fail(std::string(kDotOutsideWith));
    return parse_var_member_read(*with_object);
}

}  // namespace morvane::parser
