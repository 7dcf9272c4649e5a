// Reference functions: INDEX, OFFSET, INDIRECT, ADDRESS, CHOOSE, COLUMN, ROW
// and FORMULATEXT. They read cells by position; the references they work
// with are written in the formula or given as text.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/lists.h"
#include "types/address.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kOffsetBase = "OFFSET: first argument must be a cell reference";
constexpr std::string_view kIndirectText = "INDIRECT: expected string, got {}";

// The row (want_row) or column of the first argument's first corner as
// written; with no argument, of the formula's own cell (1 when unknown).
Result<Variant> position_of(Args args, const EvalCtx& ctx, bool want_row) {
    uint32_t n = 1;
    if (args.empty()) {
        uint32_t own = want_row ? ctx.self.row : ctx.self.col;
        if (own != 0) n = own;
    } else if (const auto* c = args[0].get<FormulaExpr::CellRef>()) {
        n = want_row ? c->row : c->col;
    } else if (const auto* r = args[0].get<FormulaExpr::Range>()) {
        n = want_row ? r->row1 : r->col1;
    } else {
        // Any other argument is evaluated for its failure only.
        Result<Variant> v = evaluate(args[0], ctx);
        if (!v) return fail(std::move(v).error());
    }
    return Variant(int64_t{n});
}

// A reference argument as a table: a range, or a cell as a 1 x 1 table.
std::optional<Table> reference_table(const FormulaExpr& arg) {
    if (const auto* c = arg.get<FormulaExpr::CellRef>()) return Table{c->row, c->col, 1, 1};
    if (const auto* r = arg.get<FormulaExpr::Range>()) return Table::of(*r);
    return std::nullopt;
}

// A whole-number argument, truncated toward zero and saturated.
Result<int64_t> arg_whole(const FormulaExpr& arg, const EvalCtx& ctx) {
    return saturate_i64(TRY(arg_number(arg, ctx)));
}

// Whether an expression may build a table of several rows and columns,
// whose rows a list value does not keep: a range of several rows and
// columns anywhere in it, or a function that lays values out in two
// dimensions.
bool may_build_table(const FormulaExpr& e) {
    if (is_two_dimensional(e)) return true;
    if (const auto* b = e.get<FormulaExpr::Binary>()) return may_build_table(*b->lhs) || may_build_table(*b->rhs);
    if (const auto* n = e.get<FormulaExpr::Neg>()) return may_build_table(*n->operand);
    const auto* f = e.get<FormulaExpr::Func>();
    if (!f) return false;
    const std::string_view name = f->name;
    if (((name == "SEQUENCE" || name == "RANDARRAY") && f->args.size() >= 2) ||
        (name == "TEXTSPLIT" && f->args.size() >= 3) || name == "HSTACK" || name == "VSTACK" || name == "WRAPROWS" ||
        name == "WRAPCOLS")
        return true;
    for (const FormulaExpr& a : f->args)
        if (may_build_table(a)) return true;
    return false;
}

// INDEX over a list a function made (SORT, UNIQUE, FILTER, TEXTSPLIT...):
// the list is one row or one column, so a lone position, or a row and a
// column one of which is 1 (or 0), picks along it; 0 alone asks for it all.
Result<Variant> index_of_list(Args args, const EvalCtx& ctx, int64_t row, int64_t col) {
    if (may_build_table(args[0])) TRY_VOID(refuse_two_dimensions("INDEX", "a table made by a function"));
    Variant v = TRY(evaluate(args[0], ctx));
    if (v.is_error()) return v;
    const uint64_t n = v.is_array() ? v.as_array().size() : 1;
    if (row > 1 && col > 1) return Variant(ExcelError::Ref);
    const auto at = static_cast<uint64_t>(std::max(row, col));
    if (at > n) return Variant(ExcelError::Ref);
    const bool whole = (row == 0 || col == 0) && at <= 1;
    if (whole || !v.is_array()) return v;
    return std::move(v.as_array()[at - 1]);
}

}  // namespace

Result<Variant> func_row(Args args, const EvalCtx& ctx) { return position_of(args, ctx, true); }

Result<Variant> func_column(Args args, const EvalCtx& ctx) { return position_of(args, ctx, false); }

// INDEX(range, row, [col]): a cell of the table. A one-row table takes a
// lone index as its column. An index of 0 asks for the whole column (or
// row); a position past the table is #REF!.
Result<Variant> func_index(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("INDEX", args.size(), 2, 3));
    const auto* range = args[0].get<FormulaExpr::Range>();
    int64_t row = TRY(arg_whole(args[1], ctx));
    int64_t col = args.size() == 3 ? TRY(arg_whole(args[2], ctx)) : 1;
    if (row < 0 || col < 0) return Variant(ExcelError::Value);
    if (!range) return index_of_list(args, ctx, row, col);
    const Table t = Table::of(*range);
    if (args.size() == 2 && t.rows == 1 && t.cols > 1) std::swap(row, col);
    if (static_cast<uint64_t>(row) > t.rows || static_cast<uint64_t>(col) > t.cols) return Variant(ExcelError::Ref);
    const uint64_t top = row == 0 ? t.top : t.top + static_cast<uint64_t>(row) - 1;
    const uint64_t left = col == 0 ? t.left : t.left + static_cast<uint64_t>(col) - 1;
    return block_values(ctx, top, left, row == 0 ? t.rows : 1, col == 0 ? t.cols : 1);
}

