// Statement dispatch and the simple statements: assignments, calls, labels,
// member writes, Exit, GoTo, On Error, Resume, Call, Set, MsgBox, End/Stop,
// declaration lines and WorksheetFunction calls used as statements.
//
// One statement per line: a colon only ends a label. Block statements (Do,
// If, For, With, While, Select) end their own lines; every other statement
// is followed by the end-of-line rule.
#include "parser/mod.h"

#include <cstddef>
#include <iterator>

namespace morvane::parser {

namespace {

constexpr std::string_view kUnexpectedStart = "unexpected token starting statement: {}";
constexpr std::string_view kIndexedReadSkipped = "'{}(...).{}' read without assignment has no effect";
constexpr std::string_view kPathReadSkipped = "'{}.{}' read without assignment has no effect";
constexpr std::string_view kUnknownExit = "unknown exit target: {}";
constexpr std::string_view kUnknownOnError = "unexpected On Error action: {}";
constexpr std::string_view kSetSkipped = "'Set {} = ...' targets an unmodeled object expression";
constexpr std::string_view kDebugSkipped = "Debug.Print/Debug.Assert has no effect (no-op)";

constexpr std::string_view kBareWord = "'{}' as a bare statement (no Call keyword or parentheses) is not supported";
constexpr std::string_view kModifierInBody = "'{}' inside a procedure declares nothing: use Dim or Static";

Stmt::Call make_call(std::string name, std::vector<Expr> args, bool bare) {
    Stmt::Call call;
    call.name = std::move(name);
    call.args = std::move(args);
    call.bare = bare;
    return call;
}

std::string join_path(const std::vector<std::string>& path) {
    std::string out;
    for (const auto& p : path) {
        if (!out.empty()) out += '.';
        out += p;
    }
    return out;
}

}  // namespace

Result<std::optional<Stmt>> Parser::parse_stmt() {
    const Tok& t = cur();
    if (t.is(Tok::Newline) || t.is(Tok::Eof)) return std::optional<Stmt>{};
    if (!t.is(Tok::Ident)) return fail(format_message(kUnexpectedStart, tok_debug(t)));
    if (!peek(1).is(Tok::Eq) && opens_block(t)) {
        const std::string& w = t.text;
        if (w == "do") return nested(kBlockCost, [&] { return parse_do_loop(); });
        if (w == "if") return nested(kBlockCost, [&] { return parse_if(); });
        if (w == "for")
            return nested(kBlockCost, [&] { return is_ident_at(1, "each") ? parse_for_each() : parse_for(); });
        if (w == "with") return nested(kBlockCost, [&] { return parse_with(); });
        if (w == "while") return nested(kBlockCost, [&] { return parse_while_wend(); });
        return nested(kBlockCost, [&] { return parse_select_case(); });
    }
    Stmt s = TRY(parse_simple_stmt());
    TRY_VOID(eat_eol());
    return std::optional<Stmt>{std::move(s)};
}

// Every statement that is not a block, without its line end.
Result<Stmt> Parser::parse_simple_stmt() {
    const std::string w = cur().text;
    if (peek(1).is(Tok::Eq)) return parse_ident_stmt();
    if (w == "on" && is_ident_at(1, "error")) return parse_on_error();
    if (w == "set") return parse_set();
    if (w == "dim") return parse_dim();
    if (w == "exit") return parse_exit();
    if (w == "goto") {
        advance();
        return Stmt{Stmt::GoTo{TRY(consume_ident())}};
    }
    if (w == "call") return parse_call_stmt();
    if (w == "redim") return parse_redim();
    if (w == "const") return parse_const();
    if (w == "range") return parse_object_stmt(&Parser::parse_range_stmt);
    if (w == "cells") return parse_object_stmt(&Parser::parse_cell_write_stmt);
    if (w == "activecell" || w == "selection") return parse_obj_stmt();
    // Rows(2).Delete, Columns("B:C").Insert: a member after the call makes
    // the name the sheet's rows or columns, not an array.
    if ((w == "rows" || w == "columns") && peek(1).is(Tok::LParen)) {
        const Tok* next = after_parens(1);
        if (next && next->is(Tok::Dot)) return parse_obj_stmt();
    }
    if (w == "debug") {
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{std::string(kDebugSkipped)}};
    }
    if (w == "resume") {
        advance();
        if (is_ident("next")) {
            advance();
            return Stmt{Stmt::ResumeNext{true, {}}};
        }
        // Resume 0 is Resume alone.
        if (cur().is(Tok::Int) && cur().i == 0) advance();
        if (cur().is(Tok::Ident) && !at_line_end()) return Stmt{Stmt::ResumeNext{false, advance().text}};
        return Stmt{Stmt::ResumeNext{false, {}}};
    }
    if (w == "erase") return parse_erase();
    if (w == "err" && peek(1).is(Tok::Dot) && (is_ident_at(2, "raise") || is_ident_at(2, "clear")))
        return parse_err_method();
    if (w == "msgbox") return parse_msgbox();
    if (w == "sheets" || w == "worksheets") return parse_object_stmt(&Parser::parse_sheets_stmt);
    if (w == "private" || w == "public" || w == "static" || w == "friend") {
        advance();
        if (is_ident("dim")) return parse_dim();
        if (is_ident("const")) return parse_const();
        if (w == "static" && cur().is(Tok::Ident)) return parse_static();
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{format_message(kModifierInBody, w), true}};
    }
    if (w == "workbooks") return parse_workbook_qualified_stmt();
    if (w == "application") return parse_application_stmt();
    if (w == "activesheet") return parse_object_stmt(&Parser::parse_activesheet_stmt);
    if ((w == "thisworkbook" || w == "activeworkbook") && (is_ident_at(2, "worksheets") || is_ident_at(2, "sheets"))) {
        advance();
        TRY_VOID(expect_tok(Tok::Dot));
        return parse_sheets_stmt();
    }
    if (w == "worksheetfunction") return parse_wsf_call_stmt();
    return parse_ident_stmt();
}

