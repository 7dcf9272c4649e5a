// Block statements: statement lists, If (block and single-line), Select
// Case, For, For Each, Do, While and With, which are resolved here into
// explicit statements.
//
//   if       = "if" expr "then" ( eol body {elseif} ["else" eol body] "end" "if"
//                                | branch ["else" branch] )
//   select   = "select" "case" expr eol { "case" ("else" | test {"," test}) eol body } "end" "select"
//   test     = "is" cmp expr | expr ["to" expr]
//   for      = "for" name "=" expr "to" expr ["step" expr] eol body "next" [name]
//   foreach  = "for" "each" name "in" ("range" "(" Str ")" | name) eol body "next" [name]
//   do       = "do" [("while" | "until") expr] eol body "loop" [("while" | "until") expr]
//   while    = "while" expr eol body "wend"
//   with     = "with" (range | sheets | name | other) eol with-body "end" "with"
#include <cstddef>
#include <utility>

#include "parser/mod.h"
#include "types/text.h"

namespace morvane::parser {

namespace {

constexpr std::string_view kExpectedCase = "expected 'Case' in Select Case, got {}";
constexpr std::string_view kExpectedComparison = "expected comparison operator, got {}";
constexpr std::string_view kWithMemberSkipped = "With-block '.{}' is not implemented";
constexpr std::string_view kWithDottedSkipped = "With-block dotted statement is not recognized and was skipped";

constexpr std::string_view kBranchShape = "single-line 'If ... Then ...' branch isn't a recognized statement shape";

bool stop_then(const Parser& p) {
    return p.is_elseif() || p.is_ident("else") || (p.is_ident("end") && p.is_ident_at(1, "if"));
}
bool stop_else(const Parser& p) { return p.is_ident("end") && p.is_ident_at(1, "if"); }
bool stop_case(const Parser& p) { return p.is_ident("case") || (p.is_ident("end") && p.is_ident_at(1, "select")); }
bool stop_next(const Parser& p) { return p.is_ident("next"); }
bool stop_loop(const Parser& p) { return p.is_ident("loop"); }
bool stop_wend(const Parser& p) { return p.is_ident("wend"); }

// Range members that a With Range block applies to its own range.
bool is_range_member(std::string_view m) {
    for (std::string_view k : {"value", "formula", "copy", "paste", "pastespecial", "clear", "clearcontents", "delete",
                               "insert", "offset", "sort", "name", "entirerow", "entirecolumn"})
        if (k == m) return true;
    return false;
}

// Saves the With context and restores it when the body has been read.
struct WithScope {
    Parser& p;
    std::optional<std::string> object, range;
    WithScope(Parser& parser, std::optional<std::string> obj, std::optional<std::string> rng)
        : p(parser), object(std::move(parser.with_object)), range(std::move(parser.with_range)) {
        p.with_object = std::move(obj);
        p.with_range = std::move(rng);
    }
    ~WithScope() {
        p.with_object = std::move(object);
        p.with_range = std::move(range);
    }
};

// What follows the condition line of a block If or an ElseIf: the statements
// up to the next ElseIf, Else or End If, then the other branch (an ElseIf
// chain reads as one nested If).
Result<std::pair<Body, Body>> parse_branches(Parser& p) {
    Body then_body = TRY(p.parse_stmts(stop_then));
    Body else_body;
    if (p.is_elseif()) {
        else_body = TRY(p.parse_elseif_chain());
    } else if (p.is_ident("else")) {
        p.advance();
        TRY_VOID(p.eat_eol());
        else_body = TRY(p.parse_stmts(stop_else));
    }
    return std::pair{std::move(then_body), std::move(else_body)};
}

}  // namespace

Result<Body> Parser::parse_stmts(bool (*stop)(const Parser&)) {
    std::vector<SpannedStmt> body;
    for (;;) {
        skip_nl();
        if (cur().is(Tok::Eof) || stop(*this)) return Body(std::move(body));
        uint32_t start = cur_start();
        auto stmt = TRY(parse_stmt());
        if (stmt) body.push_back(SpannedStmt{std::move(*stmt), SourceSpan{start, cur_start()}});
    }
}

// ---------------------------------------------------------------- If

Result<Stmt> Parser::parse_if() {
    TRY_VOID(expect_ident("if"));
    Expr cond = TRY(parse_expr());
    TRY_VOID(expect_ident("then"));
    if (!cur().is(Tok::Newline) && !cur().is(Tok::Eof)) {
        std::vector<SpannedStmt> then_body, else_body;
        // If c Then Else s: the Then branch is empty.
        if (!is_ident("else") || peek(1).is(Tok::Eq)) then_body.push_back(TRY(parse_single_line_if_branch()));
        if (is_ident("else")) {
            advance();
            else_body.push_back(TRY(parse_single_line_if_branch()));
        }
        // A single-line If nested in a branch leaves the line to the outer one.
        if (!single_line_) TRY_VOID(eat_eol());
        return Stmt{Stmt::If{box(std::move(cond)), Body(std::move(then_body)), Body(std::move(else_body))}};
    }
    if (single_line_) {
        // Not a statement of a single-line branch: the branch skips it.
        block_if_in_branch_ = true;
        return fail(std::string(kBranchShape));
    }
    if (cur().is(Tok::Newline)) advance();
    auto [then_body, else_body] = TRY(parse_branches(*this));
    TRY_VOID(consume_end_kw("if"));
    skip_nl();
    return Stmt{Stmt::If{box(std::move(cond)), std::move(then_body), std::move(else_body)}};
}

Result<Body> Parser::parse_elseif_chain() {
    return nested(2, [&]() -> Result<Body> {
        uint32_t start = cur_start();
        pos += is_ident("elseif") ? 1 : 2;
        Expr cond = TRY(parse_expr());
        TRY_VOID(expect_ident("then"));
        TRY_VOID(eat_eol());
        auto [then_body, else_body] = TRY(parse_branches(*this));
        std::vector<SpannedStmt> out;
        out.push_back(SpannedStmt{Stmt{Stmt::If{box(std::move(cond)), std::move(then_body), std::move(else_body)}},
                                  SourceSpan{start, cur_start()}});
        return Body(std::move(out));
    });
}

// One branch of a single-line If: any statement of a block line except the
// block forms (a nested single-line If is allowed), ending at Else or at
// the line end, which is left for the If.
Result<SpannedStmt> Parser::parse_single_line_if_branch() {
    const uint32_t start = cur_start();
    const bool saved = single_line_;
    single_line_ = true;
    auto stmt = parse_branch_stmt();
    single_line_ = saved;
    if (!stmt) return fail(std::move(stmt).error());
    return SpannedStmt{std::move(*stmt), SourceSpan{start, cur_start()}};
}

Result<Stmt> Parser::parse_branch_stmt() {
    const Tok& t = cur();
    if (t.is(Tok::Dot) && (with_range || with_object || with_sheet_)) return parse_with_dotted();
    if (!t.is(Tok::Ident)) {
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{std::string(kBranchShape), true}};
    }
    if (opens_block(t) && !peek(1).is(Tok::Eq)) {
        if (t.is_ident("if")) {
            const size_t saved_pos = pos;
            const int saved_depth = depth_;
            block_if_in_branch_ = false;
            auto nested_if = nested(kBlockCost, [&] { return parse_if(); });
            if (nested_if) return std::move(*nested_if);
            if (!std::exchange(block_if_in_branch_, false)) return fail(std::move(nested_if).error());
            pos = saved_pos;
            depth_ = saved_depth;
        }
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{std::string(kBranchShape), true}};
    }
    return parse_simple_stmt();
}

