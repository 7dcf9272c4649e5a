// Order statistics and dispersion: MEDIAN, LARGE, SMALL, PERCENTILE,
// PERCENTRANK, RANK, MODE.MULT, the variances and standard deviations,
// CORREL and the covariances. They read numbers only (Integer, Float,
// Date); the first error value in the data is the result; data that leaves
// nothing to compute gives the error value a spreadsheet gives (#NUM!,
// #DIV/0!, #N/A) rather than stopping the formula.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/numbers.h"
#include "formula/numeric.h"

namespace morvane::eval {

namespace {

constexpr double kDefaultRankScale = 1000;  // three digits

// The sum of squared deviations from the mean, taken in two passes so that
// a large common offset does not swamp the spread.
double squared_deviations(std::span<const double> v) {
    double sum = 0;
    for (double x : v) sum += x;
    const double mean = sum / static_cast<double>(v.size());
    double ss = 0;
    for (double x : v) ss += (x - mean) * (x - mean);
    return ss;
}

// VAR.S (sample) or VAR.P; #DIV/0! with too few numbers.
Result<double> variance(Args args, const EvalCtx& ctx, bool sample) {
    const std::vector<double> v = TRY(collect_numbers(args, ctx));
    if (v.size() < (sample ? 2u : 1u)) return propagate(ExcelError::DivZero);
    return squared_deviations(v) / static_cast<double>(v.size() - (sample ? 1 : 0));
}

// The pairs of CORREL and the covariances: element i of the first argument
// with element i of the second, kept when both are numbers. Arguments of
// different sizes fail; the first error value (first argument first) is
// the result.
struct Pairs {
    std::vector<double> xs, ys;
};

Result<Pairs> collect_pairs(Args args, const EvalCtx& ctx, std::string_view name) {
    if (args.size() != 2) return fail(format_message(kRequiresTwo, name));
    const ArgValues first = TRY(ArgValues::open(args[0], ctx));
    const ArgValues second = TRY(ArgValues::open(args[1], ctx));
    if (first.size() != second.size()) return fail(format_message(kUnequalArrays, name));
    Pairs p;
    std::optional<ExcelError> second_error;
    for (uint64_t i = 0; i < first.size(); ++i) {
        const Variant& a = first.at(i);
        const Variant& b = second.at(i);
        if (a.is_error()) return propagate(a.as_error());
        if (b.is_error() && !second_error) second_error = b.as_error();
        auto x = as_f64(a), y = as_f64(b);
        if (x && y) {
            p.xs.push_back(*x);
            p.ys.push_back(*y);
        }
    }
    if (second_error) return propagate(*second_error);
    return p;
}

double mean_of(std::span<const double> v) {
    double sum = 0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

double co_deviation(const Pairs& p) {
    const double mx = mean_of(p.xs), my = mean_of(p.ys);
    double sum = 0;
    for (size_t i = 0; i < p.xs.size(); ++i) sum += (p.ys[i] - my) * (p.xs[i] - mx);
    return sum;
}

// COVARIANCE.P (population) or COVARIANCE.S.
Result<Variant> covariance(Args args, const EvalCtx& ctx, std::string_view name, bool sample) {
    const Pairs p = TRY(collect_pairs(args, ctx, name));
    const size_t n = p.xs.size();
    if (n < (sample ? 2u : 1u)) return Variant(ExcelError::DivZero);
    return Variant(co_deviation(p) / static_cast<double>(n - (sample ? 1 : 0)));
}

// LARGE (largest) or SMALL: the data of the first argument, then k.
Result<Variant> kth(Args args, const EvalCtx& ctx, std::string_view name, bool largest) {
    TRY_VOID(check_arity(name, args.size(), 2, 2));
    std::vector<double> v = TRY(collect_numbers(args.first(1), ctx));
    return kth_value(v, TRY(arg_number(args[1], ctx)), largest);
}

}  // namespace

Result<Variant> func_median(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MEDIAN", args.size(), 1, kNoMax));
    std::vector<double> v = TRY(collect_numbers(args, ctx));
    return median_value(v);
}

Result<Variant> func_large(Args args, const EvalCtx& ctx) { return kth(args, ctx, "LARGE", true); }

Result<Variant> func_small(Args args, const EvalCtx& ctx) { return kth(args, ctx, "SMALL", false); }

Result<Variant> func_percentile(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("PERCENTILE", args.size(), 2, 2));
    std::vector<double> v = TRY(collect_numbers(args.first(1), ctx));
    return percentile_value(v, TRY(arg_number(args[1], ctx)));
}

// PERCENTRANK(data, x, [significance]): the share of the data below x,
// cut down (never rounded) to `significance` digits, three by default; an
// x between two data values takes the rank between theirs.
Result<Variant> func_percentrank(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("PERCENTRANK", args.size(), 2, 3));
    const std::vector<double> data = TRY(collect_numbers(args.first(1), ctx));
    const double x = TRY(arg_number(args[1], ctx));
    double scale = kDefaultRankScale;
    if (args.size() == 3) {
        const double digits = TRY(arg_number(args[2], ctx));
        if (!(digits >= 1)) return Variant(ExcelError::Num);
        scale = pow10i(saturate_i32(std::min(digits, 400.0)));
    }
    if (data.empty()) return Variant(ExcelError::Num);
    // The nearest data values below and above x, and how many lie below x.
    double below = -INFINITY, above = INFINITY;
    int64_t less = 0, equal = 0;
    for (double v : data) {
        less += v < x;
        equal += v == x;
        if (v < x) below = std::max(below, v);
        if (v > x) above = std::min(above, v);
    }
    const auto n = static_cast<int64_t>(data.size());
    // Outside the data (or NaN) x has no rank.
    if (equal == 0 && (less == 0 || less == n)) return Variant(ExcelError::NA);
    if (n == 1) return Variant(1.0);  // the one value is the whole range
    const double step = static_cast<double>(n - 1);
    double rank = static_cast<double>(less) / step;
    if (equal == 0) {
        // Between two data values the rank runs straight from the lower's to the upper's.
        int64_t under_below = 0;
        for (double v : data) under_below += v < below;
        const double low = static_cast<double>(under_below) / step;
        rank = low + (x - below) / (above - below) * (rank - low);
    }
    if (!std::isfinite(rank * scale)) return Variant(rank);
    return Variant(std::floor(round_to_15_digits(rank * scale)) / scale);
}

