// Tables and lists of the lookup, reference and array functions: the
// rectangle a range argument names, read cell by cell with no size limit (a
// lookup costs only the cells it visits); a list argument read in place; and
// the bound on the lists these functions build.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "types/result.h"
#include "types/variant.h"

namespace morvane::eval {

// A rectangle of the sheet with its corners normalised (C5:A1 is A1:C5) and
// no limit on its size. Nothing is charged on opening: a walk charges the
// cells it visits (find_first does).
struct Table {
    uint32_t top = 0, left = 0;
    uint64_t rows = 0, cols = 0;  // each up to 2^32

    static Table of(const FormulaExpr::Range& r) {
        const uint32_t top = std::min(r.row1, r.row2), left = std::min(r.col1, r.col2);
        return {top, left, uint64_t{std::max(r.row1, r.row2)} - top + 1, uint64_t{std::max(r.col1, r.col2)} - left + 1};
    }
    // The value at 0-based (r, c), which must lie inside the table.
    const Variant& at(const CellMap& cells, uint64_t r, uint64_t c) const {
        return cell_ref(cells, static_cast<uint32_t>(top + r), static_cast<uint32_t>(left + c));
    }
};

// The first i in [0, n) for which hit(i) holds, or none. Charges one cell
// per i visited, block by block, so a scan of a huge table stops at the
// evaluation's bound instead of running on.
template <class Hit>
Result<std::optional<uint64_t>> find_first(uint64_t n, const EvalCtx& ctx, Hit&& hit) {
    constexpr uint64_t kBlock = 4096;
    for (uint64_t start = 0; start < n; start += kBlock) {
        const uint64_t end = std::min(n, start + kBlock);
        TRY_VOID(charge_cells(ctx, end - start));
        for (uint64_t i = start; i < end; ++i)
            if (hit(i)) return std::optional<uint64_t>(i);
    }
    return std::optional<uint64_t>();
}

// A list argument read in place: a range gives its cells row by row
// (normalised, at most 1,000,000, never copied); any other argument gives
// its value, an array value opened one level.
class ValueList {
public:
    static Result<ValueList> open(const FormulaExpr& arg, const EvalCtx& ctx);
    // The same for the lookups, which read a range of any size at the cost of
    // what it stores: a range larger than the sheet's stored cells is held
    // as its stored cells (SparseValues) instead of being walked cell by cell.
    static Result<ValueList> open_sparse(const FormulaExpr& arg, const EvalCtx& ctx);

    size_t size() const {
        if (sparse_) return static_cast<size_t>(sparse_->size());
        return view_ ? static_cast<size_t>(view_->size()) : values_.size();
    }
    bool empty() const { return size() == 0; }
    const Variant& operator[](size_t i) const {
        if (sparse_) return sparse_->at(i);
        return view_ ? view_->at(uint64_t{i}) : values_[i];
    }
    // fn(size_t i, const Variant&) -> bool for every value that is not blank,
    // in order, until fn returns false; backwards when `reverse`.
    template <class F>
    void for_each_filled(F&& fn, bool reverse = false) const {
        if (sparse_) {
            const auto& e = sparse_->entries();
            for (size_t k = 0; k < e.size(); ++k) {
                const auto& entry = e[reverse ? e.size() - 1 - k : k];
                if (!fn(static_cast<size_t>(entry.index), *entry.value)) return;
            }
            return;
        }
        const size_t n = size();
        for (size_t k = 0; k < n; ++k) {
            const size_t i = reverse ? n - 1 - k : k;
            const Variant& v = (*this)[i];
            if (!v.is_empty() && !fn(i, v)) return;
        }
    }
    // The first (or, with `reverse`, the last) blank position, if any.
    std::optional<size_t> blank_at_end(bool reverse) const;
    // The first index whose value satisfies hit(const Variant&), or none;
    // a range is walked row by row without dividing indexes.
    template <class Hit>
    std::optional<size_t> find(Hit&& hit) const {
        if (sparse_) {
            std::optional<size_t> found;
            for_each_filled([&](size_t i, const Variant& v) {
                if (hit(v)) found = i;
                return !found;
            });
            // A blank can be what is looked for, too.
            if (static const Variant kBlank{}; hit(kBlank)) {
                auto blank = blank_at_end(false);
                if (blank && (!found || *blank < *found)) found = blank;
            }
            return found;
        }
        if (!view_) {
            for (size_t i = 0; i < values_.size(); ++i)
                if (hit(values_[i])) return i;
            return std::nullopt;
        }
        size_t i = 0;
        for (uint32_t r = 0; r < view_->rows(); ++r)
            for (uint32_t c = 0; c < view_->cols(); ++c, ++i)
                if (hit(view_->at(r, c))) return i;
        return std::nullopt;
    }
    // The range behind the list, when the argument was one.
    const std::optional<RangeView>& range() const { return view_; }

private:
    std::optional<RangeView> view_;
    std::optional<SparseValues> sparse_;
    std::vector<Variant> values_;
};

// A list built of cells shows a blank cell as 0, as spreadsheets show it;
// the values are changed in place.
inline void blanks_as_zero(std::vector<Variant>& values) {
    for (Variant& v : values)
        if (v.is_empty()) v = Variant(int64_t{0});
}
inline Variant list_of_cells(std::vector<Variant> values) {
    blanks_as_zero(values);
    return list_result(std::move(values));
}

// Lists have no second dimension: a function that would need one refuses a
// range of several rows and columns (or of several columns, or rows, where
// it says so) with "{name}: {what} is not supported".
Result<void> refuse_two_dimensions(std::string_view name, std::string_view what);
// Whether an argument is a range of more than one row and more than one column.
bool is_two_dimensional(const FormulaExpr& arg);

// Refuses a list of more than 1,000,000 values before it is built, with the
// engine's "Range too large" message.
inline Result<void> check_list_size(unsigned __int128 n) { return check_range_size(n); }

// The values of the block of `rows` x `cols` cells from (top, left), row by
// row, as one value (Empty, the value, or an Array). Refused above
// 1,000,000 cells or past the sheet's last row or column.
Result<Variant> block_values(const EvalCtx& ctx, uint64_t top, uint64_t left, uint64_t rows, uint64_t cols);

// Arity for functions that accept and ignore extra arguments: fewer than
// `min` gives "{name} requires {min} argument(s)".
inline Result<void> check_at_least(std::string_view name, size_t count, size_t min) {
    if (count >= min) return {};
    return check_arity(name, count, min, min);
}

}  // namespace morvane::eval