// ---------------------------------------------------------------- Select Case

Result<Stmt> Parser::parse_select_case() {
    TRY_VOID(expect_ident("select"));
    TRY_VOID(expect_ident("case"));
    Expr subject = TRY(parse_expr());
    TRY_VOID(eat_eol());
    skip_nl();
    std::vector<CaseClause> cases;
    Body else_body;
    for (;;) {
        if (is_ident("case")) {
            advance();
            if (is_ident("else")) {
                advance();
                TRY_VOID(eat_eol());
                else_body = TRY(parse_stmts(stop_case));
                continue;
            }
            CaseClause clause;
            clause.matches.push_back(TRY(parse_case_match()));
            while (cur().is(Tok::Comma)) {
                advance();
                clause.matches.push_back(TRY(parse_case_match()));
            }
            TRY_VOID(eat_eol());
            clause.body = TRY(parse_stmts(stop_case));
            cases.push_back(std::move(clause));
        } else if ((is_ident("end") && is_ident_at(1, "select")) || cur().is(Tok::Eof)) {
            break;
        } else {
            return fail(format_message(kExpectedCase, tok_debug(cur())));
        }
    }
    TRY_VOID(consume_end_kw("select"));
    skip_nl();
    return Stmt{Stmt::SelectCase{box(std::move(subject)), std::move(cases), std::move(else_body)}};
}

