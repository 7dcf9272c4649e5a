// Financial functions: the annuity closed forms FV, PV, PMT, IPMT, PPMT and
// NPER; the cash-flow sums NPV, XNPV and MIRR; and the Newton solvers RATE,
// IRR and XIRR. Every result is a Float; problems of the data are error
// values. Dates are numbers here like everywhere else.
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kPmtNperZero = "PMT: nper cannot be 0";
// Worded "to" although the counts are neighbours, unlike check_arity's "or".
constexpr std::string_view kIrrArity = "IRR requires 1 to 2 arguments";
constexpr std::string_view kXirrArity = "XIRR requires 2 to 3 arguments";

constexpr int kNewtonSteps = 100;
constexpr double kNewtonTolerance = 1e-10;
constexpr double kDefaultGuess = 0.1;
constexpr double kDaysPerYear = 365;

// The arguments from `args.size()` on are optional; they take `defaults`,
// given from the first argument on. Read left to right.
template <size_t N>
Result<std::array<double, N>> read_numbers(Args args, const EvalCtx& ctx, std::array<double, N> defaults) {
    for (size_t i = 0; i < args.size() && i < N; ++i) defaults[i] = TRY(arg_number(args[i], ctx));
    return defaults;
}

// The payment of an annuity (nper not 0).
double payment(double rate, double nper, double pv, double fv, double type) {
    if (rate == 0) return -(pv + fv) / nper;
    double f = std::pow(1 + rate, nper);
    return -(pv * f + fv) * rate / ((1 + rate * type) * (f - 1));
}

// The numbers of one argument in order; none where a value is no number.
Result<std::vector<std::optional<double>>> numbers_of(const FormulaExpr& arg, const EvalCtx& ctx) {
    std::vector<std::optional<double>> out;
    TRY_VOID(for_each_value(std::span(&arg, 1), ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        out.push_back(as_f64(v));
        return {};
    }));
    return out;
}

// Only the numbers of the arguments; texts, booleans, blanks and error
// values in a list of cash flows are passed over.
Result<std::vector<double>> cash_flows(Args args, const EvalCtx& ctx) {
    std::vector<double> out;
    TRY_VOID(for_each_nonblank(args, ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        if (auto x = as_f64(v)) out.push_back(*x);
        return {};
    }));
    return out;
}

// Value and slope of the equation a solver drives to zero, at a rate.
struct Point {
    double value;
    double slope;
};

// Newton's method from `guess`: a step below the tolerance ends with the
// rate; running out of steps (or, when `flat_fails`, a zero slope) is #NUM!.
template <class F>
Variant newton(double guess, bool flat_fails, F&& at) {
    double r = guess;
    for (int i = 0; i < kNewtonSteps; ++i) {
        Point p = at(r);
        if (flat_fails && p.slope == 0) return Variant(ExcelError::Num);
        double step = p.value / p.slope;
        r -= step;
        if (std::fabs(step) < kNewtonTolerance) return Variant(r);
    }
    return Variant(ExcelError::Num);
}

// Cash flows at times in years, discounted at a rate (XNPV and XIRR).
struct DatedFlow {
    double value;
    double years;
};

Point dated_point(std::span<const DatedFlow> flows, double r) {
    Point p{0, 0};
    for (const DatedFlow& f : flows) {
        p.value += f.value / std::pow(1 + r, f.years);
        p.slope -= f.years * f.value / std::pow(1 + r, f.years + 1);
    }
    return p;
}

// The values and dates of XNPV and XIRR, unequal or empty lists refused.
struct DatedLists {
    std::vector<std::optional<double>> values, dates;
};

Result<std::optional<DatedLists>> dated_lists(const FormulaExpr& values, const FormulaExpr& dates, const EvalCtx& ctx) {
    DatedLists lists{TRY(numbers_of(values, ctx)), TRY(numbers_of(dates, ctx))};
    if (lists.values.empty() || lists.values.size() != lists.dates.size()) return std::optional<DatedLists>{};
    return std::optional<DatedLists>(std::move(lists));
}