Result<Stmt> Parser::parse_ident_stmt() {
    std::string n = TRY(consume_ident());
    const Tok& t = cur();
    if (t.is(Tok::Eq)) {
        advance();
        Expr value = TRY(parse_expr());
        return Stmt{Stmt::Assign{std::move(n), box(std::move(value))}};
    }
    if (t.is(Tok::LParen)) {
        advance();
        std::vector<Expr> args = TRY(parse_arg_list());
        TRY_VOID(expect_tok(Tok::RParen));
        if (cur().is(Tok::Eq)) {
            advance();
            Expr value = TRY(parse_expr());
            return Stmt{Stmt::IndexAssign{std::move(n), std::move(args), box(std::move(value))}};
        }
        if (cur().is(Tok::Dot) && peek(1).is(Tok::Ident)) {
            advance();
            std::string f = advance().text;
            if (cur().is(Tok::Eq)) {
                advance();
                Expr value = TRY(parse_expr());
                return Stmt{
                    Stmt::IndexedFieldAssign{std::move(n), std::move(args), std::move(f), box(std::move(value))}};
            }
            skip_rest_of_line();
            return Stmt{Stmt::Skipped{format_message(kIndexedReadSkipped, n, f)}};
        }
        // Name(x) without Call is the name with one argument in parentheses of
        // its own, which passes a copy.
        Stmt::Call call = make_call(std::move(n), std::move(args), false);
        if (call.args.size() == 1) call.by_value = 1;
        return Stmt{std::move(call)};
    }
    if (t.is(Tok::Dot) && peek(1).is(Tok::Ident)) {
        const Tok& m = peek(1);
        if (m.text == "copy") {
            pos += 2;
            std::optional<std::string> dest;
            if (is_ident("destination")) {
                advance();
                TRY_VOID(expect_tok(Tok::ColonEq));
                TRY_VOID(expect_ident("range"));
                TRY_VOID(expect_tok(Tok::LParen));
                dest = TRY(consume_str());
                TRY_VOID(expect_tok(Tok::RParen));
            }
            return Stmt{Stmt::VarCopy{std::move(n), std::move(dest)}};
        }
        if ((m.text == "sheets" || m.text == "worksheets") && peek(2).is(Tok::LParen)) {
            advance();
            return parse_object_stmt(&Parser::parse_sheets_stmt);
        }
    }
    if (t.is(Tok::Dot)) return parse_var_member_stmt(std::move(n));
    if (t.is(Tok::Colon)) {
        advance();
        return Stmt{Stmt::Label{std::move(n)}};
    }
    return parse_bare_word(std::move(n));
}

Result<Stmt> Parser::parse_var_member_stmt(std::string n) {
    if (!peek(1).is(Tok::Ident)) {
        advance();
        TRY(consume_ident());
    }
    // Fields of a record and members of an object variable alike: a plain
    // assignment stays a field write (the interpreter sends it to the object
    // when the name holds one); anything else is a path.
    std::vector<ObjStep> steps;
    steps.push_back(ObjStep{n, {}, false});
    steps = TRY(parse_obj_tail(std::move(steps)));
    bool called = unmodeled_object(n);
    for (const ObjStep& st : steps) called = called || st.called;
    if (!called && cur().is(Tok::Eq)) {
        advance();
        Expr value = TRY(parse_expr());
        if (steps.size() == 2)
            return Stmt{Stmt::FieldAssign{std::move(n), std::move(steps[1].name), box(std::move(value))}};
        std::vector<std::string> path;
        for (size_t i = 1; i < steps.size(); ++i) path.push_back(std::move(steps[i].name));
        return Stmt{Stmt::MemberPathAssign{std::move(n), std::move(path), box(std::move(value))}};
    }
    // Err and Debug are no objects of the workbook: their lines stay as they were.
    if (n == "err" || n == "debug") {
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{format_message(kPathReadSkipped, n, steps[1].name)}};
    }
    const auto start = mark();
    auto call = parse_obj_stmt_rest(std::move(steps));
    if (call) return call;
    reset(start);
    skip_rest_of_line();
    return Stmt{Stmt::Skipped{format_message(kPathReadSkipped, n, "...")}};
}