Result<CaseMatch> Parser::parse_case_match() {
    if (is_ident("is")) {
        advance();
        const Tok& t = cur();
        if (t.kind < Tok::Eq || t.kind > Tok::Ge) return fail(format_message(kExpectedComparison, tok_debug(t)));
        BinOp op = static_cast<BinOp>(advance().kind + 3);
        Expr value = TRY(parse_expr());
        return CaseMatch{CaseMatch::Is{op, box(std::move(value))}};
    }
    Expr e = TRY(parse_expr());
    if (is_ident("to")) {
        advance();
        Expr high = TRY(parse_expr());
        return CaseMatch{CaseMatch::Range{box(std::move(e)), box(std::move(high))}};
    }
    return CaseMatch{CaseMatch::Value{box(std::move(e))}};
}

// ---------------------------------------------------------------- loops

Result<Stmt> Parser::parse_for() {
    TRY_VOID(expect_ident("for"));
    std::string var = TRY(consume_ident());
    TRY_VOID(expect_tok(Tok::Eq));
    Expr start = TRY(parse_expr());
    TRY_VOID(expect_ident("to"));
    Expr end = TRY(parse_expr());
    Box<Expr> step;
    if (is_ident("step")) {
        advance();
        step = box(TRY(parse_expr()));
    }
    TRY_VOID(eat_eol());
    Body body = TRY(parse_stmts(stop_next));
    TRY_VOID(expect_ident("next"));
    if (cur().is(Tok::Ident)) advance();  // Next j closes any For
    skip_nl();
    Stmt::For f;
    f.var = std::move(var);
    f.start = box(std::move(start));
    f.end = box(std::move(end));
    f.step = std::move(step);
    f.body = std::move(body);
    return Stmt{std::move(f)};
}

Result<Stmt> Parser::parse_for_each() {
    TRY_VOID(expect_ident("for"));
    TRY_VOID(expect_ident("each"));
    std::string var = TRY(consume_ident());
    TRY_VOID(expect_ident("in"));
    Stmt::ForEach f;
    f.var = std::move(var);
    const bool literal = is_ident("range") && peek(1).is(Tok::LParen) && peek(2).is(Tok::Str) &&
                         peek(3).is(Tok::RParen) && !peek(4).is(Tok::Dot);
    if (literal) {
        advance();
        TRY_VOID(expect_tok(Tok::LParen));
        f.collection = text::to_upper(TRY(consume_str()));
        TRY_VOID(expect_tok(Tok::RParen));
    } else if (cur().is(Tok::Ident) && !is_ident("range") && !is_ident("sheets") && !is_ident("worksheets") &&
               !is_ident("selection") && !peek(1).is(Tok::Dot) && !peek(1).is(Tok::LParen)) {
        f.source_var = TRY(consume_ident());
    } else {
        f.path = TRY(parse_obj_steps());
    }
    TRY_VOID(eat_eol());
    f.body = TRY(parse_stmts(stop_next));
    TRY_VOID(expect_ident("next"));
    if (cur().is(Tok::Ident)) advance();
    skip_nl();
    return Stmt{std::move(f)};
}

Result<LoopCond> Parser::parse_do_cond() {
    bool until = advance().is_ident("until");
    Expr cond = TRY(parse_expr());
    return LoopCond{until, box(std::move(cond))};
}

Result<Stmt> Parser::parse_do_loop() {
    TRY_VOID(expect_ident("do"));
    Stmt::DoLoop d;
    if (is_ident("while") || is_ident("until")) d.pre_cond = TRY(parse_do_cond());
    TRY_VOID(eat_eol());
    d.body = TRY(parse_stmts(stop_loop));
    TRY_VOID(expect_ident("loop"));
    if (is_ident("while") || is_ident("until")) d.post_cond = TRY(parse_do_cond());
    skip_nl();
    return Stmt{std::move(d)};
}

Result<Stmt> Parser::parse_while_wend() {
    TRY_VOID(expect_ident("while"));
    Expr cond = TRY(parse_expr());
    TRY_VOID(eat_eol());
    Stmt::DoLoop d;
    d.pre_cond = LoopCond{false, box(std::move(cond))};
    d.body = TRY(parse_stmts(stop_wend));
    TRY_VOID(expect_ident("wend"));
    skip_nl();
    return Stmt{std::move(d)};
}

// ---------------------------------------------------------------- With

