// Reference functions: ROW and COLUMN so far.
#include "formula/args.h"
#include "formula/eval.h"

namespace morvane::eval {

namespace {

// The row (want_row) or column of the first argument's first corner as
// written; with no argument, of the formula's own cell (1 when unknown).
Result<Variant> position_of(std::span<const FormulaExpr> args, const EvalCtx& ctx, bool want_row) {
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

}  // namespace

Result<Variant> func_row(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return position_of(args, ctx, true);
}

Result<Variant> func_column(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return position_of(args, ctx, false);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"COLUMN", func_column},
    {"ROW", func_row},
};
}  // namespace

std::span<const FuncEntry> reference_functions() { return kTable; }

}  // namespace morvane::eval
