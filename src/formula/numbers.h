// The numbers of worksheet-function arguments, as the aggregate and
// statistics functions read them: a walk over the numeric values (Integer,
// Float, Date) that stops at the first error value unless told to pass
// errors over, an argument's values by position for the paired functions,
// and the order-statistic results that AGGREGATE shares with LARGE, SMALL,
// MEDIAN and PERCENTILE.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "formula/args.h"
#include "formula/numeric.h"

namespace morvane::eval {

// What an error value among the data does: end the function as that error
// (the rule of every aggregate and statistic), or count for nothing
// (AGGREGATE with an option that ignores errors).
enum class OnError { Propagate, Skip };

// fn(double) for every numeric value of the arguments, in order (range
// cells row by row); other kinds (text, booleans, blanks) are passed over.
// A range costs its stored cells, whatever its size; range cells for which
// `skip` holds are left out.
template <class F>
Result<void> for_each_number(Args args, const EvalCtx& ctx, OnError on_error, F&& fn, CellFilter skip = nullptr) {
    return for_each_nonblank(
        args, ctx,
        [&](const Variant& v, ValueSource) -> Result<void> {
            if (auto x = as_f64(v)) {
                fn(*x);
            } else if (v.is_error() && on_error == OnError::Propagate) {
                return propagate(v.as_error());
            }
            return {};
        },
        skip);
}

inline Result<std::vector<double>> collect_numbers(Args args, const EvalCtx& ctx, OnError on_error = OnError::Propagate,
                                                   CellFilter skip = nullptr) {
    std::vector<double> out;
    TRY_VOID(for_each_number(args, ctx, on_error, [&](double x) { out.push_back(x); }, skip));
    return out;
}

// One argument's values by position without copying range cells: a range
// read in place, the elements of an array value, or the one value.
class ArgValues {
public:
    static Result<ArgValues> open(const FormulaExpr& arg, const EvalCtx& ctx) {
        if (const auto* r = arg.get<FormulaExpr::Range>()) return ArgValues(TRY(RangeView::open(*r, ctx)));
        return ArgValues(TRY(evaluate(arg, ctx)));
    }
    uint64_t size() const {
        if (range_) return range_->size();
        return value_.is_array() ? value_.as_array().size() : 1;
    }
    const Variant& at(uint64_t i) const {
        if (range_) return range_->at(i);
        return value_.is_array() ? value_.as_array()[i] : value_;
    }

private:
    explicit ArgValues(RangeView range) : range_(range) {}
    explicit ArgValues(Variant value) : value_(std::move(value)) {}
    std::optional<RangeView> range_;
    Variant value_;
};

// The k-th largest (or smallest) of `v`, k counted from 1 and truncated;
// #NUM! when k is 0 or beyond the count.
inline Variant kth_value(std::vector<double>& v, double k, bool largest) {
    const uint64_t rank = saturate_u64(k);
    if (rank == 0 || rank > v.size()) return Variant(ExcelError::Num);
    const size_t index = largest ? v.size() - rank : rank - 1;
    return number_variant(nth_smallest(v, index));
}

inline Variant median_value(std::vector<double>& v) {
    if (v.empty()) return Variant(ExcelError::Num);
    return number_variant(median_of(v));
}

// PERCENTILE's result: #NUM! for k outside 0..1 (NaN included) or no data.
inline Variant percentile_value(std::vector<double>& v, double k) {
    if (!(k >= 0 && k <= 1) || v.empty()) return Variant(ExcelError::Num);
    return number_variant(percentile_of(v, k));
}

}  // namespace morvane::eval