// OFFSET(reference, rows, cols, [height], [width]): the block of the given
// size (by default the reference's) moved by rows and cols; one cell gives
// its value, more give their values row by row.
Result<Variant> func_offset(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("OFFSET", args.size(), 3, kNoMax));
    std::optional<Table> base = reference_table(args[0]);
    if (!base) return fail(std::string(kOffsetBase));
    const int64_t down = TRY(arg_whole(args[1], ctx));
    const int64_t across = TRY(arg_whole(args[2], ctx));
    int64_t height = static_cast<int64_t>(base->rows), width = static_cast<int64_t>(base->cols);
    if (args.size() >= 4) height = TRY(arg_whole(args[3], ctx));
    if (args.size() >= 5) width = TRY(arg_whole(args[4], ctx));
    // Both sums stay far inside int64: the base is below 2^32, the moves saturate.
    const __int128 top = static_cast<__int128>(base->top) + down;
    const __int128 left = static_cast<__int128>(base->left) + across;
    if (top < 1 || left < 1 || top > UINT32_MAX || left > UINT32_MAX || height < 1 || width < 1)
        return Variant(ExcelError::Ref);
    return block_values(ctx, static_cast<uint64_t>(top), static_cast<uint64_t>(left), static_cast<uint64_t>(height),
                        static_cast<uint64_t>(width));
}

// INDIRECT(text): the cell (or block) an A1 address names; "$" markers are
// read as ADDRESS writes them.
Result<Variant> func_indirect(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_at_least("INDIRECT", args.size(), 1));
    Variant v = TRY(evaluate(args[0], ctx));
    if (v.is_error()) return v;
    if (!v.is_str()) return fail(format_message(kIndirectText, v.to_string()));
    auto corners = morvane_types::parse_range_addr(text::trim(v.as_str()));
    // A text that names no cell of the sheet is no reference.
    if (!corners || !on_sheet(corners->first) || !on_sheet(corners->last)) return Variant(ExcelError::Ref);
    const auto [first, last] = *corners;
    FormulaExpr::Range r{first.col, first.row, last.col, last.row};
    const Table t = Table::of(r);
    return block_values(ctx, t.top, t.left, t.rows, t.cols);
}

// ADDRESS(row, column, [abs_num]): "$C$5", "C$5", "$C5" or "C5".
Result<Variant> func_address(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("ADDRESS", args.size(), 2, kNoMax));
    const uint32_t row = saturate_u32(TRY(arg_number(args[0], ctx)));
    const uint32_t col = saturate_u32(TRY(arg_number(args[1], ctx)));
    const int32_t form = args.size() >= 3 ? saturate_i32(TRY(arg_number(args[2], ctx))) : 1;
    // Row and column count from 1: there is no cell to name before them.
    if (row == 0 || col == 0) return Variant(ExcelError::Value);
    const bool abs_col = form == 1 || form == 3, abs_row = form == 1 || form == 2;
    std::string out = abs_col ? "$" : "";
    out += morvane_types::column_letters(col);
    if (abs_row) out += '$';
    out += std::to_string(row);
    return Variant(std::move(out));
}

// CHOOSE(index, value1, ...): only the chosen value is evaluated.
Result<Variant> func_choose(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("CHOOSE", args.size(), 2, kNoMax));
    const uint64_t index = saturate_u64(TRY(arg_number(args[0], ctx)));
    if (index < 1 || index >= args.size()) return Variant(ExcelError::Value);
    return evaluate(args[index], ctx);
}

Result<Variant> func_formulatext(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("FORMULATEXT", args.size(), 1, 1));
    CellPos at;
    if (const auto* c = args[0].get<FormulaExpr::CellRef>()) {
        at = {c->row, c->col};
    } else if (const auto* r = args[0].get<FormulaExpr::Range>()) {
        at = {r->row1, r->col1};
    } else {
        return Variant(ExcelError::Value);
    }
    auto it = ctx.cells.find(at);
    if (it == ctx.cells.end() || !it->second.formula) return Variant(ExcelError::NA);
    return Variant(*it->second.formula);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"ADDRESS", func_address}, {"CHOOSE", func_choose},     {"COLUMN", func_column}, {"FORMULATEXT", func_formulatext},
    {"INDEX", func_index},     {"INDIRECT", func_indirect}, {"OFFSET", func_offset}, {"ROW", func_row},
};
}  // namespace

std::span<const FuncEntry> reference_functions() { return kTable; }

}  // namespace morvane::eval
