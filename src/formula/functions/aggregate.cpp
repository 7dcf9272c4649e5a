// Aggregates: SUM so far.
#include <algorithm>

#include "formula/args.h"
#include "formula/eval.h"

namespace morvane::eval {

Result<Variant> func_sum(Args args, const EvalCtx& ctx) {
    double sum = 0;
    if (args.size() == 1) {
        if (const auto* r = args[0].get<FormulaExpr::Range>()) {
            // A lone range is read straight from the sheet, numbers and dates
            // only; reversed corners name the same rectangle (B2:A1 is A1:B2).
            RangeView view = TRY(RangeView::open(*r, ctx));
            if (ctx.cells.empty()) return Variant(int64_t{0});  // nothing to look up
            view.for_each([&](const Variant& v) {
                if (auto x = as_f64(v)) sum += *x;
            });
            return number_variant(sum);
        }
    }
    TRY_VOID(for_each_value(args, ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        if (v.is_str()) return {};
        // Anything else that is no number (an error value, a record) adds nothing.
        if (auto x = to_float(v)) sum += *x;
        return {};
    }));
    return number_variant(sum);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"SUM", func_sum},
};
}  // namespace

std::span<const FuncEntry> aggregate_functions() { return kTable; }

}  // namespace morvane::eval
