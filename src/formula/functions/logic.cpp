// Logic and information functions: IF and NA so far.
#include "formula/args.h"
#include "formula/eval.h"

namespace morvane::eval {

Result<Variant> func_if(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("IF", args.size(), 2, 3));
    Variant cond = TRY(evaluate(args[0], ctx));
    // An error as the condition is the result, as in every spreadsheet.
    if (cond.is_error()) return cond;
    if (is_truthy(cond)) return evaluate(args[1], ctx);
    if (args.size() == 3) return evaluate(args[2], ctx);
    return Variant(false);
}

Result<Variant> func_na(std::span<const FormulaExpr> args, const EvalCtx&) {
    TRY_VOID(check_arity("NA", args.size(), 0, 0));
    return Variant(ExcelError::NA);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"IF", func_if},
    {"NA", func_na},
};
}  // namespace

std::span<const FuncEntry> logic_functions() { return kTable; }

}  // namespace morvane::eval