bool Parser::unmodeled_object(std::string_view name) { return unmodeled_object_name(name); }

Result<Stmt> Parser::parse_activesheet_stmt() {
    TRY_VOID(expect_ident("activesheet"));
    return parse_sheet_property_write(Expr{Expr::ActiveSheet{}});
}

Result<Stmt> Parser::parse_member_path_stmt(std::string root, std::string first) {
    std::vector<std::string> path{std::move(first)};
    while (cur().is(Tok::Dot) && peek(1).is(Tok::Ident)) {
        advance();
        path.push_back(advance().text);
    }
    if (cur().is(Tok::Eq)) {
        advance();
        Expr value = TRY(parse_expr());
        if (path.size() == 1)
            return Stmt{Stmt::FieldAssign{std::move(root), std::move(path[0]), box(std::move(value))}};
        return Stmt{Stmt::MemberPathAssign{std::move(root), std::move(path), box(std::move(value))}};
    }
    skip_rest_of_line();
    return Stmt{Stmt::Skipped{format_message(kPathReadSkipped, root, join_path(path))}};
}

// A name followed by neither =, (, . nor : (the name consumed).
Result<Stmt> Parser::parse_bare_word(std::string n) {
    // End and Stop end the whole run.
    if ((n == "end" || n == "stop") && at_line_end()) return Stmt{Stmt::End{n == "stop"}};
    // Let x = e is the assignment x = e.
    if (n == "let" && cur().is(Tok::Ident) && (peek(1).is(Tok::Eq) || peek(1).is(Tok::LParen) || peek(1).is(Tok::Dot)))
        return parse_ident_stmt();
    if (n != "end" && n != "stop" && n != "let") {
        // A call without Call and parentheses: `DoWork` or `DoWork a, b`.
        if (at_line_end()) return Stmt{make_call(std::move(n), {}, true)};
        Stmt::Call call = make_call(std::move(n), {}, true);
        if (try_bare_args(call)) return Stmt{std::move(call)};
        n = std::move(call.name);
    }
    skip_rest_of_line();
    return Stmt{Stmt::Skipped{format_message(kBareWord, n), true}};
}

// One argument of a call: `name:=e`, an omitted one (before a comma or a
// closing parenthesis), or an expression.
Result<void> Parser::parse_call_arg(Stmt::Call& call) {
    std::string name;
    if (cur().is(Tok::Ident) && peek(1).is(Tok::ColonEq)) {
        name = advance().text;
        advance();
    }
    const bool left_out = name.empty() && (cur().is(Tok::Comma) || cur().is(Tok::RParen));
    if (call.args.size() < 64 && arg_in_parens(call.bare)) call.by_value |= uint64_t{1} << call.args.size();
    Expr e = left_out ? Expr{Expr::Int{0}} : TRY(parse_expr());
    if (!name.empty() || left_out) {
        call.arg_names.resize(call.args.size());
        call.omitted.resize(call.args.size());
    }
    if (!call.arg_names.empty() || !name.empty() || left_out) {
        call.arg_names.push_back(std::move(name));
        call.omitted.push_back(left_out);
    }
    call.args.push_back(std::move(e));
    return {};
}

// Arguments up to the line end (bare) or up to the closing parenthesis.
Result<void> Parser::parse_call_args(Stmt::Call& call, bool bare) {
    if (!bare && cur().is(Tok::RParen)) return {};
    for (;;) {
        TRY_VOID(parse_call_arg(call));
        if (!cur().is(Tok::Comma)) break;
        advance();
        // A trailing comma leaves out the last argument.
        if (bare && at_line_end()) TRY_VOID(parse_call_arg(call));
    }
    if (bare && !at_line_end()) return fail("");
    return {};
}

// The rest of a line read as the call's arguments; nothing is consumed
// when it does not read so (the line then stays a skipped word).
bool Parser::try_bare_args(Stmt::Call& call) {
    const size_t saved_pos = pos;
    const int saved_depth = depth_;
    if (parse_call_args(call, true)) return true;
    call.args.clear();
    call.arg_names.clear();
    call.omitted.clear();
    pos = saved_pos;
    depth_ = saved_depth;
    return false;
}

