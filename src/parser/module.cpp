// Module level: the top of the grammar. Collects Subs, Functions, Types and
// the module's variables and constants; module-level lines the system does
// not model are skipped, some with a warning.
//
//   program   = { line } Eof
//   line      = Option ... | Attribute ... | [modifier] (sub | function | type | const | declarators)
//             | Dim declarators | Const ... | other
//   sub       = "sub" name "(" params ")" eol body "end" "sub"
//   function  = "function" name "(" params ")" ["as" type] eol body "end" "function"
//   type      = "type" name eol { field } "end" "type"
//   params    = { {modifier} name ["(" ")"] ["as" type] ["=" expr] [","] }
#include "parser/mod.h"

#include <memory>

namespace morvane::parser {

namespace {

constexpr std::string_view kModuleWordSkipped =
    "Module-level statement starting with '{}' is not recognized and was skipped";
constexpr std::string_view kModuleLineSkipped = "Module-level statement is not recognized and was skipped";

// Consume tokens up to the line end, then the Newline itself.
void skip_line(Parser& p) {
    while (!p.cur().is(Tok::Newline) && !p.cur().is(Tok::Eof)) p.advance();
    if (p.cur().is(Tok::Newline)) p.advance();
}

bool is_modifier(const Tok& t) {
    return t.is_ident("private") || t.is_ident("public") || t.is_ident("friend") || t.is_ident("static") ||
           t.is_ident("global");
}

// After Private, Public or Global: a variable declarator (a name followed
// by As, a comma, a bound list or the line end) rather than a Declare,
// Enum, Event or WithEvents line.
bool starts_declarator(Parser& p) {
    if (!p.cur().is(Tok::Ident)) return false;
    const Tok& next = p.peek(1);
    return next.is_ident("as") || next.is(Tok::Comma) || next.is(Tok::LParen) || next.is(Tok::Newline) ||
           next.is(Tok::Eof);
}

// The statements of a Sub or Function up to its End line.
Result<Body> parse_proc_body(Parser& p, std::string_view kind) {
    std::vector<SpannedStmt> body;
    for (;;) {
        p.skip_nl();
        if (p.cur().is(Tok::Eof) || (p.is_ident("end") && p.is_ident_at(1, kind))) break;
        uint32_t start = p.cur_start();
        auto stmt = TRY(p.parse_stmt());
        if (stmt) body.push_back(SpannedStmt{std::move(*stmt), SourceSpan{start, p.cur_start()}});
    }
    TRY_VOID(p.consume_end_kw(kind));
    p.skip_nl();
    return Body(std::move(body));
}

struct Header {
    std::string name;
    std::vector<Param> params;
    std::string type_name;
};

Result<Header> parse_header(Parser& p, std::string_view kind, bool allow_as) {
    TRY_VOID(p.expect_ident(kind));
    Header h;
    h.name = TRY(p.consume_ident());
    TRY_VOID(p.expect_tok(Tok::LParen));
    h.params = TRY(p.parse_params());
    TRY_VOID(p.expect_tok(Tok::RParen));
    if (allow_as && p.is_ident("as")) {
        p.advance();
        h.type_name = TRY(p.consume_ident());
    }
    TRY_VOID(p.eat_eol());
    return h;
}

Result<TypeDef> parse_type_block(Parser& p) {
    TRY_VOID(p.expect_ident("type"));
    TypeDef def;
    def.name = TRY(p.consume_ident());
    TRY_VOID(p.eat_eol());
    for (;;) {
        p.skip_nl();
        if (p.cur().is(Tok::Eof) || (p.is_ident("end") && p.is_ident_at(1, "type"))) break;
        if (p.cur().is(Tok::Ident)) {
            TypeField field{p.advance().text, "variant"};
            if (p.is_ident("as")) {
                p.advance();
                field.type_name = TRY(p.consume_ident());
            }
            def.fields.push_back(std::move(field));
        }
        skip_line(p);
    }
    TRY_VOID(p.consume_end_kw("type"));
    p.skip_nl();
    return def;
}

}  // namespace

Result<std::vector<Param>> Parser::parse_params() {
    std::vector<Param> params;
    while (!cur().is(Tok::RParen) && !cur().is(Tok::Eof)) {
        Param param;
        // Passing modes and modifiers are words before the name, not names.
        while (cur().is(Tok::Ident) && peek(1).is(Tok::Ident) && !peek(1).is_ident("as")) {
            // clang-format off
            if (is_ident("optional")) param.is_optional = true;
            else if (is_ident("paramarray")) param.is_param_array = true;
            else if (is_ident("byval")) param.by_val = true;
            else if (!is_ident("byref")) break;
            // clang-format on
            advance();
        }
        param.name = TRY(consume_ident());
        if (cur().is(Tok::LParen) && peek(1).is(Tok::RParen)) {
            pos += 2;
            param.is_array = true;
        }
        if (is_ident("as")) {
            advance();
            param.type_name = TRY(consume_ident());
            // A qualified type such as Scripting.Dictionary.
            while (cur().is(Tok::Dot) && peek(1).is(Tok::Ident)) {
                advance();
                param.type_name += '.';
                param.type_name += advance().text;
            }
        }
        if (cur().is(Tok::Eq)) {
            advance();
            param.default_value = std::make_shared<const Expr>(TRY(parse_expr()));
        }
        params.push_back(std::move(param));
        if (cur().is(Tok::Comma)) advance();
    }
    return params;
}

Result<void> Parser::parse_module_var(std::vector<SpannedStmt>& vars, uint32_t start) {
    auto one = [&]() -> Result<Stmt> {
        if (is_ident("const")) return parse_const();
        std::vector<Stmt> decls = TRY(parse_declarators());
        return decls.size() == 1 ? std::move(decls[0]) : Stmt{Stmt::DimList{std::move(decls)}};
    };
    Stmt stmt = TRY(one());
    TRY_VOID(eat_eol());
    vars.push_back(SpannedStmt{std::move(stmt), SourceSpan{start, cur_start()}});
    return {};
}

Result<Program> Parser::parse_program() {
    Program prog;
    std::vector<SpannedStmt> vars;
    skip_nl();
    auto warn = [&](std::string message, uint32_t start) {
        skip_line(*this);
        prog.warnings.push_back(Warning{std::move(message), SourceSpan{start, cur_start()}});
    };
    for (;;) {
        const Tok& t = cur();
        if (t.is(Tok::Eof)) {
            prog.variables = Body(std::move(vars));
            return prog;
        }
        if (t.is(Tok::Newline)) {
            advance();
            continue;
        }
        uint32_t start = cur_start();
        if (t.is_ident("option")) {
            if (peek(1).is_ident("explicit")) prog.option_explicit = true;
            skip_line(*this);
        } else if (t.is_ident("attribute")) {
            advance();
            if (is_ident("vb_name") && peek(1).is(Tok::Eq)) {
                pos += 2;
                Tok v = advance();
                if (v.is(Tok::Str)) prog.name = std::move(v.text);
            }
            skip_line(*this);
        } else if (is_modifier(t)) {
            advance();
            if (is_ident("sub") || is_ident("function") || is_ident("type")) continue;
            // clang-format off
            if (starts_declarator(*this) || is_ident("const")) TRY_VOID(parse_module_var(vars, start));
            else if (cur().is(Tok::Newline)) advance();
            else if (!cur().is(Tok::Eof)) skip_line(*this);
            // clang-format on
        } else if (t.is_ident("sub")) {
            Header h = TRY(parse_header(*this, "sub", false));
            Body body = TRY(parse_proc_body(*this, "sub"));
            prog.subs.push_back(SubDef{std::move(h.name), std::move(h.params), std::move(body)});
        } else if (t.is_ident("function")) {
            Header h = TRY(parse_header(*this, "function", true));
            Body body = TRY(parse_proc_body(*this, "function"));
            prog.functions.push_back(
                FuncDef{std::move(h.name), std::move(h.params), std::move(body), std::move(h.type_name)});
        } else if (t.is_ident("type")) {
            prog.types.push_back(TRY(parse_type_block(*this)));
        } else if (t.is_ident("dim")) {
            advance();
            TRY_VOID(parse_module_var(vars, start));
        } else if (t.is_ident("const")) {
            TRY_VOID(parse_module_var(vars, start));
        } else if (t.is(Tok::Ident)) {
            warn(format_message(kModuleWordSkipped, t.text), start);
        } else {
            warn(std::string(kModuleLineSkipped), start);
        }
    }
}

}  // namespace morvane::parser
