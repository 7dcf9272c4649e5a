// List arguments read in place and blocks of cells as list results.
#include "formula/lists.h"

#include <algorithm>
#include <utility>

namespace morvane::eval {

Result<ValueList> ValueList::open(const FormulaExpr& arg, const EvalCtx& ctx) {
    ValueList list;
    if (const auto* r = arg.get<FormulaExpr::Range>()) {
        list.view_ = TRY(RangeView::open(*r, ctx));
        return list;
    }
    Variant v = TRY(evaluate(arg, ctx));
    if (v.is_array()) {
        list.values_ = std::move(v.as_array());
    } else {
        list.values_.push_back(std::move(v));
    }
    return list;
}

Result<void> refuse_two_dimensions(std::string_view name, std::string_view what) {
    return fail(std::string(name) + ": " + std::string(what) + " is not supported");
}

bool is_two_dimensional(const FormulaExpr& arg) {
    const auto* r = arg.get<FormulaExpr::Range>();
    if (!r) return false;
    const Table t = Table::of(*r);
    return t.rows > 1 && t.cols > 1;
}

Result<ValueList> ValueList::open_sparse(const FormulaExpr& arg, const EvalCtx& ctx) {
    if (const auto* r = arg.get<FormulaExpr::Range>()) {
        const uint64_t area = r->range().normalised().cell_count();
        if (area > std::min<uint64_t>(ctx.cells.size(), kMaxRangeCells)) {
            ValueList list;
            list.sparse_ = TRY(SparseValues::open(arg, ctx));
            return list;
        }
    }
    return open(arg, ctx);
}

std::optional<size_t> ValueList::blank_at_end(bool reverse) const {
    const size_t n = size();
    if (!sparse_) {
        for (size_t k = 0; k < n; ++k) {
            const size_t i = reverse ? n - 1 - k : k;
            if ((*this)[i].is_empty()) return i;
        }
        return std::nullopt;
    }
    // The stored positions are in order: the first gap among them is the
    // first blank (the last gap, walking back, the last one).
    const auto& e = sparse_->entries();
    if (e.size() >= n) return std::nullopt;
    if (!reverse) {
        size_t i = 0;
        while (i < e.size() && e[i].index == i) ++i;
        return i;
    }
    size_t want = n - 1, k = e.size();
    while (k > 0 && e[k - 1].index == want) {
        --k;
        --want;
    }
    return want;
}

Result<Variant> block_values(const EvalCtx& ctx, uint64_t top, uint64_t left, uint64_t rows, uint64_t cols) {
    constexpr uint64_t kLastLine = UINT32_MAX;
    if (rows == 0 || cols == 0) return Variant{};
    if (top == 0 || left == 0 || top > kLastLine || left > kLastLine || rows - 1 > kLastLine - top ||
        cols - 1 > kLastLine - left)
        return Variant(ExcelError::Ref);
    FormulaExpr::Range block{static_cast<uint32_t>(left), static_cast<uint32_t>(top),
                             static_cast<uint32_t>(left + cols - 1), static_cast<uint32_t>(top + rows - 1)};
    RangeView view = TRY(RangeView::open(block, ctx));
    if (view.size() == 1) return view.at(uint64_t{0});
    std::vector<Variant> out;
    out.reserve(view.size());
    view.for_each([&](const Variant& v) { out.push_back(v); });
    return Variant(std::move(out));
}

}  // namespace morvane::eval