Result<Stmt> Parser::parse_exit() {
    TRY_VOID(expect_ident("exit"));
    std::string w = TRY(consume_ident());
    if (w == "for") return Stmt{Stmt::ExitFor{}};
    if (w == "do") return Stmt{Stmt::ExitDo{}};
    if (w == "sub") return Stmt{Stmt::ExitSub{}};
    if (w == "function") return Stmt{Stmt::ExitFunction{}};
    return fail(format_message(kUnknownExit, w));
}

Result<Stmt> Parser::parse_on_error() {
    TRY_VOID(expect_ident("on"));
    TRY_VOID(expect_ident("error"));
    if (is_ident("goto")) {
        advance();
        Tok t = advance();
        if (t.is(Tok::Ident)) return Stmt{Stmt::OnErrorGoto{std::move(t.text)}};
        return Stmt{Stmt::OnError{false}};
    }
    if (is_ident("resume")) {
        advance();
        TRY_VOID(expect_ident("next"));
        return Stmt{Stmt::OnError{true}};
    }
    return fail(format_message(kUnknownOnError, tok_debug(cur())));
}

Result<Stmt> Parser::parse_call_stmt() {
    TRY_VOID(expect_ident("call"));
    Stmt::Call call = make_call(TRY(consume_ident()), {}, false);
    if (at_line_end()) return Stmt{std::move(call)};
    TRY_VOID(expect_tok(Tok::LParen));
    TRY_VOID(parse_call_args(call, false));
    TRY_VOID(expect_tok(Tok::RParen));
    return Stmt{std::move(call)};
}

// Erase a, b
Result<Stmt> Parser::parse_erase() {
    TRY_VOID(expect_ident("erase"));
    Stmt::Erase erase;
    erase.names.push_back(TRY(consume_ident()));
    while (cur().is(Tok::Comma)) {
        advance();
        erase.names.push_back(TRY(consume_ident()));
    }
    return Stmt{std::move(erase)};
}

// Err.Clear, and Err.Raise with its arguments by position or by name
// (Number:=, Source:=, Description:=; HelpFile and HelpContext are read and
// dropped), with or without parentheses.
Result<Stmt> Parser::parse_err_method() {
    TRY_VOID(expect_ident("err"));
    TRY_VOID(expect_tok(Tok::Dot));
    if (is_ident("clear")) {
        advance();
        return Stmt{Stmt::ErrClear{}};
    }
    TRY_VOID(expect_ident("raise"));
    const bool parens = cur().is(Tok::LParen);
    if (parens) advance();
    Stmt::Call args = make_call("err.raise", {}, false);
    if (!(parens && cur().is(Tok::RParen)) && !at_line_end()) TRY_VOID(parse_call_args(args, !parens));
    if (parens) TRY_VOID(expect_tok(Tok::RParen));
    Stmt::ErrRaise raise;
    static constexpr std::string_view kOrder[] = {"number", "source", "description", "helpfile", "helpcontext"};
    for (size_t i = 0; i < args.args.size(); ++i) {
        if (!args.omitted.empty() && args.omitted[i]) continue;
        std::string_view name = args.arg_names.empty() || args.arg_names[i].empty()
                                    ? (i < std::size(kOrder) ? kOrder[i] : std::string_view())
                                    : std::string_view(args.arg_names[i]);
        Box<Expr>* into = name == "number"        ? &raise.number
                          : name == "source"      ? &raise.source
                          : name == "description" ? &raise.description
                                                  : nullptr;
        if (into) *into = box(std::move(args.args[i]));
    }
    if (!raise.number) return fail("Err.Raise: the Number argument is required");
    return Stmt{std::move(raise)};
}

Result<Stmt> Parser::parse_set() {
    TRY_VOID(expect_ident("set"));
    std::string n = TRY(consume_ident());
    TRY_VOID(expect_tok(Tok::Eq));
    std::optional<ObjectExpr> object = TRY(parse_object_expr());
    if (object) return Stmt{Stmt::SetObject{std::move(n), std::move(*object)}};
    skip_rest_of_line();
    return Stmt{Stmt::Skipped{format_message(kSetSkipped, n), true}};
}

Result<Stmt> Parser::parse_msgbox() {
    TRY_VOID(expect_ident("msgbox"));
    Expr prompt = TRY(parse_expr());
    while (cur().is(Tok::Comma)) {
        advance();
        TRY(parse_expr());  // buttons, title, ...: read and dropped
    }
    return Stmt{Stmt::MsgBox{box(std::move(prompt))}};
}

Result<Stmt> Parser::parse_wsf_call_stmt() {
    Expr call = TRY(parse_wsf_expr());
    return Stmt{Stmt::Assign{"_", box(std::move(call))}};
}

}  // namespace morvane::parser
