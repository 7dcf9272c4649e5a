// Probability distributions: NORM.DIST, NORM.INV and T.DIST (with the
// older names NORMDIST and NORMINV). The numerical kernels live in
// formula/numeric.h; these handlers read the arguments left to right and
// check the domains (#NUM!) once all of them are read.
#include <cmath>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/numeric.h"

namespace morvane::eval {

namespace {

constexpr double kSqrt2Pi = 2.5066282746310002;

// Every result here is a Float; a NaN from NaN arguments is #NUM!.
Variant float_or_num(double x) { return std::isfinite(x) ? Variant(x) : Variant(ExcelError::Num); }

}  // namespace

// NORM.DIST(x, mean, standard_dev, cumulative).
Result<Variant> func_norm_dist(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NORM.DIST", args.size(), 4, 4));
    const double x = TRY(arg_number(args[0], ctx));
    const double mean = TRY(arg_number(args[1], ctx));
    const double sd = TRY(arg_number(args[2], ctx));
    const bool cumulative = TRY(arg_truth(args[3], ctx));
    if (!(sd > 0)) return Variant(ExcelError::Num);
    if (cumulative) return float_or_num(norm_cdf(x, mean, sd));
    const double z = (x - mean) / sd;
    return float_or_num(std::exp(-0.5 * z * z) / (sd * kSqrt2Pi));
}

// NORM.INV(probability, mean, standard_dev): the probability lies strictly
// between 0 and 1.
Result<Variant> func_norm_inv(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NORM.INV", args.size(), 3, 3));
    const double p = TRY(arg_number(args[0], ctx));
    const double mean = TRY(arg_number(args[1], ctx));
    const double sd = TRY(arg_number(args[2], ctx));
    if (!(p > 0 && p < 1) || !(sd > 0)) return Variant(ExcelError::Num);
    return float_or_num(mean + sd * norm_ppf(p));
}

// T.DIST(x, deg_freedom, cumulative): the degrees of freedom are at least 1
// and need not be whole.
Result<Variant> func_t_dist(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("T.DIST", args.size(), 3, 3));
    const double x = TRY(arg_number(args[0], ctx));
    const double df = TRY(arg_number(args[1], ctx));
    const bool cumulative = TRY(arg_truth(args[2], ctx));
    if (!(df >= 1)) return Variant(ExcelError::Num);
    return float_or_num(cumulative ? t_cdf(x, df) : t_pdf(x, df));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"NORM.DIST", func_norm_dist}, {"NORM.INV", func_norm_inv}, {"NORMDIST", func_norm_dist},
    {"NORMINV", func_norm_inv},    {"T.DIST", func_t_dist},
};
}  // namespace

std::span<const FuncEntry> distribution_functions() { return kTable; }

}  // namespace morvane::eval
