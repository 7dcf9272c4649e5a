// Aggregates: SUM so far.
#include <algorithm>

#include "formula/args.h"
#include "formula/eval.h"

namespace morvane::eval {

Result<Variant> func_sum(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    double sum = 0;
    if (args.size() == 1) {
        if (const auto* r = args[0].get<FormulaExpr::Range>()) {
            // A lone range is read straight from the sheet, numbers and dates
            // only; reversed corners name the same rectangle (B2:A1 is A1:B2).
            const uint32_t row1 = std::min(r->row1, r->row2), col1 = std::min(r->col1, r->col2);
            const uint64_t rows = span_len(row1, std::max(r->row1, r->row2));
            const uint64_t cols = span_len(col1, std::max(r->col1, r->col2));
            TRY_VOID(check_range_size(static_cast<unsigned __int128>(rows) * cols));
            TRY_VOID(charge_cells(ctx, static_cast<unsigned __int128>(rows) * cols));
            if (ctx.cells.empty()) return Variant(int64_t{0});  // nothing to look up
            for (uint64_t row = row1; row < uint64_t{row1} + rows; ++row)
                for (uint64_t col = col1; col < uint64_t{col1} + cols; ++col)
                    if (auto x = as_f64(cell_ref(ctx.cells, static_cast<uint32_t>(row), static_cast<uint32_t>(col))))
                        sum += *x;
            return number_variant(sum);
        }
    }
    // One argument at a time: memory stays that of the largest argument.
    for (const FormulaExpr& arg : args) {
        std::vector<Variant> values = TRY(collect_values(arg, ctx));
        for (const Variant& v : values) {
            if (v.is_str()) continue;
            if (auto x = to_float(v)) sum += *x;
        }
    }
    return number_variant(sum);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"SUM", func_sum},
};
}  // namespace

std::span<const FuncEntry> aggregate_functions() { return kTable; }

}  // namespace morvane::eval