Result<Stmt> Parser::parse_with() {
    TRY_VOID(expect_ident("with"));
    // TRY stays out of the braced initialisers below: leaving a statement
    // expression early would skip the destruction of members built before it.
    auto finish = [&](Body body) -> Result<Body> {
        TRY_VOID(consume_end_kw("with"));
        skip_nl();
        return body;
    };
    // Marks the innermost With as a sheet (or not) while a body is read.
    struct SheetScope {
        bool& flag;
        bool saved;
        SheetScope(bool& f, bool inner) : flag(f), saved(f) { flag = inner; }
        ~SheetScope() { flag = saved; }
    };
    // The body up to its End With, read with the innermost With marked as a
    // sheet or not; the caller sets any With object or range around it.
    auto marked_body = [&](bool sheet) -> Result<Body> {
        Body body;
        {
            SheetScope sheet_scope(with_sheet_, sheet);
            body = TRY(parse_with_body());
        }
        return finish(std::move(body));
    };
    // Any other With line: the rest of it is passed over and the body read
    // as a plain block in the outer context.
    auto plain_block = [&]() -> Result<Stmt> {
        skip_to_eol();
        Body body = TRY(parse_with_body());
        body = TRY(finish(std::move(body)));
        return Stmt{Stmt::Block{std::move(body)}};
    };
    if (is_ident("range")) {
        advance();
        TRY_VOID(expect_tok(Tok::LParen));
        std::string addr = TRY(consume_str());
        TRY_VOID(expect_tok(Tok::RParen));
        TRY_VOID(eat_eol());
        WithScope scope(*this, std::nullopt, std::move(addr));
        Body body = TRY(marked_body(false));
        return Stmt{Stmt::Block{std::move(body)}};
    }
    if (is_ident("sheets") || is_ident("worksheets")) {
        advance();
        if (!cur().is(Tok::LParen)) return plain_block();
        advance();
        std::string sheet = TRY(consume_str());
        TRY_VOID(expect_tok(Tok::RParen));
        TRY_VOID(eat_eol());
        std::optional<Expr> outer = std::exchange(with_sheet_key_, Expr{Expr::Str{sheet}});
        auto body = marked_body(true);
        with_sheet_key_ = std::move(outer);
        if (!body) return fail(std::move(body).error());
        return Stmt{Stmt::WithSheet{std::move(sheet), std::move(*body)}};
    }
    if (cur().is(Tok::Ident)) {
        std::string var = advance().text;
        TRY_VOID(eat_eol());
        WithScope scope(*this, var, std::nullopt);
        Body body = TRY(marked_body(false));
        return Stmt{Stmt::WithVar{std::move(var), std::move(body)}};
    }
    return plain_block();
}

Result<Body> Parser::parse_with_body() {
    std::vector<SpannedStmt> body;
    for (;;) {
        skip_nl();
        if (cur().is(Tok::Eof) || (is_ident("end") && is_ident_at(1, "with"))) return Body(std::move(body));
        uint32_t start = cur_start();
        if (!cur().is(Tok::Dot)) {
            auto stmt = TRY(parse_stmt());
            if (stmt) body.push_back(SpannedStmt{std::move(*stmt), SourceSpan{start, cur_start()}});
            continue;
        }
        Stmt stmt = TRY(parse_with_dotted());
        TRY_VOID(eat_eol());
        body.push_back(SpannedStmt{std::move(stmt), SourceSpan{start, cur_start()}});
    }
}

// A line of a With body that starts with a dot (current token), without its
// line end.
Result<Stmt> Parser::parse_with_dotted() {
    advance();
    const Tok& m = cur();
    if (!m.is(Tok::Ident)) {
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{std::string(kWithDottedSkipped)}};
    }
    const bool range_or_cells = m.is_ident("range") || m.is_ident("cells");
    if (with_range && is_range_member(m.text)) {
        --pos;  // the member starts at the dot
        return parse_range_stmt_at(*with_range);
    }
    // Every line of a With Sheets block names that sheet.
    if (with_sheet_ && with_sheet_key_) {
        --pos;
        std::vector<ObjStep> steps;
        std::vector<Expr> key;
        key.push_back(*with_sheet_key_);
        steps.push_back(ObjStep{"sheets", std::move(key), true});
        steps = TRY(parse_obj_tail(std::move(steps)));
        return parse_obj_stmt_rest(std::move(steps));
    }
    // A With variable (a sheet or a range) or With ActiveSheet: every dotted
    // line is a member of that object.
    if (with_object) {
        --pos;
        return parse_var_member_stmt(*with_object);
    }
    if (range_or_cells) return parse_with_cells_or_range_line();
    std::string member = m.text;
    skip_rest_of_line();
    return Stmt{Stmt::Skipped{format_message(kWithMemberSkipped, member)}};
}

}  // namespace morvane::parser
