// Numeric kernels of the arithmetic, aggregate, statistics and distribution
// functions: plain functions of doubles that hold no state and never fail
// (NaN in gives NaN out). The worksheet handlers check domains and arity;
// these only compute.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvane::eval {

// ---- Rounding -------------------------------------------------------------

// `x` rounded to 15 significant digits. Spreadsheets show and round numbers
// at this precision, so 1.005 * 100 (100.49999999999999 in binary) counts as
// 100.5 before it is rounded to a whole number.
double round_to_15_digits(double x);
// 10 to the power `n` by square-and-multiply: exact up to 10^22.
double pow10i(int32_t n);

// ---- Order statistics ------------------------------------------------------
//
// The selections reorder `v` in place. They order doubles totally (-NaN
// first, then -inf ... -0 < +0 ... +inf, then NaN), which is a strict weak
// order, so std::nth_element is safe whatever the data holds.

// True when a goes before b in the total order of doubles.
bool total_less(double a, double b);
// The k-th smallest (0-based) of v; k < v.size().
double nth_smallest(std::span<double> v, size_t k);
// The middle value, or the mean of the two middle values; v not empty.
double median_of(std::span<double> v);
// The k-quantile with linear interpolation between ranks (PERCENTILE.INC);
// v not empty, 0 <= k <= 1.
double percentile_of(std::span<double> v, double k);

// ---- Distributions ---------------------------------------------------------

// The normal cumulative distribution at x.
double norm_cdf(double x, double mean, double sd);
// The standard normal quantile; NaN when p <= 0, p >= 1 or p is NaN.
double norm_ppf(double p);
// The natural logarithm of the gamma function, for x > 0.
double lgamma(double x);
// The regularised incomplete beta function I_x(a, b).
double reg_inc_beta(double x, double a, double b);
// The same with y = 1 - x given exactly, for x close to 1.
double reg_inc_beta(double x, double y, double a, double b);
// Student's t distribution: cumulative probability and density at t.
double t_cdf(double t, double df);
double t_pdf(double t, double df);

}  // namespace morvane::eval