// RANK(x, ref, [order]): 1 plus the count of numbers above x (order absent
// or 0) or below it; x need not occur in ref.
Result<Variant> func_rank(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("RANK", args.size(), 2, 3));
    const double x = TRY(arg_number(args[0], ctx));
    int64_t above = 0, below = 0;
    bool present = false;
    TRY_VOID(for_each_number(args.subspan(1, 1), ctx, OnError::Propagate, [&](double v) {
        above += v > x;
        below += v < x;
        present = present || v == x;
    }));
    const double order = args.size() == 3 ? TRY(arg_number(args[2], ctx)) : 0.0;
    // A value that is not in the list has no rank.
    if (!present) return Variant(ExcelError::NA);
    return Variant(1 + (order == 0 ? above : below));
}

// MODE.MULT: the whole numbers among the values (a Float 4.0 counts with
// the Integer 4, a date as its serial), the first in order among those
// that occur most often.
Result<Variant> func_mode_mult(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MODE.MULT", args.size(), 1, kNoMax));
    std::vector<int64_t> kept;
    std::unordered_map<int64_t, size_t> counts;
    TRY_VOID(for_each_nonblank(args, ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        if (v.is_error()) return propagate(v.as_error());
        std::optional<int64_t> whole;
        if (v.is_int()) whole = v.as_int();
        if (v.is_date()) whole = v.as_date().serial;
        if (v.is_float() && std::isfinite(v.as_float()) && std::trunc(v.as_float()) == v.as_float())
            whole = saturate_i64(v.as_float());
        if (whole) {
            kept.push_back(*whole);
            ++counts[*whole];
        }
        return {};
    }));
    if (kept.empty()) return Variant(ExcelError::NA);
    size_t best = 0;
    for (const auto& [value, count] : counts) best = std::max(best, count);
    for (int64_t value : kept)
        if (counts[value] == best) return Variant(value);
    return Variant(ExcelError::NA);  // unreachable: some value has the top count
}

Result<Variant> func_var_s(Args args, const EvalCtx& ctx) { return Variant(TRY(variance(args, ctx, true))); }

Result<Variant> func_var_p(Args args, const EvalCtx& ctx) { return Variant(TRY(variance(args, ctx, false))); }

Result<Variant> func_stdev_s(Args args, const EvalCtx& ctx) {
    return Variant(std::sqrt(TRY(variance(args, ctx, true))));
}

Result<Variant> func_stdev_p(Args args, const EvalCtx& ctx) {
    return Variant(std::sqrt(TRY(variance(args, ctx, false))));
}

// CORREL: #DIV/0! when either list is constant (or there are no pairs).
Result<Variant> func_correl(Args args, const EvalCtx& ctx) {
    const Pairs p = TRY(collect_pairs(args, ctx, "CORREL"));
    if (p.xs.empty()) return Variant(ExcelError::DivZero);
    const double sxx = squared_deviations(p.xs), syy = squared_deviations(p.ys);
    if (sxx == 0 || syy == 0) return Variant(ExcelError::DivZero);
    // One square root of the product: a perfectly linear pair gives exactly 1.
    return Variant(co_deviation(p) / std::sqrt(sxx * syy));
}

// COVAR is the population covariance, as in every spreadsheet.
Result<Variant> func_covariance_p(Args args, const EvalCtx& ctx) {
    return covariance(args, ctx, "COVARIANCE.P", false);
}

Result<Variant> func_covariance_s(Args args, const EvalCtx& ctx) { return covariance(args, ctx, "COVARIANCE.S", true); }

namespace {
constexpr FuncEntry kTable[] = {
    {"CORREL", func_correl},
    {"COVAR", func_covariance_p},
    {"COVARIANCE.P", func_covariance_p},
    {"COVARIANCE.S", func_covariance_s},
    {"LARGE", func_large},
    {"MEDIAN", func_median},
    {"MODE.MULT", func_mode_mult},
    {"PERCENTILE", func_percentile},
    {"PERCENTILE.INC", func_percentile},
    {"PERCENTRANK", func_percentrank},
    {"PERCENTRANK.INC", func_percentrank},
    {"RANK", func_rank},
    {"SMALL", func_small},
    {"STDEV", func_stdev_s},
    {"STDEV.P", func_stdev_p},
    {"STDEV.S", func_stdev_s},
    {"STDEVP", func_stdev_p},
    {"VAR", func_var_s},
    {"VAR.P", func_var_p},
    {"VAR.S", func_var_s},
    {"VARP", func_var_p},
};
}  // namespace

std::span<const FuncEntry> statistics_functions() { return kTable; }

}  // namespace morvane::eval
