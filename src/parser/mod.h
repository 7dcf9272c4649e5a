// Entry point of the VBA front end (module text to a Program or the first
// syntax-error message, raised word for word as SyntaxError), followed by
// the tokenizer and the Parser state that the unit's sources and its tests
// share. Nothing outside src/parser needs more than `parser::parse`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/ast.h"
#include "types/result.h"

namespace morvane::parser {

// Parse one VBA module. A message carries no line or position; `error_at`,
// when given, receives the character index (not byte) of the token where a
// syntax error was found.
Result<Program> parse(std::string_view text, size_t* error_at = nullptr);

// One A1 address as (column, row), column first; used for Sort's Key1 cell.
// "$" markers are accepted, as everywhere else.
std::optional<std::pair<uint32_t, uint32_t>> parse_cell_addr(std::string_view text);

// ---------------------------------------------------------------- tokens

struct Tok {
    // Variant order is fixed; Date was added after Eof.
    enum Kind : uint8_t {
        // clang-format off
        Int, Float, Str, Ident, Eq, Ne, Lt, Le, Gt, Ge, Plus, Minus, Star, Slash, Amp,
        Backslash, Caret, LParen, RParen, Comma, Dot, ColonEq, Colon, Newline, Eof,
        // clang-format on
        Date,  // #m/d/yyyy# or #yyyy-mm-dd#; `i` holds the day serial
    };
    Kind kind = Eof;
    int64_t i = 0;     // Int value, Date serial
    double f = 0;      // Float value
    std::string text;  // Str text (case kept), Ident text (lower case)

    bool is(Kind k) const { return kind == k; }
    bool is_ident(std::string_view word) const { return kind == Ident && text == word; }
    friend bool operator==(const Tok& a, const Tok& b);
};

// Debug text of a token as shown in messages: Int(5), Ident("then"), Newline.
std::string tok_debug(const Tok& t);
// A word that opens a block statement: Do, If, For, With, While, Select.
bool opens_block(const Tok& t);

struct Tokens {
    std::vector<Tok> toks;          // always ends with one Eof
    std::vector<SourceSpan> spans;  // same length; character indices
};

// Fails only on a date literal that holds a time of day or is no valid date;
// `error_at`, when given, receives that literal's character index.
Result<Tokens> tokenize(std::string_view text, size_t* error_at = nullptr);

// Bound on nesting, so that neither the parser nor whoever walks the tree
// exhausts the stack. Each level costs units: a parenthesised or argument
// expression and a block statement 4, an ElseIf and a prefix Not or minus 2,
// each operator of a chain 1 (a chain is as deep a tree as its length).
inline constexpr int kMaxDepth = 1024;
inline constexpr int kExprCost = 4;
inline constexpr int kBlockCost = 4;
inline constexpr int kPrefixCost = 2;

// ---------------------------------------------------------------- parser

class Parser {
public:
    explicit Parser(Tokens tokens);

    std::vector<Tok> toks;
    std::vector<SourceSpan> spans;
    std::optional<std::string> with_object;
    std::optional<std::string> with_range;
    size_t pos = 0;

    // token operations
    const Tok& cur() const { return toks[pos < toks.size() ? pos : toks.size() - 1]; }
    const Tok& peek(size_t k) const;
    uint32_t cur_start() const;
    Tok advance();
    Result<void> expect_tok(Tok::Kind k);
    Result<void> expect_ident(std::string_view word);
    Result<std::string> consume_ident();
    Result<std::string> consume_str();
    Result<void> consume_end_kw(std::string_view word);
    Result<void> eat_eol();
    void skip_nl();
    void skip_to_eol();
    bool is_ident(std::string_view word) const { return cur().is_ident(word); }
    bool is_ident_at(size_t k, std::string_view word) const { return peek(k).is_ident(word); }
    bool is_elseif() const;
    // Consume up to, not including, the line end (or a single-line Else).
    void skip_rest_of_line();
    bool at_line_end() const;