// IPMT (want_interest) or PPMT: the interest or principal part of payment `per`.
Result<Variant> payment_part(Args args, const EvalCtx& ctx, std::string_view name, bool want_interest) {
    TRY_VOID(check_arity(name, args.size(), 4, 6));
    double rate = TRY(arg_number(args[0], ctx));
    double per = TRY(arg_number(args[1], ctx));
    if (!(per - std::trunc(per) == 0)) return Variant(ExcelError::Value);
    auto [nper, pv, fv, type] = TRY(read_numbers<4>(args.subspan(2), ctx, {0, 0, 0, 0}));
    if (per <= 0 || per > nper) return Variant(ExcelError::Num);
    double p = payment(rate, nper, pv, fv, type);
    double balance;
    if (rate == 0) {
        balance = pv + p * (per - 1);
    } else {
        double g = std::pow(1 + rate, per - 1);
        balance = (g - 1) * ((1 + rate * type) * p) / rate + pv * g;
    }
    double interest = -balance * rate;
    // Paid in advance, the first period carries no interest and the others
    // are discounted by one period.
    if (type == 1) interest = per == 1 ? 0 : interest / (1 + rate);
    return Variant(want_interest ? interest : p - interest);
}

}  // namespace

Result<Variant> func_fv(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("FV", args.size(), 3, 5));
    auto [rate, nper, pmt, pv, type] = TRY(read_numbers<5>(args, ctx, {0, 0, 0, 0, 0}));
    if (rate == 0) return Variant(-(nper * pmt + pv));
    double f = std::pow(1 + rate, nper);
    return Variant(-(((f - 1) * (pmt * (1 + rate * type))) / rate + pv * f));
}

Result<Variant> func_pv(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("PV", args.size(), 3, 5));
    auto [rate, nper, pmt, fv, type] = TRY(read_numbers<5>(args, ctx, {0, 0, 0, 0, 0}));
    if (rate == 0) return Variant(-(nper * pmt + fv));
    double f = std::pow(1 + rate, nper);
    return Variant(-(pmt * (1 + rate * type) * (1 - 1 / f) / rate + fv / f));
}

Result<Variant> func_pmt(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("PMT", args.size(), 3, 5));
    auto [rate, nper, pv, fv, type] = TRY(read_numbers<5>(args, ctx, {0, 0, 0, 0, 0}));
    if (nper == 0) return fail(std::string(kPmtNperZero));
    return Variant(payment(rate, nper, pv, fv, type));
}

Result<Variant> func_ipmt(Args args, const EvalCtx& ctx) { return payment_part(args, ctx, "IPMT", true); }

Result<Variant> func_ppmt(Args args, const EvalCtx& ctx) { return payment_part(args, ctx, "PPMT", false); }

Result<Variant> func_nper(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NPER", args.size(), 3, 5));
    auto [rate, pmt, pv, fv, type] = TRY(read_numbers<5>(args, ctx, {0, 0, 0, 0, 0}));
    if (rate == 0) {
        if (pmt == 0) return Variant(ExcelError::DivZero);
        return Variant(-(pv + fv) / pmt);
    }
    double x = pmt * (1 + rate * type) / rate;
    if (pv + x == 0) return Variant(ExcelError::Num);
    double y = (x - fv) / (pv + x);
    if (y <= 0) return Variant(ExcelError::Num);
    return Variant(std::log(y) / std::log(1 + rate));
}

Result<Variant> func_npv(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NPV", args.size(), 2, kNoMax));
    double rate = TRY(arg_number(args[0], ctx));
    double sum = -0.0, period = 0;
    TRY_VOID(for_each_nonblank(args.subspan(1), ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        // Only numbers are cash flows; anything else is passed over.
        if (auto x = as_f64(v)) sum += *x / std::pow(1 + rate, ++period);
        return {};
    }));
    return Variant(sum);
}

Result<Variant> func_xnpv(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("XNPV", args.size(), 3, 3));
    double rate = TRY(arg_number(args[0], ctx));
    auto lists = TRY(dated_lists(args[1], args[2], ctx));
    if (!lists || !lists->dates[0]) return Variant(ExcelError::Value);
    const double d0 = *lists->dates[0];
    double sum = 0;
    for (size_t i = 0; i < lists->values.size(); ++i) {
        if (!lists->values[i] || !lists->dates[i]) return Variant(ExcelError::Value);
        sum += *lists->values[i] / std::pow(1 + rate, (*lists->dates[i] - d0) / kDaysPerYear);
    }
    return Variant(sum);
}

