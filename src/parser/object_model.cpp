// The workbook object model: reads of Range, Cells, Rows/Columns.Count and
// sheet-qualified cells, WorksheetFunction calls, the object expressions of
// Set, and the Range, Cells, Application and sheet statements.
//
//   range-read  = "range" "(" Str ")" [ "." ("value" | "offset" "(" e "," e ")" "." "value") ]
//   cells-read  = "cells" ( "." "find" "(" {name ":=" e [","]} ")" "." p
//                         | "(" e "," e ")" "." ("value" | "end" "(" dir ")" "." p) )
//   sheet-read  = sheet "." ("cells" "(" e "," e ")" | "range" "(" Str ")") "." "value"
//   sheet       = ("sheets" | "worksheets") "(" key ")" | "activesheet" | var
//               | "workbooks" "(" key ")" "." ("worksheets" | "sheets") "(" key ")"
//   object      = ("range" "(" Str ")" | "union" "(" object {"," object} ")" | name)
//                 { "." ("areas" "(" e ")" | "specialcells" "(" visible ")") }
#include <cstddef>
#include <variant>

#include "parser/mod.h"
#include "types/address.h"
#include "types/text.h"

namespace morvane::parser {

namespace {

constexpr std::string_view kUnknownDirection = "unknown xl_dir: {}";
constexpr std::string_view kAfterRange = "unexpected property after Range(...): {}";
constexpr std::string_view kAfterCells = "unexpected property after Cells(...): {}";
constexpr std::string_view kExpectedSheet = "expected a sheet name or index, got {}";
constexpr std::string_view kAfterSheet = "unexpected property after sheet reference: {}";
constexpr std::string_view kExpectedSheetsAfterWorkbooks =
    "expected Worksheets(...)/Sheets(...) after Workbooks(...), got {}";
constexpr std::string_view kEntireMemberSkipped = "EntireRow/EntireColumn.{} is not implemented";
constexpr std::string_view kRangeMemberSkipped = "Range property/method '{}' is not implemented";
constexpr std::string_view kSheetsMemberSkipped = "Sheets.{} is not implemented";
constexpr std::string_view kSheetMemberSkipped = "Sheets(...).{} is not implemented";
// Worded as the interpreter words it: the message a line gets when it is not
// even readable as a path.
constexpr std::string_view kNotModeled = "{} member '{}' is not supported";
constexpr std::string_view kWorkbooksAlone =
    "Workbooks(...) is only supported followed by .Worksheets(...)/.Sheets(...)";

Expr binary(BinOp op, Expr lhs, Expr rhs) { return Expr{Expr::Binary{op, box(std::move(lhs)), box(std::move(rhs))}}; }

Result<EndDirection> end_direction(const std::string& d) {
    if (d == "xlup") return EndDirection::Up;
    if (d == "xldown") return EndDirection::Down;
    if (d == "xltoleft") return EndDirection::ToLeft;
    if (d == "xltoright") return EndDirection::ToRight;
    return fail(format_message(kUnknownDirection, d));
}

// "(" e "," e ")": the row and column of Cells(r, c).
Result<std::pair<Expr, Expr>> parse_row_col(Parser& p) {
    TRY_VOID(p.expect_tok(Tok::LParen));
    Expr row = TRY(p.parse_expr());
    TRY_VOID(p.expect_tok(Tok::Comma));
    Expr col = TRY(p.parse_expr());
    TRY_VOID(p.expect_tok(Tok::RParen));
    return std::pair{std::move(row), std::move(col)};
}

// "(" row "," col ")" "." "value": the value of Cells(...) or Offset(...).
Result<std::pair<Expr, Expr>> parse_row_col_value(Parser& p) {
    auto row_col = TRY(parse_row_col(p));
    TRY_VOID(p.expect_tok(Tok::Dot));
    TRY_VOID(p.expect_ident("value"));
    return row_col;
}

// "(" Str ")": the literal address of Range(...), as written.
Result<std::string> parse_addr_arg(Parser& p) {
    TRY_VOID(p.expect_tok(Tok::LParen));
    std::string addr = TRY(p.consume_str());
    TRY_VOID(p.expect_tok(Tok::RParen));
    return addr;
}

// ---- With Range relative addressing

// A cell reference on the sheet ("$" markers allowed).
std::optional<CellPos> strict_cell(std::string_view s) {
    auto cell = morvane_types::parse_cell_addr(s);
    if (!cell || !on_sheet(*cell)) return std::nullopt;
    return cell;
}

// The first cell of a With Range address and its sheet prefix ("Data!").
struct WithBase {
    uint32_t row = 1;
    uint32_t col = 1;
    std::string prefix;
    std::string sheet;  // the sheet name of the prefix, quotes removed
};

std::optional<WithBase> with_base(std::string_view addr) {
    WithBase b;
    size_t bang = addr.rfind('!');
    if (bang != std::string_view::npos) {
        b.prefix = std::string(addr.substr(0, bang + 1));
        std::string_view sheet = addr.substr(0, bang);
        if (sheet.size() >= 2 && sheet.front() == '\'' && sheet.back() == '\'')
            sheet = sheet.substr(1, sheet.size() - 2);
        b.sheet = std::string(sheet);
        addr = addr.substr(bang + 1);
    }
    addr = addr.substr(0, addr.find(','));
    addr = addr.substr(0, addr.find(':'));
    auto cell = strict_cell(text::trim(addr));
    if (!cell) return std::nullopt;
    b.row = cell->row;
    b.col = cell->col;
    return b;
}

// An address relative to a With range, moved onto the sheet; a text that
// is not made of plain cell references (a defined name) is kept as is.
std::string shift_address(std::string_view addr, const WithBase& base) {
    if (addr.find('!') != std::string_view::npos) return std::string(addr);
    std::string out = base.prefix;
    size_t i = 0;
    while (i <= addr.size()) {
        size_t j = addr.find_first_of(",:", i);
        if (j == std::string_view::npos) j = addr.size();
        auto cell = strict_cell(text::trim(addr.substr(i, j - i)));
        if (!cell) return std::string(addr);
        uint64_t row = uint64_t{cell->row} + base.row - 1;
        uint64_t col = uint64_t{cell->col} + base.col - 1;
        if (row > kMaxRow || col > kMaxCol) return std::string(addr);
        out += morvane_types::column_letters(static_cast<uint32_t>(col)) + std::to_string(row);
        if (j < addr.size()) out += addr[j];
        i = j + 1;
    }
    return out;
}

// e + k, or e alone when k is 0.
Expr offset_by(Expr e, uint32_t k) {
    if (k == 0) return e;
    return binary(BinOp::Add, std::move(e), Expr{Expr::Int{static_cast<int64_t>(k)}});
}

// Members the interpreter knows on ranges, sheets and the sheet collection.
bool modeled_member(std::string_view m) {
    for (std::string_view k :
         {"value",   "formula",       "text",      "count",     "row",    "column",   "address",      "rows",
          "columns", "offset",        "cells",     "range",     "item",   "resize",   "entirerow",    "entirecolumn",
          "end",     "areas",         "worksheet", "parent",    "name",   "index",    "activate",     "select",
          "clear",   "clearcontents", "delete",    "insert",    "copy",   "paste",    "pastespecial", "sort",
          "protect", "unprotect",     "add",       "usedrange", "value2", "calculate"})
        if (k == m) return true;
    return false;
}

// The first member of a path statement the interpreter does not model, if any.
std::optional<std::string> unmodeled_member(const Stmt& s) {
    auto call = s.get_if<Stmt::ObjCall>();
    if (!call) return std::nullopt;
    for (size_t i = 1; i < call->steps.size(); ++i)
        if (!modeled_member(call->steps[i].name)) return call->steps[i].name;
    return std::nullopt;
}

}  // namespace

Stmt pass_over_formatting(Stmt s) {
    if (auto m = unmodeled_member(s); m && passable_member(*m))
        return Stmt{Stmt::Skipped{format_message(kRangeMemberSkipped, *m)}};
    return s;
}

// ---------------------------------------------------------------- paths

Result<std::vector<ObjStep>> Parser::parse_obj_steps() {
    std::vector<ObjStep> steps;
    ObjStep root;
    root.name = TRY(consume_ident());
    if (cur().is(Tok::LParen)) {
        advance();
        root.args = TRY(parse_arg_list());
        TRY_VOID(expect_tok(Tok::RParen));
        root.called = true;
    }
    steps.push_back(std::move(root));
    return parse_obj_tail(std::move(steps));
}

Result<void> Parser::parse_step_args(ObjStep& step) {
    if (cur().is(Tok::RParen)) return {};
    for (;;) {
        std::string name;
        if (cur().is(Tok::Ident) && peek(1).is(Tok::ColonEq)) {
            name = advance().text;
            advance();
        }
        if (!name.empty() || !step.arg_names.empty()) {
            step.arg_names.resize(step.args.size());
            step.arg_names.push_back(std::move(name));
        }
        step.args.push_back(TRY(parse_expr()));
        if (!cur().is(Tok::Comma)) return {};
        advance();
    }
}

Result<std::vector<ObjStep>> Parser::parse_obj_tail(std::vector<ObjStep> steps) {
    while (cur().is(Tok::Dot)) {
        advance();
        // A dot with no member after it is outside the grammar.
        if (!cur().is(Tok::Ident)) TRY(consume_ident());
        ObjStep step;
        step.name = advance().text;
        if (cur().is(Tok::LParen)) {
            advance();
            TRY_VOID(parse_step_args(step));
            TRY_VOID(expect_tok(Tok::RParen));
            step.called = true;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

Result<Expr> Parser::parse_obj_path_expr() {
    std::vector<ObjStep> steps = TRY(parse_obj_steps());
    return Expr{Expr::ObjPath{std::move(steps)}};
}

Result<Stmt> Parser::parse_obj_stmt_rest(std::vector<ObjStep> steps) {
    Stmt::ObjCall call{std::move(steps), nullptr, {}};
    if (cur().is(Tok::Eq)) {
        advance();
        call.value = box(TRY(parse_expr()));
        return Stmt{std::move(call)};
    }
    while (!at_line_end()) {
        MethodArg arg;
        if (cur().is(Tok::Ident) && peek(1).is(Tok::ColonEq)) {
            arg.name = advance().text;
            advance();
        } else if (cur().is(Tok::Comma)) {
            advance();
            call.args.push_back(std::move(arg));
            continue;
        }
        arg.value.push_back(TRY(parse_expr()));
        call.args.push_back(std::move(arg));
        if (!cur().is(Tok::Comma)) break;
        advance();
    }
    return Stmt{std::move(call)};
}

Result<Stmt> Parser::parse_obj_stmt() {
    std::vector<ObjStep> steps = TRY(parse_obj_steps());
    return pass_over_formatting(TRY(parse_obj_stmt_rest(std::move(steps))));
}

namespace {

// Runs `old` from the current position; when it fails, the same tokens are
// read again as a path, which the interpreter resolves when it runs (and
// where a member it does not model fails). The old reading's message stands
// when the path does not read either.
template <class T, class Old, class Path>
Result<T> or_path(Parser& p, Old old, Path path) {
    const auto start = p.mark();
    Result<T> first = old();
    if (first) return first;
    const auto after = p.mark();
    p.reset(start);
    Result<T> second = path();
    if constexpr (std::is_same_v<T, Stmt>) {
        if (second && p.at_line_end()) return second;
    } else {
        if (second) return second;
    }
    p.reset(after);
    return first;
}

}  // namespace

bool passable_member(std::string_view m) {
    // clang-format off
    for (std::string_view k : {
             // formatting
             "font", "interior", "borders", "borderaround", "numberformat", "numberformatlocal", "style",
             "horizontalalignment", "verticalalignment", "wraptext", "shrinktofit", "indentlevel", "addindent",
             "orientation", "readingorder", "columnwidth", "rowheight", "autofit", "formatconditions", "clearformats",
             "tab", "standardwidth",
             // the screen and printing
             "show", "printout", "printpreview", "pagesetup", "displaypagebreaks", "hpagebreaks", "vpagebreaks",
             "resetallpagebreaks"})
        // clang-format on
        if (k == m) return true;
    return false;
}

Result<Expr> Parser::parse_object_read(Result<Expr> (Parser::*old)()) {
    return or_path<Expr>(*this, [&] { return (this->*old)(); }, [&] { return parse_obj_path_expr(); });
}

Result<Stmt> Parser::parse_object_stmt(Result<Stmt> (Parser::*old)()) {
    return or_path<Stmt>(*this, [&] { return (this->*old)(); }, [&] { return parse_obj_stmt(); });
}

// ---------------------------------------------------------------- reads

Result<Expr> Parser::parse_range_expr() {
    TRY_VOID(expect_ident("range"));
    std::string addr = text::to_upper(TRY(parse_addr_arg(*this)));
    if (!cur().is(Tok::Dot)) {
        std::vector<Expr> args;
        args.push_back(Expr{Expr::Str{std::move(addr)}});
        return Expr{Expr::Call{"range", std::move(args)}};
    }
    advance();
    std::string p = TRY(consume_ident());
    if (p == "value") return Expr{Expr::RangeValue{std::move(addr)}};
    if (p == "offset") {
        auto [r, c] = TRY(parse_row_col_value(*this));
        return Expr{Expr::RangeOffsetValue{std::move(addr), box(std::move(r)), box(std::move(c))}};
    }
    return fail(format_message(kAfterRange, p));
}

Result<Expr> Parser::parse_cells_expr() {
    TRY_VOID(expect_ident("cells"));
    if (cur().is(Tok::Dot)) {
        advance();
        TRY_VOID(expect_ident("find"));
        TRY_VOID(expect_tok(Tok::LParen));
        Expr what{Expr::Str{""}};
        while (!cur().is(Tok::RParen) && !cur().is(Tok::Eof)) {
            std::string name = TRY(consume_ident());
            TRY_VOID(expect_tok(Tok::ColonEq));
            Expr value = TRY(parse_expr());
            if (name == "what") what = std::move(value);
            if (cur().is(Tok::Comma)) advance();
        }
        TRY_VOID(expect_tok(Tok::RParen));
        TRY_VOID(expect_tok(Tok::Dot));
        std::string p = TRY(consume_ident());
        return Expr{Expr::CellsFind{box(std::move(what)), p == "row"}};
    }
    auto [row, col] = TRY(parse_row_col(*this));
    TRY_VOID(expect_tok(Tok::Dot));
    std::string p = TRY(consume_ident());
    if (p == "value") return Expr{Expr::CellsValue{box(std::move(row)), box(std::move(col))}};
    if (p == "end") {
        TRY_VOID(expect_tok(Tok::LParen));
        EndDirection dir = TRY(end_direction(TRY(consume_ident())));
        TRY_VOID(expect_tok(Tok::RParen));
        TRY_VOID(expect_tok(Tok::Dot));
        std::string q = TRY(consume_ident());
        return Expr{Expr::CellsEndPosition{box(std::move(row)), box(std::move(col)), dir, q != "row"}};
    }
    return fail(format_message(kAfterCells, p));
}

Result<Expr> Parser::parse_rows_cols_count(std::string_view word, Expr prepared) {
    TRY_VOID(expect_ident(word));
    TRY_VOID(expect_tok(Tok::Dot));
    TRY_VOID(expect_ident("count"));
    return prepared;
}

Result<Expr> Parser::parse_sheet_key() {
    if (cur().is(Tok::Int)) return Expr{Expr::Int{advance().i}};
    if (cur().is(Tok::Str)) return Expr{Expr::Str{advance().text}};
    return fail(format_message(kExpectedSheet, tok_debug(cur())));
}

namespace {

// "(" key ")" after Sheets, Worksheets or Workbooks.
Result<Expr> parse_key_arg(Parser& p) {
    TRY_VOID(p.expect_tok(Tok::LParen));
    Expr key = TRY(p.parse_sheet_key());
    TRY_VOID(p.expect_tok(Tok::RParen));
    return key;
}

}  // namespace

Result<Expr> Parser::parse_sheet_cell_read() {
    TRY(consume_ident());
    Expr key = TRY(parse_key_arg(*this));
    return parse_sheet_property_read(std::move(key));
}

Result<Expr> Parser::parse_sheet_property_read(Expr sheet) {
    TRY_VOID(expect_tok(Tok::Dot));
    std::string p = TRY(consume_ident());
    if (p == "cells") {
        auto [row, col] = TRY(parse_row_col_value(*this));
        return Expr{Expr::SheetCellsValue{box(std::move(sheet)), box(std::move(row)), box(std::move(col))}};
    }
    if (p == "range") {
        std::string addr = text::to_upper(TRY(parse_addr_arg(*this)));
        TRY_VOID(expect_tok(Tok::Dot));
        TRY_VOID(expect_ident("value"));
        return Expr{Expr::SheetRangeValue{box(std::move(sheet)), std::move(addr)}};
    }
    return fail(format_message(kAfterSheet, p));
}

Result<Expr> Parser::parse_workbook_qualified_read() {
    TRY_VOID(expect_ident("workbooks"));
    Expr book = TRY(parse_key_arg(*this));
    TRY_VOID(expect_tok(Tok::Dot));
    if (!is_ident("worksheets") && !is_ident("sheets"))
        return fail(format_message(kExpectedSheetsAfterWorkbooks, tok_debug(cur())));
    advance();
    Expr sheet = TRY(parse_key_arg(*this));
    return parse_sheet_property_read(Expr{Expr::WorkbookSheet{box(std::move(book)), box(std::move(sheet))}});
}

Result<Expr> Parser::parse_wsf_expr() {
    if (is_ident("worksheetfunction")) advance();
    TRY_VOID(expect_tok(Tok::Dot));
    std::string f = TRY(consume_ident());
    TRY_VOID(expect_tok(Tok::LParen));
    std::vector<Expr> args = TRY(parse_arg_list());
    TRY_VOID(expect_tok(Tok::RParen));
    return Expr{Expr::Call{format_message("wsf_{}", f), std::move(args)}};
}

Result<Expr> Parser::parse_application_wsf_expr() {
    TRY_VOID(expect_ident("application"));
    TRY_VOID(expect_tok(Tok::Dot));
    TRY_VOID(expect_ident("worksheetfunction"));
    return parse_wsf_expr();
}

// .Cells(...) or .Range(...) read inside a With Range block (current token:
// the dot), relative to the first cell of the With range.
Result<Expr> Parser::parse_with_relative_read() {
    advance();
    bool cells = is_ident("cells");
    Expr e = TRY(cells ? parse_cells_expr() : parse_range_expr());
    auto base = with_base(*with_range);
    if (!base) return e;
    if (auto* v = std::get_if<Expr::CellsValue>(&e.node)) {
        if (!base->sheet.empty())
            return Expr{Expr::SheetCellsValue{box(Expr{Expr::Str{base->sheet}}),
                                              box(offset_by(std::move(*v->row), base->row - 1)),
                                              box(offset_by(std::move(*v->col), base->col - 1))}};
        *v->row = offset_by(std::move(*v->row), base->row - 1);
        *v->col = offset_by(std::move(*v->col), base->col - 1);
    } else if (auto* v = std::get_if<Expr::CellsEndPosition>(&e.node)) {
        *v->row = offset_by(std::move(*v->row), base->row - 1);
        *v->col = offset_by(std::move(*v->col), base->col - 1);
    } else if (auto* v = std::get_if<Expr::RangeValue>(&e.node)) {
        v->addr = text::to_upper(shift_address(v->addr, *base));
    } else if (auto* v = std::get_if<Expr::RangeOffsetValue>(&e.node)) {
        v->addr = text::to_upper(shift_address(v->addr, *base));
    } else if (auto* v = std::get_if<Expr::Call>(&e.node)) {
        auto& s = std::get<Expr::Str>(v->args[0].node);
        s.value = text::to_upper(shift_address(s.value, *base));
    }
    return e;
}

// ---------------------------------------------------------------- Set operands

Result<std::optional<ObjectExpr>> Parser::parse_object_expr() {
    if (!cur().is(Tok::Ident)) return std::optional<ObjectExpr>{};
    // Range("literal") with nothing after it but Areas or SpecialCells keeps
    // its fixed form; any other path (Worksheets("Data"), r.Offset(1, 0),
    // Sheets.Add, ActiveCell, ...) is resolved when the Set runs.
    const bool fixed_range = is_ident("range") && peek(1).is(Tok::LParen) && peek(2).is(Tok::Str) &&
                             peek(3).is(Tok::RParen) &&
                             (!peek(4).is(Tok::Dot) || is_ident_at(5, "areas") || is_ident_at(5, "specialcells"));
    const bool plain_name = !is_ident("union") && !is_ident("range") && !peek(1).is(Tok::LParen) &&
                            (!peek(1).is(Tok::Dot) || is_ident_at(2, "areas") || is_ident_at(2, "specialcells"));
    if (!fixed_range && !plain_name && !is_ident("union")) {
        std::vector<ObjStep> steps = TRY(parse_obj_steps());
        return std::optional<ObjectExpr>{ObjectExpr{ObjectExpr::Path{std::move(steps)}}};
    }
    if (is_ident("range")) {
        advance();
        std::string addr = text::to_upper(TRY(parse_addr_arg(*this)));
        return parse_object_suffix(ObjectExpr{ObjectExpr::Range{std::move(addr)}});
    }
    if (is_ident("union")) {
        advance();
        TRY_VOID(expect_tok(Tok::LParen));
        std::vector<ObjectExpr> parts;
        for (;;) {
            auto part = TRY(nested(kExprCost, [&] { return parse_object_expr(); }));
            if (!part) return std::optional<ObjectExpr>{};
            parts.push_back(std::move(*part));
            if (cur().is(Tok::Comma)) {
                advance();
                continue;
            }
            TRY_VOID(expect_tok(Tok::RParen));
            break;
        }
        return parse_object_suffix(ObjectExpr{ObjectExpr::Union{std::move(parts)}});
    }
    std::string name = advance().text;
    if (cur().is(Tok::LParen)) return std::optional<ObjectExpr>{};
    return parse_object_suffix(ObjectExpr{ObjectExpr::Var{std::move(name)}});
}

Result<std::optional<ObjectExpr>> Parser::parse_object_suffix(ObjectExpr base) {
    while (cur().is(Tok::Dot) && (is_ident_at(1, "areas") || is_ident_at(1, "specialcells"))) {
        bool areas = is_ident_at(1, "areas");
        pos += 2;
        TRY_VOID(expect_tok(Tok::LParen));
        if (areas) {
            Expr index = TRY(parse_expr());
            TRY_VOID(expect_tok(Tok::RParen));
            base = ObjectExpr{ObjectExpr::Areas{box(std::move(base)), box(std::move(index))}};
            continue;
        }
        if ((cur().is(Tok::Int) && cur().i == 12) || is_ident("xlcelltypevisible")) {
            advance();
            TRY_VOID(expect_tok(Tok::RParen));
            base = ObjectExpr{ObjectExpr::SpecialCellsVisible{box(std::move(base))}};
            continue;
        }
        while (!cur().is(Tok::RParen) && !cur().is(Tok::Eof)) advance();
        if (cur().is(Tok::RParen)) advance();
        return std::optional<ObjectExpr>{};
    }
    return std::optional<ObjectExpr>{std::move(base)};
}

// ---------------------------------------------------------------- statements

Result<void> Parser::parse_named_args(std::initializer_list<NamedArg> kept) {
    while (!at_line_end()) {
        if (cur().is(Tok::Ident) && peek(1).is(Tok::ColonEq)) {
            std::string name = advance().text;
            advance();
            Expr v = TRY(parse_expr());
            for (const NamedArg& k : kept)
                if (name == k.name) *k.value = box(std::move(v));
            if (cur().is(Tok::Comma)) advance();
        } else {
            advance();
        }
    }
    return {};
}

Result<void> Parser::parse_first_then_named(Box<Expr>& first, std::initializer_list<NamedArg> kept) {
    if (!at_line_end() && !(cur().is(Tok::Ident) && peek(1).is(Tok::ColonEq))) {
        first = box(TRY(parse_expr()));
        if (cur().is(Tok::Comma)) advance();
    }
    return parse_named_args(kept);
}

Result<Box<Expr>> Parser::parse_shift_arg() {
    Box<Expr> shift;
    if (at_line_end()) return shift;
    // Written first, a later Shift:= does not replace it.
    if (cur().is(Tok::Ident) && peek(1).is(Tok::ColonEq)) {
        TRY(parse_named_args({{"shift", &shift}}));
    } else {
        shift = box(TRY(parse_expr()));
        TRY(parse_named_args({}));
    }
    return shift;
}

Result<Stmt> Parser::parse_range_stmt() {
    TRY_VOID(expect_ident("range"));
    std::string addr = TRY(parse_addr_arg(*this));
    return parse_range_stmt_at(std::move(addr));
}

// The member of Range("addr") (current token: the dot after it).
Result<Stmt> Parser::parse_range_stmt_at(std::string addr) {
    const auto dot = mark();
    TRY_VOID(expect_tok(Tok::Dot));
    std::string m = TRY(consume_ident());
    if (m == "value" || m == "formula") {
        TRY_VOID(expect_tok(Tok::Eq));
        Expr value = TRY(parse_expr());
        return Stmt{Stmt::RangeWrite{std::move(addr), box(std::move(value)), m == "formula"}};
    }
    // Computes the formulas of the range: a call by a name no procedure can
    // take, with the address as its argument.
    if (m == "calculate" && at_line_end()) {
        std::vector<Expr> args;
        args.push_back(Expr{Expr::Str{std::move(addr)}});
        return Stmt{Stmt::Call{"range.calculate", std::move(args), kNoSlot, true, {}, {}}};
    }
    if (m == "copy") {
        std::optional<std::string> dest;
        if (is_ident("destination")) {
            advance();
            TRY_VOID(expect_tok(Tok::ColonEq));
            TRY_VOID(expect_ident("range"));
            dest = TRY(parse_addr_arg(*this));
        }
        return Stmt{Stmt::RangeCopy{std::move(addr), std::move(dest)}};
    }
    if (m == "paste") return Stmt{Stmt::RangePaste{std::move(addr), nullptr}};
    if (m == "pastespecial") {
        // Paste is the first argument, named or not; Transpose is named.
        Box<Expr> what, transpose;
        TRY_VOID(parse_first_then_named(what, {{"paste", &what}, {"transpose", &transpose}}));
        return Stmt{Stmt::RangePaste{std::move(addr), std::move(transpose), std::move(what)}};
    }
    if (m == "clear" || m == "clearcontents") return Stmt{Stmt::RangeClear{std::move(addr), m == "clearcontents"}};
    if (m == "delete") return Stmt{Stmt::RangeDelete{std::move(addr), {}, 0, TRY(parse_shift_arg())}};
    if (m == "insert") return Stmt{Stmt::RangeInsert{std::move(addr), {}, 0, TRY(parse_shift_arg())}};
    if (m == "offset") {
        auto [r, c] = TRY(parse_row_col_value(*this));
        TRY_VOID(expect_tok(Tok::Eq));
        Expr value = TRY(parse_expr());
        return Stmt{
            Stmt::RangeOffsetWrite{text::to_upper(addr), box(std::move(r)), box(std::move(c)), box(std::move(value))}};
    }
    if (m == "name") {
        TRY_VOID(expect_tok(Tok::Eq));
        std::string name = TRY(consume_str());
        return Stmt{Stmt::RangeName{std::move(addr), std::move(name)}};
    }
    if (m == "entirerow" || m == "entirecolumn") {
        TRY_VOID(expect_tok(Tok::Dot));
        std::string n = TRY(consume_ident());
        const char entire = m == "entirerow" ? 'r' : 'c';
        if (n == "clear" || n == "clearcontents")
            return Stmt{Stmt::RangeClear{std::move(addr), n == "clearcontents", {}, entire}};
        if (n == "delete") return Stmt{Stmt::RangeDelete{std::move(addr), {}, entire, TRY(parse_shift_arg())}};
        if (n == "insert") return Stmt{Stmt::RangeInsert{std::move(addr), {}, entire, TRY(parse_shift_arg())}};
        if (passable_member(n)) {
            skip_rest_of_line();
            return Stmt{Stmt::Skipped{format_message(kEntireMemberSkipped, n)}};
        }
    } else if (passable_member(m)) {
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{format_message(kRangeMemberSkipped, m)}};
    }
    // Any other member is the path's: it runs if the interpreter knows it
    // and fails naming it if not.
    reset(dot);
    return parse_range_path(std::move(addr));
}

// Range("addr") followed by members (current token: the dot after it), as a path.
Result<Stmt> Parser::parse_range_path(std::string addr) {
    std::vector<ObjStep> steps(1);
    steps[0].name = "range";
    steps[0].args.push_back(Expr{Expr::Str{std::move(addr)}});
    steps[0].called = true;
    return pass_over_formatting(TRY(parse_obj_stmt_rest(TRY(parse_obj_tail(std::move(steps))))));
}

Result<Stmt> Parser::parse_cell_write_stmt() {
    TRY_VOID(expect_ident("cells"));
    auto [row, col] = TRY(parse_row_col_value(*this));
    TRY_VOID(expect_tok(Tok::Eq));
    Expr value = TRY(parse_expr());
    return Stmt{Stmt::CellWrite{box(std::move(row)), box(std::move(col)), box(std::move(value))}};
}

Result<Stmt> Parser::parse_application_stmt() {
    const auto start = mark();
    TRY_VOID(expect_ident("application"));
    TRY_VOID(expect_tok(Tok::Dot));
    std::string p = TRY(consume_ident());
    if (p == "calculation") {
        TRY_VOID(expect_tok(Tok::Eq));
        std::string v = TRY(consume_ident());
        bool automatic = v.find("automatic") != std::string::npos;
        return Stmt{Stmt::SetCalculation{automatic ? CalcMode::Automatic : CalcMode::Manual}};
    }
    if (p == "worksheetfunction") {
        --pos;  // parse_wsf_call_stmt starts at the word or at the dot after it
        return parse_wsf_call_stmt();
    }
    // The application's own Calculate: a name no procedure of the module can take.
    if (p == "calculate" && at_line_end()) return Stmt{Stmt::Call{"application.calculate", {}, kNoSlot, true, {}, {}}};
    // Application.Goto ..., Application.ActiveSheet.Range(...) = ...: a path.
    if (!cur().is(Tok::Eq)) {
        reset(start);
        return parse_obj_stmt();
    }
    advance();
    Expr value = TRY(parse_expr());
    return Stmt{Stmt::ApplicationSet{std::move(p), box(std::move(value))}};
}

Result<Stmt> Parser::parse_sheets_stmt() {
    TRY(consume_ident());
    if (cur().is(Tok::Dot)) {
        advance();
        std::string m = TRY(consume_ident());
        if (m == "add" && at_line_end()) return Stmt{Stmt::AddSheet{}};
        if (passable_member(m)) {
            skip_rest_of_line();
            return Stmt{Stmt::Skipped{format_message(kSheetsMemberSkipped, m)}};
        }
        // Sheets.Add Before:=..., Sheets.Add(After:=...).Name = ... and any
        // member not modelled: the path reading takes these.
        return fail(format_message(kNotModeled, "Sheets", m));
    }
    Expr key = TRY(parse_key_arg(*this));
    return parse_sheet_property_write(std::move(key));
}

Result<Stmt> Parser::parse_sheet_property_write(Expr sheet) {
    TRY_VOID(expect_tok(Tok::Dot));
    std::string m = TRY(consume_ident());
    if (m == "cells") {
        auto [row, col] = TRY(parse_row_col_value(*this));
        TRY_VOID(expect_tok(Tok::Eq));
        Expr value = TRY(parse_expr());
        return Stmt{Stmt::SheetCellWrite{box(std::move(sheet)), box(std::move(row)), box(std::move(col)),
                                         box(std::move(value))}};
    }
    if (m == "range") {
        std::string addr = TRY(parse_addr_arg(*this));
        TRY_VOID(expect_tok(Tok::Dot));
        std::string p = TRY(consume_ident());
        if (p != "value" && p != "formula") return fail(format_message(kAfterRange, p));
        TRY_VOID(expect_tok(Tok::Eq));
        Expr value = TRY(parse_expr());
        return Stmt{
            Stmt::SheetRangeWrite{box(std::move(sheet)), std::move(addr), box(std::move(value)), p == "formula"}};
    }
    if (m == "paste") {
        TRY_VOID(expect_ident("destination"));
        TRY_VOID(expect_tok(Tok::ColonEq));
        TRY_VOID(expect_ident("range"));
        std::string dest = TRY(parse_addr_arg(*this));
        return Stmt{Stmt::SheetPaste{box(std::move(sheet)), std::move(dest)}};
    }
    if (m == "delete") return Stmt{Stmt::SheetDelete{box(std::move(sheet))}};
    if (m == "protect" || m == "unprotect") {
        // The password comes first or as Password:=; the rest are named.
        Box<Expr> password, ui;
        TRY_VOID(parse_first_then_named(password, {{"password", &password}, {"userinterfaceonly", &ui}}));
        return Stmt{Stmt::SheetProtect{box(std::move(sheet)), std::move(ui), m == "protect", std::move(password)}};
    }
    if (passable_member(m)) {
        skip_rest_of_line();
        return Stmt{Stmt::Skipped{format_message(kSheetMemberSkipped, m)}};
    }
    // The path reading takes any other member.
    return fail(format_message(kNotModeled, "Worksheet", m));
}

Result<Stmt> Parser::parse_workbook_qualified_stmt() {
    TRY_VOID(expect_ident("workbooks"));
    Expr book = TRY(parse_key_arg(*this));
    TRY_VOID(expect_tok(Tok::Dot));
    if (is_ident("worksheets") || is_ident("sheets")) {
        advance();
        Expr sheet = TRY(parse_key_arg(*this));
        return parse_sheet_property_write(Expr{Expr::WorkbookSheet{box(std::move(book)), box(std::move(sheet))}});
    }
    skip_rest_of_line();
    return Stmt{Stmt::Skipped{std::string(kWorkbooksAlone)}};
}

// ---------------------------------------------------------------- With lines

// .Range(...) and .Cells(...) lines of a With Range body (current token:
// range or cells after the dot), relative to the range's first cell. (With
// Sheets and With variable blocks read their dotted lines as paths.)
Result<Stmt> Parser::parse_with_cells_or_range_line() {
    bool cells = is_ident("cells");
    std::optional<WithBase> base;
    if (with_range && !with_sheet_) base = with_base(*with_range);
    advance();
    if (cells) {
        auto [row, col] = TRY(parse_row_col_value(*this));
        TRY_VOID(expect_tok(Tok::Eq));
        Expr value = TRY(parse_expr());
        if (base) {
            row = offset_by(std::move(row), base->row - 1);
            col = offset_by(std::move(col), base->col - 1);
            if (!base->sheet.empty())
                return Stmt{Stmt::SheetCellWrite{box(Expr{Expr::Str{base->sheet}}), box(std::move(row)),
                                                 box(std::move(col)), box(std::move(value))}};
        }
        return Stmt{Stmt::CellWrite{box(std::move(row)), box(std::move(col)), box(std::move(value))}};
    }
    std::string addr = TRY(parse_addr_arg(*this));
    if (base) addr = shift_address(addr, *base);
    return parse_range_stmt_at(std::move(addr));
}

}  // namespace morvane::parser