    // module level
    Result<Program> parse_program();
    // A module-level Const (the current token), or the declarators of a
    // Dim, Private, Public or Global line after its first word, which
    // starts at `start`, appended to the module variables `vars`.
    Result<void> parse_module_var(std::vector<SpannedStmt>& vars, uint32_t start);
    Result<std::vector<Param>> parse_params();

    // declarations
    Result<Stmt> parse_dim();
    Result<Stmt> parse_dim_declarator();
    // One or more declarators separated by commas.
    Result<std::vector<Stmt>> parse_declarators();
    // Static x As Long, a(3): the declarators after Static, as a static DimList.
    Result<Stmt> parse_static();
    Result<Stmt> parse_redim();
    Result<Stmt> parse_const();
    static bool is_vba_builtin_type(std::string_view name);

    // expressions
    Result<Expr> parse_expr();
    Result<Expr> parse_primary();
    // Precedence climbing over all binary levels from `min` up (1 = xor).
    Result<Expr> parse_level(int min);
    Result<Expr> parse_prefixed(int min);
    // The arguments up to the closing parenthesis; `by_value` gets bit i for
    // argument i written in parentheses of its own.
    Result<std::vector<Expr>> parse_arg_list(uint64_t* by_value = nullptr);
    // The arguments of a path step up to the closing parenthesis, each
    // positional or name:=value.
    Result<void> parse_step_args(ObjStep& step);
    // The argument starting here is wholly in parentheses, (x): VBA passes it
    // as a copy even to a ByRef parameter. `bare`: the line end may end it.
    bool arg_in_parens(bool bare) const;
    // The token after the parenthesis closing the one at peek(k), a
    // Tok::LParen; null when the line ends first.
    const Tok* after_parens(size_t k) const;

    // object-model expressions
    Result<Expr> parse_range_expr();
    Result<Expr> parse_cells_expr();
    Result<Expr> parse_rows_cols_count(std::string_view word, Expr prepared);
    Result<Expr> parse_sheet_key();
    Result<Expr> parse_sheet_cell_read();
    Result<Expr> parse_sheet_property_read(Expr sheet);
    Result<Expr> parse_activesheet_read();
    Result<Stmt> parse_activesheet_stmt();
    // After an object variable's name (current token: the dot).
    Result<Expr> parse_var_member_read(std::string name);
    Result<Stmt> parse_var_member_stmt(std::string name);
    // Words of the application's object model the dialect does not model
    // (ActiveWindow, Shapes, ...): their members are paths, which fail with a
    // message naming them, never record fields of a variable.
    static bool unmodeled_object(std::string_view name);
    Result<Expr> parse_workbook_qualified_read();
    Result<Expr> parse_wsf_expr();
    Result<Expr> parse_application_wsf_expr();
    Result<std::optional<ObjectExpr>> parse_object_expr();
    // An object-model path from its root (the current token) on: the root's
    // name with any parenthesised arguments, then every ".member(args)".
    Result<std::vector<ObjStep>> parse_obj_steps();
    // More ".member(args)" steps after `steps`.
    Result<std::vector<ObjStep>> parse_obj_tail(std::vector<ObjStep> steps);
    // A path read in an expression.
    Result<Expr> parse_obj_path_expr();
    // The rest of a statement on a path: "= value" or method arguments.
    Result<Stmt> parse_obj_stmt_rest(std::vector<ObjStep> steps);
    // A whole statement that starts with a path.
    Result<Stmt> parse_obj_stmt();
    // The fixed forms of the object model first (`old`), then a path.
    Result<Expr> parse_object_read(Result<Expr> (Parser::*old)());
    Result<Stmt> parse_object_stmt(Result<Stmt> (Parser::*old)());
    Result<std::optional<ObjectExpr>> parse_object_suffix(ObjectExpr base);

    // object-model statements
    Result<Stmt> parse_range_stmt();
    Result<Stmt> parse_cell_write_stmt();
    Result<Stmt> parse_application_stmt();
    Result<Stmt> parse_sheets_stmt();
    Result<Stmt> parse_sheet_property_write(Expr sheet);
    Result<Stmt> parse_workbook_qualified_stmt();