Result<Variant> func_mirr(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MIRR", args.size(), 3, 3));
    std::vector<double> flows = TRY(cash_flows(args.first(1), ctx));
    if (flows.size() < 2) return Variant(ExcelError::Num);
    double finance = TRY(arg_number(args[1], ctx));
    double reinvest = TRY(arg_number(args[2], ctx));
    const auto n = static_cast<double>(flows.size());
    double pv_out = 0, fv_in = 0;
    for (size_t i = 0; i < flows.size(); ++i) {
        const auto at = static_cast<double>(i);
        if (flows[i] < 0) pv_out += flows[i] / std::pow(1 + finance, at);
        if (flows[i] > 0) fv_in += flows[i] * std::pow(1 + reinvest, n - 1 - at);
    }
    if (pv_out == 0 || fv_in == 0) return Variant(ExcelError::DivZero);
    return Variant(std::pow(fv_in / -pv_out, 1 / (n - 1)) - 1);
}

Result<Variant> func_rate(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("RATE", args.size(), 3, 6));
    auto [nper, pmt, pv, fv, type, guess] = TRY(read_numbers<6>(args, ctx, {0, 0, 0, 0, 0, kDefaultGuess}));
    // A zero slope gives a step that is not finite, and the steps run out.
    return newton(guess, false, [&](double r) {
        double f = std::pow(1 + r, nper);
        double f1 = std::pow(1 + r, nper - 1);
        double value = pv * f + pmt * (1 + r * type) * (f - 1) / r + fv;
        double slope =
            pv * nper * f1 + pmt * (type * (f - 1) / r + (1 + r * type) * (nper * r * f1 - (f - 1)) / (r * r));
        return Point{value, slope};
    });
}

Result<Variant> func_irr(Args args, const EvalCtx& ctx) {
    if (args.size() < 1 || args.size() > 2) return fail(std::string(kIrrArity));
    std::vector<double> flows = TRY(cash_flows(args.first(1), ctx));
    if (flows.empty()) return Variant(ExcelError::Num);
    double guess = args.size() == 2 ? TRY(arg_number(args[1], ctx)) : kDefaultGuess;
    return newton(guess, true, [&](double r) {
        Point p{0, 0};
        for (size_t i = 0; i < flows.size(); ++i) {
            const auto at = static_cast<double>(i);
            p.value += flows[i] / std::pow(1 + r, at);
            p.slope -= at * flows[i] / std::pow(1 + r, at + 1);
        }
        return p;
    });
}

Result<Variant> func_xirr(Args args, const EvalCtx& ctx) {
    if (args.size() < 2 || args.size() > 3) return fail(std::string(kXirrArity));
    auto lists = TRY(dated_lists(args[0], args[1], ctx));
    if (!lists) return Variant(ExcelError::Value);
    double guess = args.size() == 3 ? TRY(arg_number(args[2], ctx)) : kDefaultGuess;
    if (!lists->dates[0]) return Variant(ExcelError::Value);
    const double d0 = *lists->dates[0];
    // Pairs that are not two numbers are left out; times count from the
    // first date even when its own pair is left out.
    std::vector<DatedFlow> flows;
    for (size_t i = 0; i < lists->values.size(); ++i)
        if (lists->values[i] && lists->dates[i])
            flows.push_back({*lists->values[i], (*lists->dates[i] - d0) / kDaysPerYear});
    if (flows.empty()) return Variant(ExcelError::Value);
    return newton(guess, true, [&](double r) { return dated_point(flows, r); });
}

namespace {
constexpr FuncEntry kTable[] = {
    {"FV", func_fv},     {"IPMT", func_ipmt}, {"IRR", func_irr},   {"MIRR", func_mirr},
    {"NPER", func_nper}, {"NPV", func_npv},   {"PMT", func_pmt},   {"PPMT", func_ppmt},
    {"PV", func_pv},     {"RATE", func_rate}, {"XIRR", func_xirr}, {"XNPV", func_xnpv},
};
}  // namespace

std::span<const FuncEntry> financial_functions() { return kTable; }

}  // namespace morvane::eval