    // statements
    Result<std::optional<Stmt>> parse_stmt();
    Result<Stmt> parse_ident_stmt();
    Result<Stmt> parse_exit();
    Result<Stmt> parse_on_error();
    Result<Stmt> parse_call_stmt();
    Result<Stmt> parse_set();
    Result<Stmt> parse_msgbox();
    Result<Stmt> parse_wsf_call_stmt();

    // conditional blocks
    Result<Stmt> parse_if();
    Result<Body> parse_elseif_chain();
    Result<SpannedStmt> parse_single_line_if_branch();
    Result<Stmt> parse_select_case();
    Result<CaseMatch> parse_case_match();

    // loops and statement lists
    Result<Body> parse_stmts(bool (*stop)(const Parser&));
    Result<Stmt> parse_for();
    Result<Stmt> parse_for_each();
    Result<Stmt> parse_do_loop();
    Result<LoopCond> parse_do_cond();
    Result<Stmt> parse_while_wend();

    // With blocks
    Result<Stmt> parse_with();
    Result<Body> parse_with_body();
    Result<Stmt> parse_with_dotted();

    // Nesting guard shared by expressions and blocks: runs f `units` deeper.
    Result<void> enter(int units);
    void leave(int units) { depth_ -= units; }
    // Where a reading that may be abandoned starts, and going back there.
    std::pair<size_t, int> mark() const { return {pos, depth_}; }
    void reset(std::pair<size_t, int> m) { pos = m.first, depth_ = m.second; }
    template <class F>
    auto nested(int units, F f) -> decltype(f()) {
        if (auto r = enter(units); !r) return std::unexpected(std::move(r).error());
        auto out = f();
        leave(units);
        return out;
    }

private:
    Result<Stmt> parse_simple_stmt();
    Result<Stmt> parse_bare_word(std::string name);
    // `root.a.b = value` with `first` (a) already read: a field or member-path
    // assignment; without "=" the line is a skipped read.
    Result<Stmt> parse_member_path_stmt(std::string root, std::string first);
    bool try_bare_args(Stmt::Call& call);
    Result<void> parse_call_arg(Stmt::Call& call);
    Result<void> parse_call_args(Stmt::Call& call, bool bare);
    Result<Stmt> parse_erase();
    Result<Stmt> parse_err_method();
    Result<Stmt> parse_branch_stmt();
    Result<Expr> parse_name_primary();
    Result<Expr> parse_dotted_primary();
    Result<Expr> parse_member_path(std::string root, std::string first);
    Result<Expr> parse_with_relative_read();
    Result<Stmt> parse_with_cells_or_range_line();
    Result<Stmt> parse_range_stmt_at(std::string addr);
    Result<void> parse_sort_args(Stmt::RangeSort& sort);
    // A name := value argument kept by the statement, and where its value goes.
    struct NamedArg {
        std::string_view name;
        Box<Expr>* value;
    };
    // name := value pairs up to the line end; each name of `kept` keeps its
    // last value, the others are read past.
    Result<void> parse_named_args(std::initializer_list<NamedArg> kept);
    // An optional first argument written in place, into `first`, then the
    // named ones as parse_named_args reads them.
    Result<void> parse_first_then_named(Box<Expr>& first, std::initializer_list<NamedArg> kept);
    // The Shift argument of Delete and Insert, named or first; the rest of
    // the line is read past.
    Result<Box<Expr>> parse_shift_arg();

    int depth_ = 0;
    // Set while a branch of a single-line If is read: skips stop at Else and
    // leave the line end for the If.
    bool single_line_ = false;
    // Set when a block If met inside a single-line branch fails, so that the
    // branch skips that If instead of failing.
    bool block_if_in_branch_ = false;
    // The sheet of the innermost With Sheets("s") block, as written.
    std::optional<Expr> with_sheet_key_;
    // Set while the body of With Sheets("s") is read and no inner With Range
    // or With variable block is: .Cells and .Range there name cells of that
    // sheet, not of an enclosing block's range or variable.
    bool with_sheet_ = false;
};

}  // namespace morvane::parser
